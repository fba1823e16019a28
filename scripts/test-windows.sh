#!/usr/bin/env bash
# Builds Dovrik.dll for Windows with the MinGW-w64 cross compilers and tests
# it on this machine:
#   x86  its export table, import library and calling convention (the
#        kernel here runs no 32-bit programs, so nothing of it is run);
#   x64  the same, and the DS function, parser and engine tests and the
#        example caller under Wine, against simulated terminals over
#        loopback (the example against the Linux simulator).
# Usage: scripts/test-windows.sh [ctest options for the x64 tests...]
# The Linux simulator comes from the debug build ($PELMORA_LINUX_BUILD, by
# default build/debug), configured first if need be. With
# PELMORA_WARNINGS_AS_ERRORS=ON any compiler warning fails the build.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh windows
warnings=-DPELMORA_WARNINGS_AS_ERRORS="${PELMORA_WARNINGS_AS_ERRORS:-OFF}"

linux="${PELMORA_LINUX_BUILD:-build/debug}"
[ -f "$linux/CMakeCache.txt" ] || cmake --preset debug -B "$linux" "$warnings"
cmake --build "$linux" --target dovrik-sim

cmake --preset windows-x86 "$warnings"
cmake --build --preset windows-x86
ctest --preset windows-x86

cmake --preset windows-x64 "$warnings" -DPELMORA_LINUX_SIM="$(realpath "$linux/tools/dovrik-sim")"
cmake --build --preset windows-x64
ctest --preset windows-x64 -j "$(nproc)" "$@"
