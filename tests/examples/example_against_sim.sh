#!/bin/sh
# Runs the example caller against COUNT simulated terminals of the Linux
# simulator over loopback, then presses its key, and checks that it printed
# every registration and messages of them all, and stopped. Prints how long
# the terminals took to register, as the example saw it (within its 100 ms
# poll).
# Usage: example_against_sim.sh RUNNER EXAMPLE SIMULATOR COUNT [registration]
#   RUNNER runs EXAMPLE (cmake/wine-run.sh for the Windows build, env for the
#   Linux one); SIMULATOR is a dovrik-sim built for this machine.
#   registration: the terminals only register; no messages are checked.
set -eu
runner="$1" example="$2" sim="$3" count="$4" only="${5:-}"
work=$(mktemp -d)
callerPid="" simPid=""
cleanup() {
    exec 3>&- 2>/dev/null || true
    [ -n "$simPid" ] && kill "$simPid" 2>/dev/null
    [ -n "$callerPid" ] && kill "$callerPid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
# shellcheck source=caller_support.sh
. "$(dirname "$0")/caller_support.sh"

mkfifo "$work/keys"
for attempt in 1 2 3 4 5; do
    port=$((20000 + ($$ * 7 + attempt * 997) % 40000))
    : >"$work/out"
    "$runner" "$example" "$port" <"$work/keys" >"$work/out" 2>&1 &
    callerPid=$!
    exec 3>"$work/keys"  # the key to press later; holds the input open meanwhile
    await 1 "listening\|did not start"
    grep -q listening "$work/out" && break
    exec 3>&-
    wait "$callerPid" || true
done
grep -q listening "$work/out" || fail "no free port found"

started=$(now)
# Every second: a text sent on the heels of the registration can arrive in
# the same read and goes with it, as the first message of a connection does.
messages="--send hello --every 1"
[ "$only" = registration ] && messages=""
# shellcheck disable=SC2086
"$sim" --port "$port" --count "$count" --first-id 1000 --heartbeat 0 $messages \
    --quiet --duration 600 >"$work/sim" 2>&1 &
simPid=$!
await "$count" "^registered "
registered=$(now)
[ -n "$messages" ] && await "$count" "^message from .*hello"

echo >&3  # the key
await_end 600 "the example did not stop on a key"
wait "$callerPid" || fail "the example failed"
callerPid=""
grep -q "^stopped, $count terminals seen" "$work/out" || fail "the example did not report its stop"
grep -q "^registered 00001000, SIM 13800000001, address 10.0.0.1[[:cntrl:]]*$" "$work/out" ||
    fail "the first terminal's registration is not printed as it was sent"
awk -v n="$count" -v a="$started" -v b="$registered" 'BEGIN { printf "%d terminals registered in %.2f s\n", n, b - a }'
