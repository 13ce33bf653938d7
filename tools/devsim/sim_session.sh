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

# Whether this machine's kernel runs 32-bit x86 programs itself: some
# virtual machines' kernels cannot, and there 32-bit Wine cannot start (the
# suite then runs the 32-bit tests under full-system emulation,
# scripts/vm32/). A qemu-i386 handler registered with binfmt_misc would make
# the loader seem to run, so any such handler makes the answer no: 32-bit
# Wine does not start under user-mode emulation.
runs_32bit() {
    local h
    for h in /proc/sys/fs/binfmt_misc/*; do
        [ -f "$h" ] || continue
        grep -qx enabled "$h" 2>/dev/null && grep -q '^interpreter .*qemu-i386' "$h" 2>/dev/null &&
            grep -q '^magic 7f454c46010101' "$h" 2>/dev/null && return 1
    done
    /lib/ld-linux.so.2 --version >/dev/null 2>&1
}

# wine_prefix ARCH: a Wine prefix, win32 or win64: a fresh one in $tmp, or
# for win32 the booted one that the emulated lane keeps with a persistent
# server ($VOLMIRAX_WINE_PREFIX). On a machine that cannot run 32-bit
# programs a win32 prefix cannot be had: the caller exits 77, which the
# tests count as skipped, with the reason on stderr; a win64 prefix then
# runs on Wine's 64-bit loader alone. A prefix that does not boot in time
# fails with what failed and the end of its log.
wine_prefix() {
    if [ "$1" = win32 ] && [ -n "${VOLMIRAX_WINE_PREFIX:-}" ]; then
        export WINEPREFIX=$VOLMIRAX_WINE_PREFIX WINEDEBUG=-all WINEARCH=win32
        # no COM port left over from the program before
        rm -f "$WINEPREFIX"/dosdevices/com[0-9]*
        return 0
    fi
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
    if ! timeout -k 5 "${VOLMIRAX_WINEBOOT_TIMEOUT:-300}" wineboot -i >"$tmp/wineboot.log" 2>&1; then
        echo "Wine ($1) did not start: wineboot -i failed or ran over ${VOLMIRAX_WINEBOOT_TIMEOUT:-300} s; the end of its log:" >&2
        tail -n 20 "$tmp/wineboot.log" >&2
        exit 1
    fi
}

# start_devsim DEVSIM [ARGS...]: the simulator in the background, its line
# at $tmp/ttyVMX (or $tmp/$SIM_LINK); it writes where the caller's output
# goes.
start_devsim() {
    local devsim=$1 link=$tmp/${SIM_LINK:-ttyVMX}
    shift
    # the tests' device answers as fast as bytes come (a --pace in the
    # arguments paces it); it still hears only a host at its own rate
    "$devsim" --link "$link" --pace 0 "$@" &
    sim_pid=$!
    sim_pids+=("$sim_pid")
    for _ in $(seq 50); do
        [ -L "$link" ] && return 0
        sleep 0.1
    done
    echo "the device simulator did not start" >&2
    return 1
}
