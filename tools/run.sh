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

echo
echo "Built for 32-bit Windows (build/windows):"
find "$root/build/windows" -maxdepth 3 \( -name '*.dll' -o -name '*.exe' \) ! -path '*/CMakeFiles/*' \
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
