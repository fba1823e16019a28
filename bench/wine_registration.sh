#!/usr/bin/env bash
# How long 1,000 simulated terminals (the Linux dovrik-sim) take to register
# with the x64 Dovrik.dll under Wine, as the example caller sees it; three
# runs. Wine's figures are for information, not a target.
# Usage: bench/wine_registration.sh [count]
# Needs the windows-x64 build and a Linux debug build ($PELMORA_LINUX_BUILD,
# by default build/debug), as scripts/test-windows.sh leaves them.
set -euo pipefail
cd "$(dirname "$0")/.."
count="${1:-1000}"
linux="${PELMORA_LINUX_BUILD:-build/debug}"
cmake --build --preset windows-x64 --target dovrik_example >/dev/null
cmake --build "$linux" --target dovrik-sim >/dev/null
for run in 1 2 3; do
    tests/examples/example_against_sim.sh cmake/wine-run.sh build/windows-x64/bin/dovrik_example.exe \
        "$linux/tools/dovrik-sim" "$count" registration
done
