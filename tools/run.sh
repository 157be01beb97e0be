#!/usr/bin/env bash
# The main job: installs what is missing, builds everything, plays the demo
# sample through DirectShow with apeplay (under Wine, in the build's private
# prefix, sound going to a null device) with its progress shown, then
# converts it with apeplay --wav and checks the WAV against ffmpeg's decode.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
sample="$root/samples/demo.ape"
wav="$root/build/demo.wav"

"$root/tools/setup.sh"
"$root/tools/build.sh" windows host
build=windows
width="32-bit Windows"
# A kernel without 32-bit support starts no 32-bit program: the demo plays
# through the x64 build there.
if ! (. "$root/build/windows/wine/environment" && [ "$APESRC_RUNS_X86" = 1 ]); then
    echo "This machine does not run 32-bit x86 programs; the demo plays with the x64 build."
    "$root/tools/build.sh" windows64
    build=windows64
    width="64-bit Windows"
fi
export APEPLAY_BUILD=$root/build/$build

echo
echo "Built for $width (build/$build):"
find "$root/build/$build" -maxdepth 3 \( -name '*.dll' -o -name '*.exe' \) ! -path '*/CMakeFiles/*' \
    ! -path '*/wine/*' ! -path '*/tests/*' ! -path '*/googletest/*' | sed "s|^$root/|  |" | sort
echo
echo "Playing ${sample#"$root"/} with apeplay:"
(cd "$root" && tools/apeplay.sh samples/demo.ape)
echo
echo "Converting it with apeplay --wav:"
rm -f "$wav"
(cd "$root" && tools/apeplay.sh --wav build/demo.wav samples/demo.ape) | tail -n 1
echo
ours=$(ffmpeg -nostdin -v error -i "$wav" -f s16le - | md5sum | cut -d' ' -f1)
theirs=$(ffmpeg -nostdin -v error -threads 1 -i "$sample" -f s16le - | md5sum | cut -d' ' -f1)
echo "apeplay's WAV (${wav#"$root"/}): PCM md5 $ours"
echo "ffmpeg's own decode:          PCM md5 $theirs"
if [ "$ours" = "$theirs" ]; then
    echo "Bit-exact."
else
    echo "The decodes differ." >&2
    exit 1
fi
