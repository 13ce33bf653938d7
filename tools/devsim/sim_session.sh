# Sourced by the scripts that run a program against the device simulator:
# a temporary folder ($tmp), the simulator on a pseudo-terminal linked at
# $tmp/ttyVMX, and if asked a fresh Wine prefix. Everything they start ends
# when the script exits. KEEP_TRACE=FILE keeps the simulator's trace file.
tmp=$(mktemp -d /tmp/volmirax.XXXXXX)
sim_pid=
uses_wine=
session_end() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
    [ -n "$uses_wine" ] && { wineserver -k 2>/dev/null || true; }
    [ -n "${KEEP_TRACE:-}" ] && cp "$tmp/trace.log" "$KEEP_TRACE" 2>/dev/null || true
    rm -rf "$tmp"
}
trap session_end EXIT

# wine_prefix ARCH: a fresh prefix in $tmp, win32 or win64.
wine_prefix() {
    export WINEPREFIX=$tmp/prefix WINEDEBUG=-all WINEARCH=$1
    uses_wine=1
    wineboot -i >/dev/null 2>&1
}

# start_devsim DEVSIM [ARGS...]: the simulator in the background, its line
# at $tmp/ttyVMX; it writes where the caller's output goes.
start_devsim() {
    local devsim=$1
    shift
    "$devsim" --link "$tmp/ttyVMX" "$@" &
    sim_pid=$!
    for _ in $(seq 50); do
        [ -L "$tmp/ttyVMX" ] && return 0
        sleep 0.1
    done
    echo "the device simulator did not start" >&2
    return 1
}
