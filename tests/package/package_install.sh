#!/usr/bin/env bash
# The release zip as a Windows user meets it. It is built twice in fresh
# trees (the two zips must be identical), unpacked into the C: drive of a
# fresh Wine prefix, installed with install.cmd under Wine's cmd, and used:
# apeplay --wav from the unpacked folder must give ffmpeg's decode of the
# demo, and both DLLs must report the project's version.
#   package_install.sh SOURCE_DIR WORK_DIR VERSION VERSIONINFO_EXE
set -euo pipefail
source_dir=$1
work=$2
version=$3
versioninfo=$4

rm -rf "$work"
mkdir -p "$work"
for n in 1 2; do
    "$source_dir/tools/package.sh" --build "$work/build$n" --out "$work/dist$n" >"$work/package$n.log" 2>&1 ||
        { tail -n 30 "$work/package$n.log"; exit 1; }
done
zip=$work/dist1/apesrc-$version-win32.zip
cmp "$zip" "$work/dist2/apesrc-$version-win32.zip"
echo "reproducible: both builds give $(md5sum <"$zip" | cut -c1-32)"

export WINEPREFIX=$work/prefix WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' DISPLAY=
export HOME=$work/home
mkdir -p "$HOME"
printf 'pcm.!default {\n    type null\n}\nctl.!default {\n    type hw\n    card 0\n}\n' >"$HOME/.asoundrc"
trap 'wineserver -k 2>/dev/null || true' EXIT
wineboot -i >/dev/null 2>&1
wineserver -w
mkdir -p "$WINEPREFIX/drive_c/apesrc"
unzip -q "$zip" -d "$WINEPREFIX/drive_c/apesrc"

installed=$(wine cmd /c 'C:\apesrc\install.cmd' 2>/dev/null | tr -d '\r')
echo "$installed"
grep -q '^Registered "C:\\apesrc\\apesrc.dll"' <<<"$installed"

cp "$source_dir/samples/demo.ape" "$WINEPREFIX/drive_c/demo.ape"
wine 'C:\apesrc\apeplay.exe' --wav 'C:\demo.wav' 'C:\demo.ape' 2>&1 | grep -v seq_hw | tr -d '\r' | tail -n 1
ours=$(ffmpeg -nostdin -v error -i "$WINEPREFIX/drive_c/demo.wav" -f s16le - | md5sum | cut -c1-32)
theirs=$(ffmpeg -nostdin -v error -threads 1 -i "$source_dir/samples/demo.ape" -f s16le - | md5sum | cut -c1-32)
echo "apeplay from the package: $ours, ffmpeg: $theirs"
[ "$ours" = "$theirs" ]

cp "$versioninfo" "$WINEPREFIX/drive_c/versioninfo.exe"
versions=$(wine 'C:\versioninfo.exe' 'C:\apesrc\apesrc.dll' 'C:\apesrc\MACDllC.dll' 'C:\apesrc\apeplay.exe' | tr -d '\r')
echo "$versions"
[ "$(grep -c " $version $version $version.0 " <<<"$versions")" -eq 3 ]
echo "package: installs, plays bit-exactly and reports version $version"
