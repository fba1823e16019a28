# shellcheck shell=sh disable=SC2154
# Shared by the scripts that run a caller of Dovrik against simulated
# terminals; sourced. They keep the caller's output in "$work/out" and its
# process in $callerPid.

fail() {
    echo "$*"
    echo "--- the caller printed:"
    tail -n 20 "$work/out"
    exit 1
}

now() { date +%s.%N; }

# Waits up to 120 s for the caller's output to hold N lines matching PATTERN.
await() {
    tries=0
    while [ "$(grep -c "$2" "$work/out" || true)" -lt "$1" ]; do
        tries=$((tries + 1))
        [ "$tries" -le 1200 ] || fail "timed out waiting for $1 lines of \"$2\""
        if ! kill -0 "$callerPid" 2>/dev/null; then
            [ "$(grep -c "$2" "$work/out" || true)" -ge "$1" ] || fail "the caller ended early"
        fi
        sleep 0.1
    done
}

# Waits up to TENTHS tenths of a second for the caller's process to end.
await_end() {
    tries=0
    while kill -0 "$callerPid" 2>/dev/null; do
        tries=$((tries + 1))
        [ "$tries" -le "$1" ] || fail "$2"
        sleep 0.1
    done
}
