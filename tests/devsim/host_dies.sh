#!/bin/bash
# A host killed while its port is open leaves the simulator usable by the
# next host, root or not. Everything runs as "nobody" from a folder of its
# own (the simulator too, as a user would run it); the host is the tool.
#   host_dies.sh DEVSIM VOLMIRAX_TOOL LIBRARY
set -euo pipefail
devsim=$1 tool=$2 library=$3
dir=$(mktemp -d /tmp/volmirax-dies.XXXXXX)
sim=
trap '[ -n "$sim" ] && kill $sim 2>/dev/null; rm -rf "$dir"' EXIT
chmod 755 "$dir"
cp "$devsim" "$tool" "$dir/"
cp -L "$library" "$dir/libvolmirax.so.1"
nobody=(setpriv --reuid=nobody --regid=nogroup --clear-groups env LD_LIBRARY_PATH="$dir")
mkdir "$dir/line" && chown nobody "$dir/line"
"${nobody[@]}" "$dir/devsim" --link "$dir/line/tty" --on '9=silent,eotnone' >/dev/null 2>&1 &
sim=$!
for _ in $(seq 50); do [ -L "$dir/line/tty" ] && break; sleep 0.1; done
failures=0
check() {
    if [ "$1" = 0 ]; then echo "ok - $2"; else echo "not ok - $2${3:+: $3}"; failures=$((failures + 1)); fi
}

out=$("${nobody[@]}" "$dir/volmirax" --device "$dir/line/tty" version 2>&1) && rc=0 || rc=$?
check $rc "a host that is not root uses the simulator" "$out"
# a host that holds the port when it is killed: the tool waits a minute
# for the acknowledgement of a command that the device never answers
"${nobody[@]}" "$dir/volmirax" --device "$dir/line/tty" --ack 60000 send 39 30 >/dev/null 2>&1 &
host=$!
sleep 0.5
kill -9 $host 2>/dev/null || true
wait $host 2>/dev/null || true
# at once: no pause for the simulator to notice
out=$("${nobody[@]}" "$dir/volmirax" --device "$dir/line/tty" version 2>&1) && rc=0 || rc=$?
check $rc "after a host was killed holding the port, the next host that is not root opens it" "$out"
out=$("$dir/volmirax" --device "$dir/line/tty" version 2>&1) && rc=0 || rc=$?
check $rc "and so does root" "$out"
echo "$failures failed"
[ $failures = 0 ]
