#!/bin/sh
# Runs a caller that returns from main without stopping the service (while a
# simulated terminal is registered and its text is queued) and checks that
# the process then ends, within 10 s, and with its own exit status. Prints how
# long the ending took.
# Usage: exit_without_stop.sh RUNNER CALLER SIMULATOR
#   RUNNER runs CALLER (cmake/wine-run.sh for the Windows build, env for the
#   Linux one); SIMULATOR is a dovrik-sim built for this machine.
set -eu
runner="$1" caller="$2" sim="$3"
work=$(mktemp -d)
callerPid="" simPid=""
cleanup() {
    [ -n "$simPid" ] && kill "$simPid" 2>/dev/null
    [ -n "$callerPid" ] && kill -9 "$callerPid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "$*"
    echo "--- the caller printed:"
    tail -n 20 "$work/out"
    exit 1
}
now() { date +%s.%N; }
# Waits up to 120 s for the caller to print a line matching PATTERN.
await() {
    tries=0
    while ! grep -q "$1" "$work/out"; do
        tries=$((tries + 1))
        [ "$tries" -le 1200 ] || fail "timed out waiting for \"$1\""
        kill -0 "$callerPid" 2>/dev/null || grep -q "$1" "$work/out" || fail "the caller ended early"
        sleep 0.1
    done
}

for attempt in 1 2 3 4 5; do
    port=$((20000 + ($$ * 11 + attempt * 997) % 40000))
    : >"$work/out"
    "$runner" "$caller" "$port" >"$work/out" 2>&1 &
    callerPid=$!
    await "^listening\|^did not start"
    grep -q "^listening" "$work/out" && break
    wait "$callerPid" || true
    callerPid=""
done
grep -q "^listening" "$work/out" || fail "no free port found"

"$sim" --port "$port" --count 1 --heartbeat 0 --send hello --every 1 --quiet --duration 600 \
    >"$work/sim" 2>&1 &
simPid=$!
await "^returning"
returned=$(now)
tries=0
while kill -0 "$callerPid" 2>/dev/null; do
    tries=$((tries + 1))
    [ "$tries" -le 100 ] || fail "the process still runs 10 s after main returned"
    sleep 0.1
done
status=0
wait "$callerPid" || status=$?
callerPid=""
[ "$status" -eq 0 ] || fail "the process ended with status $status"
awk -v a="$returned" -v b="$(now)" 'BEGIN { printf "the process ended %.2f s after main returned\n", b - a }'
