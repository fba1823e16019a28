#!/usr/bin/env bash
# Builds Dovrik for 32-bit and 64-bit Windows and writes
# build/release-windows/dovrik-windows-<version>.zip: both DLLs with their
# import libraries, the header, the .def, the example (its source, and its
# builds beside each DLL) and a README on calling the library from C, C# and
# Delphi.
# Usage: scripts/release-windows.sh
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh windows
for preset in windows-x86 windows-x64; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" --target Dovrik dovrik_example
done

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/windows-x64/CMakeCache.txt)
name="dovrik-windows-$version"
out=build/release-windows
stage="$out/$name"
rm -rf "$stage" "$out/$name.zip"
mkdir -p "$stage/include" "$stage/example"
for arch in x86 x64; do
    bin="build/windows-$arch/bin"
    mkdir -p "$stage/$arch"
    cp "$bin/Dovrik.dll" "$bin/Dovrik.lib" build/windows-$arch/link/libDovrik.dll.a "$stage/$arch/"
    cp "$bin/dovrik_example.exe" "$stage/$arch/"  # beside the DLL it loads
    # Without the symbols of the linked-in C++ runtime; the exports stay.
    strip=$(sed -n 's/^CMAKE_STRIP:FILEPATH=//p' "build/windows-$arch/CMakeCache.txt")
    "$strip" --strip-unneeded "$stage/$arch/Dovrik.dll" "$stage/$arch/dovrik_example.exe"
done
cp link/include/Dovrik.h "$stage/include/"
cp link/Dovrik.def examples/dovrik_example.c "$stage/"
mv "$stage/dovrik_example.c" "$stage/example/"
# Windows line ends for the texts people open in Notepad.
sed 's/$/\r/' packaging/windows/README.txt >"$stage/README.txt"
(cd "$out" && zip -q -r -X "$name.zip" "$name")
echo "$out/$name.zip"
