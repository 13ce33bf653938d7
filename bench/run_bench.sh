#!/bin/bash
# Runs the benchmark on the Linux library (also with its trace on), the
# reference poll-and-read host and the 32-bit DLL under Wine (the 64-bit one
# on a machine that cannot run 32-bit programs), at 9600 and 115200 baud,
# and prints one table, the cost of a Windows wait's pass and that of the
# tools on long captures. The builds run interleaved: ROUNDS rounds, each
# running every build once, in an order that rotates from round to round,
# so that a slow phase of the machine does not fall on one build.
#   bench/run_bench.sh [N [ROUNDS]]   (N exchanges per workload and build in all)
#
# BENCH_BUSY=HOGS: the Linux library and the DLL only, each measured on the
# idle machine and then with HOGS processes of the benchmark's own spinning
# at normal priority (both cores kept busy), side by side in one table
# (builds named "..., idle" and "..., busy").
#
# BENCH_BASELINE=DIR: also runs the DLL of another build folder (of an
# earlier commit, built with the same preset) as the build "baseline", side
# by side with this one, e.g. the waits before they slept:
#   git worktree add /tmp/before <commit> && (cd /tmp/before &&
#     cmake --preset windows-x86 && cmake --build --preset windows-x86)
#   BENCH_BASELINE=/tmp/before/build/windows-x86 bench/run_bench.sh
set -euo pipefail
cd "$(dirname "$0")/.."
n=${1:-60}
rounds=${2:-3}
bash scripts/install-deps.sh
# the 32-bit DLL where 32-bit Wine really runs here (the suite's probe)
win=windows-x86
[ "$(bash scripts/vm32/lane.sh 2>/dev/null)" = native ] || win=windows-x64
for preset in bench $win; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" >/dev/null
done
out=$(mktemp)
traces=$(mktemp -d)
trap 'rm -rf "$out" "$traces"' EXIT
per=$(( (n + rounds - 1) / rounds ))
# run_build BUILD BAUD ROUND: one run of a build, its raw lines on stdout
run_build() {
    local build=$1 baud=$2 round=$3 load=${4:+, $4}
    local args=(--baud "$baud" --n "$per" --round "$round")
    export DEVSIM_ARGS="--baud $baud --pace $baud"
    case $build in
    linux | traced)
        local name=linux$load trace=
        [ "$build" = traced ] && name="linux, traced$load" trace=$traces/trace.jsonl
        VOLMIRAX_TRACE=$trace bash tools/devsim/run_native.sh build/bench \
            build/bench/volmirax_bench build/bench/libvolmirax.so @PORT@ --build "$name" "${args[@]}" ;;
    reference)
        bash tools/devsim/run_native.sh build/bench \
            build/bench/volmirax_bench reference @PORT@ --build reference "${args[@]}" ;;
    windows)
        bash tools/devsim/run_wine.sh build/$win \
            wine volmirax_bench.exe VOLMIRAX.dll 5 --build "$win (Wine)$load" "${args[@]}" ;;
    baseline)
        bash tools/devsim/run_wine.sh "$baseline" \
            wine volmirax_bench.exe VOLMIRAX.dll 5 --build "$win (Wine), baseline$load" "${args[@]}" ;;
    esac
}
builds=(linux traced reference windows)
loads=("")
hogs=()
stop_hogs() { [ ${#hogs[@]} -eq 0 ] || kill "${hogs[@]}" 2>/dev/null; hogs=(); }
trap 'stop_hogs; rm -rf "$out" "$traces"' EXIT
if [ -n "${BENCH_BUSY:-}" ]; then
    builds=(linux windows)
    loads=(idle busy)
fi
if [ -n "${BENCH_BASELINE:-}" ]; then
    # this build's folder with the baseline's DLL in it: the same benchmark
    # and simulator measure both
    baseline=$traces/baseline
    mkdir "$baseline"
    ln -s "$PWD/build/$win"/* "$baseline/"
    rm "$baseline/VOLMIRAX.dll"
    cp "$BENCH_BASELINE/VOLMIRAX.dll" "$baseline/"
    builds+=(baseline)
fi
for load in "${loads[@]}"; do
    if [ "$load" = busy ]; then
        for ((i = 0; i < BENCH_BUSY; ++i)); do
            (while :; do :; done) &
            hogs+=($!)
        done
        echo "busy: $BENCH_BUSY spinning processes" >&2
    fi
    for ((r = 0; r < rounds; ++r)); do
        for baud in 9600 115200; do
            for ((i = 0; i < ${#builds[@]}; ++i)); do
                run_build "${builds[(i + r) % ${#builds[@]}]}" "$baud" "$r" "$load" >>"$out"
            done
        done
    done
    stop_hogs
done
build/bench/volmirax_bench --report "$out"
[ -n "${BENCH_BUSY:-}" ] && exit 0
echo
# what the traced build's trace took per exchange, both rates together
echo "| workload | exchanges | bytes, format 1 | bytes, format 2 | format 1 / format 2 |"
echo "|---|---|---|---|---|"
/usr/bin/python3 bench/capture_size.py "$traces/trace.jsonl"
echo
# the tools on a month of a busy kiosk: captures of 10,000 to 1,000,000 exchanges
/usr/bin/python3 bench/capture_bench.py build/bench/volmirax 10000 100000 1000000
