#!/bin/sh
# Fails when a DLL imports anything but Windows system DLLs, as happens when a
# runtime library (libstdc++, libgcc, winpthread) is linked dynamically.
# The x86-64 objdump reads both widths' files; the i686 one only 32-bit files.
set -eu
allowed='^(kernel32|user32|advapi32|ole32|oleaut32|shell32|shlwapi|msvcrt|ws2_32|winmm|version|gdi32|msacm32|quartz|uuid|strmiids|mfplat|mfreadwrite|mf)\.dll$'
objdump=x86_64-w64-mingw32-objdump
command -v $objdump >/dev/null || objdump=i686-w64-mingw32-objdump
status=0
for dll in "$@"; do
    imports=$($objdump -p "$dll" | sed -n 's/^[[:space:]]*DLL Name: //p')
    [ -n "$imports" ] || { echo "$dll: no import table found"; status=1; continue; }
    for name in $imports; do
        if ! echo "$name" | tr 'A-Z' 'a-z' | grep -Eq "$allowed"; then
            echo "$dll imports $name, which is not a Windows system DLL"
            status=1
        fi
    done
done
[ $status -eq 0 ] && echo "$*: imports only Windows system DLLs"
exit $status
