#!/bin/bash
# The DLL needs nothing but Windows' own DLLs, and exports exactly the
# seven names of the .def.
set -euo pipefail
dll=$1
objdump=${2:-objdump}
imports=$("$objdump" -p "$dll" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'a-z' 'A-Z' | sort | tr '\n' ' ')
echo "imports: $imports"
for i in $imports; do
    case $i in KERNEL32.DLL|USER32.DLL|MSVCRT.DLL) ;; *) echo "unexpected import $i"; exit 1 ;; esac
done
exports=$("$objdump" -p "$dll" | awk '/\[Ordinal\/Name Pointer\] Table/{on=1; next} on && /^[ \t]*\[/{print $NF; next} on {on=0}' | tr '\n' ' ')
echo "exports: $exports"
[ "$exports" = "CloseComm EjectCard GetMachineVersion OpenComm ReSet SendCmd SendEot " ]
