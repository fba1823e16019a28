#!/usr/bin/env bash
# Builds the Debian package: installs what is missing, configures a release
# build in build/package (no tests, no benchmarks), builds it, runs CPack and
# prints the path of the .deb. Install it with
#   sudo apt install ./build/package/pelmora_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

build=build/package
cmake -S . -B "$build" -G Ninja \
    -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX=/usr \
    -DPELMORA_BUILD_TESTS=OFF \
    -DPELMORA_BUILD_BENCH=OFF
cmake --build "$build"
rm -f "$build"/pelmora_*.deb
(cd "$build" && cpack -G DEB)

deb=$(ls "$build"/pelmora_*.deb)
echo "Package: $(realpath "$deb")"
