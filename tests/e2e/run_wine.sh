#!/bin/bash
# Runs a command under Wine against the device simulator, in a temporary
# Wine prefix whose COM5 and COM12 lead to the simulator's pseudo-terminal
# (COM33 is left unmapped). Everything it starts ends with it.
#
#   run_wine.sh BUILD_DIR COMMAND...
#
# COMMAND runs in BUILD_DIR, e.g. "wine e2e_host.exe VOLMIRAX.dll 5"; the
# prefix is 64-bit when the build's VOLMIRAX.dll is. Set KEEP_TRACE=FILE to
# keep the simulator's trace.
set -euo pipefail
build=$(readlink -f "$1")
shift

tmp=$(mktemp -d /tmp/volmirax-wine.XXXXXX)
export WINEPREFIX=$tmp/prefix WINEDEBUG=-all WINEARCH=win32
# the prefix matches the DLL of the build
if file -b "$build/VOLMIRAX.dll" 2>/dev/null | grep -q 'x86-64'; then
    export WINEARCH=win64
fi
sim_pid=
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
    wineserver -k 2>/dev/null || true
    [ -n "${KEEP_TRACE:-}" ] && cp "$tmp/trace.log" "$KEEP_TRACE" 2>/dev/null || true
    rm -rf "$tmp"
}
trap cleanup EXIT

wineboot -i >/dev/null 2>&1
"$build/devsim" --control ${DEVSIM_ARGS:-} --link "$tmp/ttyVMX" --trace="$tmp/trace.log" >"$tmp/devsim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 50); do [ -L "$tmp/ttyVMX" ] && break; sleep 0.1; done
rm -f "$WINEPREFIX"/dosdevices/com5 "$WINEPREFIX"/dosdevices/com12 "$WINEPREFIX"/dosdevices/com33
ln -s "$tmp/ttyVMX" "$WINEPREFIX/dosdevices/com5"
ln -s "$tmp/ttyVMX" "$WINEPREFIX/dosdevices/com12"

cd "$build"
"$@"
