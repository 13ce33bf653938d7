#!/bin/bash
# The main job: builds VOLMIRAX.dll and runs the demo host under Wine
# against the device simulator, showing each call with its result and the
# simulator's decoded trace of the bytes on the line.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset windows-x86 >/dev/null
cmake --build --preset windows-x86 >/dev/null
build=$(pwd)/build/windows-x86
echo "Built $build/VOLMIRAX.dll"
echo

tmp=$(mktemp -d /tmp/volmirax-demo.XXXXXX)
export WINEPREFIX=$tmp/prefix WINEDEBUG=-all WINEARCH=win32
sim_pid=
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
    wineserver -k 2>/dev/null || true
    rm -rf "$tmp"
}
trap cleanup EXIT
echo "Preparing a Wine prefix (takes a few seconds)..."
wineboot -i >/dev/null 2>&1

# The simulated device: version "VOLMIRAX-SIM 1.0"; command "1" answers
# with data; command "9" is never answered. Its trace goes to this terminal,
# indented, between the calls that caused it.
"$build/devsim" --link "$tmp/ttyVMX" --trace --on '1=data=CARD 4711' --on '9=silent,eotnone' \
    > >(sed -u 's/^/        | /') &
sim_pid=$!
for _ in $(seq 50); do [ -L "$tmp/ttyVMX" ] && break; sleep 0.1; done
ln -sf "$tmp/ttyVMX" "$WINEPREFIX/dosdevices/com3"
echo "Simulated card device on COM3 (trace lines: time, direction, bytes, meaning)"
echo
cd "$build"
wine demo_host.exe 3
sleep 0.2
