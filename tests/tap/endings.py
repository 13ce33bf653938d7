"""How the tap ends: it always stops, always cleans up, and never damages
what it did not make.
    python3 endings.py TAP_PROGRAM"""

import fcntl
import os
import pty
import signal
import struct
import subprocess
import sys
import tempfile
import termios
import time
import tty

TIOCGEXCL = 0x80045440
tap = sys.argv[1]
failures = 0


def check(ok, name, detail=""):
    global failures
    failures += not ok
    print(("ok" if ok else "not ok") + " - tap: " + name + (f": {detail}" if detail else ""))


def wait_for(predicate, seconds=5.0):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if predicate():
            return True
        time.sleep(0.02)
    return predicate()


class Session:
    """A tap between a fresh pseudo-terminal standing for the device (the
    test holds its master side) and a host link in a fresh folder."""

    def __init__(self, link=None, stdout=subprocess.PIPE, extra=()):
        self.folder = tempfile.mkdtemp(prefix="volmirax-tap.")
        self.link = link or os.path.join(self.folder, "ttyTAP")
        self.device, slave = pty.openpty()
        tty.setraw(self.device)
        self.device_path = os.ttyname(slave)
        self.slave = slave
        self.proc = subprocess.Popen([tap, "tap", "--device", self.device_path, "--link", self.link, *extra],
                                     stdout=stdout, stderr=subprocess.PIPE)

    def up(self):
        return wait_for(lambda: os.path.islink(self.link) or self.proc.poll() is not None) and self.proc.poll() is None

    def end(self, seconds=2.0):
        """The exit status, or None when the tap has not ended in time."""
        try:
            return self.proc.wait(timeout=seconds)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            return None


# Each ending removes the link and gives the device back as it was: its
# rate (changed by the host through the tap) and not exclusive.
endings = [
    ("SIGINT", lambda s: s.proc.send_signal(signal.SIGINT), 0),
    ("SIGTERM", lambda s: s.proc.terminate(), 0),
    ("SIGHUP", lambda s: s.proc.send_signal(signal.SIGHUP), 0),
    ("SIGPIPE", lambda s: s.proc.send_signal(signal.SIGPIPE), 0),
    ("its trace piped into a program that ended", lambda s: (s.proc.stdout.close(), os.write(s.host, b"\x05\r")), 0),
    ("the device gone", lambda s: (os.close(s.device), os.close(s.slave)), 1),
]
for name, ending, status in endings:
    s = Session()
    before = termios.tcgetattr(s.slave)
    check(s.up(), f"{name}: starts")
    s.host = os.open(s.link, os.O_RDWR | os.O_NOCTTY)
    attrs = termios.tcgetattr(s.host)
    attrs[4] = attrs[5] = termios.B19200
    termios.tcsetattr(s.host, termios.TCSANOW, attrs)
    followed = wait_for(lambda: termios.tcgetattr(s.slave)[5] == termios.B19200, 1.0)
    check(followed, f"{name}: the device follows the host's rate")
    ending(s)
    t0 = time.monotonic()
    got = s.end()
    took = time.monotonic() - t0
    err = s.proc.stderr.read().decode()
    check(got == status and took < 1.0, f"{name}: ends with status {status} within a second",
          f"status {got} after {took:.2f} s {err.strip()!r}")
    check(not os.path.lexists(s.link), f"{name}: the link is removed")
    if status == 1:
        check("the device has gone" in err, f"{name}: says so", err.strip())
        continue
    after = termios.tcgetattr(s.slave)
    excl = struct.unpack("i", fcntl.ioctl(s.slave, TIOCGEXCL, b"\0" * 4))[0]
    check(after[4:6] == before[4:6] and excl == 0, f"{name}: the device has its rate back and is not exclusive",
          f"speed {after[5]} (was {before[5]}), exclusive {excl}")

# A host that reads nothing while the device sends far more than any buffer
# holds: the other direction keeps flowing, the trace counts what was
# dropped, and a signal still ends the tap at once.
s = Session()
s.up()
host = os.open(s.link, os.O_RDWR | os.O_NOCTTY)
tty.setraw(host)
os.set_blocking(s.device, False)
sent = 0
for _ in range(200):
    try:
        sent += os.write(s.device, b"\x55" * 4096)
    except BlockingIOError:
        time.sleep(0.01)
os.write(host, b"\x05\r")
heard = b""
end = time.monotonic() + 2
while b"\x05\r" not in heard and time.monotonic() < end:
    try:
        heard += os.read(s.device, 65536)
    except BlockingIOError:
        time.sleep(0.01)
check(sent > 36_000 and b"\x05\r" in heard, "a host that reads nothing: its bytes still reach the device",
      f"{sent} bytes sent to a host not reading")
s.proc.terminate()
t0 = time.monotonic()
got = s.end()
out = s.proc.stdout.read().decode()
check(got == 0 and time.monotonic() - t0 < 1.0, "a host that reads nothing: SIGTERM ends the tap at once")
check("bytes dropped: the host is not reading" in out, "a host that reads nothing: the trace counts the dropped bytes")
check(not os.path.lexists(s.link), "a host that reads nothing: the link is removed")
os.close(host)

# Its trace on a pipe whose reader is alive but reads nothing (a pager not
# scrolled): the relay goes on, every signal still ends the tap at once,
# and the lines the trace could not take are counted, on standard error
# and in the recording.
for name, sig in (("SIGTERM", signal.SIGTERM), ("SIGINT", signal.SIGINT), ("SIGHUP", signal.SIGHUP)):
    reader, writer = os.pipe()
    folder = tempfile.mkdtemp(prefix="volmirax-tap.")
    recording = os.path.join(folder, "line.jsonl")
    s = Session(stdout=writer, extra=("--record", recording))
    os.close(writer)
    s.up()
    host = os.open(s.link, os.O_RDWR | os.O_NOCTTY)
    tty.setraw(host)
    os.set_blocking(s.device, False)
    relayed = 0
    for _ in range(20000):  # a line of trace each: more than the trace holds
        os.write(host, b"\x05\r")
        try:
            relayed += len(os.read(s.device, 65536))
        except BlockingIOError:
            pass
    end = time.monotonic() + 3
    while relayed < 40000 and time.monotonic() < end:
        try:
            relayed += len(os.read(s.device, 65536))
        except BlockingIOError:
            time.sleep(0.01)
    check(relayed == 40000, f"a trace nobody reads ({name}): the relay goes on", f"{relayed} of 40000 bytes relayed")
    s.proc.send_signal(sig)
    t0 = time.monotonic()
    got = s.end()
    err = s.proc.stderr.read().decode()
    check(got == 0 and time.monotonic() - t0 < 1.0, f"a trace nobody reads: {name} ends the tap at once",
          f"status {got} {err.strip()!r}")
    check(not os.path.lexists(s.link), f"a trace nobody reads ({name}): the link is removed")
    excl = struct.unpack("i", fcntl.ioctl(s.slave, TIOCGEXCL, b"\0" * 4))[0]
    check(excl == 0, f"a trace nobody reads ({name}): the device is not left exclusive")
    if name == "SIGTERM":
        listed = subprocess.run([tap, "trace", recording], capture_output=True, text=True).stdout
        check("trace lines dropped" in err and "trace lines dropped" in listed,
              "a trace nobody reads: the dropped lines are counted, on standard error and in the recording",
              err.strip())
    os.close(host)
    os.close(reader)

# What is not the tap's own is never touched.
folder = tempfile.mkdtemp(prefix="volmirax-tap.")
precious = os.path.join(folder, "precious.txt")
with open(precious, "w") as f:
    f.write("keep me")
s = Session(link=precious)
got = s.end()
err = s.proc.stderr.read().decode()
check(got == 2 and open(precious).read() == "keep me", "a --link that is a file is refused, the file kept", err.strip())

kept = os.path.join(folder, "kept.jsonl")
with open(kept, "w") as f:
    f.write("keep me")
s = Session(extra=("--record", kept))
got = s.end()
err = s.proc.stderr.read().decode()
check(got == 2 and open(kept).read() == "keep me" and not os.path.lexists(s.link),
      "a --record that exists is refused, the file kept", err.strip())
# nor may the roll-over replace a FILE.1 the tap did not make
rolled = os.path.join(folder, "fresh.jsonl")
with open(rolled + ".1", "w") as f:
    f.write("keep me")
s = Session(extra=("--record", rolled))
got = s.end()
err = s.proc.stderr.read().decode()
check(got == 2 and open(rolled + ".1").read() == "keep me" and not os.path.exists(rolled),
      "a --record whose FILE.1 exists is refused, FILE.1 kept", err.strip())

first = Session()
first.up()
second = Session(link=first.link)
got = second.end()
check(got == 2 and os.path.islink(first.link) and first.proc.poll() is None,
      "a --link held by a live tap is refused, the first tap untouched", second.proc.stderr.read().decode().strip())
first.proc.terminate()
first.end()

stale = os.path.join(folder, "ttySTALE")
os.symlink("/dev/pts/99999", stale)
s = Session(link=stale)
taken = wait_for(lambda: os.path.islink(stale) and os.readlink(stale) != "/dev/pts/99999")
check(taken and s.proc.poll() is None, "a link left by a tap that was killed is taken over")
s.proc.terminate()
s.end()

print(f"{failures} failed" if failures else "all passed")
sys.exit(1 if failures else 0)
