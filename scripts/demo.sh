#!/usr/bin/env bash
# Starts Pelmora with its service running and a few simulated terminals that
# answer like real ones. Extra arguments go to Pelmora (see --help).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release
cmake --build --preset release
port="${PELMORA_DEMO_PORT:-5001}"
build/release/app/Pelmora --start --port "$port" "$@" &
app=$!
sleep 1
build/release/tools/dovrik-sim --port "$port" --count 5 --stateful --status battery \
    --send "AT+STATUS OK" --every 20 --quiet &
sim=$!
trap 'kill $sim 2>/dev/null || true' EXIT
wait $app
