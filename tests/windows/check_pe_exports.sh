#!/bin/sh
# Dovrik.dll exports the names of Dovrik.def with their ordinals, and nothing
# else; its import library binds callers to them with the platform's calling
# convention: on 32-bit Windows __stdcall, whose names carry the bytes of the
# arguments (every argument takes a 32-bit slot), on x64 the one convention.
# Usage: check_pe_exports.sh OBJDUMP NM Dovrik.dll Dovrik.def Dovrik.lib x86|x64
set -eu
objdump="$1" nm="$2" dll="$3" def="$4" implib="$5" arch="$6"
fail() {
    echo "$*"
    exit 1
}

expected=$(awk '$2 ~ /^@[0-9]+$/ {sub("@", "", $2); print $2, $1}' "$def" | sort -n)
[ "$(echo "$expected" | wc -l)" -eq 8 ] || fail "the .def does not list eight functions"

# "[   n] Name" in the name table: n is the ordinal less the ordinal base.
actual=$("$objdump" -p "$dll" | awk '
    /Export Address Table -- Ordinal Base/ { base = $NF }
    /^\[Ordinal\/Name Pointer\] Table/ { names = 1; next }
    names && /^[ \t]*$/ { names = 0 }
    names { gsub(/[][]/, " "); print $1 + base, $2 }' | sort -n)
[ "$actual" = "$expected" ] || fail "export table of $dll differs from $def:
$actual"

count=$("$objdump" -p "$dll" | awk '/^\tExport Address Table[ \t]+[0-9a-f]+$/ {print $NF; exit}')
[ "$((0x$count))" -eq 8 ] || fail "$dll has $((0x$count)) exports, not 8"

if [ "$arch" = x86 ]; then
    imports="DSStartService@4 DSStopService@0 DSGetNextData@8 DSSendData@12 DSGetModemCount@0
             DSGetModemByPosition@8 DSCloseConnectionByDeviceID@4 DSGetLastError@8"
    prefix=__imp__
else
    imports="DSStartService DSStopService DSGetNextData DSSendData DSGetModemCount
             DSGetModemByPosition DSCloseConnectionByDeviceID DSGetLastError"
    prefix=__imp_
fi
symbols=$("$nm" "$implib")
for name in $imports; do
    echo "$symbols" | grep -qx "[0-9a-f]* I $prefix$name" || fail "$implib lacks $prefix$name"
done
echo "exports of $dll ($arch): ok"
