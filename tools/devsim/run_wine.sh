#!/bin/bash
# Runs a command under Wine against the device simulator, in a temporary
# Wine prefix whose COM5 and COM12 lead to the simulator's pseudo-terminal
# (COM33 is left unmapped, COM40 leads to /dev/null: not a serial line).
#
#   run_wine.sh BUILD_DIR COMMAND...
#
# COMMAND runs in BUILD_DIR, e.g. "wine e2e_host.exe VOLMIRAX.dll 5"; the
# prefix is 64-bit when the build's VOLMIRAX.dll is. DEVSIM_ARGS adds
# simulator options; KEEP_TRACE=FILE keeps its trace.
set -euo pipefail
build=$(readlink -f "$1")
shift
. "$(dirname "$0")/sim_session.sh"

arch=win32
if file -b "$build/VOLMIRAX.dll" 2>/dev/null | grep -q 'x86-64'; then
    arch=win64
fi
wine_prefix $arch
# shellcheck disable=SC2086
start_devsim "$build/devsim" --control ${DEVSIM_ARGS:-} --trace="$tmp/trace.log" >"$tmp/devsim.out" 2>&1
rm -f "$WINEPREFIX"/dosdevices/com5 "$WINEPREFIX"/dosdevices/com12 "$WINEPREFIX"/dosdevices/com33 "$WINEPREFIX"/dosdevices/com40
ln -s "$tmp/ttyVMX" "$WINEPREFIX/dosdevices/com5"
ln -s "$tmp/ttyVMX" "$WINEPREFIX/dosdevices/com12"
ln -s /dev/null "$WINEPREFIX/dosdevices/com40"

cd "$build"
"$@"
