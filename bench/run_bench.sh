#!/bin/bash
# Runs the benchmark on the Linux library, the reference poll-and-read host
# and the 32-bit DLL under Wine, at 9600 and 115200 baud, and prints one
# table. The builds run interleaved: ROUNDS rounds, each running every build
# once, in an order that rotates from round to round, so that a slow phase
# of the machine does not fall on one build.
#   bench/run_bench.sh [N [ROUNDS]]   (N exchanges per workload and build in all)
set -euo pipefail
cd "$(dirname "$0")/.."
n=${1:-60}
rounds=${2:-3}
bash scripts/install-deps.sh
for preset in bench windows-x86; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" >/dev/null
done
out=$(mktemp)
trap 'rm -f "$out"' EXIT
per=$(( (n + rounds - 1) / rounds ))
run_build() {
    local build=$1 baud=$2
    case $build in
    linux)
        DEVSIM_ARGS="--pace $baud" bash tools/devsim/run_native.sh build/bench \
            build/bench/volmirax_bench build/bench/libvolmirax.so @PORT@ --baud "$baud" --build linux --n "$per" ;;
    reference)
        DEVSIM_ARGS="--pace $baud" bash tools/devsim/run_native.sh build/bench \
            build/bench/volmirax_bench reference @PORT@ --baud "$baud" --build reference --n "$per" ;;
    windows)
        DEVSIM_ARGS="--pace $baud" bash tools/devsim/run_wine.sh build/windows-x86 \
            wine volmirax_bench.exe VOLMIRAX.dll 5 --baud "$baud" --build "windows-x86 (Wine)" --n "$per" ;;
    esac
}
builds=(linux reference windows)
for ((r = 0; r < rounds; ++r)); do
    for baud in 9600 115200; do
        for ((i = 0; i < ${#builds[@]}; ++i)); do
            run_build "${builds[(i + r) % ${#builds[@]}]}" "$baud" >>"$out"
        done
    done
done
build/bench/volmirax_bench --report "$out"
