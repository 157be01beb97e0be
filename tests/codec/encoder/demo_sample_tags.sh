#!/usr/bin/env bash
# The demo sample: ffmpeg decodes it without error, and ffprobe shows every
# tag item it was given, the non-ASCII title intact.
#   demo_sample_tags.sh APECORPUS OUT.ape
set -euo pipefail
apecorpus=$1
out=$2
"$apecorpus" --demo "$out"
errors=$(ffmpeg -nostdin -v error -err_detect crccheck+explode -i "$out" -f null - 2>&1)
[ -z "$errors" ] || { echo "ffmpeg reported: $errors"; exit 1; }
tags=$(ffprobe -v error -show_entries format_tags -of default=nw=1 "$out")
status=0
for expected in "TAG:Artist=The Sine Wave Ensemble" "TAG:Title=Étude für Obertöne" "TAG:Genre=Ambient" \
    "TAG:Notes=" "TAG:Copyright=Public domain" "TAG:File URL=https://example.org/apesrc/demo.ape"; do
    if ! grep -qF -- "$expected" <<<"$tags"; then
        echo "missing: $expected"
        status=1
    fi
done
[ $status -eq 0 ] && echo "demo sample: $(stat -c %s "$out") bytes, tags shown by ffprobe"
[ $status -eq 0 ] || { echo "ffprobe showed:"; echo "$tags"; }
exit $status
