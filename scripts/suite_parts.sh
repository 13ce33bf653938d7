# Sourced by scripts/test.sh: each part of the suite runs whatever happened
# before it; the summary says what each did and sets the exit status.
results=()
any_failed=
lane_note="the 32-bit lane was not reached"
part() {
    local name=$1 start rc
    shift
    echo
    echo "=== $name: $*"
    start=$(date +%s)
    "$@"
    rc=$?
    if [ $rc -eq 0 ]; then
        results+=("$name: passed ($(($(date +%s) - start)) s)")
    else
        results+=("$name: FAILED, status $rc ($(($(date +%s) - start)) s)")
        any_failed=1
    fi
    return $rc
}
skipped() { results+=("$1: skipped: $2"); echo "=== $1: skipped: $2"; }
failed() { results+=("$1: FAILED: $2"); any_failed=1; echo "=== $1: FAILED: $2"; }
summary() {
    echo
    echo "=== summary"
    printf '%s\n' "${results[@]}"
    if [ -n "$any_failed" ]; then
        echo "some parts failed; $lane_note"
        exit 1
    fi
    echo "every part passed; $lane_note"
}
