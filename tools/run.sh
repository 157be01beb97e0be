#!/usr/bin/env bash
# The main job: installs what is missing, builds everything, then decodes the
# demo sample with the codec and checks the result against ffmpeg's decode.
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
echo "The demo sample, as the codec reads it:"
"$root/build/host/tools/apedec/apedec" --info "$sample" | sed 's/^/  /'
"$root/build/host/tools/apedec/apedec" "$sample" "$wav"
echo
ours=$(ffmpeg -v error -i "$wav" -f s16le - | md5sum | cut -d' ' -f1)
theirs=$(ffmpeg -v error -threads 1 -i "$sample" -f s16le - | md5sum | cut -d' ' -f1)
echo "Decoded to ${wav#"$root"/}: PCM md5 $ours"
echo "ffmpeg's own decode:       PCM md5 $theirs"
if [ "$ours" = "$theirs" ]; then
    echo "Bit-exact."
else
    echo "The decodes differ." >&2
    exit 1
fi
