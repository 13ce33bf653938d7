#!/bin/bash
# System calls per reply byte: one workload of the benchmark (by default
# 40 exchanges of "SendCmd 993 B" at 115200 baud) under strace, for the
# Linux library and for the DLL under Wine, where the Wine server of the
# benchmark's prefix, which does the work of the Win32 calls, is counted
# too. What starting, opening and closing cost is measured by a run that
# exchanges nothing, and taken off.
#   bench/syscalls.sh LINUX_BUILD WINDOWS_BUILD [N [WORKLOAD]]
set -euo pipefail
cd "$(dirname "$0")/.."
linux=$(readlink -f "$1") windows=$(readlink -f "$2")
n=${3:-40} workload=${4:-SendCmd 993 B}
baud=115200
export DEVSIM_ARGS="--baud $baud --pace $baud"
tmp=$(mktemp -d)
trap '[ -n "${KEEP:-}" ] || rm -rf "$tmp"' EXIT
data=$(awk -v w="$workload" -F'"' '$2 == w { print $3 }' bench/workloads.h | awk -F, '{ print $3 + 0 }')

# calls FILE: the total of an strace -c summary (one table per mode: a
# 32-bit process under a 64-bit kernel has two)
calls() { awk '$NF == "total" { n += NF == 6 ? $(NF-2) : $(NF-1) } END { print n + 0 }' "$1"; }

# linux_calls WORKLOAD: the process's system calls
linux_calls() {
    bash tools/devsim/run_native.sh "$linux" strace -f -c -o "$tmp/linux.txt" \
        "$linux/volmirax_bench" "$linux/libvolmirax.so" @PORT@ --baud $baud --build linux --n "$n" --only "$1" >/dev/null
    calls "$tmp/linux.txt"
}

# wine_calls WORKLOAD: the process tree's system calls and the server's
wine_calls() {
    WORKLOAD=$1 N=$n BAUD=$baud TMP=$tmp bash tools/devsim/run_wine.sh "$windows" bash -c '
        wine cmd /c exit >/dev/null 2>&1   # the prefix and its server up
        for p in /proc/[0-9]*; do
            case $(cat $p/comm 2>/dev/null) in wineserver*)
                tr "\0" "\n" <$p/environ 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" && server=${p#/proc/} ;;
            esac
        done
        strace -c -o "$TMP/server.txt" -p "$server" 2>/dev/null & tracer=$!
        sleep 1
        strace -f -c -o "$TMP/wine.txt" wine volmirax_bench.exe VOLMIRAX.dll 5 --baud "$BAUD" --build wine \
            --n "$N" --only "$WORKLOAD" >/dev/null 2>&1
        kill -INT $tracer; wait $tracer || true'
    echo "$(calls "$tmp/wine.txt") $(calls "$tmp/server.txt")"
}

per() { awk -v c="$1" -v e="$n" -v d="$data" 'BEGIN { printf "%.0f an exchange, %.2f a reply byte", c/e, c/(e*d) }'; }
l=$(( $(linux_calls "$workload") - $(linux_calls none) ))
echo "linux: $l system calls for $n exchanges of $data reply data bytes at $baud baud: $(per $l)"
read -r p1 s1 <<<"$(wine_calls "$workload")"
read -r p0 s0 <<<"$(wine_calls none)"
p=$((p1 - p0)) s=$((s1 - s0))
echo "$(basename "$windows") (Wine): $p + $s system calls (process + server) for $n exchanges of $data reply data bytes at $baud baud: $(per $((p + s)))"
