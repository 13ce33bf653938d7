#!/bin/bash
# Runs a native program against the device simulator on a fresh
# pseudo-terminal; an argument @PORT@ becomes the path of its line.
#
#   run_native.sh BUILD_DIR PROGRAM [ARGS...]
#
# Set KEEP_TRACE=FILE to keep the simulator's trace.
set -euo pipefail
build=$(readlink -f "$1")
shift
tmp=$(mktemp -d /tmp/volmirax-native.XXXXXX)
sim_pid=
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
    [ -n "${KEEP_TRACE:-}" ] && cp "$tmp/trace.log" "$KEEP_TRACE" 2>/dev/null || true
    rm -rf "$tmp"
}
trap cleanup EXIT
"$build/devsim" --control ${DEVSIM_ARGS:-} --link "$tmp/ttyVMX" --trace="$tmp/trace.log" >"$tmp/devsim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 50); do [ -L "$tmp/ttyVMX" ] && break; sleep 0.1; done
args=()
for a in "$@"; do [ "$a" = @PORT@ ] && args+=("$tmp/ttyVMX") || args+=("$a"); done
"${args[@]}"
