#!/bin/bash
# Runs the benchmark on the Linux library (also with its trace on), the
# reference poll-and-read host and the 32-bit DLL under Wine (the 64-bit one
# on a machine that cannot run 32-bit programs), at 9600 and 115200 baud,
# and prints one table, the cost of a Windows wait's pass and that of the
# tools on a day's capture. The builds run interleaved: ROUNDS rounds, each
# running every build once, in an order that rotates from round to round,
# so that a slow phase of the machine does not fall on one build.
#   bench/run_bench.sh [N [ROUNDS]]   (N exchanges per workload and build in all)
set -euo pipefail
cd "$(dirname "$0")/.."
n=${1:-60}
rounds=${2:-3}
bash scripts/install-deps.sh
win=windows-x86
/lib/ld-linux.so.2 --version >/dev/null 2>&1 || win=windows-x64
for preset in bench $win; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" >/dev/null
done
out=$(mktemp)
traces=$(mktemp -d)
trap 'rm -rf "$out" "$traces"' EXIT
per=$(( (n + rounds - 1) / rounds ))
run_build() {
    local build=$1 baud=$2 round=$3
    case $build in
    linux)
        DEVSIM_ARGS="--pace $baud" bash tools/devsim/run_native.sh build/bench \
            build/bench/volmirax_bench build/bench/libvolmirax.so @PORT@ --baud "$baud" --build linux --n "$per" --round "$round" ;;
    traced)
        VOLMIRAX_TRACE=$traces/trace.jsonl DEVSIM_ARGS="--pace $baud" bash tools/devsim/run_native.sh build/bench \
            build/bench/volmirax_bench build/bench/libvolmirax.so @PORT@ --baud "$baud" --build "linux, traced" --n "$per" --round "$round" ;;
    reference)
        DEVSIM_ARGS="--pace $baud" bash tools/devsim/run_native.sh build/bench \
            build/bench/volmirax_bench reference @PORT@ --baud "$baud" --build reference --n "$per" --round "$round" ;;
    windows)
        DEVSIM_ARGS="--pace $baud" bash tools/devsim/run_wine.sh build/$win \
            wine volmirax_bench.exe VOLMIRAX.dll 5 --baud "$baud" --build "$win (Wine)" --n "$per" --round "$round" ;;
    esac
}
builds=(linux traced reference windows)
for ((r = 0; r < rounds; ++r)); do
    for baud in 9600 115200; do
        for ((i = 0; i < ${#builds[@]}; ++i)); do
            run_build "${builds[(i + r) % ${#builds[@]}]}" "$baud" "$r" >>"$out"
        done
    done
done
build/bench/volmirax_bench --report "$out"
echo
# the tools on a day of a busy kiosk: a capture of 100,000 exchanges
/usr/bin/python3 bench/report_bench.py build/bench/volmirax 100000
