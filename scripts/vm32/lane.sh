#!/bin/bash
# Which lane runs the 32-bit DLL here (VOLMIRAX_32BIT_LANE=native or
# emulated chooses): prints "native" when this
# machine's kernel runs 32-bit Wine itself, "emulated" when it does not but
# full-system emulation is at hand (vm32.sh), or why neither can.
#
# The probe starts what the lane will use: 32-bit Wine itself, in a
# throwaway prefix, with a time-out. A loader that seems to run is not
# enough (a qemu-i386 binfmt handler runs it, and Wine then fails).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# $tmp, runs_32bit, and an end that stops the probe's Wine server
. "$here/../../tools/devsim/sim_session.sh"
case ${VOLMIRAX_32BIT_LANE:-} in
    native|emulated) echo "$VOLMIRAX_32BIT_LANE"; exit 0 ;;  # chosen by the caller
esac
if runs_32bit && [ -x /usr/lib/wine/wine ]; then
    export WINEPREFIX=$tmp/prefix
    uses_wine=1
    log=${VOLMIRAX_LANE_LOG:-/tmp/volmirax-lane-probe.log}
    if WINEARCH=win32 WINEDEBUG=-all \
        timeout -k 5 120 /usr/lib/wine/wine cmd /c echo 32-bit-wine-runs >"$log" 2>&1 &&
        grep -q 32-bit-wine-runs "$log"; then
        echo native
        exit 0
    fi
    echo "32-bit Wine did not start here (its log: $log)" >&2
fi
if command -v qemu-system-x86_64 >/dev/null && file -b /bin/busybox 2>/dev/null | grep -q 'statically linked'; then
    echo emulated
    exit 0
fi
echo "this kernel cannot run 32-bit Wine, and qemu-system-x86_64 or busybox-static is missing"
