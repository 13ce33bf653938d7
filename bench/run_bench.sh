#!/bin/bash
# Runs the benchmark on the Linux library natively and on the 32-bit DLL
# under Wine, at 9600 and 115200 baud, and prints one table.
#   bench/run_bench.sh [N]
set -euo pipefail
cd "$(dirname "$0")/.."
n=${1:-20}
bash scripts/install-deps.sh
for preset in bench windows-x86; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" >/dev/null
done
out=$(mktemp)
trap 'rm -f "$out"' EXIT
for baud in 9600 115200; do
    DEVSIM_ARGS="--pace $baud" bash tests/e2e/run_native.sh build/bench \
        build/bench/volmirax_bench build/bench/libvolmirax.so @PORT@ --baud $baud --build linux --n "$n" >>"$out"
    DEVSIM_ARGS="--pace $baud" bash tests/e2e/run_wine.sh build/windows-x86 \
        wine volmirax_bench.exe VOLMIRAX.dll 5 --baud $baud --build "windows-x86 (Wine)" --n "$n" >>"$out"
done
echo "| build | baud | exchange | floor ms | think ms | wall median | wall p99 | overhead median ms | overhead p99 ms | CPU / wall |"
echo "|---|---|---|---|---|---|---|---|---|---|"
grep '^|' "$out" | tr -d '\r' | sort -s -t'|' -k2,2 -k3,3n
echo
echo "Overhead (median) by reply length:"
grep '^GROWTH' "$out" | tr -d '\r' | sed 's/^GROWTH /  /'
