#!/usr/bin/env bash
# The release zip as a Windows user meets it. It is built twice in fresh
# trees (the two zips must be identical, and so must the two setup
# programs), unpacked into the C: drive of a fresh 64-bit Wine prefix (which
# runs 64-bit and 32-bit programs, each with its own registry view) and
# installed with install.cmd. Then:
# - apeplay --wav of both widths must give ffmpeg's decode of the demo, each
#   through its own filter (the class key of each view names its own module);
# - the DLLs of both widths report the project's version;
# - uninstall.cmd removes the class, the filter mapper's entry and the .ape
#   keys of both views, says so, and neither apeplay can create the filter;
#   a second run finds nothing to remove;
# - installing again, from a 32-bit prompt (System32 redirected there), works
#   and both play again.
#   package_install.sh SOURCE_DIR WORK_DIR VERSION VERSIONINFO_EXE
set -euo pipefail
source_dir=$1
work=$2
version=$3
versioninfo=$4
source='{6E2B9F14-8C3D-4A57-9D21-5F0A7C3E1B92}'

rm -rf "$work"
mkdir -p "$work"
for n in 1 2; do
    "$source_dir/tools/package.sh" --build "$work/build$n" --out "$work/dist$n" >"$work/package$n.log" 2>&1 ||
        { tail -n 30 "$work/package$n.log"; exit 1; }
done
zip=$work/dist1/apesrc-$version-windows.zip
cmp "$zip" "$work/dist2/apesrc-$version-windows.zip"
echo "reproducible: both builds give $(md5sum <"$zip" | cut -c1-32)"
setup=$work/dist1/apesrc-$version-setup.exe
cmp "$setup" "$work/dist2/apesrc-$version-setup.exe"
echo "reproducible: both builds give the setup program $(md5sum <"$setup" | cut -c1-32)"
listing=$(unzip -Z1 "$zip" | LC_ALL=C sort | tr '\n' ' ')
expected="LICENSE.txt README.txt install.cmd uninstall.cmd"
for width in x64 x86; do
    for file in MACDllC.dll apedec.exe apemf.dll apeplay.exe apeprops.dll apesrc.dll; do expected+=" $width/$file"; done
done
[ "$listing" = "$(echo $expected | tr ' ' '\n' | LC_ALL=C sort | tr '\n' ' ')" ] ||
    { echo "unexpected contents: $listing"; exit 1; }

export WINEPREFIX=$work/prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' DISPLAY=
export HOME=$work/home
mkdir -p "$HOME"
printf 'pcm.!default {\n    type null\n}\nctl.!default {\n    type hw\n    card 0\n}\n' >"$HOME/.asoundrc"
trap 'wineserver -k 2>/dev/null || true' EXIT
# `wine` picks its loader by the program, but finds cmd, reg and regsvr32 in
# the 32-bit system folder: it gives the 32-bit prompt, the 64-bit loader
# the 64-bit one.
wine64=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineboot -i >/dev/null 2>&1
wineserver -w
# Where the README suggests: a folder whose name holds parentheses, which
# a batch file's blocks must survive.
folder='C:\Program Files (x86)\apesrc'
unpacked="$WINEPREFIX/drive_c/Program Files (x86)/apesrc"
mkdir -p "$unpacked"
unzip -q "$zip" -d "$unpacked"
# cmd /c takes no quoted path with spaces from Wine's command line; a batch
# file of its own calls the script.
for script in install uninstall; do
    printf '@call "%s\\%s.cmd"\r\n' "$folder" "$script" >"$WINEPREFIX/drive_c/run-$script.cmd"
done
# The folder as a basic regular expression (parentheses are plain there).
pattern=${folder//\\/\\\\}
cp "$source_dir/samples/demo.ape" "$WINEPREFIX/drive_c/demo.ape"
theirs=$(ffmpeg -nostdin -v error -threads 1 -i "$source_dir/samples/demo.ape" -f s16le - | md5sum | cut -c1-32)

# The server a registry view names for the source, or nothing.
server() {
    wine reg query "HKLM\\Software\\Classes\\CLSID\\$source\\InprocServer32" /ve "/reg:$1" 2>/dev/null |
        tr -d '\r' | sed -n 's/^.*REG_SZ[[:space:]]*//p'
}

# Installs from the prompt the loader given starts, checks what it says and
# what each view names.
install() {
    local installed
    installed=$("$1" cmd /c 'C:\run-install.cmd' 2>/dev/null | tr -d '\r')
    echo "$installed"
    grep -q "^Registered \"$pattern\\\\x64\\\\apesrc.dll\" (x64) with \"C:\\\\windows\\\\[A-Za-z0-9]*\\\\regsvr32.exe\"" <<<"$installed"
    grep -q "^Registered \"$pattern\\\\x86\\\\apesrc.dll\" (x86) with \"C:\\\\windows\\\\SysWOW64\\\\regsvr32.exe\"" <<<"$installed"
    [ "$(server 64)" = "$folder\\x64\\apesrc.dll" ] || { echo "64-bit view names '$(server 64)'"; return 1; }
    [ "$(server 32)" = "$folder\\x86\\apesrc.dll" ] || { echo "32-bit view names '$(server 32)'"; return 1; }
}

# Both widths' apeplay --wav must give ffmpeg's decode.
plays() {
    local width ours
    for width in x64 x86; do
        rm -f "$WINEPREFIX/drive_c/demo-$width.wav"
        wine "$folder\\$width\\apeplay.exe" --wav "C:\\demo-$width.wav" 'C:\demo.ape' 2>&1 |
            grep -v seq_hw | tr -d '\r' | tail -n 1
        ours=$(ffmpeg -nostdin -v error -i "$WINEPREFIX/drive_c/demo-$width.wav" -f s16le - | md5sum | cut -c1-32)
        echo "$width apeplay from the package: $ours, ffmpeg: $theirs"
        [ "$ours" = "$theirs" ]
    done
}

# A folder without its codec library: nothing is registered, and the
# message names the file.
mv "$unpacked/x86/MACDllC.dll" "$work/MACDllC.dll"
if incomplete=$("$wine64" cmd /c 'C:\run-install.cmd' 2>/dev/null | tr -d '\r'); then
    echo "install.cmd succeeded without x86\MACDllC.dll: $incomplete"
    exit 1
fi
echo "$incomplete"
[ "$incomplete" = "install: x86\MACDllC.dll is not in \"$folder\\\"; unpack the whole zip and run install.cmd from its folder." ]
[ -z "$(server 64)" ] && [ -z "$(server 32)" ]
mv "$work/MACDllC.dll" "$unpacked/x86/MACDllC.dll"

# Another source filter's .ape extension in the 32-bit view and another
# property handler in the 64-bit one, which uninstalling must give back.
other='{00000000-1111-2222-3333-555555555555}'
extension_key='HKLM\Software\Classes\Media Type\Extensions\.ape'
properties_key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\PropertySystem\PropertyHandlers\.ape'
wine reg add "$extension_key" /v 'Source Filter' /d "$other" /f /reg:32 >/dev/null 2>&1
wine reg add "$properties_key" /ve /d "$other" /f /reg:64 >/dev/null 2>&1

install "$wine64"
plays

cp "$versioninfo" "$WINEPREFIX/drive_c/versioninfo.exe"
for width in x64 x86; do
    versions=$(wine 'C:\versioninfo.exe' "$folder\\$width\\apesrc.dll" "$folder\\$width\\MACDllC.dll" \
        "$folder\\$width\\apeplay.exe" | tr -d '\r')
    echo "$versions"
    [ "$(grep -c " $version $version $version.0 " <<<"$versions")" -eq 3 ]
done

# Keys install.cmd wrote, in both views.
keys=("HKLM\\Software\\Classes\\CLSID\\$source"
    "HKLM\\Software\\Classes\\CLSID\\{8643C350-F7A8-4FEF-9DE7-A97DD3FBBF71}"
    "HKLM\\Software\\Classes\\CLSID\\{5847B50A-C1AF-4075-B2D2-D8D58B15E25D}"
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\PropertySystem\\PropertyHandlers\\.ape"
    "HKLM\\SOFTWARE\\Microsoft\\Windows Media Foundation\\ByteStreamHandlers\\.ape"
    "HKLM\\Software\\Classes\\SystemFileAssociations\\.ape\\ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}"
    "HKLM\\Software\\Classes\\CLSID\\{083863F1-70DE-11D0-BD40-00A0C911CE86}\\Instance\\$source"
    "HKLM\\Software\\Classes\\Media Type\\Extensions\\.ape")
player_value='{3F8E6A52-B1C4-4D09-A7E6-9C2D5B180F4E}'
player_keys=("HKLM\\Software\\Microsoft\\MediaPlayer\\Player\\Extensions\\Types"
    "HKLM\\Software\\Microsoft\\MediaPlayer\\Player\\Extensions\\Descriptions")
# An unrelated value beside the media player's, which uninstalling must keep.
wine reg add "${player_keys[0]}" /v '{00000000-1111-2222-3333-444444444444}' /d '*.xyz' /f /reg:64 >/dev/null 2>&1
for view in 64 32; do
    for key in "${keys[@]}"; do
        wine reg query "$key" "/reg:$view" >/dev/null 2>&1 || { echo "not installed: $key ($view-bit view)"; exit 1; }
    done
done

uninstalled=$("$wine64" cmd /c 'C:\run-uninstall.cmd' 2>/dev/null | tr -d '\r')
echo "$uninstalled"
grep -q "^Removed the filter's class: .* in the 64-bit view" <<<"$uninstalled"
grep -q "^Removed the filter's class: .* in the 32-bit view" <<<"$uninstalled"
grep -q "^Removed the filter mapper's entry: .* in the 64-bit view" <<<"$uninstalled"
grep -q "^Removed the filter mapper's entry: .* in the 32-bit view" <<<"$uninstalled"
grep -q "^Removed the .ape extension of DirectShow" <<<"$uninstalled"
grep -q "^Removed the media player's .ape type" <<<"$uninstalled"
for view in 64 32; do
    grep -q "^Removed the Explorer property handler: .* in the $view-bit view" <<<"$uninstalled"
    grep -q "^Removed the Media Foundation handler: .* in the $view-bit view" <<<"$uninstalled"
done
[ "$(wine reg query "$extension_key" /v 'Source Filter' /reg:32 2>/dev/null | tr -d '\r' |
    sed -n 's/^.*REG_SZ[[:space:]]*//p')" = "$other" ] || { echo "the 32-bit .ape extension is not the other's"; exit 1; }
[ "$(wine reg query "$properties_key" /ve /reg:64 2>/dev/null | tr -d '\r' | sed -n 's/^.*REG_SZ[[:space:]]*//p')" = "$other" ] ||
    { echo "the other property handler was not given back"; exit 1; }
wine reg delete "$extension_key" /f /reg:32 >/dev/null 2>&1 || true
wine reg delete "$properties_key" /f /reg:64 >/dev/null 2>&1 || true
wine reg delete "$properties_key" /f /reg:32 >/dev/null 2>&1 || true
for view in 64 32; do
    for key in "${keys[@]}"; do
        if wine reg query "$key" "/reg:$view" >/dev/null 2>&1; then
            echo "left after uninstalling: $key ($view-bit view)"
            exit 1
        fi
    done
    for key in "${player_keys[@]}"; do
        if wine reg query "$key" /v "$player_value" "/reg:$view" >/dev/null 2>&1; then
            echo "left after uninstalling: $key\\$player_value ($view-bit view)"
            exit 1
        fi
    done
done
wine reg query "${player_keys[0]}" /v '{00000000-1111-2222-3333-444444444444}' /reg:64 >/dev/null 2>&1 ||
    { echo "uninstalling removed a value it did not write"; exit 1; }
for width in x64 x86; do
    if wine "$folder\\$width\\apeplay.exe" --info 'C:\demo.ape' >"$work/after-uninstall-$width.txt" 2>&1; then
        echo "the $width apeplay still creates the filter after uninstalling"
        exit 1
    fi
    echo "$width apeplay after uninstalling: $(grep -v seq_hw "$work/after-uninstall-$width.txt" | tr -d '\r' | tail -n 1)"
done
again=$(wine cmd /c 'C:\run-uninstall.cmd' 2>/dev/null | tr -d '\r')
echo "$again"
[ "$again" = "Nothing of the Monkey's Audio source filter was registered." ]

# Again, from the 32-bit prompt: its System32 is the 32-bit one, so the x64
# filter must be registered through Sysnative.
install wine
plays
echo "package: installs both widths, plays bit-exactly with both, uninstalls cleanly, reports version $version"
