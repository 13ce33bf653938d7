#!/bin/bash
# The benchmark of one native build: the Linux library, the same with its
# trace on (VOLMIRAX_TRACE: what recording costs an exchange), and the
# reference host, N exchanges per workload at 9600 and 115200 baud, as one
# table.
#   bench/bench_build.sh BUILD_DIR [N]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(readlink -f "$1")
n=${2:-30}
out=$(mktemp)
traces=$(mktemp -d)
trap 'rm -rf "$out" "$traces"' EXIT
for baud in 9600 115200; do
    for name in linux "linux, traced" reference; do
        lib=$([ "$name" = reference ] && echo reference || echo "$build/libvolmirax.so")
        trace=$([ "$name" = "linux, traced" ] && echo "$traces/trace.jsonl" || echo "")
        VOLMIRAX_TRACE=$trace DEVSIM_ARGS="--baud $baud --pace $baud" bash "$here/../tools/devsim/run_native.sh" "$build" \
            "$build/volmirax_bench" "$lib" @PORT@ --baud "$baud" --build "$name" --n "$n" >>"$out"
    done
done
"$build/volmirax_bench" --report "$out"
echo
# the tools on a month of a busy kiosk: a capture of 100,000 exchanges
/usr/bin/python3 "$here/capture_bench.py" "$build/volmirax" 100000
