"""Orvelle's netlist reader for Python.

    import orvelle
    nets = orvelle.netweave("examples/mzi.sp")   # {subcircuit: {instances, connections, ...}}
"""

from __future__ import annotations

from dataclasses import dataclass


class ParseError(ValueError):
    """A netlist the reader cannot read.

    str(err) is the reader's message; .line is the source line where the offending statement
    starts (0 when unknown); .filename is the path read, None for a buffer.
    """

    def __init__(self, message: str, line: int = 0, filename: str | bytes | None = None):
        super().__init__(message)
        self.line = line
        self.filename = filename

    def __reduce__(self):
        return (type(self), (str(self), self.line, self.filename))


class ParseWarning(UserWarning):
    """A recoverable oddity of a netlist; reading went on."""


@dataclass(frozen=True)
class Pdk:
    """A process design kit as the reader sees it: the port names of its simulation models
    and layout cells, in the order the parts store them."""

    name: str
    models: dict[str, list[str]]
    cells: dict[str, list[str]]


# The compiled module looks the classes above up while it loads.
from ._orvelle import (  # noqa: E402
    __version__,
    activate_pdk,
    get_active_pdk,
    netweave,
    register_pdk,
)

__all__ = [
    "ParseError",
    "ParseWarning",
    "Pdk",
    "__version__",
    "activate_pdk",
    "get_active_pdk",
    "netweave",
    "register_pdk",
]
