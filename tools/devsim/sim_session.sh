# Sourced by the scripts that run a program against the device simulator:
# a temporary folder ($tmp), the simulator on a pseudo-terminal linked at
# $tmp/ttyVMX (more simulators at other links if asked), and if asked a
# fresh Wine prefix. Everything they start ends
# when the script exits. KEEP_TRACE=FILE keeps the simulator's trace file.
tmp=$(mktemp -d /tmp/volmirax.XXXXXX)
sim_pid=
sim_pids=()
uses_wine=
session_end() {
    for pid in "${sim_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    [ -n "$uses_wine" ] && { wineserver -k 2>/dev/null || true; }
    [ -n "${KEEP_TRACE:-}" ] && cp "$tmp/trace.log" "$KEEP_TRACE" 2>/dev/null || true
    rm -rf "$tmp"
}
trap session_end EXIT

# Whether this machine runs 32-bit x86 programs: some virtual machines'
# kernels cannot, and there Wine's 32-bit loader fails to start at all.
runs_32bit() {
    /lib/ld-linux.so.2 --version >/dev/null 2>&1
}

# wine_prefix ARCH: a fresh prefix in $tmp, win32 or win64. On a machine
# that cannot run 32-bit programs a win32 prefix cannot be had: the caller
# exits 77, which the tests count as skipped, with the reason on stderr;
# a win64 prefix then runs on Wine's 64-bit loader alone.
wine_prefix() {
    if ! runs_32bit; then
        if [ "$1" = win32 ]; then
            echo "skipped: this machine's kernel cannot run 32-bit programs, so neither can 32-bit Wine" >&2
            exit 77
        fi
        mkdir -p "$tmp/bin"
        # Debian's launcher takes the 32-bit loader whenever it is installed
        for launcher in wine wine-stable; do
            printf '#!/bin/sh\nexport WINELOADER=/usr/lib/wine/wine64\nexec /usr/lib/wine/wine64 "$@"\n' >"$tmp/bin/$launcher"
            chmod +x "$tmp/bin/$launcher"
        done
        export PATH=$tmp/bin:$PATH
    fi
    export WINEPREFIX=$tmp/prefix WINEDEBUG=-all WINEARCH=$1
    uses_wine=1
    wineboot -i >/dev/null 2>&1
}

# start_devsim DEVSIM [ARGS...]: the simulator in the background, its line
# at $tmp/ttyVMX (or $tmp/$SIM_LINK); it writes where the caller's output
# goes.
start_devsim() {
    local devsim=$1 link=$tmp/${SIM_LINK:-ttyVMX}
    shift
    "$devsim" --link "$link" "$@" &
    sim_pid=$!
    sim_pids+=("$sim_pid")
    for _ in $(seq 50); do
        [ -L "$link" ] && return 0
        sleep 0.1
    done
    echo "the device simulator did not start" >&2
    return 1
}
