"""Fixtures: the device simulator on a pseudo-terminal, and the library
under test. VOLMIRAX_LIBRARY names the library, DEVSIM the simulator."""

import os
import subprocess
import tempfile
import time

import pytest

# What the simulated device answers, per command code.
BEHAVIOURS = [
    r"<=data=VMX\x00SIM 2",          # version data with a NUL inside
    "1=data=CARD 4711",
    "5=marker=N,status=02,data=xy",  # a negative reply
    r"6=marker=N,status=\x2f\xc2",   # a negative reply whose status code is -110
    "9=silent,eotnone",
]


@pytest.fixture(scope="session")
def library():
    path = os.environ.get("VOLMIRAX_LIBRARY")
    if not path:
        pytest.skip("VOLMIRAX_LIBRARY is not set")
    return path


def _simulator():
    """A simulated device on a pseudo-terminal: yields the path of its line."""
    devsim = os.environ.get("DEVSIM")
    if not devsim:
        pytest.skip("DEVSIM is not set")
    folder = tempfile.mkdtemp(prefix="volmirax-py.")
    link = os.path.join(folder, "ttyVMX")
    args = [devsim, "--link", link, "--control", "--pace", "0"]
    for b in BEHAVIOURS:
        args += ["--on", b]
    sim = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(50):
        if os.path.islink(link):
            break
        time.sleep(0.1)
    yield link
    sim.terminate()
    sim.wait()


@pytest.fixture(scope="session")
def line():
    yield from _simulator()


@pytest.fixture
def second_line():
    """A second device, fresh for each test."""
    yield from _simulator()


def heard(port):
    """The bytes the port's simulated device received since the last look,
    as hex (its control command "~" is left out)."""
    return port.send(b"~ wire", ack=5000, reply=20000)[2:].decode().strip()


@pytest.fixture
def port(library, line):
    import volmirax

    with volmirax.Port(line, 9600, library=library) as p:
        yield p
