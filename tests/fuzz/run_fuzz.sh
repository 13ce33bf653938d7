#!/bin/bash
# Runs the fuzzer from the kept corpus without changing it.
#   run_fuzz.sh FUZZER CORPUS [libFuzzer options...]
set -euo pipefail
fuzzer=$1
corpus=$2
shift 2
work=$(mktemp -d /tmp/volmirax-fuzz.XXXXXX)
trap 'rm -rf "$work"' EXIT
cp -r "$corpus"/. "$work/"
cd "$work"
"$fuzzer" "$@" -max_len=4096 "$work"
