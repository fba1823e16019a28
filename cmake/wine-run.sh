#!/bin/sh
# Runs a Windows program of a cross build under Wine, headless.
# Usage: wine-run.sh PROGRAM.exe [arguments...]
# The Wine prefix is private to the build: $WINEPREFIX when set, else
# "wineprefix" in the build folder that holds the program (the nearest folder
# upwards with a CMakeCache.txt). It is made on first use, without the
# first-run dialogs (Mono and Gecko are not installed, no menu entries).
set -eu
program="$1"
shift

if [ -z "${WINEPREFIX:-}" ]; then
    dir=$(cd "$(dirname "$program")" && pwd)
    while [ "$dir" != / ] && [ ! -f "$dir/CMakeCache.txt" ]; do
        dir=$(dirname "$dir")
    done
    [ "$dir" = / ] && dir=$(cd "$(dirname "$program")" && pwd)
    WINEPREFIX="$dir/wineprefix"
fi
export WINEPREFIX
export WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY

wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)

# Two tests may start at once: one of them makes the prefix, the other waits.
if [ ! -f "$WINEPREFIX/.made" ]; then
    mkdir -p "$WINEPREFIX"
    (
        flock 9
        if [ ! -f "$WINEPREFIX/.made" ]; then
            "$wine" wineboot --init >/dev/null 2>&1 || true
            "${wine%/*}/wineserver" -w 2>/dev/null || wineserver -w 2>/dev/null || true
            touch "$WINEPREFIX/.made"
        fi
    ) 9>"$WINEPREFIX.lock"
fi
exec "$wine" "$program" "$@"
