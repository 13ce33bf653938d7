#!/bin/bash
# The benchmark of one native build: the Linux library and the reference
# host, N exchanges per workload at 9600 and 115200 baud, as one table.
#   bench/bench_build.sh BUILD_DIR [N]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(readlink -f "$1")
n=${2:-30}
out=$(mktemp)
trap 'rm -f "$out"' EXIT
for baud in 9600 115200; do
    for lib in "$build/libvolmirax.so" reference; do
        name=$([ "$lib" = reference ] && echo reference || echo linux)
        DEVSIM_ARGS="--pace $baud" bash "$here/../tools/devsim/run_native.sh" "$build" \
            "$build/volmirax_bench" "$lib" @PORT@ --baud "$baud" --build "$name" --n "$n" >>"$out"
    done
done
"$build/volmirax_bench" --report "$out"
