#!/usr/bin/env bash
# Runs apeplay.exe under Wine in the build's private prefix, in the same
# environment as the tests: private HOME whose ALSA configuration sends sound
# to a null device, no Mono or Gecko, no Wine debug output. Registers the
# apesrc.dll (and apemf.dll) beside apeplay.exe in that prefix first unless
# the prefix already names exactly that file as the class's server.
#   tools/apeplay.sh [--engine dshow|mf] [--start SECONDS | --track N] [--wav OUT.wav] [--info | --tracks] [--help] FILE.ape
# Absolute Unix paths among the arguments are handed over as Z: paths;
# relative ones work as they are.
# APEPLAY_BUILD names another Windows build tree (default build/windows;
# build/windows64 for the x64 player and filter);
# APEPLAY_DIR another folder holding apeplay.exe, apesrc.dll and MACDllC.dll.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# Wine takes only an absolute WINEPREFIX.
build=$(realpath -m "${APEPLAY_BUILD:-$root/build/windows}")
dir=${APEPLAY_DIR:-$build/tools/apeplay}
class='{6E2B9F14-8C3D-4A57-9D21-5F0A7C3E1B92}'
mf_class='{5847B50A-C1AF-4075-B2D2-D8D58B15E25D}'

if [ ! -f "$dir/apeplay.exe" ] || [ ! -f "$dir/apesrc.dll" ]; then
    echo "apeplay: no apeplay.exe and apesrc.dll in $dir; build first (tools/build.sh windows)" >&2
    exit 1
fi
if [ ! -f "$build/wine/prefix/system.reg" ]; then
    if (. "$build/wine/environment" 2>/dev/null && [ "$APESRC_RUNS_X86" = 0 ]); then
        echo "apeplay: this machine does not run 32-bit x86 programs; APEPLAY_BUILD=build/windows64 plays with the x64 build" >&2
    else
        echo "apeplay: no Wine prefix in $build/wine/prefix; build first (tools/build.sh windows)" >&2
    fi
    exit 1
fi

export HOME=$build/wine/home
export WINEPREFIX=$build/wine/prefix
# The prefix exists already; its own width (32-bit, or 64-bit for
# build/windows64) decides, so no WINEARCH is given.
unset WINEARCH
export WINEDEBUG=-all
export WINEDLLOVERRIDES='mscoree,mshtml='
export DISPLAY=

# In a 64-bit prefix `wine` starts the 32-bit reg and regsvr32 (it picks
# its loader by the program, and finds those two in the 32-bit system
# folder); the 64-bit loader starts the 64-bit ones, which see the 64-bit
# registry view that the x64 player reads, and the player itself.
loader=wine
if grep -q '^#arch=win64' "$WINEPREFIX/system.reg"; then
    loader=$(command -v wine64 || echo /usr/lib/wine/wine64)
fi

windows_path() {
    local path=$1
    printf 'Z:%s' "${path//\//\\}"
}

# Each module beside apeplay.exe, registered unless the prefix already names
# exactly that file as its class's server: the DirectShow source, and the
# Media Foundation handler that --engine mf finds by the file's extension.
register() {
    local server registered
    server=$(windows_path "$(cd "$dir" && pwd)/$1")
    registered=$("$loader" reg query "HKCR\\CLSID\\$2\\InprocServer32" /ve 2>/dev/null |
        tr -d '\r' | sed -n 's/^.*REG_SZ[[:space:]]*//p' || true)
    if [ "${registered,,}" != "${server,,}" ]; then
        if ! "$loader" regsvr32 /s "$server" >/dev/null 2>&1; then
            echo "apeplay: regsvr32 could not register $server in $WINEPREFIX" >&2
            exit 1
        fi
    fi
}
register apesrc.dll "$class"
[ ! -f "$dir/apemf.dll" ] || register apemf.dll "$mf_class"

arguments=()
for argument in "$@"; do
    case $argument in
    /*) arguments+=("$(windows_path "$argument")") ;;
    *) arguments+=("$argument") ;;
    esac
done
# winealsa reports its missing MIDI sequencer on every start of the sound
# system; that line says nothing about playing and is left out.
# Only the error output goes through the filter; the progress line keeps
# its way to the terminal.
{ "$loader" "$dir/apeplay.exe" "${arguments[@]}" 2>&1 1>&3 3>&- | { grep -v '^ALSA lib seq_hw\.c:.*snd_seq_hw_open' || true; } >&2; } 3>&1
exit "${PIPESTATUS[0]}"
