#!/usr/bin/env bash
# Installs what is missing, builds, and starts Pelmora. Extra arguments go to
# the program (see --help); scripts/demo.sh starts it with simulated terminals.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release
cmake --build --preset release
exec build/release/app/Pelmora "$@"
