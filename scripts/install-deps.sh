#!/usr/bin/env bash
# Installs every system package the project needs to build, test and run.
# This is the one list of packages; Debian 12 names.
# Usage: scripts/install-deps.sh [fuzz] [package-check] [windows]
#   fuzz           also clang and its fuzzing runtime (scripts/fuzz.sh)
#   package-check  also debootstrap (scripts/package-check.sh)
#   windows        also the MinGW-w64 cross compilers, Wine and zip
#                  (scripts/test-windows.sh, scripts/release-windows.sh)
set -euo pipefail

packages=(
    g++
    cmake
    ninja-build
    make
    pkg-config
    binutils            # nm, for the export check
    libasio-dev         # standalone Asio
    googletest          # GoogleTest sources
    libgtest-dev
    libgmock-dev
    libsqlite3-dev      # the registry and the warning record
    libssl-dev          # SHA-256 of the warnings' content; HTTPS of the gateway
    libcpp-httplib-dev  # the gateway's HTTP server
    libpugixml-dev      # CAP alerts
    nlohmann-json3-dev  # the gateway's JSON
    qt6-base-dev        # Qt 6 Core, Gui, Widgets, Test
    qt6-base-dev-tools  # moc, rcc, uic
    qt6-svg-dev         # the SVG icons
    qt6-translations-l10n  # Qt's own words (standard buttons) in Chinese
    libgl-dev
    xvfb                # the screenshot script
    xauth
    fonts-wqy-microhei  # Chinese text on screen
    dpkg-dev            # dpkg-shlibdeps, for the package's dependencies
    file                # used when the package is built
    locales             # locale sources: a test builds a decimal-comma locale
)
for extra in "$@"; do
    case "$extra" in
        fuzz) packages+=(clang libclang-rt-14-dev) ;;  # libFuzzer comes with clang 14's runtime
        package-check) packages+=(debootstrap) ;;
        windows)
            packages+=(
                g++-mingw-w64-x86-64-posix  # x64 and x86 compilers with the
                g++-mingw-w64-i686-posix    # C++ standard library's threads
                binutils-mingw-w64-x86-64   # objdump, nm and dlltool
                binutils-mingw-w64-i686
                wine wine64                 # runs the x64 tests and the example
                zip
            )
            ;;
        *)
            echo "usage: $0 [fuzz] [package-check] [windows]" >&2
            exit 2
            ;;
    esac
done

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

as_root=()
if [ "$(id -u)" -ne 0 ]; then
    as_root=(sudo)
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -q
"${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
