#!/bin/bash
# Runs a native program against the device simulator on a fresh
# pseudo-terminal; an argument @PORT@ becomes the path of its line.
#
#   run_native.sh BUILD_DIR PROGRAM [ARGS...]
#
# DEVSIM_ARGS adds simulator options; KEEP_TRACE=FILE keeps its trace.
set -euo pipefail
build=$(readlink -f "$1")
shift
. "$(dirname "$0")/sim_session.sh"
# shellcheck disable=SC2086
start_devsim "$build/devsim" --control ${DEVSIM_ARGS:-} --trace="$tmp/trace.log" >"$tmp/devsim.out" 2>&1
args=()
for a in "$@"; do [ "$a" = @PORT@ ] && args+=("$tmp/ttyVMX") || args+=("$a"); done
"${args[@]}"
