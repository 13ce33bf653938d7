#!/bin/bash
# Runs a Windows program under Wine against the device simulator, in a
# temporary Wine prefix whose COM5 and COM12 lead to the simulator's
# pseudo-terminal. Everything it starts ends with it.
#
#   run_wine.sh BUILD_DIR PROGRAM.exe [ARGS...]
#
# The arguments are passed on; the simulator is on COM5 and COM12, and no
# port is mapped at COM33.
# Set KEEP_TRACE=FILE to keep the simulator's trace.
set -euo pipefail
build=$(readlink -f "$1")
shift
program=$(readlink -f "$1")
shift

tmp=$(mktemp -d /tmp/volmirax-wine.XXXXXX)
export WINEPREFIX=$tmp/prefix WINEDEBUG=-all
if file -b "$program" | grep -q 'x86-64'; then export WINEARCH=win64; else export WINEARCH=win32; fi
sim_pid=
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
    wineserver -k 2>/dev/null || true
    [ -n "${KEEP_TRACE:-}" ] && cp "$tmp/trace.log" "$KEEP_TRACE" 2>/dev/null || true
    rm -rf "$tmp"
}
trap cleanup EXIT

wineboot -i >/dev/null 2>&1
"$build/devsim" --control --link "$tmp/ttyVMX" --trace="$tmp/trace.log" >"$tmp/devsim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 50); do [ -L "$tmp/ttyVMX" ] && break; sleep 0.1; done
rm -f "$WINEPREFIX"/dosdevices/com5 "$WINEPREFIX"/dosdevices/com12 "$WINEPREFIX"/dosdevices/com33
ln -s "$tmp/ttyVMX" "$WINEPREFIX/dosdevices/com5"
ln -s "$tmp/ttyVMX" "$WINEPREFIX/dosdevices/com12"

cd "$build"
wine "$program" "$@"
