#!/bin/bash
# The main job: builds VOLMIRAX.dll and runs the demo host under Wine
# against the device simulator, showing each call with its result and the
# simulator's decoded trace of the bytes on the line.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
. tools/devsim/sim_session.sh
preset=windows-x86 arch=win32
if ! runs_32bit; then
    # some virtual machines' kernels cannot run 32-bit programs, so neither
    # can 32-bit Wine: the 64-bit DLL shows the same
    echo "This machine cannot run 32-bit programs: showing the 64-bit DLL instead."
    preset=windows-x64 arch=win64
fi
cmake --preset $preset >/dev/null
cmake --build --preset $preset >/dev/null
build=$(pwd)/build/$preset
echo "Built $build/VOLMIRAX.dll"
echo

echo "Preparing a Wine prefix (takes a few seconds)..."
wine_prefix $arch

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
