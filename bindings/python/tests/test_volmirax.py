"""The Python package against the device simulator and libvolmirax.so."""

import errno
import os
import re
import subprocess
import sys
import threading
import time

import pytest

import volmirax
from conftest import heard


def test_version_is_the_copied_bytes_without_padding(port):
    assert port.version() == b"VMX\x00SIM 2"


def test_send_returns_the_reply_data_status_first(port):
    assert port.send(b"10") == b"00CARD 4711"


def test_eject_reset_and_eot_succeed(port):
    assert port.eject(ord("0")) is None
    assert port.reset(ord("0"), *([0x30] * 7)) is None
    assert port.eot() is None


def test_negative_reply_raises_device_error_with_its_data(port):
    with pytest.raises(volmirax.DeviceError) as e:
        port.send(b"50")
    assert e.value.code == 2
    assert e.value.data == b"02xy"


def test_send_tells_a_device_status_from_a_library_code_of_the_same_value(port):
    with pytest.raises(volmirax.DeviceError) as e:
        port.send(b"60")
    assert e.value.code == -110
    assert not isinstance(e.value, volmirax.LibraryError)


def test_library_failure_raises_library_error_with_name_and_meaning(port):
    with pytest.raises(volmirax.LibraryError) as e:
        port.send(b"90", ack=100, reply=100, eot=100)
    assert e.value.code == -110
    assert e.value.name == "ERR_ACK_TIMEOUT"
    assert e.value.meaning == "no acknowledgement within the acknowledgement time-out"
    assert isinstance(e.value, volmirax.Error)


def test_bad_arguments_are_the_librarys_to_refuse(port):
    with pytest.raises(volmirax.LibraryError) as e:
        port.send(b"1")
    assert e.value.name == "ERR_ARGUMENT"


@pytest.mark.parametrize(
    "path, reason",
    [
        ("/dev/volmirax-no-such-port", errno.ENOENT),
        ("/dev/null", errno.ENOTTY),
    ],
)
def test_open_error_carries_the_systems_reason(library, path, reason):
    with pytest.raises(volmirax.OpenError) as e:
        volmirax.Port(path, library=library)
    assert isinstance(e.value, OSError)
    assert e.value.errno == reason
    assert e.value.filename == path
    assert e.value.code is None


def test_a_com_number_that_does_not_open_names_the_device_tried(library):
    # COM250 is /dev/ttyS249 on Linux, which no machine has
    with pytest.raises(volmirax.OpenError) as e:
        volmirax.Port(250, library=library)
    assert e.value.errno == errno.ENOENT
    assert e.value.filename == "/dev/ttyS249"


def test_a_port_in_use_does_not_open_twice(port, library, line):
    with pytest.raises(volmirax.OpenError) as e:
        volmirax.Port(line, library=library)
    assert e.value.errno == errno.EBUSY


def test_close_is_idempotent_and_a_closed_port_reports_no_port(library, line):
    p = volmirax.Port(line, library=library)
    p.close()
    p.close()
    assert p.closed
    with pytest.raises(volmirax.LibraryError) as e:
        p.eject(ord("0"))
    assert e.value.name == "ERR_NO_PORT"


def test_the_table_of_codes_is_the_headers():
    header = os.path.join(os.path.dirname(__file__), "..", "..", "..", "include", "volmirax_codes.h")
    if not os.path.exists(header):
        pytest.skip("not run from the repository")
    with open(header) as f:
        text = f.read()
    defines = dict(re.findall(r"#define (ERR_\w+)\s+\(?(-?\d+)\)?", open(os.path.join(os.path.dirname(header), "volmirax.h")).read()))
    rows = re.findall(r'\{(ERR_\w+), "(\w+)", "([^"]*)"\}', text)
    table = {int(defines[macro]): (name, meaning) for macro, name, meaning in rows}
    assert table == volmirax.CODES


def test_close_from_another_thread_waits_for_the_call_in_progress(library, line, second_line):
    first = volmirax.Port(line, library=library)
    codes = []

    def silent_exchange():
        with pytest.raises(volmirax.LibraryError) as e:
            first.send(b"90", ack=300, reply=300, eot=300)
        codes.append(e.value.code)

    caller = threading.Thread(target=silent_exchange)
    caller.start()
    time.sleep(0.1)
    first.close()
    call_over_when_closed = not caller.is_alive()
    with volmirax.Port(second_line, library=library) as second:
        assert heard(second) == "", "the first call's abort reached the second device"
    caller.join()
    assert call_over_when_closed
    assert codes == [-110], "the call ran to its own end"
    assert first.closed


SIGNAL_HOST = """
import os, signal, sys, threading, volmirax
port = volmirax.Port(sys.argv[2], library=sys.argv[1])
signal.signal(signal.SIGTERM, lambda *_: port.close())
threading.Timer(0.3, os.kill, (os.getpid(), signal.SIGTERM)).start()
try:
    port.send(b"90", ack=1500, reply=300, eot=300)
except volmirax.LibraryError as e:
    print(e.code, port.closed)
"""


def test_close_from_a_signal_handler_during_a_call_does_not_deadlock(library, line):
    # the handler runs on the main thread, which is inside the call
    out = subprocess.run([sys.executable, "-c", SIGNAL_HOST, library, line],
                         env=dict(os.environ, PYTHONPATH=os.path.dirname(os.path.dirname(volmirax.__file__))),
                         capture_output=True, text=True, timeout=30)
    assert out.stdout.split() == ["-110", "True"], out.stderr


@pytest.mark.parametrize(
    "call",
    [
        lambda p: p.send(b"10", ack=2**32 + 300),
        lambda p: p.send(b"10", reply=-(2**31) - 1),
        lambda p: p.eot(2**31),
        lambda p: p.eject(2**40),
        lambda p: p.reset(0x30, 0, 0, 0, 0, 0, 0, 2**32),
    ],
    ids=["ack", "reply", "eot", "eject", "reset"],
)
def test_numbers_a_c_int_cannot_hold_raise_instead_of_wrapping(port, call):
    heard(port)
    with pytest.raises(OverflowError):
        call(port)
    assert heard(port) == "", "nothing went out"


def test_bad_open_arguments_raise(library, line):
    with pytest.raises(ValueError):
        volmirax.Port(line + "\0junk", library=library)
    with pytest.raises(OverflowError):
        volmirax.Port(line, 2**32 + 9600, library=library)
    with pytest.raises(OverflowError):
        volmirax.Port(2**32 + 1, library=library)
