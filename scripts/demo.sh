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

. tools/devsim/sim_session.sh
echo "Preparing a Wine prefix (takes a few seconds)..."
wine_prefix win32

# The simulated device: version "VOLMIRAX-SIM 1.0"; command "1" answers
# with data; command "9" is never answered. Its trace goes to this terminal,
# indented, between the calls that caused it.
start_devsim "$build/devsim" --trace --on '1=data=CARD 4711' --on '9=silent,eotnone' \
    > >(sed -u 's/^/        | /')
ln -sf "$tmp/ttyVMX" "$WINEPREFIX/dosdevices/com3"
echo "Simulated card device on COM3 (trace lines: time, direction, bytes, meaning)"
echo
cd "$build"
wine demo_host.exe 3
sleep 0.2
