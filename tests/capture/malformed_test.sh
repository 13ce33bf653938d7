#!/bin/bash
# A capture that is not one is refused with its line number and reason, by
# the tool and by the simulator alike, and neither crashes.
#   malformed_test.sh VOLMIRAX_TOOL DEVSIM
set -uo pipefail
tool=$1 devsim=$2
tmp=$(mktemp -d /tmp/volmirax-bad.XXXXXX)
trap 'rm -rf "$tmp"' EXIT
header='{"e":"header","format":1,"writer":"test","version":"1.0.0.1","port":"COM5","baud":9600}'
failures=0

# case NAME EXPECTED-MESSAGE: the capture is in $tmp/capture.jsonl
case_() {
    local name=$1 want=$2
    for reader in trace replay; do
        if [ $reader = trace ]; then
            out=$("$tool" trace "$tmp/capture.jsonl" 2>&1); rc=$?
        else
            out=$(timeout 10 "$devsim" --link "$tmp/tty" --replay "$tmp/capture.jsonl" 2>&1); rc=$?
        fi
        if [ $rc = 2 ] && grep -qF -- "$want" <<<"$out"; then
            echo "ok - $reader refuses $name: $want"
        else
            echo "not ok - $reader refuses $name: status $rc, $(tr '\n' ' ' <<<"$out" | cut -c1-200)"
            failures=$((failures + 1))
        fi
    done
}

printf '%s\n{"e":"tx","t":5,"hex":"06 0D"' "$header" >"$tmp/capture.jsonl"
case_ "a line cut short" "line 2: cut short"
printf '%s\n{"e":"tx","t":5,"hex":"0G 0D"}\n' "$header" >"$tmp/capture.jsonl"
case_ "bad hex" 'line 2: bad hex in "hex"'
printf '%s\n{"e":"tx","t":5,"hex":"0"}\n' "$header" >"$tmp/capture.jsonl"
case_ "an odd number of hex digits" 'line 2: bad hex in "hex"'
printf '%s\n{"e":"bogus","t":5}\n' "$header" >"$tmp/capture.jsonl"
case_ "an unknown event" 'line 2: unknown event "bogus"'
printf '%s\n{"e":"tx","t":10,"hex":"05 0D"}\n{"e":"rx","t":5,"hex":"06"}\n' "$header" >"$tmp/capture.jsonl"
case_ "times out of order" "line 3: time 5 is before the line before it (10)"
printf '%s\n{"e":"tx","t":"soon","hex":"05 0D"}\n' "$header" >"$tmp/capture.jsonl"
case_ "a time that is not a number" 'line 2: "t" is not a whole number'
printf '%s\n{"e":"rx","hex":"05 0D"}\n' "$header" >"$tmp/capture.jsonl"
case_ "a missing time" 'line 2: no "t"'
printf '%s\nnot json at all\n' "$header" >"$tmp/capture.jsonl"
case_ "a line that is not JSON" "line 2: not a JSON object"
printf '{"e":"tx","t":5,"hex":"05 0D"}\n' >"$tmp/capture.jsonl"
case_ "a capture without its header" "line 1: an event before the header"
printf '{"e":"header","format":7,"writer":"x"}\n' >"$tmp/capture.jsonl"
case_ "a format it does not know" "line 1: format 7"
: >"$tmp/capture.jsonl"
case_ "an empty file" "not a capture (no header)"
{ echo "$header"; printf '{"e":"tx","t":5,"hex":"'; head -c 100000000 /dev/zero | tr '\0' '0'; printf '"}\n'; } >"$tmp/capture.jsonl"
case_ "a 100 MB line" "line 2: longer than 1 MiB"

printf '%s\n' "$header" >"$tmp/capture.jsonl"
out=$("$tool" trace "$tmp/capture.jsonl" 2>&1) && rc=0 || rc=$?
[ $rc = 0 ] && echo "ok - trace lists a capture with no exchanges" || { echo "not ok - trace of an empty session: $out"; failures=$((failures + 1)); }
out=$(timeout 10 "$devsim" --link "$tmp/tty" --replay "$tmp/capture.jsonl" 2>&1); rc=$?
[ $rc = 2 ] && grep -q "holds nothing the host sent" <<<"$out" && echo "ok - replay refuses a capture with nothing to replay" ||
    { echo "not ok - replay of an empty session: $rc $out"; failures=$((failures + 1)); }
echo "$failures failed"
[ $failures = 0 ]
