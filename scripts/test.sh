#!/bin/bash
# Every test: unit tests, the POSIX link on a virtual line, the native
# end-to-end suite, the tool, the tap and the Python and C# bindings
# (linux); the same under AddressSanitizer and UndefinedBehaviorSanitizer
# (sanitize); the fuzzer over a fixed number of inputs (fuzz); the 32-bit
# DLL, the product (windows-x86): its static checks here, and everything
# that runs it under 32-bit Wine in the 32-bit lane; the 64-bit DLL under
# 64-bit Wine (windows-x64). Then the release of the committed state: built
# twice and compared byte for byte, its packages and wheels checked and run.
#
# The 32-bit lane is native where this machine's kernel runs 32-bit Wine,
# and otherwise Debian's own kernel under full-system emulation
# (scripts/vm32/vm32.sh, about 10 minutes, 4 more the first time on a
# machine, which makes the emulated Wine prefix). If neither can run, the
# suite fails, unless VOLMIRAX_NO_32BIT=1 says the lane is not wanted.
#
# Every part runs even when one before it failed; a summary of the parts
# ends the output, and the exit status is non-zero if any part failed.
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh || { echo "installing what the tests need failed" >&2; exit 1; }
. scripts/suite_parts.sh

part linux cmake --workflow --preset linux
part sanitize cmake --workflow --preset sanitize
part fuzz cmake --workflow --preset fuzz

if part windows-x86-build sh -c 'cmake --preset windows-x86 >/dev/null && cmake --build --preset windows-x86'; then
    part windows-x86-static bash scripts/ctest_part.sh windows-x86 -LE wine
    lane=$(bash scripts/vm32/lane.sh)
    case $lane in
        native)
            if part windows-x86-32bit-native bash scripts/ctest_part.sh --no-skips windows-x86 -L wine; then
                lane_note="the 32-bit DLL ran natively"
            else
                lane_note="the 32-bit DLL's native lane FAILED"
            fi ;;
        emulated)
            # the benchmark's own test measures Wine's CPU, which emulation
            # distorts (and its host faults at start under QEMU's TCG)
            if part windows-x86-32bit-emulated scripts/vm32/vm32.sh --wine \
                bash scripts/ctest_part.sh --no-skips windows-x86 -L wine -LE bench; then
                lane_note="the 32-bit DLL ran under full-system emulation"
            else
                lane_note="the 32-bit DLL's emulated lane FAILED"
            fi ;;
        *)
            if [ "${VOLMIRAX_NO_32BIT:-}" = 1 ]; then
                skipped windows-x86-32bit "not wanted (VOLMIRAX_NO_32BIT=1); $lane"
                lane_note="the 32-bit DLL was NOT run: not wanted (VOLMIRAX_NO_32BIT=1)"
            else
                failed windows-x86-32bit "no lane can run 32-bit code: $lane"
                lane_note="the 32-bit DLL was NOT run: $lane"
            fi ;;
    esac
else
    lane_note="the 32-bit DLL was NOT run: its build failed"
fi
part windows-x64 cmake --workflow --preset windows-x64
part release bash tests/release/release_test.sh

summary
