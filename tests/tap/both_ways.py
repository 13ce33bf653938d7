"""The tap under load: both sides write at once and nothing is lost or
changed; and what the tap adds to one byte's way, measured against a
straight pseudo-terminal.
    python3 both_ways.py TAP_PROGRAM"""

import os
import pty
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import tty

tap = sys.argv[1]
folder = tempfile.mkdtemp(prefix="volmirax-tap.")
link = os.path.join(folder, "ttyTAP")
device_master, device_slave = pty.openpty()  # the "real device": the tap opens its slave side
tty.setraw(device_master)
proc = subprocess.Popen([tap, "tap", "--device", os.ttyname(device_slave), "--link", link],
                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
try:
    for _ in range(50):
        if os.path.islink(link):
            break
        time.sleep(0.1)
    host = os.open(link, os.O_RDWR | os.O_NOCTTY)
    tty.setraw(host)

    size = 200_000
    to_device = os.urandom(size)
    to_host = os.urandom(size)
    got = {"device": bytearray(), "host": bytearray()}

    def pump(fd, data, name, into):
        def writer():
            view = memoryview(data)
            while view:
                n = os.write(fd, view[:4096])
                view = view[n:]

        def reader():
            while len(got[into]) < size:
                got[into] += os.read(fd, 65536)

        return [threading.Thread(target=writer), threading.Thread(target=reader)]

    threads = pump(host, to_device, "host", "host") + pump(device_master, to_host, "device", "device")
    # the host's reader gets what the device wrote and the other way round
    threads[1] = threading.Thread(target=lambda: [got.__setitem__("host", got["host"] + os.read(host, 65536)) for _ in iter(lambda: len(got["host"]) < size, False)])
    threads[3] = threading.Thread(target=lambda: [got.__setitem__("device", got["device"] + os.read(device_master, 65536)) for _ in iter(lambda: len(got["device"]) < size, False)])
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout=60)
    ok = bytes(got["device"]) == to_device and bytes(got["host"]) == to_host
    print(("ok" if ok else "not ok") + f" - tap: {size} bytes each way at once, none lost or changed"
          f" (device got {len(got['device'])}, host got {len(got['host'])})")

    def round_trip(a, b, n=300):
        times = []
        for i in range(n):
            t0 = time.perf_counter()
            os.write(a, b"x")
            os.read(b, 1)
            os.write(b, b"y")
            os.read(a, 1)
            times.append((time.perf_counter() - t0) * 1000)
        return statistics.median(times)

    through = round_trip(host, device_master)
    m, s = pty.openpty()
    tty.setraw(m)
    tty.setraw(s)
    straight = round_trip(s, m)
    added = (through - straight) / 2
    print(f"ok - tap: one byte each way: {through:.3f} ms through the tap, {straight:.3f} ms straight;"
          f" the tap adds {added:.3f} ms per direction (median)")
    sys.exit(0 if ok else 1)
finally:
    proc.terminate()
    proc.wait()
