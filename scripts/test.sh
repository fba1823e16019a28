#!/usr/bin/env bash
# Installs what is missing, builds, and runs the tests through CTest.
# Usage: scripts/test.sh [preset] [ctest options...]
#   preset: debug (the default), release, asan or tsan
#   e.g. scripts/test.sh tsan -L threads   (only the tests that run threads)
# With PELMORA_WARNINGS_AS_ERRORS=ON in the environment any compiler warning
# fails the build.
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-debug}"
shift || true
scripts/install-deps.sh
cmake --preset "$preset" -DPELMORA_WARNINGS_AS_ERRORS="${PELMORA_WARNINGS_AS_ERRORS:-OFF}"
cmake --build --preset "$preset"
ctest --preset "$preset" -j "$(nproc)" "$@"
