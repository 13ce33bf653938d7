#!/bin/bash
# One CTest run of a preset for the suite: its failures' output, and the
# reason of each skipped test on the console (CTest keeps it in its log).
#
#   ctest_part.sh [--no-skips] PRESET [CTEST ARGS...]
#
# --no-skips: a skipped test fails the run (a lane that was chosen to run
# them must not pass by skipping them).
set -uo pipefail
cd "$(dirname "$0")/.."
no_skips=
[ "${1:-}" = --no-skips ] && { no_skips=1; shift; }
preset=$1
shift
out=$(mktemp)
trap 'rm -f "$out"' EXIT
ctest --preset "$preset" "$@" 2>&1 | tee "$out"
rc=${PIPESTATUS[0]}
log=build/$preset/Testing/Temporary/LastTest.log
skipped=$(sed -n 's/^ *[0-9]*\/[0-9]* Test *#[0-9]*: \([^ ]*\) .*\*\*\*Skipped.*/\1/p' "$out")
for t in $skipped; do
    # the test's own words, from its block in CTest's log
    reason=$(awk -v t="$t" '$0 ~ "Testing: "t"$" {on=1} on && /^<end of output>/ {exit} on' "$log" |
             grep -i 'skip' | head -n 3 | tr '\n' ' ')
    echo "skipped: $t: ${reason:-no reason given (see $log)}"
done
if [ -n "$no_skips" ] && [ -n "$skipped" ]; then
    echo "these tests were to run here and did not: $(echo $skipped)"
    exit 1
fi
exit "$rc"
