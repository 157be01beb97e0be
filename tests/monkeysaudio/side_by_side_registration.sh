#!/usr/bin/env bash
# Both widths registered in one 64-bit prefix, as on 64-bit Windows: the
# 64-bit regsvr32 writes the 64-bit registry view, the 32-bit one the 32-bit
# view (WOW6432Node), with the same class identifier and each naming its own
# module. A 64-bit and a 32-bit apeplay each create their own filter by class
# identifier and convert the same file to the same PCM (ffmpeg's decode).
# Unregistering one width (allowed on a development system only, so the
# switch is set in that width's view) leaves the other registered and
# playing; then the other way round.
#   side_by_side_registration.sh BUILD64 BUILD32 WORK_DIR FILE.ape
set -euo pipefail
build64=$1
build32=$2
work=$3
ape=$4
source='{6E2B9F14-8C3D-4A57-9D21-5F0A7C3E1B92}'
class_key="HKLM\\Software\\Classes\\CLSID\\$source"
vendor_key='HKLM\Software\{5C3A9E1B-2F47-4D86-B0E5-7A1C93D4F268}'
# The filter mapper files the source under its default category.
mapper_entry="HKLM\\Software\\Classes\\CLSID\\{083863F1-70DE-11D0-BD40-00A0C911CE86}\\Instance\\$source"

for file in monkeysaudio/apesrc.dll codec/dll/MACDllC.dll tools/apeplay/apeplay.exe; do
    if [ ! -f "$build32/$file" ]; then
        echo "no 32-bit $file in $build32: build it first (tools/build.sh windows)"
        exit 1
    fi
done
rm -rf "$work"
mkdir -p "$work/x64" "$work/x86"
for file in monkeysaudio/apesrc.dll codec/dll/MACDllC.dll tools/apeplay/apeplay.exe; do
    cp "$build64/$file" "$work/x64/"
    cp "$build32/$file" "$work/x86/"
done

export HOME=$build64/wine/home WINEPREFIX=$build64/wine/prefix WINEDEBUG=-all
export WINEDLLOVERRIDES='mscoree,mshtml=' DISPLAY=
unset WINEARCH

windows_path() {
    local path=$1
    printf 'Z:%s' "${path//\//\\}"
}
module64=$(windows_path "$work/x64/apesrc.dll")
module32=$(windows_path "$work/x86/apesrc.dll")
# `wine` picks its loader by the program, but finds regsvr32 in the 32-bit
# system folder; the 64-bit loader starts the 64-bit one.
wine64=$(command -v wine64 || echo /usr/lib/wine/wine64)
regsvr64() { "$wine64" regsvr32 "$@"; }
regsvr32() { wine regsvr32 "$@"; }

# What a view names as the source's server, lower case; nothing when absent.
server() {
    wine reg query "$class_key\\InprocServer32" /ve "/reg:$1" 2>/dev/null |
        tr -d '\r' | sed -n 's/^.*REG_SZ[[:space:]]*//p' | tr 'A-Z' 'a-z'
}
expect_server() {
    local view=$1 expected=${2,,}
    [ "$(server "$view")" = "$expected" ] ||
        { echo "FAIL: the $view-bit view names '$(server "$view")', not '$expected'"; exit 1; }
}
# Whether a view's filter mapper lists the source: "listed" or "absent".
expect_filter() {
    local view=$1 expected=$2 actual=absent
    wine reg query "$mapper_entry" "/reg:$view" >/dev/null 2>&1 && actual=listed
    [ "$actual" = "$expected" ] || { echo "FAIL: the $view-bit filter mapper: $actual, not $expected"; exit 1; }
}
forget() {
    for view in 64 32; do
        wine reg delete "$class_key" /f "/reg:$view" >/dev/null 2>&1 || true
        wine reg delete "$vendor_key" /f "/reg:$view" >/dev/null 2>&1 || true
    done
}
trap forget EXIT
forget

theirs=$(ffmpeg -nostdin -v error -threads 1 -i "$ape" -f s16le - | md5sum | cut -c1-32)
plays() {
    local width=$1 ours
    rm -f "$work/$width.wav"
    wine "$(windows_path "$work/$width/apeplay.exe")" --wav "$(windows_path "$work/$width.wav")" \
        "$(windows_path "$ape")" >"$work/$width.out" 2>&1 || { echo "FAIL: $width apeplay: $(tail -n 1 "$work/$width.out")"; exit 1; }
    ours=$(ffmpeg -nostdin -v error -i "$work/$width.wav" -f s16le - | md5sum | cut -c1-32)
    echo "$width apeplay: $ours, ffmpeg: $theirs"
    [ "$ours" = "$theirs" ] || { echo "FAIL: the $width apeplay's PCM differs"; exit 1; }
}
cannot_create() {
    local width=$1
    if wine "$(windows_path "$work/$width/apeplay.exe")" --info "$(windows_path "$ape")" >"$work/$width.out" 2>&1; then
        echo "FAIL: the $width apeplay still creates the filter"
        exit 1
    fi
    echo "$width apeplay, unregistered: $(grep -v seq_hw "$work/$width.out" | tr -d '\r' | tail -n 1)"
}
# Unregisters one width's module with that width's regsvr32 on a machine
# marked as a development system in that width's view.
unregister() {
    local regsvr=$1 module=$2 view=$3
    wine reg add "$vendor_key" /v IsDevelopmentSystem /t REG_DWORD /d 1 /f "/reg:$view" >/dev/null 2>&1
    "$regsvr" /u /s "$module" || { echo "FAIL: $regsvr /u $module"; exit 1; }
    wine reg delete "$vendor_key" /f "/reg:$view" >/dev/null 2>&1
}

regsvr64 /s "$module64" || { echo "FAIL: 64-bit regsvr32 $module64"; exit 1; }
regsvr32 /s "$module32" || { echo "FAIL: 32-bit regsvr32 $module32"; exit 1; }
expect_server 64 "$module64"
expect_server 32 "$module32"
expect_filter 64 listed
expect_filter 32 listed
plays x64
plays x86

unregister regsvr32 "$module32" 32
expect_server 32 ""
expect_server 64 "$module64"
expect_filter 32 absent
expect_filter 64 listed
plays x64
cannot_create x86

regsvr32 /s "$module32" || { echo "FAIL: 32-bit regsvr32 $module32"; exit 1; }
unregister regsvr64 "$module64" 64
expect_server 64 ""
expect_server 32 "$module32"
expect_filter 64 absent
expect_filter 32 listed
plays x86
cannot_create x64
echo "side by side: each width registers in its own view, plays the same PCM and outlives the other's removal"
