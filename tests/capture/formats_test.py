"""Captures of both formats read alike, and any size reads in the same
memory. The kept sample (format 1, one rx line per read) rewritten in
format 2 (reads joined into runs with their pauses, hex without spaces)
gives the same listing, the same report data and the same replay; a month
of a busy kiosk (100,000 exchanges) is listed and reported in a peak memory
that does not grow with it.
    python3 formats_test.py VOLMIRAX_TOOL DEVSIM SAMPLE BENCH_DIR [--sanitized]
(--sanitized: the build runs under AddressSanitizer, whose own memory would
be measured; the memory checks are left to the plain build's run.)"""

import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from checks import Checks, simulator as start_simulator  # noqa: E402

tool, devsim, sample, bench = sys.argv[1:5]
sys.path.insert(0, bench)
import capture_bench  # noqa: E402  (the benchmark's month of a kiosk)

folder = tempfile.mkdtemp(prefix="volmirax-formats.")
check = Checks("formats")


def to_format_2(source, target):
    """Each run of rx lines of one port (nothing else of that port between
    them) becomes one line: its first time, every pause after it."""
    events = [json.loads(l) for l in open(source) if l.strip()]
    out, run = [], {}

    def flush(handle):
        r = run.pop(handle, None)
        if r:
            line = {"e": "rx", "t": r[0][0]}
            if "handle" in r[0][2]:
                line["handle"] = r[0][2]["handle"]
            line["hex"] = "".join(b for _, b, _ in r)
            gaps = []
            for (t0, b0, _), (t1, b1, _) in zip(r, r[1:]):
                gaps += [0] * (len(b0) // 2 - 1) + [t1 - t0]
            gaps += [0] * (len(r[-1][1]) // 2 - 1)
            if any(gaps):
                line["gaps"] = ",".join(map(str, gaps))
            out.append(line)

    for e in events:
        h = e.get("handle", "")
        if "hex" in e:
            e["hex"] = e["hex"].replace(" ", "")
        if "cmd" in e:
            e["cmd"] = e["cmd"].replace(" ", "")
        if e["e"] == "header":
            for k in list(run):
                flush(k)
            e["format"] = 2
            out.append(e)
        elif e["e"] == "rx":
            run.setdefault(h, []).append((e["t"], e["hex"], e))
        else:
            flush(h)
            out.append(e)
    for k in list(run):
        flush(k)
    with open(target, "w") as f:
        for e in out:
            f.write(json.dumps(e, separators=(",", ":")) + "\n")
    return sum(1 for e in events if e["e"] == "rx"), sum(1 for e in out if e["e"] == "rx")


def report_data(capture):
    page = os.path.join(folder, "page.html")
    subprocess.run([tool, "report", capture, "-o", page], check=True, capture_output=True)
    text = open(page).read()
    return re.search(r'<script type="application/json" id="data">(.*?)</script>', text, re.S).group(1)


new = os.path.join(folder, "sample-2.jsonl")
before, after = to_format_2(sample, new)
check(after < before, "the rewritten sample joins its reads into runs", f"{before} rx lines, then {after}")
listed = [subprocess.run([tool, "trace", c], capture_output=True, text=True) for c in (sample, new)]
check(listed[0].returncode == listed[1].returncode == 0 and listed[0].stdout == listed[1].stdout,
      "both formats list alike", "".join(listed[1].stdout.splitlines(True)[:3]))
check(report_data(sample) == report_data(new), "both formats give the same report data")

# the replay: the same answers, as the replay test's host gets them from the sample
replays = []
for capture in (sample, new):
    link = os.path.join(folder, "ttyF")
    sim = start_simulator(devsim, link, "--replay", capture, "--allow-prefix")
    got = subprocess.run([tool, "--device", link, "version"], capture_output=True, text=True)
    sim.terminate()
    sim.wait()
    replays.append(got.stdout.split("time:")[0])
check(replays[0] == replays[1] and "result: 0" in replays[0], "both formats replay alike", repr(replays))

# a month in constant memory: ten times the exchanges, about the same peak
peaks = {}
sanitized = "--sanitized" in sys.argv[5:]
if sanitized:
    print("# memory: not measured under the sanitizers (the plain build's run measures it)")
for n in ((10000, 100000) if not sanitized else ()):
    capture = os.path.join(folder, f"month-{n}.jsonl")
    capture_bench.write_capture(capture, n)
    for what, args in (("trace", [tool, "trace", capture]),
                       ("report", [tool, "report", capture, "-o", os.path.join(folder, "month.html")])):
        p = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        _, status, usage = os.wait4(p.pid, 0)
        peaks[(what, n)] = (os.waitstatus_to_exitcode(status), usage.ru_maxrss / 1024)
    os.remove(capture)
for what in ("trace", "report") if not sanitized else ():
    small, large = peaks[(what, 10000)], peaks[(what, 100000)]
    check(small[0] == large[0] == 0 and large[1] < 64 and large[1] < small[1] * 2,
          f"volmirax {what} of 100,000 exchanges in about the memory of 10,000",
          f"{small[1]:.0f} MB, then {large[1]:.0f} MB")
shutil.rmtree(folder, ignore_errors=True)
sys.exit(check.end())
