#!/bin/sh
# Fails unless the DLL's export table holds exactly the names given, as they
# are written (no stdcall decoration, nothing left over from a runtime
# library), and the DLL is built for the expected machine.
#   check-exports.sh DLL pei-i386|pei-x86-64 NAME...
set -eu
dll=$1
format=$2
shift 2
objdump=x86_64-w64-mingw32-objdump
command -v $objdump >/dev/null || objdump=i686-w64-mingw32-objdump
actual_format=$($objdump -f "$dll" | sed -n 's/.*file format //p')
if [ "$actual_format" != "$format" ]; then
    echo "$dll is $actual_format, not $format"
    exit 1
fi
exports=$($objdump -p "$dll" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/s/^[[:space:]]*\[ *[0-9]*\] //p' | LC_ALL=C sort)
expected=$(printf '%s\n' "$@" | LC_ALL=C sort)
if [ "$exports" != "$expected" ]; then
    echo "$dll exports:"
    echo "$exports"
    echo "expected:"
    echo "$expected"
    exit 1
fi
echo "$dll ($format) exports exactly: $(echo $expected)"
