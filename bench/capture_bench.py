"""The tools on long captures: writes a month of a busy kiosk in the
library's format (format 2: calls, bytes with each received byte's pause,
late answers, failures and time-outs; from the 12th the eject command
starts failing), then times `volmirax trace` and `volmirax report` on it
against Python's own json module reading the same lines, with each tool's
peak memory, the page's size and whether headless Chromium opens it.
    python3 capture_bench.py VOLMIRAX_TOOL N [N ...]    (exchanges per capture)
With KEEP=FOLDER the captures and pages stay in FOLDER."""

import json
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

DAYS = 30
START_US = 1_793_491_200_000_000  # 2026-11-01T00:00:00Z


def bcc(b):
    x = 0
    for c in b:
        x ^= c
    return x


def frame(body):
    return bytes([2]) + body + bytes([3, bcc(body + bytes([3])), 13])


def gaps(rng, count):
    """Bytes read one at a time at 9600 baud, about 1042 µs apart: the
    "gaps" text and the time from the first byte to the last."""
    values = [1042 + v for v in rng.choices(range(-9, 10), k=count)]
    return ",".join(map(str, values)), sum(values)


def write_capture(path, n, seed=1):
    rng = random.Random(seed)
    step = DAYS * 86400 * 1_000_000 // n
    h = '"handle":"0x5600000000000400","pid":4711'
    with open(path, "w") as f:
        f.write('{"e":"header","format":2,"writer":"VOLMIRAX.dll (32-bit)","version":"1.0.0.1","port":"COM3",'
                '"baud":9600,"clock":"us","wall":"2026-11-01T00:00:00.000000Z","pid":4711}\n')
        f.write(f'{{"e":"open","t":0,{h},"port":"COM3","baud":9600}}\n')
        for i in range(n):
            start = 1000 + i * step
            t = start
            code, param, fn, data = rng.choice([(0x33, 0x30, "EjectCard", b""), (0x3C, 0x30, "GetMachineVersion", b"VOLMIRAX-SIM 1.0"),
                                                (0x31, 0x30, "SendCmd", b"CARD-4711" * 2), (0x30, 0x30, "ReSet", b"")])
            cmd = bytes([code, param])
            out = bytes([2, 0x43]) + cmd + bytes([3])
            out += bytes([bcc(out[1:]), 13])
            f.write(f'{{"e":"call","t":{t},{h},"fn":"{fn}","ack":1000,"reply":3000,"eot":500,"data":true,"len":false,'
                    f'"cmd":"{cmd.hex().upper()}"}}\n')
            t += 7300
            f.write(f'{{"e":"tx","t":{t},{h},"hex":"{out.hex().upper()}"}}\n')
            day = (start // 1_000_000) // 86400
            failing = 0.15 if code == 0x33 and day >= 11 else 0.01
            roll = rng.random()
            if roll < failing:  # silent: the abort
                t += 1_000_000
                f.write(f'{{"e":"timeout","t":{t},{h},"wait":"ack","ms":1000}}\n')
                t += 3200
                f.write(f'{{"e":"tx","t":{t},{h},"hex":"10040D"}}\n')
                t += 4000
                text, took = gaps(rng, 2)
                f.write(f'{{"e":"rx","t":{t},{h},"hex":"10040D","gaps":"{text}"}}\n')
                t += took
                rc = -110
            else:
                t += int(rng.expovariate(1 / 8000)) + (850_000 if roll < failing + 0.01 else 0)
                text, took = gaps(rng, 1)
                f.write(f'{{"e":"rx","t":{t},{h},"hex":"060D","gaps":"{text}"}}\n')
                t += took + 1100
                f.write(f'{{"e":"tx","t":{t},{h},"hex":"050D"}}\n')
                negative = roll > 0.985
                reply = frame(bytes([0x4E if negative else 0x50]) + cmd + (b"05" if negative else b"00") + data)
                t += int(rng.expovariate(1 / 20000))
                text, took = gaps(rng, len(reply) - 1)
                f.write(f'{{"e":"rx","t":{t},{h},"hex":"{reply.hex().upper()}","gaps":"{text}"}}\n')
                t += took
                rc = 5 if negative else 0
            f.write(f'{{"e":"result","t":{t + 50},{h},"fn":"{fn}","rc":{rc},"us":{t + 50 - start}}}\n')


def run(args, stdout=subprocess.DEVNULL):
    """Seconds and peak memory (MB) of one program."""
    t0 = time.perf_counter()
    p = subprocess.Popen(args, stdout=stdout, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(p.pid, 0)
    p.returncode = os.waitstatus_to_exitcode(status)
    if p.returncode not in (0,):
        raise SystemExit(f"{args[1]} exited {p.returncode}")
    return time.perf_counter() - t0, usage.ru_maxrss / 1024


def python_json(path):
    t0 = time.perf_counter()
    with open(path) as f:
        for line in f:
            json.loads(line)
    return time.perf_counter() - t0


def chromium_opens(page, n, folder):
    profile = tempfile.mkdtemp(dir=folder)
    dom = subprocess.run(["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                          f"--user-data-dir={profile}", "--virtual-time-budget=10000", "--dump-dom", "file://" + page],
                         capture_output=True, text=True, timeout=300).stdout
    shutil.rmtree(profile, ignore_errors=True)
    return f'<span id="count">{n}</span>' in dom and "page 1 of" in dom


def main():
    tool = sys.argv[1]
    sizes = [int(a) for a in sys.argv[2:]] or [100000]
    folder = os.environ.get("KEEP") or tempfile.mkdtemp(prefix="volmirax-capture-bench.")
    os.makedirs(folder, exist_ok=True)
    print("| exchanges | capture MB | bytes/exchange | Python json s | trace s | trace MB peak | trace / json "
          "| report s | report MB peak | report / json | page MB | Chromium opens it |")
    print("|---|---|---|---|---|---|---|---|---|---|---|---|")
    for n in sizes:
        capture = os.path.join(folder, f"month-{n}.jsonl")
        page = os.path.join(folder, f"month-{n}.html")
        write_capture(capture, n)
        size = os.path.getsize(capture)
        py = python_json(capture)
        trace_s, trace_mb = run([tool, "trace", capture])
        report_s, report_mb = run([tool, "report", capture, "-o", page])
        opens = chromium_opens(page, n, folder)
        print(f"| {n} | {size / 1e6:.1f} | {size / n:.0f} | {py:.2f} | {trace_s:.2f} | {trace_mb:.0f} | "
              f"{trace_s / py:.2f} | {report_s:.2f} | {report_mb:.0f} | {report_s / py:.2f} | "
              f"{os.path.getsize(page) / 1e6:.1f} | {'yes' if opens else 'NO'} |", flush=True)
        if not os.environ.get("KEEP"):
            os.remove(capture)
            os.remove(page)
    if not os.environ.get("KEEP"):
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
