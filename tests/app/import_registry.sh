#!/bin/sh
# Pelmora --import-registry: a file with a bad row imports nothing, names the
# row's line and ends non-zero; a good file goes in. No display is needed.
set -eu
pelmora="$1"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
export PELMORA_DATA_DIR="$dir/data"
unset DISPLAY WAYLAND_DISPLAY || true

printf '\357\273\277设备ID,名称\r\n0001e240,东村\r\nzz,西村\r\n' > "$dir/bad.csv"
if "$pelmora" --import-registry "$dir/bad.csv" 2> "$dir/err"; then
    echo "a file with a bad row was imported"
    exit 1
fi
grep -q 'bad.csv:3: ' "$dir/err" || { cat "$dir/err"; exit 1; }

printf 'device_id,name,tags\r\n0001e240,East,a;b\r\n00000007,West,\r\n' > "$dir/good.csv"
"$pelmora" --import-registry "$dir/good.csv" > "$dir/out"
grep -q '已导入2台终端' "$dir/out" || { cat "$dir/out"; exit 1; }
test -s "$PELMORA_DATA_DIR/pelmora.db"
