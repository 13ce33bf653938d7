#!/bin/bash
# Every test: unit tests, the POSIX link on a virtual line, the native
# end-to-end suite, the tool, the tap and the Python and C# bindings
# (linux); the same under AddressSanitizer and UndefinedBehaviorSanitizer
# (sanitize); the fuzzer over a fixed number of inputs (fuzz); and the
# end-to-end suite of the 32-bit DLL under Wine (windows-x86) and of the
# 64-bit one (windows-x64). Each is a CMake workflow: configure, build, test.
# Then the release of the committed state: built twice and compared byte
# for byte, its packages and wheels checked and run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
for preset in linux sanitize fuzz windows-x86 windows-x64; do
    cmake --workflow --preset "$preset"
done
bash tests/release/release_test.sh
