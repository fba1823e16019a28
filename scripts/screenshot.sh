#!/usr/bin/env bash
# Starts Pelmora under a virtual X server with simulated terminals connected
# and saves a picture of the main window (default: build/pelmora.png).
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-build/pelmora.png}"
scripts/install-deps.sh   # includes Xvfb and a Chinese font
cmake --preset release
cmake --build --preset release
port="${PELMORA_DEMO_PORT:-5901}"
logs=$(mktemp -d)
display=":${PELMORA_DISPLAY:-97}"
Xvfb "$display" -screen 0 1600x1000x24 -nolisten tcp &
xvfb=$!
sim=
trap 'kill $xvfb $sim 2>/dev/null || true; rm -rf "$logs"' EXIT
sleep 1
export DISPLAY="$display" QT_QPA_PLATFORM=xcb
build/release/app/Pelmora --start --port "$port" --log-dir "$logs" --quit-after 9 --screenshot "$out" &
app=$!
sleep 1.5
build/release/tools/dovrik-sim --port "$port" --count 6 --first-id 20260001 --stateful \
    --status battery --send "AT+STATUS OK" --every 3 --heartbeat 2 --quiet &
sim=$!
wait $app
echo "saved $out"
