#!/bin/bash
# The main job: builds VOLMIRAX.dll and runs the demo host under Wine
# against the device simulator, showing each call with its result and the
# simulator's decoded trace of the bytes on the line.
#
#   demo.sh          the 32-bit DLL (the product): natively where this
#                    machine runs 32-bit Wine, otherwise under full-system
#                    emulation (scripts/vm32/: about half a minute, and a
#                    few more the first time, which makes the emulated
#                    Wine prefix)
#   demo.sh --x64    the 64-bit DLL under 64-bit Wine: the fast path
set -euo pipefail
cd "$(dirname "$0")/.."
preset=windows-x86 arch=win32
case ${1:-} in
    --x64) preset=windows-x64 arch=win64 ;;
    --run) ;;  # inside the emulated lane: built already
    "") ;;
    *) echo "usage: demo.sh [--x64]" >&2; exit 2 ;;
esac

if [ "${1:-}" != --run ]; then
    bash scripts/install-deps.sh
    lane=native
    if [ $arch = win32 ]; then
        lane=$(bash scripts/vm32/lane.sh) || true
        if [ "$lane" != native ] && [ "$lane" != emulated ]; then
            echo "The 32-bit DLL cannot run here ($lane): showing the 64-bit DLL instead."
            preset=windows-x64 arch=win64 lane=native
        fi
    fi
    cmake --preset $preset >/dev/null
    cmake --build --preset $preset >/dev/null
    echo "Built $(pwd)/build/$preset/VOLMIRAX.dll"
    echo
    if [ "$lane" = emulated ]; then
        echo "This machine's kernel cannot run 32-bit programs: running the 32-bit DLL under"
        echo "full-system emulation (QEMU with Debian's kernel). That takes about half a minute,"
        echo "and a few more the first time (it makes the emulated Wine prefix, kept in"
        echo "build/vm32). 'bash scripts/demo.sh --x64' shows the 64-bit DLL at once."
        echo
        exec bash scripts/vm32/vm32.sh --wine bash scripts/demo.sh --run
    fi
fi

. tools/devsim/sim_session.sh
build=$(pwd)/build/$preset
if [ -z "${VOLMIRAX_WINE_PREFIX:-}" ] || [ $arch != win32 ]; then
    echo "Preparing a Wine prefix (takes a few seconds)..."
fi
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
