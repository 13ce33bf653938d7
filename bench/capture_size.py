"""Bytes of the library's trace per exchange, per workload of the
benchmark: as written (format 2: a call's reads joined into one rx line
with each byte's pause) and as the same trace in format 1 (every read its
own rx line unless less than 1 ms after the one before, spaced hex), which
this library wrote before.
    python3 capture_size.py TRACE [LABEL]"""

import json
import sys

WORKLOADS = {"3": "EjectCard", "<": "GetMachineVersion", "M": "SendCmd 500 B", "B": "SendCmd 993 B",
             "H": "partial acknowledgement, 1 s"}


def spaced(hexes):
    return " ".join(hexes[i:i + 2] for i in range(0, len(hexes), 2))


def reads(e):
    """A format 2 rx line as the reads it was made of: (time, hex)."""
    gaps = []
    for item in filter(None, e.get("gaps", "").split(",")):
        value, _, times = item.partition("*")
        gaps += [int(value)] * int(times or 1)
    hexes, t, start, out = e["hex"], e["t"], 0, []
    gaps = gaps or [0] * (len(hexes) // 2 - 1)
    for i in range(1, len(hexes) // 2 + 1):
        if i < len(hexes) // 2 and gaps[i - 1] == 0:
            continue
        out.append((t, hexes[start * 2:i * 2]))
        if i < len(hexes) // 2:
            t += gaps[i - 1]
        start = i
    return out


def format_1(lines):
    """The lines of one call as format 1 writes them."""
    out, run = [], None

    def flush():
        nonlocal run
        if run:
            out.append(dict(run[2], t=run[0], hex=spaced(run[1])))
        run = None
    for e in lines:
        if e["e"] == "rx":
            for t, h in reads(e):
                base = {k: v for k, v in e.items() if k not in ("gaps", "hex", "t")}
                if run and (t - run[3] > 1000 or len(run[1]) + len(h) > 2000):
                    flush()
                if run:
                    run[1] += h
                    run[3] = t
                else:
                    run = [t, h, base, t]
            continue
        flush()
        e = dict(e)
        for k in ("hex", "cmd"):
            if k in e:
                e[k] = spaced(e[k])
        out.append(e)
    flush()
    return out


def size(events):
    return sum(len(json.dumps(e, separators=(",", ":"))) + 1 for e in events)


def main():
    calls, open_ = {}, {}
    for line in open(sys.argv[1]):
        e = json.loads(line)
        key = (e.get("pid"), e.get("handle"))
        if e["e"] == "call":
            open_[key] = [e]
        elif key in open_:
            open_[key].append(e)
            if e["e"] == "result":
                lines = open_.pop(key)
                name = WORKLOADS.get(bytes.fromhex(lines[0].get("cmd", "00")[:2]).decode("latin-1"), "other")
                c = calls.setdefault(name, [0, 0, 0])
                c[0] += 1
                c[1] += size(format_1(lines))
                c[2] += size(lines)
    label = sys.argv[2] if len(sys.argv) > 2 else ""
    for name in WORKLOADS.values():
        if name in calls:
            n, old, new = calls[name]
            print(f"| {label}{name} | {n} | {old / n:,.0f} | {new / n:,.0f} | {old / new:.1f}x |")


if __name__ == "__main__":
    main()
