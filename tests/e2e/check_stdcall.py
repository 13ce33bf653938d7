#!/usr/bin/python3
"""The 32-bit DLL's exports clean their own arguments off the stack.

Each export is __stdcall: the callee removes 4 bytes per argument, so every
return in the export's own code is `ret $N` with N its argument bytes. A
caller built against the header (or an MSVC import library) would otherwise
leave the stack off by the difference and crash later, far from the cause.
Read from the disassembly, with no emulator.

    check_stdcall.py VOLMIRAX.dll OBJDUMP
"""
import re
import subprocess
import sys

ARGUMENT_BYTES = {"CloseComm": 4, "OpenComm": 8, "SendEot": 8, "EjectCard": 8,
                  "GetMachineVersion": 8, "SendCmd": 32, "ReSet": 36}


def run(*args):
    return subprocess.run(args, check=True, capture_output=True, text=True).stdout


def exports(objdump, dll):
    """Export name -> address, from the export table."""
    text = run(objdump, "-p", dll)
    base = int(re.search(r"^ImageBase\s+([0-9a-fA-F]+)", text, re.M).group(1), 16)
    rvas = [int(m, 16) for m in re.findall(r"^\s*\[\s*\d+\] \+base\[\s*\d+\] ([0-9a-f]+) Export RVA", text, re.M)]
    names = {}
    table = text.split("[Ordinal/Name Pointer] Table", 1)[1]
    for m in re.finditer(r"^\s*\[\s*(\d+)\] (\w+)$", table, re.M):
        names[m.group(2)] = base + rvas[int(m.group(1))]
    return names


def functions(objdump, dll):
    """Start address -> (label, [instructions]) for every labelled routine."""
    out = {}
    current = None
    for line in run(objdump, "-d", "--no-show-raw-insn", dll).splitlines():
        m = re.match(r"^([0-9a-f]+) <([^>]+)>:$", line)
        if m:
            current = out.setdefault(int(m.group(1), 16), (m.group(2), []))
            continue
        m = re.match(r"^\s*[0-9a-f]+:\s+(.*)$", line)
        if m and current:
            current[1].append(m.group(1).strip())
    return out


def main():
    dll, objdump = sys.argv[1], sys.argv[2]
    found = exports(objdump, dll)
    code = functions(objdump, dll)
    failures = 0
    for name, want in sorted(ARGUMENT_BYTES.items()):
        if name not in found or found[name] not in code:
            print(f"not ok - {name}: not exported, or no code at its address")
            failures += 1
            continue
        label, body = code[found[name]]
        pops = sorted({int(m.group(1), 16) if m.group(1) else 0
                       for ins in body for m in [re.match(r"^ret\s*(?:\$0x([0-9a-f]+))?$", ins)] if m})
        ok = pops == [want]
        failures += not ok
        print(f"{'ok' if ok else 'not ok'} - {name} ({label}): returns pop {pops or 'nothing'} bytes, "
              f"{want} wanted ({want // 4} arguments)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
