#!/bin/bash
# Records one session of capture_host against a misbehaving simulator three
# ways (the library's own trace, the tap, the simulator), replays each
# capture to the same host, and checks that every result and every byte the
# host sent and received is the same as in the recording. Then: a host that
# changes one command byte is reported and the replay exits non-zero; a
# loose replay answers the calls in another order; a host that stops early
# fails the replay; the kept sample capture replays.
#   replay_test.sh native|wine BUILD_DIR VOLMIRAX_TOOL
set -euo pipefail
mode=$1 build=$(readlink -f "$2") tool=$3
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../tools/devsim/sim_session.sh"
if [ "$mode" = wine ]; then
    wine_prefix "$(file -b "$build/VOLMIRAX.dll" | grep -q x86-64 && echo win64 || echo win32)"
fi
behaviours=(--on '3=ackdelay=600' --on '1=split=4:30,data=CARD-4711' --on '2=badbcc'
            --on '5=marker=N,status=02' --on '9=silent')
failures=0
check() {
    if [ "$1" = 0 ]; then echo "ok - $2"; else echo "not ok - $2${3:+: $3}"; failures=$((failures + 1)); fi
}

# host LINK TRACE [ARGS...]: the host on the line at $tmp/LINK, traced to TRACE
host() {
    local link=$1 trace=$2
    shift 2
    if [ "$mode" = wine ]; then
        ln -sfn "$tmp/$link" "$WINEPREFIX/dosdevices/com7"
        (cd "$build" && VOLMIRAX_TRACE="Z:$trace" wine capture_host.exe VOLMIRAX.dll 7 "$@") | tr -d '\r'
    else
        VOLMIRAX_TRACE=$trace "$build/capture_host" "$build/libvolmirax.so" "$tmp/$link" "$@"
    fi
}
# sim LINK ARGS...: a simulator of its own at $tmp/LINK; its pid in $sim_pid
sim() {
    local link=$1
    shift
    SIM_LINK=$link start_devsim "$build/devsim" "$@"
}
# stop PID: ends a simulator or tap; its exit status in $rc
stop() {
    kill "$1" 2>/dev/null || true
    rc=0
    wait "$1" || rc=$?
}
# The bytes the host sent and received, and the results, from its trace.
seen() {
    /usr/bin/python3 - "$1" <<'PY'
import json, sys
tx, rx, results = [], [], []
for line in open(sys.argv[1]):
    e = json.loads(line)
    if e["e"] == "tx": tx.append(e["hex"])
    if e["e"] == "rx": rx.append(e["hex"])
    if e["e"] == "result": results.append(f'{e["fn"]} {e["rc"]}')
print("tx", " ".join(tx)); print("rx", " ".join(rx)); print("results", ", ".join(results))
PY
}

# Three recordings of the same session.
sim ttyREC "${behaviours[@]}" --record "$tmp/sim.jsonl" >/dev/null 2>&1
host ttyREC "$tmp/lib.jsonl" >"$tmp/recorded.txt"
stop "$sim_pid"
sim ttyDEV "${behaviours[@]}" >/dev/null 2>&1
dev_pid=$sim_pid
"$tool" tap --device "$tmp/ttyDEV" --link "$tmp/ttyTAP" --record "$tmp/tap.jsonl" >/dev/null 2>&1 &
tap_pid=$!
for _ in $(seq 50); do [ -L "$tmp/ttyTAP" ] && break; sleep 0.1; done
host ttyTAP "$tmp/lib-tap.jsonl" >"$tmp/recorded-tap.txt"
stop "$tap_pid"
stop "$dev_pid"
check "$(cmp -s "$tmp/recorded.txt" "$tmp/recorded-tap.txt"; echo $?)" "$mode: the session gives the same results through the tap"
cat "$tmp/recorded.txt" | sed 's/^/# /'

expected=$(seen "$tmp/lib.jsonl")
for capture in lib tap sim; do
    sim ttyRP --replay "$tmp/$capture.jsonl" >"$tmp/replay.out" 2>&1
    host ttyRP "$tmp/replayed-$capture.jsonl" >"$tmp/replayed.txt"
    stop "$sim_pid"
    check "$rc" "$mode: the $capture capture replays to the end" "$(cat "$tmp/replay.out")"
    check "$(cmp -s "$tmp/recorded.txt" "$tmp/replayed.txt"; echo $?)" "$mode: $capture capture: every result as recorded" \
        "$(diff "$tmp/recorded.txt" "$tmp/replayed.txt" | tr '\n' ' ')"
    # the late acknowledgement came late again, the split reply in pieces
    /usr/bin/python3 - "$tmp/replayed-$capture.jsonl" <<'PY' && timed=0 || timed=1
import json, sys
events = [json.loads(line) for line in open(sys.argv[1])]
eject = next(e for e in events if e["e"] == "result" and e["fn"] == "EjectCard")
i = next(i for i, e in enumerate(events) if e["e"] == "call" and e.get("cmd", "").startswith("31"))
pieces = 0  # reads that came after a pause: rx lines, and the pauses inside one
for e in events[i:]:
    if e["e"] == "result": break
    if e["e"] == "rx":
        pieces += 1
        for item in filter(None, e.get("gaps", "").split(",")):
            value, _, times = item.partition("*")
            pieces += int(times or 1) if int(value) > 0 else 0
sys.exit(0 if eject["us"] >= 550000 and pieces >= 4 else 1)
PY
    check $timed "$mode: $capture capture: the late acknowledgement and the split reply replay as they happened"
    got=$(seen "$tmp/replayed-$capture.jsonl")
    [ "$got" = "$expected" ] && same=0 || same=1
    check $same "$mode: $capture capture: every byte each way as recorded" "$(diff <(echo "$expected") <(echo "$got") | tr '\n' ' ')"
done

sim ttyRP --replay "$tmp/lib.jsonl" >"$tmp/replay.out" 2>&1
host ttyRP "$tmp/altered.jsonl" --alter >/dev/null
stop "$sim_pid"
grep -q "exchange 3: expected 02 43 31 30 78" "$tmp/replay.out" && told=0 || told=1
check $([ "$rc" != 0 ] && echo $told || echo 1) "$mode: a host that changes one command byte is told where, and the replay fails" \
    "status $rc: $(grep replay: "$tmp/replay.out" | head -2 | tr '\n' ' ')"

sim ttyRP --replay "$tmp/lib.jsonl" --loose >"$tmp/replay.out" 2>&1
host ttyRP "$tmp/loose.jsonl" --reverse >"$tmp/loose.txt"
stop "$sim_pid"
check "$(cmp -s <(sort "$tmp/recorded.txt") <(sort "$tmp/loose.txt"); echo $?)" \
    "$mode: a loose replay answers each call by its command, in any order" "$(diff <(sort "$tmp/recorded.txt") <(sort "$tmp/loose.txt") | tr '\n' ' ')"

# a host that stopped before the end (here: never came) fails the replay,
# strict or loose, which names the first exchange not reached; a prefix is
# accepted when asked for
for args in "" --loose; do
    sim ttyRP --replay "$tmp/lib.jsonl" $args >"$tmp/replay.out" 2>&1
    stop "$sim_pid"
    check "$([ "$rc" != 0 ] && grep -q "0 of [0-9]* recorded sequences of the host answered; the first not reached: exchange 1, 02 43" \
        "$tmp/replay.out" && echo 0 || echo 1)" "$mode: a replay the host stopped short of fails${args:+ ($args)}, naming the first exchange not reached" \
        "status $rc: $(tail -1 "$tmp/replay.out")"
done
sim ttyRP --replay "$tmp/lib.jsonl" --allow-prefix >"$tmp/replay.out" 2>&1
stop "$sim_pid"
check "$rc" "$mode: --allow-prefix accepts a host that stopped early" "$(tail -1 "$tmp/replay.out")"

sim ttyRP --replay "$here/sample.jsonl" >"$tmp/replay.out" 2>&1
host ttyRP "$tmp/sample-replayed.jsonl" >"$tmp/sample.txt"
stop "$sim_pid"
check "$(cmp -s "$here/sample.results" "$tmp/sample.txt"; echo $?)" "$mode: the kept sample capture replays with its results" \
    "$(diff "$here/sample.results" "$tmp/sample.txt" | tr '\n' ' ')"
check "$rc" "$mode: the kept sample capture replays to the end" "$(cat "$tmp/replay.out")"

# a trace that cannot be written leaves every result as it was
sim ttyRP --replay "$tmp/lib.jsonl" >"$tmp/replay.out" 2>&1
# (said once: on Windows through OutputDebugStringA, which Wine shows with +debugstr)
WINEDEBUG=+debugstr host ttyRP "$tmp/no/such/folder/trace.jsonl" >"$tmp/untraced.txt" 2>"$tmp/untraced.err"
stop "$sim_pid"
check "$(cmp -s "$tmp/recorded.txt" "$tmp/untraced.txt"; echo $?)" "$mode: a trace path that cannot be opened changes nothing" \
    "$(diff "$tmp/recorded.txt" "$tmp/untraced.txt" | tr '\n' ' ')"
said=$(grep -ci "cannot write the trace" "$tmp/untraced.err" || true)
check "$([ "$said" = 1 ] && echo 0 || echo 1)" "$mode: and it is said once" "$said times: $(head -c 300 "$tmp/untraced.err")"

if [ "$mode" = wine ]; then
    # a trace path that is a device (NUL), and a size limit that is not one:
    # refused, said once each, every result as it was
    sim ttyRP --replay "$tmp/lib.jsonl" >"$tmp/replay.out" 2>&1
    ln -sfn "$tmp/ttyRP" "$WINEPREFIX/dosdevices/com7"
    (cd "$build" && VOLMIRAX_TRACE=NUL VOLMIRAX_TRACE_MAX=inf WINEDEBUG=+debugstr wine capture_host.exe VOLMIRAX.dll 7) \
        2>"$tmp/nul.err" | tr -d '\r' >"$tmp/nul.txt"
    stop "$sim_pid"
    said=$(grep -c "not a regular file" "$tmp/nul.err" || true)
    limit=$(grep -c "VOLMIRAX_TRACE_MAX is not a size" "$tmp/nul.err" || true)
    check "$(cmp -s "$tmp/recorded.txt" "$tmp/nul.txt" && [ "$said" = 1 ] && [ "$limit" = 1 ] && echo 0 || echo 1)" \
        "$mode: a trace path that is a device (NUL) and a nonsense size limit are refused, said once, nothing changed" \
        "$said and $limit times: $(grep -i volmirax "$tmp/nul.err" | head -c 400)"
fi

"$tool" trace "$tmp/lib.jsonl" >"$tmp/listing.txt"
grep -q 'timeout   no acknowledgement within 300 ms' "$tmp/listing.txt" && grep -q 'abort echo' "$tmp/listing.txt" &&
    grep -q 'result    SendCmd: -116 ERR_BCC' "$tmp/listing.txt" && listed=0 || listed=1
check $listed "$mode: volmirax trace lists the calls, the decoded bytes and the results"
echo "$failures failed"
[ "$failures" = 0 ]
