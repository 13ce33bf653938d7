"""The port: a thin layer over the library's exports."""

import ctypes
import os
import sys
import threading
from ctypes import POINTER, byref, c_int, c_uint, c_ubyte, c_void_p, c_char_p
from typing import Optional, Union

from ._codes import CODES, MAX_REPLY_DATA, MAX_VERSION
from ._errors import DeviceError, LibraryError, OpenError

_WINDOWS = sys.platform == "win32"
_DEFAULT_LIBRARY = "VOLMIRAX.dll" if _WINDOWS else "libvolmirax.so.1"
_loaded = {}


def _carried() -> Optional[str]:
    """The library that a platform wheel carries beside this file, if any."""
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), _DEFAULT_LIBRARY)
    return path if os.path.exists(path) else None


def _load(path: Optional[str]) -> ctypes.CDLL:
    """The library at ``path``; by default the one the package carries,
    else the system's. With its prototypes."""
    path = path or _carried() or _DEFAULT_LIBRARY
    if path in _loaded:
        return _loaded[path]
    if _WINDOWS:
        lib = ctypes.WinDLL(path, use_last_error=True)  # stdcall
    else:
        lib = ctypes.CDLL(path, use_errno=True)
        lib.OpenCommPath.argtypes = [c_char_p, c_int]
        lib.OpenCommPath.restype = c_void_p
    lib.OpenComm.argtypes = [c_int, c_int]
    lib.OpenComm.restype = c_void_p
    lib.CloseComm.argtypes = [POINTER(c_void_p)]
    lib.CloseComm.restype = c_int
    lib.SendCmd.argtypes = [c_void_p, POINTER(c_ubyte), c_uint, POINTER(c_ubyte), POINTER(c_uint), c_int, c_int, c_int]
    lib.SendCmd.restype = c_int
    lib.SendEot.argtypes = [c_void_p, c_int]
    lib.SendEot.restype = c_int
    lib.ReSet.argtypes = [c_void_p] + [c_int] * 8
    lib.ReSet.restype = c_int
    lib.EjectCard.argtypes = [c_void_p, c_int]
    lib.EjectCard.restype = c_int
    lib.GetMachineVersion.argtypes = [c_void_p, POINTER(c_ubyte)]
    lib.GetMachineVersion.restype = c_int
    _loaded[path] = lib
    return lib


def _raise_for(code: int) -> None:
    """Raises for a result code that the call cannot attribute otherwise.

    A device status code can have the value of a library code (or be 0):
    the result alone does not tell them apart. Here a code in the library's
    table is taken for the library's; any other non-zero code is a device
    status code.
    """
    if code == 0:
        return
    if code in CODES:
        raise LibraryError(code)
    raise DeviceError(code)


def _c_int(name: str, value: int) -> int:
    """``value`` as the C ``int`` it is passed as: a number that the type
    cannot hold raises instead of wrapping (2**32 + 300 ms is not 300 ms)."""
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError(f"{name} must be an int, not {type(value).__name__}")
    if not -(2**31) <= value < 2**31:
        raise OverflowError(f"{name}={value} does not fit in a C int")
    return value


class Port:
    """An open serial port with the card device on it.

    ``port`` is a COM port number (``OpenComm``), or on Linux a device path
    such as ``/dev/ttyUSB0`` (``OpenCommPath``). ``baud`` is one of 1200,
    2400, 4800, 9600, 19200, 38400, 57600, 115200; any other rate opens at
    9600. ``library`` is the path of the library to use; by default
    ``VOLMIRAX.dll`` on Windows and ``libvolmirax.so.1`` on Linux, found
    where the system looks for libraries.

    Raises ``OpenError`` (an ``OSError``) with the operating system's reason
    when the port does not open. Use it as a context manager, or call
    ``close()``, which may be called more than once.

    Every call blocks until the device has answered or a time-out has
    passed; on Windows it keeps the calling thread's window messages
    flowing meanwhile.

    A port may be shared between threads: its calls run one at a time, and
    a ``close()`` from another thread waits until the call in progress has
    returned, then closes. A ``close()`` from the thread that is in the call
    (a signal handler, which Python runs once the library has returned) closes
    at once, without waiting for itself: the call in progress is over by
    then, and its result stands. Numbers that a C ``int`` cannot hold raise
    ``OverflowError`` rather than being cut to a different value.
    """

    def __init__(self, port: Union[int, str], baud: int = 9600, library: Optional[str] = None) -> None:
        # re-entrant: a signal handler runs on the thread that holds it
        self._lock = threading.RLock()
        self._handle = c_void_p()
        self._lib = _load(library)
        if isinstance(port, bool) or not isinstance(port, (int, str)):
            raise TypeError("port must be a COM port number or a device path")
        baud = _c_int("baud", baud)
        if isinstance(port, str):
            if _WINDOWS:
                raise TypeError("on Windows, pass the COM port number")
            path = os.fsencode(port)
            if b"\0" in path:
                raise ValueError("embedded null byte in the device path")
            name = port
            handle = self._lib.OpenCommPath(path, baud)
        else:
            # on Linux, COMn is /dev/ttyS<n-1>: the error names what was tried
            name = f"COM{port}" if _WINDOWS or port < 1 else f"/dev/ttyS{port - 1}"
            handle = self._lib.OpenComm(_c_int("port", port), baud)
        if not handle:
            if _WINDOWS:
                winerror = ctypes.get_last_error()
                raise OpenError(0, ctypes.FormatError(winerror).strip(), name, winerror)
            err = ctypes.get_errno()
            raise OpenError(err, os.strerror(err), name)
        self._handle = c_void_p(handle)

    def close(self) -> None:
        """Closes the port; nothing happens when it is already closed. Called
        while another thread is in a call on this port, it waits until that
        call has returned; called from a signal handler on the thread in the
        call, it closes at once (the library has returned by then)."""
        with self._lock:
            if self._handle.value:
                self._lib.CloseComm(byref(self._handle))
            self._handle = c_void_p()

    @property
    def closed(self) -> bool:
        return not self._handle.value

    def __enter__(self) -> "Port":
        return self

    def __exit__(self, *exc) -> None:
        self.close()

    def __del__(self) -> None:
        try:
            self.close()
        except Exception:
            pass

    def _call(self, function, *args) -> int:
        """One export called with this port's handle, never at the same
        time as another call or the close of this port."""
        with self._lock:
            return function(self._handle, *args)

    def send(self, cmd: bytes, ack: int = 1000, reply: int = 3000, eot: int = 500) -> bytes:
        """Runs one command exchange (``SendCmd``) and returns the reply data,
        status bytes first, as the library hands it out (at most 993 bytes).

        ``cmd`` is the command code, the parameter code and any command data
        (at least 2 bytes). ``ack``, ``reply`` and ``eot`` are the time-outs
        in milliseconds for the acknowledgement, the whole reply and the
        abort's echo.

        A negative device reply raises ``DeviceError`` with its status code and
        its ``data``. Since this call sees whether the reply data was written,
        it tells a device status code from a library failure even where the
        two have the same value; library failures raise ``LibraryError``.
        """
        ack, reply, eot = _c_int("ack", ack), _c_int("reply", reply), _c_int("eot", eot)
        command = (c_ubyte * max(len(cmd), 1)).from_buffer_copy(bytes(cmd) or b"\0")
        data = (c_ubyte * MAX_REPLY_DATA)()
        length = c_uint(0xFFFFFFFF)  # written only when a checked reply came
        rc = self._call(self._lib.SendCmd, command, len(cmd), data, byref(length), ack, reply, eot)
        if length.value == 0xFFFFFFFF:
            _raise_for(rc)  # no reply data: the library's failure
            return b""
        out = bytes(data[: length.value])
        if rc != 0:
            raise DeviceError(rc, out)
        return out

    def eot(self, timeout: int = 500) -> None:
        """Tells the device to abandon the exchange in progress (``SendEot``)
        and waits up to ``timeout`` ms for its echo."""
        _raise_for(self._call(self._lib.SendEot, _c_int("timeout", timeout)))

    def eject(self, pm: int) -> None:
        """Ejects the card (``EjectCard``); ``pm`` is the parameter code, of
        which the low byte is sent.

        The library's result cannot tell a device status code from a library
        code of the same value: a code in the library's table raises
        ``LibraryError``, any other ``DeviceError``.
        """
        _raise_for(self._call(self._lib.EjectCard, _c_int("pm", pm)))

    def reset(self, pm: int, d1: int, d2: int, d3: int, d4: int, d5: int, d6: int, d7: int) -> None:
        """Resets the device (``ReSet``) with parameter code ``pm`` and the
        seven data bytes ``d1`` to ``d7`` (low bytes sent). Failures are
        reported as for ``eject``."""
        names = ("pm", "d1", "d2", "d3", "d4", "d5", "d6", "d7")
        args = [_c_int(n, v) for n, v in zip(names, (pm, d1, d2, d3, d4, d5, d6, d7))]
        _raise_for(self._call(self._lib.ReSet, *args))

    def version(self) -> bytes:
        """The device's version data (``GetMachineVersion``), at most 253
        bytes, without the zero padding of the buffer that the library fills:
        zero bytes at the end of the data itself cannot be told from that
        padding and are dropped. Failures are reported as for ``eject``."""
        buffer = (c_ubyte * (MAX_VERSION + 1))()
        _raise_for(self._call(self._lib.GetMachineVersion, buffer))
        return bytes(buffer[:MAX_VERSION]).rstrip(b"\0")
