#!/bin/bash
# Every test: unit tests and the native end-to-end suite (linux), the same
# under AddressSanitizer and UndefinedBehaviorSanitizer (sanitize), the
# fuzzer over a fixed number of inputs (fuzz), and the end-to-end suite of
# the 32-bit DLL under Wine (windows-x86) and of the 64-bit one
# (windows-x64).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
for preset in linux sanitize fuzz windows-x86 windows-x64; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    ctest --preset "$preset"
done
