"""Drive a VOLMIRAX card device over a serial line.

A thin layer over the VOLMIRAX library (``VOLMIRAX.dll`` on Windows,
``libvolmirax.so.1`` on Linux): ``Port`` opens a port and runs the device
commands; failures raise the exceptions below instead of returning codes.
"""

from ._codes import CODES, MAX_REPLY_DATA, MAX_VERSION
from ._errors import DeviceError, Error, LibraryError, OpenError
from ._port import Port

__all__ = ["Port", "Error", "OpenError", "LibraryError", "DeviceError", "CODES", "MAX_REPLY_DATA", "MAX_VERSION"]
__version__ = "1.0.0.1"
