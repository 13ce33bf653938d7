"""The library's result codes: the same table as the C header volmirax_codes.h."""

from typing import Dict, Tuple

#: code -> (name, meaning), for the codes that the library itself produces.
CODES: Dict[int, Tuple[str, str]] = {
    0: ("OK", "success"),
    -101: ("ERR_NO_PORT", "the port handle is null"),
    -102: ("ERR_SET_TIMEOUTS", "setting the port's time-outs failed"),
    -103: ("ERR_SETUP_QUEUES", "setting the driver's queue sizes failed"),
    -104: ("ERR_WRITE", "the write call failed"),
    -105: ("ERR_WRITE_SHORT", "fewer bytes were written than asked"),
    -106: ("ERR_READ", "the read call failed"),
    -107: ("ERR_READ_SHORT", "fewer bytes were read than asked"),
    -108: ("ERR_LINE_SETTINGS", "reading, building or applying the line settings failed"),
    -110: ("ERR_ACK_TIMEOUT", "no acknowledgement within the acknowledgement time-out"),
    -111: ("ERR_REPLY_TIMEOUT", "the reply was not complete within the reply time-out"),
    -112: ("ERR_EOT_TIMEOUT", "the echo of the abort sequence did not arrive in time"),
    -113: ("ERR_NO_ACK", "the acknowledgement does not start with ACK"),
    -114: ("ERR_ARGUMENT", "an argument is missing or invalid"),
    -115: ("ERR_EOT_ECHO", "the echo of the abort sequence is wrong"),
    -116: ("ERR_BCC", "the reply's block check character is wrong, or the reply is shorter than 6 or longer than 999 bytes"),
    -117: ("ERR_ECHO", "the reply does not echo the command code and parameter code"),
}

#: The largest run of reply data that SendCmd hands back (status bytes and data).
MAX_REPLY_DATA = 993
#: The largest run of version data that GetMachineVersion hands back.
MAX_VERSION = 253
