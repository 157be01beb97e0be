#!/usr/bin/env bash
# The setup program as an administrator meets it, silently, in fresh Wine
# prefixes. It is the one package_install.sh built (its work folder is
# PACKAGE_WORK); an older-numbered one is packed from the same build trees.
# In a 64-bit prefix, in a folder whose name holds spaces and parentheses:
# - the setup's version resource; /S /D= installs both widths, each module
#   registered in its own view, the tools' folder on the PATH, and the
#   uninstall entry with its values, in the 64-bit view only;
# - both apeplays give ffmpeg's decode of the demo through DirectShow and
#   through Media Foundation, and the property handler registered for .ape
#   gives ffprobe's duration and rate;
# - the QuietUninstallString removes every file, class, filter-mapper entry,
#   .ape value and PATH entry of ours from both views, keeps what is not ours
#   and reports a failure with a non-zero exit code;
# - the same version twice, an upgrade from the older one into its folder,
#   a refused downgrade, and a module in use replaced at the restart;
# then in a 32-bit prefix, whose PATH is too long for the setup to edit, the
# x86-only installation, its property handler and its removal. The helpers
# come from this build and, for the 32-bit prefix, from the 32-bit build's
# WIN32_HELPERS folder.
#   setup_install.sh SOURCE_DIR WORK_DIR VERSION PACKAGE_WORK VERSIONINFO_EXE HOLDMODULE_EXE PROPERTYPROBE_EXE \
#       RUNUNINSTALLENTRY_EXE WIN32_HELPERS
set -euo pipefail
source_dir=$1
work=$2
version=$3
package_work=$4
versioninfo=$5
holdmodule=$6
propertyprobe=$7
runentry=$8
win32_helpers=$9
older=0.9.0
started=$SECONDS

setup=$package_work/dist1/apesrc-$version-setup.exe
[ -f "$setup" ] || { echo "no setup program in $package_work/dist1: run package_installs_and_plays first"; exit 1; }
for helper in package_rununinstallentry package_propertyprobe; do
    [ -f "$win32_helpers/$helper.exe" ] || { echo "no $win32_helpers/$helper.exe: build the 32-bit build first"; exit 1; }
done
rm -rf "$work"
mkdir -p "$work"
"$source_dir/tools/package.sh" --build "$package_work/build1" --out "$work/older" --version "$older" \
    >"$work/older.log" 2>&1 || { tail -n 30 "$work/older.log"; exit 1; }

source='{6E2B9F14-8C3D-4A57-9D21-5F0A7C3E1B92}'
classes=("$source" '{8643C350-F7A8-4FEF-9DE7-A97DD3FBBF71}' '{5847B50A-C1AF-4075-B2D2-D8D58B15E25D}'
    '{33E92482-654E-4FFA-B2AA-20224BF66FB2}')
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\apesrc'
environment_key='HKLM\System\CurrentControlSet\Control\Session Manager\Environment'
thumbnail_key='HKLM\Software\Classes\SystemFileAssociations\.ape\ShellEx\{e357fccd-a995-4576-b01f-234630154e96}'
# Keys whose existence is ours, and keys holding one value of ours.
keys=("HKLM\\Software\\Classes\\CLSID\\{083863F1-70DE-11D0-BD40-00A0C911CE86}\\Instance\\$source"
    'HKLM\Software\Classes\Media Type\Extensions\.ape'
    'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\PropertySystem\PropertyHandlers\.ape'
    "$thumbnail_key")
for class in "${classes[@]}"; do keys+=("HKLM\\Software\\Classes\\CLSID\\$class"); done
values=('HKLM\Software\Microsoft\MediaPlayer\Player\Extensions\Types|{3F8E6A52-B1C4-4D09-A7E6-9C2D5B180F4E}'
    'HKLM\Software\Microsoft\MediaPlayer\Player\Extensions\Descriptions|{3F8E6A52-B1C4-4D09-A7E6-9C2D5B180F4E}'
    "HKLM\\SOFTWARE\\Microsoft\\Windows Media Foundation\\ByteStreamHandlers\\.ape|${classes[2]}")
theirs=$(ffmpeg -nostdin -v error -threads 1 -i "$source_dir/samples/demo.ape" -f s16le - | md5sum | cut -c1-32)
duration=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$source_dir/samples/demo.ape")
rate=$(ffprobe -v error -show_entries stream=sample_rate -of csv=p=0 "$source_dir/samples/demo.ape")

# A fresh prefix of the width given (64 or 32), with sound sent nowhere. Its
# native registry view holds the uninstall entry and the PATH.
prefix() {
    view=$1
    export WINEPREFIX=$work/prefix$1 WINEARCH=win$1 WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' DISPLAY=
    export HOME=$work/home
    mkdir -p "$HOME"
    printf 'pcm.!default {\n    type null\n}\nctl.!default {\n    type hw\n    card 0\n}\n' >"$HOME/.asoundrc"
    wineboot -i >/dev/null 2>&1
    wineserver -w
    cp "$setup" "$WINEPREFIX/drive_c/setup.exe"
    cp "$work/older/apesrc-$older-setup.exe" "$WINEPREFIX/drive_c/older-setup.exe"
    cp "$source_dir/samples/demo.ape" "$WINEPREFIX/drive_c/demo.ape"
    if [ "$1" = 64 ]; then
        cp "$runentry" "$WINEPREFIX/drive_c/runentry.exe"
        cp "$propertyprobe" "$WINEPREFIX/drive_c/propertyprobe.exe"
    else
        cp "$win32_helpers/package_rununinstallentry.exe" "$WINEPREFIX/drive_c/runentry.exe"
        cp "$win32_helpers/package_propertyprobe.exe" "$WINEPREFIX/drive_c/propertyprobe.exe"
    fi
}
trap 'wineserver -k 2>/dev/null || true' EXIT

# Runs a setup program and checks its exit code (Wine hands on its low
# byte). The arguments are split at spaces and passed apart, so that Wine
# joins them with single spaces and quotes none: "/D=" takes the rest of the
# line as it stands.
#   run EXPECTED_CODE WHAT PROGRAM ARGUMENTS...
run() {
    local expected=$1 what=$2 program=$3 words code=0
    shift 3
    read -ra words <<<"$*"
    wine "$program" "${words[@]}" >/dev/null 2>&1 || code=$?
    [ "$code" -eq $((expected % 256)) ] || { echo "$what: exit code $code, expected $expected (low byte $((expected % 256)))"; return 1; }
    echo "$what: exit code $expected"
}

# Runs the uninstall entry's QuietUninstallString as a deployment tool does
# and checks its whole exit code.
quiet_uninstall() {
    local expected=$1 what=$2 said
    said=$(wine 'C:\runentry.exe' apesrc QuietUninstallString 2>&1 | tr -d '\r' | tail -n 1) || true
    [ "$said" = "exit code $expected" ] || { echo "$what: $said, expected exit code $expected"; return 1; }
    echo "$what: $said"
}

# A value of a key in a view, or nothing.
value() {
    wine reg query "$1" /v "$2" "/reg:$3" 2>/dev/null | tr -d '\r' | sed -n "s/^    $2    REG_[A-Z_]*    //p"
}

present() {
    wine reg query "$1" "/reg:$2" >/dev/null 2>&1
}

# Checks what an installation in FOLDER of VERSION wrote, for the widths the
# prefix has.
#   installed FOLDER VERSION WIDTH...
installed() {
    local folder=$1 version=$2 registry width class name expected
    shift 2
    expected=("DisplayName|apesrc $version (Monkey's Audio for DirectShow, Media Foundation and Explorer)"
        "DisplayVersion|$version" "Publisher|The apesrc authors" "DisplayIcon|$folder\\uninstall.exe,0"
        "InstallLocation|$folder" "UninstallString|\"$folder\\uninstall.exe\""
        "QuietUninstallString|\"C:\\windows\\System32\\cmd.exe\" /d /c copy /y \"$folder\\uninstall.exe\" \"%TEMP%\\apesrc-uninstall.exe\" >nul && \"%TEMP%\\apesrc-uninstall.exe\" /S _?=$folder"
        "NoModify|0x1" "NoRepair|0x1")
    for pair in "${expected[@]}"; do
        name=${pair%%|*}
        [ "$(value "$uninstall_key" "$name" "$view")" = "${pair#*|}" ] ||
            { echo "uninstall entry: $name is '$(value "$uninstall_key" "$name" "$view")', expected '${pair#*|}'"; return 1; }
    done
    # Explorer's own figure: the folder's size in KiB.
    local size expected_size
    size=$(($(value "$uninstall_key" EstimatedSize "$view")))
    expected_size=$(find "$(unix "$folder")" -type f -printf '%s\n' | awk '{ s += $1 } END { print int(s / 1024) }')
    [ $((size - expected_size)) -le 1 ] && [ $((expected_size - size)) -le 1 ] ||
        { echo "uninstall entry: EstimatedSize $size KiB, the folder holds $expected_size KiB"; return 1; }
    if [ "$view" = 64 ] && present "$uninstall_key" 32; then
        echo "an uninstall entry in the 32-bit view as well"
        return 1
    fi
    for width in "$@"; do
        registry=64
        [ "$width" = x64 ] || registry=32
        for class in "${classes[@]}"; do
            name=$(wine reg query "HKLM\\Software\\Classes\\CLSID\\$class\\InprocServer32" /ve "/reg:$registry" 2>/dev/null |
                tr -d '\r' | sed -n 's/^.*REG_SZ[[:space:]]*//p')
            case $name in
            "$folder\\$width\\"*) ;;
            *) echo "the $registry-bit view names '$name' for $class"; return 1 ;;
            esac
        done
        present "$thumbnail_key" "$registry" || { echo "no thumbnail handler for .ape in the $registry-bit view"; return 1; }
    done
    echo "installed: version $version in $folder, uninstall entry and registration of $* as expected"
}

# Whether the system PATH names FOLDER.
on_path() {
    case ";$(value "$environment_key" Path "$view");" in
    *";$1;"*) return 0 ;;
    *) return 1 ;;
    esac
}

unix() {
    winepath -u "$1" 2>/dev/null
}

# Both engines of each width's apeplay must give ffmpeg's decode.
plays() {
    local folder=$1 width engine ours
    shift
    for width in "$@"; do
        for engine in dshow mf; do
            rm -f "$WINEPREFIX/drive_c/demo.wav"
            wine "$folder\\$width\\apeplay.exe" --engine "$engine" --wav 'C:\demo.wav' 'C:\demo.ape' >/dev/null 2>&1 ||
                { echo "the installed $width apeplay --engine $engine failed"; return 1; }
            ours=$(ffmpeg -nostdin -v error -i "$WINEPREFIX/drive_c/demo.wav" -f s16le - | md5sum | cut -c1-32)
            [ "$ours" = "$theirs" ] || { echo "$width apeplay --engine $engine: $ours, ffmpeg: $theirs"; return 1; }
        done
    done
    echo "the installed apeplay of $* plays the demo as ffmpeg decodes it, through DirectShow and Media Foundation"
}

# The property handler registered for .ape, asked as Explorer asks it, must
# give ffprobe's duration and rate of the demo.
answers() {
    local properties
    properties=$(wine 'C:\propertyprobe.exe' 'C:\demo.ape' 2>&1 | tr -d '\r')
    [ "$properties" = "$(awk -v d="$duration" 'BEGIN { printf "%.0f", d * 10000000 }') $rate" ] ||
        { echo "the property handler gives '$properties' for the demo"; return 1; }
    echo "the property handler registered for .ape gives the demo's duration and rate: $properties"
}

# Nothing of ours is left in any view, nor the folder; the PATH is as before.
#   removed FOLDER PATH_BEFORE VIEW...
removed() {
    local folder=$1 path=$2 registry key pair
    shift 2
    [ ! -e "$(unix "$folder")" ] || { echo "left after uninstalling: $(find "$(unix "$folder")")"; return 1; }
    for registry in "$@"; do
        for key in "${keys[@]}" "$uninstall_key"; do
            ! present "$key" "$registry" || { echo "left after uninstalling: $key ($registry-bit view)"; return 1; }
        done
        for pair in "${values[@]}"; do
            wine reg query "${pair%%|*}" /v "${pair#*|}" "/reg:$registry" >/dev/null 2>&1 &&
                { echo "left after uninstalling: ${pair%%|*} ${pair#*|} ($registry-bit view)"; return 1; }
        done
    done
    [ "$(value "$environment_key" Path "$view")" = "$path" ] ||
        { echo "the PATH was '$path', is '$(value "$environment_key" Path "$view")'"; return 1; }
    echo "uninstalled: no file, key, value or PATH entry of ours left in the views $*"
}

# ---- 64-bit Windows
prefix 64
cp "$versioninfo" "$WINEPREFIX/drive_c/versioninfo.exe"
described=$(wine 'C:\versioninfo.exe' 'C:\setup.exe' | tr -d '\r')
echo "$described"
[ "$described" = "C:\\setup.exe $version $version $version.0 apesrc-$version-setup.exe" ]

folder='C:\Program Files\apesrc (test)'
# Values that are not ours beside ours: uninstalling keeps them.
wine reg add 'HKLM\Software\Microsoft\MediaPlayer\Player\Extensions\Types' /v '{00000000-1111-2222-3333-444444444444}' \
    /d '*.xyz' /f /reg:64 >/dev/null 2>&1
path_before=$(value "$environment_key" Path "$view")

run 0 "install into '$folder'" 'C:\setup.exe' /S "/D=$folder"
installed "$folder" "$version" x64 x86
on_path "$folder\\x64" || { echo "the PATH lacks $folder\\x64"; exit 1; }
plays "$folder" x64 x86
answers

# A module whose class is registered but whose file is gone cannot be
# unregistered: the uninstaller says so in its exit code and removes nothing.
mv "$(unix "$folder\\x64\\apemf.dll")" "$work/apemf.dll"
quiet_uninstall 2 "uninstall without x64\\apemf.dll"
[ "$(value "$uninstall_key" DisplayVersion "$view")" = "$version" ] || { echo "the failed uninstallation removed its entry"; exit 1; }
[ -f "$(unix "$folder\\x64\\apeplay.exe")" ] || { echo "the failed uninstallation deleted files"; exit 1; }
mv "$work/apemf.dll" "$(unix "$folder\\x64\\apemf.dll")"
quiet_uninstall 0 "uninstall through the QuietUninstallString"
removed "$folder" "$path_before" 64 32
wine reg query 'HKLM\Software\Microsoft\MediaPlayer\Player\Extensions\Types' /v '{00000000-1111-2222-3333-444444444444}' \
    /reg:64 >/dev/null 2>&1 || { echo "uninstalling removed a value that is not ours"; exit 1; }

# Again, into the default folder, twice.
default='C:\Program Files\apesrc'
run 0 "install again" 'C:\setup.exe' /S
installed "$default" "$version" x64 x86
run 0 "install the same version again" 'C:\setup.exe' /S
installed "$default" "$version" x64 x86
[ "$(value "$environment_key" Path "$view")" = "$path_before;$default\\x64" ] ||
    { echo "the PATH after two installations: $(value "$environment_key" Path "$view")"; exit 1; }
quiet_uninstall 0 uninstall
removed "$default" "$path_before" 64 32

# An upgrade goes where the older version is, and a downgrade is refused.
run 0 "install $older" 'C:\older-setup.exe' /S "/D=$folder"
installed "$folder" "$older" x64 x86
run 0 "upgrade to $version" 'C:\setup.exe' /S
installed "$folder" "$version" x64 x86
[ "$(value "$environment_key" Path "$view")" = "$path_before;$folder\\x64" ] ||
    { echo "the PATH after the upgrade: $(value "$environment_key" Path "$view")"; exit 1; }
run 1638 "downgrade to $older" 'C:\older-setup.exe' /S
installed "$folder" "$version" x64 x86
plays "$folder" x64

# A player holds the x64 filter: the setup puts the new one in its place at
# the restart and says so in its exit code.
cp "$holdmodule" "$WINEPREFIX/drive_c/holdmodule.exe"
rm -f "$WINEPREFIX/drive_c/release"
wine 'C:\holdmodule.exe' "$folder\\x64\\apesrc.dll" 'C:\release' >"$work/hold.log" 2>&1 &
holder=$!
for _ in $(seq 100); do grep -q holding "$work/hold.log" && break; sleep 0.2; done
grep -q holding "$work/hold.log" || { cat "$work/hold.log"; exit 1; }
code=0
wine 'C:\setup.exe' /S >/dev/null 2>&1 || code=$?
pending=$(wine reg query 'HKLM\System\CurrentControlSet\Control\Session Manager' /v PendingFileRenameOperations 2>/dev/null |
    tr -d '\r' | sed -n 's/^.*REG_MULTI_SZ[[:space:]]*//p')
echo "with the module in use: exit code $code (low byte of 3010); waiting for the restart: $pending"
[ "$code" -eq $((3010 % 256)) ]
[ -f "$(unix "$folder\\x64\\apesrc.dll.new")" ] || { echo "no replacement beside the module in use"; exit 1; }
grep -qF '\??\'"$folder"'\x64\apesrc.dll.new\0!\??\'"$folder"'\x64\apesrc.dll' <<<"$pending" ||
    { echo "the replacement is not to take the module's place at the restart"; exit 1; }
touch "$WINEPREFIX/drive_c/release"
wait "$holder"
# Wine's restart, which carries out the pending renames.
wineserver -w
wineboot -r >/dev/null 2>&1
wineserver -w
[ ! -e "$(unix "$folder\\x64\\apesrc.dll.new")" ] || { echo "the replacement is still waiting after the restart"; exit 1; }
cmp "$(unix "$folder\\x64\\apesrc.dll")" "$package_work/build1/x64/monkeysaudio/apesrc.dll"
echo "the module in use was replaced at the restart"
installed "$folder" "$version" x64 x86
plays "$folder" x64
quiet_uninstall 0 uninstall
removed "$folder" "$path_before" 64 32
wineserver -k || true

# ---- 32-bit Windows: the x86 modules only, in the one view. Its PATH fits
# the setup's strings (1,024 characters) but would not with the tools'
# folder added: written back, it would be cut short, so the setup must leave
# it as it is.
prefix 32
long_path=$(value "$environment_key" Path "$view")
for n in $(seq 200); do
    [ ${#long_path} -lt 1000 ] || break
    long_path+=$(printf ';C:\\Tools\\%04d' "$n")
done
wine reg add "$environment_key" /v Path /t REG_EXPAND_SZ /d "$long_path" /f >/dev/null 2>&1
[ "$(value "$environment_key" Path "$view")" = "$long_path" ]
run 0 "install on 32-bit Windows" 'C:\setup.exe' /S
installed "$default" "$version" x86
[ "$(value "$environment_key" Path "$view")" = "$long_path" ] ||
    { echo "the setup changed a PATH it cannot hold: $(value "$environment_key" Path "$view")"; exit 1; }
[ ! -e "$(unix "$default\\x64")" ] || { echo "x64 files on 32-bit Windows"; exit 1; }
plays "$default" x86
answers
quiet_uninstall 0 "uninstall on 32-bit Windows"
removed "$default" "$long_path" 32
echo "a PATH of ${#long_path} characters is left as it was"
echo "setup: installs, upgrades, refuses a downgrade and uninstalls cleanly on 64-bit and 32-bit Windows ($((SECONDS - started)) s)"
