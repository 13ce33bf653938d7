#!/bin/bash
# The benchmark under Wine counts the CPU of the Wine server that serves its
# own prefix: not another prefix's server running beside it, and when it
# cannot find its own it stops instead of counting the process alone.
# Runs inside run_wine.sh (WINEPREFIX set, the simulator on COM5, paced).
set -euo pipefail
fail() { echo "FAIL: $*" >&2; exit 1; }

# another prefix's server, started before this prefix's own (which starts
# again with the benchmark), so that a search by name in /proc, which lists
# processes in the order they started, meets it first
wineserver -k 2>/dev/null || true
wineserver -w
other=$(mktemp -d)
trap 'WINEPREFIX=$other wineserver -k 2>/dev/null || true; rm -rf "$other"' EXIT
WINEPREFIX=$other wineserver -p

out=$(wine volmirax_bench.exe VOLMIRAX.dll 5 --baud 115200 --build t --n 4 2>err.txt) || fail "the benchmark failed: $(cat err.txt)"
pid=$(tr -d '\r' <err.txt | sed -n 's/^bench: counting the Wine server of .*, process \([0-9]*\)$/\1/p')
[ -n "$pid" ] || fail "no server named: $(cat err.txt)"
# a server lives in the folder named after its prefix's device and inode
want=$(stat -c 'server-%D-%i' "$WINEPREFIX" | awk -F- '{ printf "%s-%s-%x", $1, $2, $3 }')
[ "$(basename "$(readlink /proc/"$pid"/cwd)")" = "$want" ] ||
    fail "process $pid is not this prefix's server ($want): $(readlink /proc/"$pid"/cwd)"
# each workload's line has the server's CPU; a polling wait makes some
echo "$out" | awk -F'\t' '$1 == "C" { n++; if ($7 == "-") bad = 1; server += $7 }
    END { exit !(n == 5 && !bad && server > 0) }' ||
    fail "the server's CPU is missing: $(echo "$out" | grep '^C')"
echo "$out" | grep -q '^P' || fail "no line for a wait's pass"

# the process's own environment names a prefix no server serves
if wine cmd /c "set WINEPREFIX=/nowhere&& volmirax_bench.exe VOLMIRAX.dll 5 --baud 115200 --build t --n 4" \
    >out.txt 2>err.txt; then
    fail "the benchmark ran without its server's CPU"
fi
grep -q 'no Wine server found in /proc for the prefix /nowhere' err.txt || fail "no reason given: $(cat err.txt)"
! grep -q '^[SC]' out.txt || fail "samples were printed before the stop"
rm -f err.txt out.txt
echo "ok: counted process $pid, this prefix's server; refused without one"
