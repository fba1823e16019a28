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
# shellcheck source=caller_support.sh
. "$(dirname "$0")/caller_support.sh"

for attempt in 1 2 3 4 5; do
    port=$((20000 + ($$ * 11 + attempt * 997) % 40000))
    : >"$work/out"
    "$runner" "$caller" "$port" >"$work/out" 2>&1 &
    callerPid=$!
    await 1 "^listening\|^did not start"
    grep -q "^listening" "$work/out" && break
    wait "$callerPid" || true
    callerPid=""
done
grep -q "^listening" "$work/out" || fail "no free port found"

"$sim" --port "$port" --count 1 --heartbeat 0 --send hello --every 1 --quiet --duration 600 \
    >"$work/sim" 2>&1 &
simPid=$!
await 1 "^returning"
returned=$(now)
await_end 100 "the process still runs 10 s after main returned"
status=0
wait "$callerPid" || status=$?
callerPid=""
[ "$status" -eq 0 ] || fail "the process ended with status $status"
awk -v a="$returned" -v b="$(now)" 'BEGIN { printf "the process ended %.2f s after main returned\n", b - a }'
