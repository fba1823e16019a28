#!/bin/sh
# The shared library exports the eight DS functions and nothing else.
set -eu
lib="$1"
expected="DSCloseConnectionByDeviceID
DSGetLastError
DSGetModemByPosition
DSGetModemCount
DSGetNextData
DSSendData
DSStartService
DSStopService"
actual=$(nm -D --defined-only "$lib" | awk '$2 ~ /^[TtDdBbRrVvWwui]$/ {print $3}' | sed 's/@.*//' | sort -u)
if [ "$actual" != "$expected" ]; then
    echo "exported symbols differ:"
    echo "$actual"
    exit 1
fi
echo "exports: ok"
