#!/bin/bash
# The abort stops the device: a reply it had not begun to send when the
# host gave up is dropped, so that the abort's echo comes at once and the
# next exchange does not queue up behind the stale reply.
#   abort_test.sh DEVSIM VOLMIRAX_TOOL
set -uo pipefail
devsim=$1 tool=$2
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../tools/devsim/sim_session.sh"
failures=0
check() {
    if [ "$1" = 0 ]; then echo "ok - $2"; else echo "not ok - $2${3:+: $3}"; failures=$((failures + 1)); fi
}
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
echo "$failures failed"
[ $failures = 0 ]
