#!/bin/bash
# The tap end to end: a host (the command-line tool, on the DLL under Wine
# or on the Linux library) runs the same calls straight to the simulator and
# through `volmirax tap`, the simulator standing in for the real device.
# The results are the same, the bytes on each side of the tap are the same,
# and the tap's trace decodes them.
#   tap_test.sh BUILD_DIR wine|native TAP_PROGRAM
set -uo pipefail
build=$(readlink -f "$1")
mode=$2
tap=$3
. "$(dirname "$0")/../../tools/devsim/sim_session.sh"
failures=0
check() {  # check NAME CONDITION-COMMAND...
    local name=$1
    shift
    if "$@"; then echo "ok - tap: $name"; else echo "not ok - tap: $name"; failures=$((failures + 1)); fi
}

[ "$mode" = wine ] && wine_prefix "$(file -b "$build/VOLMIRAX.dll" | grep -q x86-64 && echo win64 || echo win32)"
start_devsim "$build/devsim" --control --trace="$tmp/sim.log" --on '<=data=V1' --on '1=data=AB' \
    --on '5=marker=N,status=02' --on '9=silent' >/dev/null 2>&1
if [ "$mode" = wine ]; then
    ln -s "$tmp/ttyVMX" "$WINEPREFIX/dosdevices/com6"
    ln -s "$tmp/ttyTAP" "$WINEPREFIX/dosdevices/com5"
    cli=(wine "$build/volmirax.exe")
    direct=(--port 6)
    tapped=(--port 5)
else
    cli=("$build/volmirax")
    direct=(--device "$tmp/ttyVMX")
    tapped=(--device "$tmp/ttyTAP")
fi

calls=("version" "eject 0" "send 31 30" "send 35 30" "--ack 200 --eot 300 send 39 30" "eot"
       "reset 0 0 0 0 0 0 0 0" "--baud 19200 send 31 30")
run_all() {  # run_all PORT-OPTIONS...: every call, its output without the timing
    for c in "${calls[@]}"; do
        # shellcheck disable=SC2086
        "${cli[@]}" "$@" $c 2>&1 | tr -d '\r' | grep -v '^time:'
        echo "exit ${PIPESTATUS[0]}"
    done
}
run_all "${direct[@]}" >"$tmp/direct.out"
sim_before=$(wc -l <"$tmp/sim.log")
# now the tap takes the device, as it would take a real one
"$tap" tap --device "$tmp/ttyVMX" --link "$tmp/ttyTAP" >"$tmp/tap.log" 2>"$tmp/tap.err" &
tap_pid=$!
for _ in $(seq 50); do [ -L "$tmp/ttyTAP" ] && break; sleep 0.1; done
run_all "${tapped[@]}" >"$tmp/tapped.out"
sleep 0.3

check "the host's results are the same through the tap" diff "$tmp/direct.out" "$tmp/tapped.out"
check "the calls gave their results" grep -q "result: 2 DEVICE_STATUS" "$tmp/tapped.out"

# the bytes each way, as the simulator saw them and as the tap passed them
bytes_of() {  # bytes_of FILE DIRECTION [FROM-LINE]
    tail -n +"${3:-1}" "$1" | awk -v d="$2" '$2 == d { for (i = 3; i <= NF && $i ~ /^[0-9A-F][0-9A-F]$/; i++) printf "%s ", $i }'
}
for d in "host>dev" "dev>host"; do
    sim=$(bytes_of "$tmp/sim.log" "$d" $((sim_before + 1)))
    seen=$(bytes_of "$tmp/tap.log" "$d")
    check "$d: the same bytes on both sides of the tap" [ -n "$sim" ] && [ "$sim" = "$seen" ]
done
for text in 'command "3" param "0" data "", BCC ok' 'acknowledgement (ACK)' 'request (ENQ CR)' \
    'positive reply to "<" "0" status "00" data "V1", BCC ok' 'negative reply "N" to "5" "0" status "02"' \
    'abort (DLE EOT CR)' 'abort echo'; do
    check "the trace decodes: $text" grep -qF "$text" "$tmp/tap.log"
done

# the tap follows the rate that the host sets
answer=$("${cli[@]}" "${tapped[@]}" --baud 19200 send $(printf '~ line' | od -An -tx1) | tr -d '\r')
check "the device's line follows the host's rate" grep -q "baud=19200" <<<"$answer"

kill "$tap_pid" 2>/dev/null
wait "$tap_pid" 2>/dev/null
check "the tap removes its link when it ends" [ ! -e "$tmp/ttyTAP" ]
[ "$failures" -gt 0 ] && { echo "--- tap trace"; cat "$tmp/tap.log"; echo "--- simulator trace"; cat "$tmp/sim.log"; }
echo "tap: $failures failed"
[ "$failures" = 0 ]
