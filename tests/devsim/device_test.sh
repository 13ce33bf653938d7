#!/bin/bash
# The simulated device behaves as a real one. It hears the rate the host
# set: a host at the device's rate is answered, one at another rate is
# heard as garbage (not answered, and the trace says why), `--baud any`
# hears every rate as before; bytes go out at the device's rate unless told
# otherwise. The abort stops it: a reply it had not begun to send when the
# host gave up is dropped, so that the echo comes at once and the next
# exchange does not queue up behind the stale reply.
#   device_test.sh DEVSIM VOLMIRAX_TOOL
set -uo pipefail
devsim=$1 tool=$2
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../tools/devsim/sim_session.sh"
failures=0
check() {
    if [ "$1" = 0 ]; then echo "ok - $2"; else echo "not ok - $2${3:+: $3}"; failures=$((failures + 1)); fi
}
# sim NAME ARGS...: a simulator of its own (not the tests' unpaced default)
sim() {
    local name=$1
    shift
    "$devsim" --link "$tmp/$name" --trace="$tmp/$name.log" --on '1=datalen=991' "$@" >/dev/null 2>&1 &
    sim_pids+=("$!")
    for _ in $(seq 50); do [ -L "$tmp/$name" ] && return 0; sleep 0.1; done
    return 1
}

sim t9600
sim t19200 --baud 19200
sim tany --baud any --pace 0
out=$("$tool" --device "$tmp/t9600" --json eject 0); rc=$?
check $([ $rc = 0 ] && echo 0 || echo 1) "a host at the device's rate (9600) is answered" "$out"
out=$("$tool" --device "$tmp/t9600" --baud 19200 --ack 300 --json eject 0)
grep -q '"result": -110' <<<"$out" && grep -q "heard as garbage, not answered: the host's line is at 19200 baud, the device's at 9600" "$tmp/t9600.log"
check $? "a host at another rate is not answered, and the trace says why" "$out"
out=$("$tool" --device "$tmp/t19200" --baud 19200 --json eject 0); rc=$?
check $rc "a device at 19200 answers a host at 19200" "$out"
out=$("$tool" --device "$tmp/t19200" --ack 300 --json eject 0)
grep -q '"result": -110' <<<"$out"
check $? "and not one at 9600" "$out"
for b in 1200 115200; do
    out=$("$tool" --device "$tmp/tany" --baud $b --json eject 0); rc=$?
    check $rc "--baud any hears a host at $b, as before" "$out"
done

# pacing: a 999-byte reply takes its time on a 9600-baud line (about 1 s)
# unless the pace is taken off
t0=$(date +%s%N)
out=$("$tool" --device "$tmp/t9600" --json send 31 30); rc=$?
paced=$(( ($(date +%s%N) - t0) / 1000000 ))
t0=$(date +%s%N)
"$tool" --device "$tmp/tany" --json send 31 30 >/dev/null
unpaced=$(( ($(date +%s%N) - t0) / 1000000 ))
check $([ $rc = 0 ] && [ $paced -ge 900 ] && echo 0 || echo 1) "by default bytes go out at the device's rate (${paced} ms for a 999-byte reply at 9600)" "$out"
check $([ $unpaced -lt $paced ] && echo 0 || echo 1) "--pace 0 takes the pace off (${unpaced} ms)"

out=$("$devsim" --baud 12345 2>&1); rc=$?
check $([ $rc = 2 ] && grep -q "line rate" <<<"$out" && echo 0 || echo 1) "a rate that is not a line rate is refused" "$out"

# the abort
start_devsim "$devsim" --trace="$tmp/sim.log" --on '3=replydelay=1500' >/dev/null 2>&1
# the host gives up on the reply after 300 ms and sends the abort
out=$("$tool" --device "$tmp/ttyVMX" --ack 300 --reply 300 --eot 500 --json send 33 30)
grep -q '"result": -111' <<<"$out"
check $? "a reply later than the host waits: ERR_REPLY_TIMEOUT" "$out"
grep -q "dev>host  10 04 0D" "$tmp/sim.log" && ! grep -q "positive reply" "$tmp/sim.log"
check $? "the abort is echoed and the reply the host gave up on is never sent" "$(tail -3 "$tmp/sim.log" | tr '\n' ' ')"
# the next exchange at once, with short time-outs: nothing stale in its way
out=$("$tool" --device "$tmp/ttyVMX" --ack 300 --reply 300 --eot 500 --json send 31 30)
grep -q '"result": 0' <<<"$out"
check $? "the next exchange is answered in time" "$out"

# the recording is bounded as the library's trace is: past --record-max it
# moves to FILE.1 and a new file starts with a header; both read whole
sim rec --pace 0 --record "$tmp/rec.jsonl" --record-max 0.002
for _ in $(seq 25); do "$tool" --device "$tmp/rec" eject 0 >/dev/null; done
kill "${sim_pids[-1]}"; wait "${sim_pids[-1]}" 2>/dev/null
listed=0
for f in "$tmp/rec.jsonl" "$tmp/rec.jsonl.1"; do
    head -1 "$f" 2>/dev/null | grep -q '"e":"header"' && "$tool" trace "$f" >/dev/null 2>&1 || listed=1
done
size=$(stat -c %s "$tmp/rec.jsonl.1" 2>/dev/null || echo 0)
check $([ $listed = 0 ] && [ "$size" -lt 4096 ] && echo 0 || echo 1) \
    "a recording past --record-max moves to FILE.1 and starts again with a header" "FILE.1 of $size bytes"
"$devsim" --record "$tmp/x.jsonl" --record-max 0 >/dev/null 2>&1; rc=$?
check $([ $rc = 2 ] && echo 0 || echo 1) "a --record-max that is not a size is refused" "status $rc"
echo "$failures failed"
[ $failures = 0 ]
