#!/usr/bin/env bash
# Takes the pictures of the operator's guide (docs/operator-guide.md) again,
# from the real window with simulated terminals, into docs/guide/: builds the
# picture program in build/guide, runs it under a virtual X server (or Qt's
# offscreen platform when there is none), once at 1366x768 and once at 150 %
# on a 1920x1080 screen, then makes the PNG files small when pngquant or
# optipng is installed.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/guide
out=docs/guide

cmake --preset release -B "$build" -DPELMORA_BUILD_TESTS=OFF -DPELMORA_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "${PELMORA_JOBS:-2}" --target pelmora-guide-shots
tool="$build/tools/pelmora-guide-shots"

run() {
    if command -v xvfb-run >/dev/null; then
        xvfb-run -a -s "-screen 0 1920x1080x24 -nolisten tcp" env QT_QPA_PLATFORM=xcb "$@"
    else
        echo "guide-shots: no xvfb-run, drawing offscreen" >&2
        env QT_QPA_PLATFORM=offscreen "$@"
    fi
}

mkdir -p "$out"
rm -f "$out"/*.png
run "$tool" "$out"
run env QT_SCALE_FACTOR=1.5 "$tool" --size 1280x720 --window-only window-1920x1080-150 "$out"

if command -v pngquant >/dev/null; then
    pngquant --force --skip-if-larger --strip --quality 80-98 --ext .png "$out"/*.png || true
fi
if command -v optipng >/dev/null; then
    optipng -quiet -o2 -strip all "$out"/*.png
fi
du -ch "$out"/*.png | tail -1
