"""The exceptions that the bindings raise instead of returning result codes."""

from typing import Optional

from ._codes import CODES


class Error(Exception):
    """Any failure of a VOLMIRAX call. ``code`` is the call's result code
    (``None`` where the call has none, as when a port does not open)."""

    code: Optional[int] = None


class OpenError(Error, OSError):
    """The port did not open. Also an ``OSError`` carrying the operating
    system's reason: ``errno`` and ``strerror`` on Linux, ``winerror`` on
    Windows (no such port, in use, access denied, ...)."""

    def __init__(self, errno_: int, strerror: str, filename: str, winerror: Optional[int] = None) -> None:
        if winerror is not None:
            OSError.__init__(self, errno_, strerror, filename, winerror)
        else:
            OSError.__init__(self, errno_, strerror, filename)
        self.code = None


class LibraryError(Error):
    """A failure that the library detected: ``code`` is one of its negative
    codes, ``name`` and ``meaning`` come from the library's table of codes."""

    def __init__(self, code: int) -> None:
        self.code = code
        self.name, self.meaning = CODES.get(code, ("UNKNOWN", "not a code of the library"))
        super().__init__(f"{self.name} ({code}): {self.meaning}")


class DeviceError(Error):
    """The device answered with a negative reply: ``code`` is its status code,
    s1 * 256 + s2 - 0x3030 of the two status characters ("01" is 1, "10" is
    256). ``data`` is the reply data, status bytes first, where the call
    hands it out (``send``), else ``None``."""

    def __init__(self, code: int, data: Optional[bytes] = None) -> None:
        self.code = code
        self.data = data
        super().__init__(f"the device answered with status code {code}")
