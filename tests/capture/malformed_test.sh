#!/bin/bash
# Captures as the field brings them back. A file that is not a capture (no
# header first, another format) is refused by the tool and the simulator
# alike. A damaged capture (a torn, cut, garbled or out-of-range line) is
# read past: each bad line is said with its number and reason, skipped, its
# exchange marked damaged, and the exit status says so. Strings from a
# capture never reach the terminal raw; the report never overwrites its
# capture. Nothing crashes.
#   malformed_test.sh VOLMIRAX_TOOL DEVSIM SAMPLE_CAPTURE
set -uo pipefail
tool=$1 devsim=$2 sample=$3
tmp=$(mktemp -d /tmp/volmirax-bad.XXXXXX)
trap 'rm -rf "$tmp"' EXIT
header='{"e":"header","format":1,"writer":"test","version":"1.0.0.1","port":"COM5","baud":9600}'
failures=0
ok() { echo "ok - $1"; }
nok() { echo "not ok - $1${2:+: $(tr '\n' ' ' <<<"$2" | cut -c1-300)}"; failures=$((failures + 1)); }

# refused NAME EXPECTED-MESSAGE: $tmp/capture.jsonl is not a capture
refused() {
    local name=$1 want=$2
    for reader in trace replay; do
        if [ $reader = trace ]; then
            out=$("$tool" trace "$tmp/capture.jsonl" 2>&1); rc=$?
        else
            out=$(timeout 10 "$devsim" --link "$tmp/tty" --replay "$tmp/capture.jsonl" 2>&1); rc=$?
        fi
        [ $rc = 2 ] && grep -qF -- "$want" <<<"$out" && ok "$reader refuses $name: $want" ||
            nok "$reader refuses $name" "status $rc, $out"
    done
}
printf '{"e":"tx","t":5,"hex":"05 0D"}\n' >"$tmp/capture.jsonl"
refused "a capture without its header" "line 1: not a capture (no header)"
printf 'garbage\n%s\n' "$header" >"$tmp/capture.jsonl"
refused "a first line that is not a header" "line 1: not a capture (no header)"
printf '{"e":"header","format":7,"writer":"x"}\n' >"$tmp/capture.jsonl"
refused "a format it does not know" "line 1: format 7"
: >"$tmp/capture.jsonl"
refused "an empty file" "not a capture (no header)"

# damaged NAME LINE-NUMBER EXPECTED-REASON TEXT: the sample with its line
# LINE-NUMBER (an exchange's tx, in the middle of the file) replaced by TEXT
damaged() {
    local name=$1 n=$2 want=$3 text=$4
    awk -v n="$n" -v text="$text" 'NR == n { printf "%s", text; if (text !~ /\n$/) print ""; next } { print }' \
        "$sample" >"$tmp/capture.jsonl"
    out=$("$tool" trace "$tmp/capture.jsonl" 2>"$tmp/err"); rc=$?
    err=$(cat "$tmp/err")
    [ $rc = 4 ] && grep -qF -- "skipped line $n: $want" <<<"$err" && grep -qF -- "!! line $n skipped: $want" <<<"$out" &&
        grep -q "1 line could not be read" <<<"$out" && grep -q "result.*ResetDevice\|result.*ReSet" <<<"$out" &&
        ok "trace reads past $name (status 4, line $n said, the rest listed)" ||
        nok "trace reads past $name" "status $rc, $err"
    out=$("$tool" report "$tmp/capture.jsonl" -o "$tmp/page.html" 2>&1); rc=$?
    [ $rc = 4 ] && grep -q 'id="skipped">1<' "$tmp/page.html" && grep -q '>damaged<\|damaged (line' "$tmp/page.html" &&
        ok "report reads past $name: counted on the page, its exchange marked damaged" ||
        nok "report reads past $name" "status $rc, $out"
    out=$(timeout 3 "$devsim" --link "$tmp/tty" --replay "$tmp/capture.jsonl" 2>&1); rc=$?
    [ $rc != 2 ] && grep -qF -- "skipped line $n: $want" <<<"$out" &&
        ok "replay reads past $name and says it" || nok "replay reads past $name" "status $rc, $out"
}
damaged "a torn line" 10 "not a JSON object" '{"e":"tx","t":5816,"handle":"0x560000000'
damaged "bad hex" 10 'bad hex in "hex"' '{"e":"tx","t":5816,"handle":"0x5600000000000400","hex":"0G 0D"}'
damaged "an unknown event" 10 'unknown event "bogus"' '{"e":"bogus","t":5816}'
damaged "a time out of order" 10 "time 5 is before the line before it (5806)" \
    '{"e":"tx","t":5,"handle":"0x5600000000000400","hex":"02 43 33 30 03 43 0D"}'
damaged "a time near 2^63" 10 '"t" is out of range' \
    '{"e":"tx","t":9223372036854775000,"handle":"0x5600000000000400","hex":"02"}'
damaged "a line that is not JSON" 10 "not a JSON object" 'not json at all'
damaged "two lines run together (a write cut short)" 10 "not a JSON object" \
    '{"e":"tx","t":5816,"handle":"0x5600000000000400","hex":"02 43{"e":"rx","t":606320,"handle":"0x5600000000000400","hex":"06 0D"}'

# a power cut: the last line has no end
{ cat "$sample"; printf '{"e":"tx","t":99999999,"handle":"0x5600000000000400","hex":"02 43'; } >"$tmp/capture.jsonl"
out=$("$tool" trace "$tmp/capture.jsonl" 2>&1); rc=$?
[ $rc = 4 ] && grep -q "line 54: cut short" <<<"$out" && ok "trace reads a capture whose last line was cut" ||
    nok "a cut last line" "status $rc, $out"

# hostile numbers: a time-out of INT_MAX, a huge duration: read, never undefined
sed 's/"reply":3000/"reply":2147483647/; s/"us":5196/"us":999999999999999/' "$sample" >"$tmp/capture.jsonl"
out=$("$tool" report "$tmp/capture.jsonl" -o "$tmp/page.html" 2>&1); rc=$?
[ $rc = 0 ] && ok "a time-out of INT_MAX and a huge duration are reported" || nok "hostile numbers" "status $rc, $out"

# strings from a capture never reach the terminal raw
printf '%s\n' '{"e":"header","format":1,"writer":"x\u001b[2J\r\nresult 0 OK","version":"1\u0000cut","port":"COM5\u001b]0;t\u0007","baud":9600}' \
    '{"e":"open","t":1,"handle":"0x1","port":"/dev/tty\nS0","baud":9600}' \
    '{"e":"call","t":2,"handle":"0x1","fn":"Send\u001bCmd","cmd":"30 30"}' >"$tmp/capture.jsonl"
"$tool" trace "$tmp/capture.jsonl" >"$tmp/out" 2>&1
if ! LC_ALL=C grep -q $'[\x01-\x08\x0b-\x1f\x7f]' "$tmp/out" && [ "$(wc -l <"$tmp/out")" = 3 ] &&
    grep -qF 'x\x1B[2J\x0D\x0Aresult 0 OK' "$tmp/out" && grep -qF '1\x00cut' "$tmp/out" && grep -qF '/dev/tty\x0AS0' "$tmp/out"; then
    ok "strings from a capture are printed escaped, one line each"
else
    nok "strings printed raw" "$(od -c "$tmp/out" | head -5)"
fi

# the page never overwrites the capture it reads
cp "$sample" "$tmp/capture.jsonl"
ln -s capture.jsonl "$tmp/link.jsonl"
for target in "$tmp/capture.jsonl" "$tmp/link.jsonl" "$tmp/../$(basename "$tmp")/capture.jsonl"; do
    out=$("$tool" report "$tmp/capture.jsonl" -o "$target" 2>&1); rc=$?
    [ $rc = 2 ] && cmp -s "$sample" "$tmp/capture.jsonl" && ok "report -o onto its own capture is refused ($(basename "$target"))" ||
        nok "report -o onto its capture" "status $rc, $out"
done

{ echo "$header"; printf '{"e":"tx","t":5,"hex":"'; head -c 100000000 /dev/zero | tr '\0' '0'; printf '"}\n'; } >"$tmp/capture.jsonl"
out=$("$tool" trace "$tmp/capture.jsonl" 2>&1); rc=$?
[ $rc = 4 ] && grep -q "line 2: longer than 1 MiB" <<<"$out" && ok "a 100 MB line is skipped" || nok "a 100 MB line" "status $rc"

printf '%s\n' "$header" >"$tmp/capture.jsonl"
out=$("$tool" trace "$tmp/capture.jsonl" 2>&1) && rc=0 || rc=$?
[ $rc = 0 ] && ok "trace lists a capture with no exchanges" || nok "trace of an empty session" "$out"
out=$(timeout 10 "$devsim" --link "$tmp/tty" --replay "$tmp/capture.jsonl" 2>&1); rc=$?
[ $rc = 2 ] && grep -q "holds nothing the host sent" <<<"$out" && ok "replay refuses a capture with nothing to replay" ||
    nok "replay of an empty session" "$rc $out"
echo "$failures failed"
[ $failures = 0 ]
