"""What the report costs on a day of a busy kiosk: writes a capture of N
exchanges (the library's format: calls, bytes, a few late answers,
failures and time-outs among them), then times `volmirax trace` and
`volmirax report` on it and prints one table.
    python3 report_bench.py VOLMIRAX_TOOL [N]"""

import os
import random
import subprocess
import sys
import tempfile
import time

tool = sys.argv[1]
n = int(sys.argv[2]) if len(sys.argv) > 2 else 100000
rng = random.Random(1)
folder = tempfile.mkdtemp(prefix="volmirax-report-bench.")
capture = os.path.join(folder, "day.jsonl")


def bcc(b):
    x = 0
    for c in b:
        x ^= c
    return x


def hx(b):
    return " ".join(f"{c:02X}" for c in b)


with open(capture, "w") as f:
    h = '"handle":"0x1c"'
    f.write('{"e":"header","format":1,"writer":"VOLMIRAX.dll (32-bit)","version":"1.0.0.1","port":"COM3","baud":9600,"clock":"us"}\n')
    f.write(f'{{"e":"open","t":0,{h},"port":"COM3","baud":9600}}\n')
    t = 1000
    for i in range(n):
        code, param = rng.choice([(0x33, 0x30), (0x3C, 0x30), (0x31, 0x30), (0x30, 0x30)])
        cmd = bytes([code, param])
        frame = bytes([2, 0x43]) + cmd + bytes([3])
        frame += bytes([bcc(frame[1:]), 13])
        f.write(f'{{"e":"call","t":{t},{h},"fn":"SendCmd","ack":1000,"reply":3000,"eot":500,"data":true,"len":true,"cmd":"{hx(cmd)}"}}\n')
        start = t
        t += 7300
        f.write(f'{{"e":"tx","t":{t},{h},"hex":"{hx(frame)}"}}\n')
        roll = rng.random()
        if roll < 0.01:  # silent: the abort
            t += 1000000
            f.write(f'{{"e":"timeout","t":{t},{h},"wait":"ack","ms":1000}}\n')
            t += 3200
            f.write(f'{{"e":"tx","t":{t},{h},"hex":"10 04 0D"}}\n')
            t += 4000
            f.write(f'{{"e":"rx","t":{t},{h},"hex":"10 04 0D"}}\n')
            rc = -110
        else:
            t += int(rng.expovariate(1 / 8000)) + (850000 if roll < 0.02 else 0)
            f.write(f'{{"e":"rx","t":{t},{h},"hex":"06 0D"}}\n')
            t += 2100
            f.write(f'{{"e":"tx","t":{t},{h},"hex":"05 0D"}}\n')
            marker = 0x4E if roll < 0.03 else 0x50
            body = bytes([marker]) + cmd + b"00" + b"DATA" * rng.randint(0, 8) + bytes([3])
            reply = bytes([2]) + body + bytes([bcc(body), 13])
            t += int(rng.expovariate(1 / 20000)) + len(reply) * 1042
            f.write(f'{{"e":"rx","t":{t},{h},"hex":"{hx(reply)}"}}\n')
            rc = 0 if marker == 0x50 else 0
        f.write(f'{{"e":"result","t":{t + 50},{h},"fn":"SendCmd","rc":{rc},"us":{t + 50 - start}}}\n')
        t += 100000

size = os.path.getsize(capture)
rows = []
for name, args in [("volmirax trace", [tool, "trace", capture]),
                   ("volmirax report", [tool, "report", capture, "-o", os.path.join(folder, "day.html")])]:
    t0 = time.perf_counter()
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL)
    rows.append((name, time.perf_counter() - t0))
page = os.path.getsize(os.path.join(folder, "day.html"))
print("| what | exchanges | capture MB | page MB | seconds |")
print("|---|---|---|---|---|")
for name, s in rows:
    print(f"| {name} | {n} | {size / 1e6:.1f} | {page / 1e6 if 'report' in name else 0:.1f} | {s:.2f} |")
if os.environ.get("KEEP_PAGE"):
    print("page:", os.path.join(folder, "day.html")); sys.exit(0)
for p in os.listdir(folder):
    os.remove(os.path.join(folder, p))
os.rmdir(folder)
