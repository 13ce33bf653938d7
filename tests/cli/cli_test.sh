#!/bin/bash
# The command-line tool against the simulator (started with --control).
#   cli_test.sh "LAUNCHER" CLI PORT-OPTION PORT
# LAUNCHER is "wine" for the Windows build, "" for the native one.
set -uo pipefail
launch=$1
cli=$2
where=("$3" "$4")
failures=0

run() {  # run ARGS...: sets out, err, status
    out=$($launch "$cli" "$@" 2>/tmp/cli_err.$$) && status=0 || status=$?
    out=${out//$'\r'/}
    err=$(tr -d '\r' </tmp/cli_err.$$)
}

check() {  # check NAME CONDITION-COMMAND...
    local name=$1
    shift
    if "$@"; then echo "ok - cli: $name"; else
        echo "not ok - cli: $name"
        echo "    status=$status out=[$out] err=[$err]"
        failures=$((failures + 1))
    fi
}

has() { [[ $1 == *"$2"* ]]; }
hex() { printf '%s' "$1" | od -An -tx1 | tr -d '\n'; }
# talks to the simulator itself through the tool
ctl() { run "${where[@]}" send $(hex "~ $1"); }

ctl reset
# name | arguments | exit status | text the output must hold
while IFS='|' read -r name args want text; do
    [ -z "$name" ] && continue
    # shellcheck disable=SC2086
    run "${where[@]}" $args
    check "$name: exit $want" [ "$status" = "$want" ]
    [ -n "$text" ] && check "$name: prints '$text'" has "$out" "$text"
done <<'CASES'
version|version|0|data:   56 4F 4C 4D 49 52 41 58 2D 53 49 4D 20 31 2E 30  "VOLMIRAX-SIM 1.0"
version as JSON|--json version|0|"result": 0, "name": "OK", "meaning": "success", "data_hex": "56 4F
eject|eject 0|0|result: 0 OK (success)
eject with a hex parameter|eject 0x31|0|result: 0 OK
reset|reset 0 0 0 0 0 0 0 0|0|result: 0 OK
send|send 33 30|0|data:   30 30  "00"
send as one run of hex|send 3330|0|result: 0 OK
eot|eot|0|result: 0 OK
CASES

ctl "wire"
check "the wire holds the frames of those calls" has "$out" "02 43 33 30 03 43 0D 05 0D"

ctl "on z marker=N,status=05"
run "${where[@]}" send 7A 30
check "negative reply: exit 1" [ "$status" = 1 ]
check "negative reply: status code" has "$out" "result: 5 DEVICE_STATUS"
ctl "on z silent"
run "${where[@]}" --ack 200 --eot 100 send 7A 30
check "silent device: exit 1" [ "$status" = 1 ]
check "silent device: named" has "$out" "result: -110 ERR_ACK_TIMEOUT (no acknowledgement within the acknowledgement time-out)"
run "${where[@]}" --json --ack 200 --eot 100 send 7A 30
check "silent device as JSON" has "$out" '"result": -110, "name": "ERR_ACK_TIMEOUT"'
ctl "wire"

# bad arguments: a one-line error, exit 2, and nothing on the line
while IFS='|' read -r name args text; do
    [ -z "$name" ] && continue
    # shellcheck disable=SC2086
    run $args
    check "$name: exit 2" [ "$status" = 2 ]
    check "$name: one line saying '$text'" bash -c '[ "$(printf "%s\n" "$1" | wc -l)" = 1 ] && [[ $1 == *"$2"* ]]' _ "$err" "$text"
done <<CASES
unknown command|${where[*]} frob|unknown command 'frob'
bad hex|${where[*]} send 33 3G|bad hex '3G'
odd hex|${where[*]} send 333|bad hex '333'
one byte only|${where[*]} send 33|at least two bytes
bad byte|${where[*]} eject 30|bad byte '30'
missing byte|${where[*]} eject|eject takes 1 byte argument
port 0|--port 0 version|port out of range: 0
port 257|--port 257 version|port out of range: 257
port with a sign|--port +5 version|port out of range: +5
port in hex|--port 0x5 version|port out of range: 0x5
baud with a sign|${where[*]} --baud +9600 version|bad baud rate
no port|version|say which port
unknown option|${where[*]} --frob version|unknown option --frob
another command's option|${where[*]} --link /tmp/x version|version does not take --link
CASES
run --port " 5" version
check "port with a space: exit 2" [ "$status" = 2 ]
check "port with a space: refused" has "$err" "port out of range:  5"
ctl "wire"
# the answer is "00" and nothing recorded (a trailing space keeps its BCC off CR)
check "bad arguments sent nothing" bash -c '[[ $1 == *"data:   30 30 20  \"00 \""* || $1 == *"data:   30 30  \"00\""* ]]' _ "$out"

# version data holding NUL bytes is shown in full
ctl 'on < data=A\x00B\x00C'
run "${where[@]}" version
check "version with NUL bytes: all of it" has "$out" 'data:   41 00 42 00 43  "A.B.C"'
ctl "reset"

# a port that does not open: one line with the system's reason, exit 3
if [ -z "$launch" ]; then
    run --device /dev/volmirax-no-such-port version
    check "missing device: exit 3" [ "$status" = 3 ]
    check "missing device: says so" has "$err" "no such port: /dev/volmirax-no-such-port"
    run --device /dev/null version
    check "not a terminal: exit 3" [ "$status" = 3 ]
    check "not a terminal: says so" has "$err" "not a serial port: /dev/null"
    # another program holds the port (the library's lock)
    flock "${where[1]}" sleep 3 &
    holder=$!
    sleep 0.3
    run "${where[@]}" version
    check "port in use: exit 3" [ "$status" = 3 ]
    check "port in use: says so" has "$err" "${where[1]} is in use by another program"
    kill $holder 2>/dev/null; wait $holder 2>/dev/null
    # JSON stays valid whatever the path holds
    run --json --device $'/tmp/no\nsuch\x01\xe9port' version
    check "JSON error for a path with control and non-ASCII bytes: exit 3" [ "$status" = 3 ]
    check "JSON error is valid JSON" /usr/bin/python3 -c 'import json, sys; d = json.loads(sys.argv[1]); assert d["error"].startswith("no such port: /tmp/no\nsuch\x01\xe9"), d' "$out"

    run ports
    check "ports: exit 0" [ "$status" = 0 ]
    check "ports: only serial device paths" bash -c '! printf "%s\n" "$1" | grep -v -E "^(/dev/tty(S|USB|ACM)[0-9]+|/dev/serial/by-id/.+)?$"' _ "$out"
else
    run --port 33 version
    check "unmapped port: exit 3" [ "$status" = 3 ]
    check "unmapped port: says so" has "$err" "no such port: COM33"
    run --json --port 33 version
    check "unmapped port as JSON" /usr/bin/python3 -c 'import json, sys; d = json.loads(sys.argv[1]); assert d["error"] == "no such port: COM33" and d["reason"] == 2, d' "$out"
    run ports
    check "ports: exit 0" [ "$status" = 0 ]
    # Wine lists the ports it registered itself (COM1 for /dev/ttyS0), not
    # the links made by hand in dosdevices for these tests
    check "ports: only COM port names" bash -c '! printf "%s\n" "$1" | grep -v -E "^(COM[0-9]+)?$"' _ "$out"
fi

run --help
check "--help: exit 0" [ "$status" = 0 ]
check "--help: usage" has "$out" "usage: volmirax"

rm -f /tmp/cli_err.$$
echo "cli: $failures failed"
[ "$failures" = 0 ]
