"""Orvelle's netlist reader for Python.

    import orvelle
    nets = orvelle.netweave("examples/mzi.sp")   # {subcircuit: {instances, connections, ...}}
"""

from __future__ import annotations


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


from ._orvelle import __version__  # noqa: E402  (the module looks the classes above up)

__all__ = ["ParseError", "ParseWarning", "__version__"]
