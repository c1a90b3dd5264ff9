import os
from typing import Any, Mapping, Protocol

from . import Pdk

class _Readable(Protocol):
    def read(self) -> str | bytes: ...

__version__: str

def netweave(
    path_or_buf: str | os.PathLike[str] | os.PathLike[bytes] | _Readable,
    settings_keymap: dict[str, Any] | None = None,
    component_map: dict[str, Any] | None = None,
    **kwargs: Any,
) -> dict[str, dict[str, Any]]: ...
def get_active_pdk() -> Pdk: ...
def register_pdk(
    path_or_mapping: str | os.PathLike[str] | os.PathLike[bytes] | Mapping[str, Any]
) -> Pdk: ...
def activate_pdk(name: str) -> None: ...
