"""The library's own trace (VOLMIRAX_TRACE) on Linux, through the Python
package: several ports on several threads write whole lines; the file moves
to PATH.1 past VOLMIRAX_TRACE_MAX; a PATH that cannot be opened, or is a FIFO,
leaves the library working and is said once on standard error; when PATH.1
cannot be replaced the trace stops at its limit, said once. Several processes
sending long commands to one file give a file the tools read whole; a
symbolic link as PATH and a nonsense VOLMIRAX_TRACE_MAX are refused, said once.
    python3 library_trace.py LIBRARY DEVSIM PYTHON_PACKAGE_DIR VOLMIRAX_TOOL"""

import json
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from checks import Checks, simulator as start_simulator  # noqa: E402

library, devsim, package, tool = sys.argv[1:5]
folder = tempfile.mkdtemp(prefix="volmirax-trace.")
check = Checks("trace")


def simulator(name):
    link = os.path.join(folder, name)
    return start_simulator(devsim, link, "--pace", "0", "--on", "1=data=CARD 4711"), link


# A host process: `rounds` exchanges on each line, one thread per line.
HOST = """
import os, sys, threading, volmirax
library, rounds, lines = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
command = b"10" + b"y" * int(os.environ.get("COMMAND_DATA", "0"))
results = []
def run(line):
    with volmirax.Port(line, library=library) as p:
        for i in range(rounds):
            results.append(p.send(command, ack=2000, reply=3000) == b"00CARD 4711")
threads = [threading.Thread(target=run, args=(l,)) for l in lines]
for t in threads: t.start()
for t in threads: t.join()
print(sum(results), len(results))
"""


def host(env, rounds, *lines):
    e = dict(os.environ, PYTHONPATH=package, **env)
    return subprocess.run(["/usr/bin/python3", "-c", HOST, library, str(rounds), *lines],
                          env=e, capture_output=True, text=True, timeout=120)


def lines_of(path):
    with open(path) as f:
        return [json.loads(line) for line in f]


sims = [simulator("ttyA"), simulator("ttyB"), simulator("ttyC")]
links = [link for _, link in sims]
try:
    trace = os.path.join(folder, "two.jsonl")
    out = host({"VOLMIRAX_TRACE": trace}, 300, *links[:2])
    check(out.stdout.split() == ["600", "600"], "two ports on two threads: every exchange answered", out.stdout + out.stderr)
    try:
        events = lines_of(trace)
        whole = True
    except ValueError as e:
        events, whole = [], False
    check(whole, "two ports on two threads: every line is whole JSON")
    handles = {e["handle"] for e in events if e["e"] == "call"}
    per_handle_ok = len(handles) == 2
    for h in handles:
        mine = [e for e in events if e.get("handle") == h and e["e"] != "header"]
        calls = [e for e in mine if e["e"] == "call"]
        results = [e for e in mine if e["e"] == "result"]
        ordered = all(a["t"] <= b["t"] for a, b in zip(mine, mine[1:]))
        per_handle_ok = per_handle_ok and len(calls) == len(results) == 300 and ordered
    check(per_handle_ok, "two ports on two threads: each port's calls and results complete and in order",
          f"{len(handles)} ports")
    check(events[0]["e"] == "header" and events[0]["writer"] == "libvolmirax.so" and events[0]["version"] == "1.0.0.1",
          "the file starts with a header naming the library and its version")

    trace = os.path.join(folder, "small.jsonl")
    out = host({"VOLMIRAX_TRACE": trace, "VOLMIRAX_TRACE_MAX": "0.02"}, 200, links[0])
    older = trace + ".1"
    sizes = [os.path.getsize(p) for p in (trace, older) if os.path.exists(p)]
    starts = [lines_of(p)[0]["e"] for p in (trace, older) if os.path.exists(p)]
    check(out.stdout.split() == ["200", "200"] and len(sizes) == 2 and max(sizes) < 0.02 * 1024 * 1024 + 4096
          and starts == ["header", "header"],
          "past VOLMIRAX_TRACE_MAX the file moves to PATH.1 and a new one starts with a header", f"sizes {sizes}")

    out = host({"VOLMIRAX_TRACE": os.path.join(folder, "no", "such", "dir.jsonl")}, 20, *links[:2])
    said = [l for l in out.stderr.splitlines() if "cannot write the trace" in l]
    check(out.stdout.split() == ["40", "40"] and len(said) == 1,
          "a PATH that cannot be opened: the library works and says so once", out.stderr.strip())

    # a FIFO that nobody reads would block every call: refused, said once
    fifo = os.path.join(folder, "fifo.jsonl")
    os.mkfifo(fifo)
    try:
        out = host({"VOLMIRAX_TRACE": fifo}, 20, links[0])
        said = [l for l in out.stderr.splitlines() if "cannot write the trace" in l]
        check(out.stdout.split() == ["20", "20"] and len(said) == 1,
              "a FIFO as PATH: the calls go on untraced and it is said once", out.stderr.strip())
    except subprocess.TimeoutExpired:
        check(False, "a FIFO as PATH: the calls go on untraced and it is said once", "the host hung")

    # three processes, a port each, commands of 3000 bytes (lines far
    # longer than the library's line buffer), all into one file: every line
    # whole, each process's lines told apart, the tools read it all
    trace = os.path.join(folder, "shared.jsonl")
    procs = [subprocess.Popen(["/usr/bin/python3", "-c", HOST, library, "40", line],
                              env=dict(os.environ, PYTHONPATH=package, VOLMIRAX_TRACE=trace, COMMAND_DATA="3000"),
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True) for line in links]
    outs = [p.communicate(timeout=300)[0].split() for p in procs]
    listed = subprocess.run([tool, "trace", trace], capture_output=True, text=True)
    pids = {json.loads(l).get("pid") for l in open(trace) if '"header"' in l}
    check(all(o == ["40", "40"] for o in outs) and listed.returncode == 0 and len(pids) == 3
          and listed.stdout.count(" result ") == 120,
          "three processes with long commands into one file: volmirax trace reads all of it",
          f"{outs}, status {listed.returncode}, {len(pids)} processes, {listed.stderr[:300]}")

    # a symbolic link as PATH: refused (it would be followed, and the
    # roll-over would move the link), said once
    target = os.path.join(folder, "target.jsonl")
    link = os.path.join(folder, "link.jsonl")
    os.symlink(target, link)
    out = host({"VOLMIRAX_TRACE": link}, 5, links[0])
    said = [l for l in out.stderr.splitlines() if "cannot write the trace" in l and "symbolic link" in l]
    check(out.stdout.split() == ["5", "5"] and len(said) == 1 and not os.path.exists(target),
          "a symbolic link as PATH is refused and said once", out.stderr.strip())

    # a size limit that is not one: said once, the default kept
    for limit in ("inf", "1e300", "nan", "-2", "12abc"):
        trace = os.path.join(folder, f"limit-{limit}.jsonl")
        out = host({"VOLMIRAX_TRACE": trace, "VOLMIRAX_TRACE_MAX": limit}, 5, links[0])
        said = [l for l in out.stderr.splitlines() if "VOLMIRAX_TRACE_MAX" in l]
        check(out.stdout.split() == ["5", "5"] and len(said) == 1 and not os.path.exists(trace + ".1")
              and len(lines_of(trace)) > 10,
              f"VOLMIRAX_TRACE_MAX={limit} is refused, said once, and the trace keeps 32 MB", out.stderr.strip())

    # PATH.1 a folder that cannot be replaced: the trace stops at its limit
    trace = os.path.join(folder, "stuck.jsonl")
    os.makedirs(trace + ".1/kept")
    out = host({"VOLMIRAX_TRACE": trace, "VOLMIRAX_TRACE_MAX": "0.01"}, 200, links[0])
    said = [l for l in out.stderr.splitlines() if "cannot move the trace" in l]
    size = os.path.getsize(trace)
    check(out.stdout.split() == ["200", "200"] and len(said) == 1 and size < 0.01 * 1024 * 1024 + 4096,
          "PATH.1 cannot be replaced: the trace stops at its limit, said once", f"{size} bytes; {out.stderr.strip()}")

    # a long reply at 9600 baud, its bytes read one at a time as they came:
    # the whole exchange in at most 8,000 bytes of trace, every byte's time
    # kept (a received run with its pauses)
    link = os.path.join(folder, "slow")
    sims.append((start_simulator(devsim, link, "--on", "1=data=" + "D" * 893), link))
    trace = os.path.join(folder, "slow.jsonl")
    out = host({"VOLMIRAX_TRACE": trace}, 1, link)
    lines = open(trace).read().splitlines(keepends=True)
    events = [json.loads(l) for l in lines]
    first = next(i for i, e in enumerate(events) if e["e"] == "call")
    last = next(i for i, e in enumerate(events) if e["e"] == "result")
    size = sum(len(l) for l in lines[first:last + 1])
    reply = [e for e in events[first:last] if e["e"] == "rx" and len(e["hex"]) > 1000]
    paused = sum(1 for item in reply[0].get("gaps", "").split(",") if item and int(item.split("*")[0]) > 0) if reply else 0
    check(out.stdout.split() == ["0", "1"] and size <= 8000 and len(reply) == 1 and paused > 100,
          "a 900-byte reply at 9600 baud takes at most 8,000 bytes of trace, every byte's pause kept",
          f"{size} bytes, {len(reply)} long rx lines, {paused} pauses; {out.stdout.strip()} {out.stderr.strip()[:200]}")
finally:
    for proc, _ in sims:
        proc.terminate()
        proc.wait()
sys.exit(check.end())
