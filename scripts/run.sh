#!/usr/bin/env bash
# Installs what is missing, builds, and starts the centre with three simulated
# terminals connected. Extra arguments go to the program (see --help).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release
cmake --build --preset release
if [ $# -eq 0 ]; then
    set -- --demo 3
fi
exec build/release/tools/dovrik-console "$@"
