#!/usr/bin/env bash
# Decodes every file of the test corpus with the ffmpeg binary, which shares
# no code with ours, and requires exactly the source PCM with every frame CRC
# checked and nothing on ffmpeg's error output.
#   ffmpeg_decodes_corpus.sh CORPUSDIR
set -uo pipefail
dir=${1:?usage: ffmpeg_decodes_corpus.sh CORPUSDIR}
[ -s "$dir/corpus.tsv" ] || { echo "no corpus manifest in $dir"; exit 1; }

check() {
    local dir=$1 name=$2 bits=$3 format errors
    case $bits in
        8) format=u8 ;;
        16) format=s16le ;;
        24) format=s24le ;;
        *) echo "FAIL $name: unexpected depth $bits"; return 0 ;;
    esac
    errors=$(ffmpeg -nostdin -v error -threads 1 -err_detect crccheck+explode -i "$dir/$name.ape" \
        -f "$format" - 2>&1 >"$dir/$name.ffmpeg" | head -c 300)
    if [ -n "$errors" ]; then
        echo "FAIL $name: ffmpeg reported: ${errors//$'\n'/ }"
    elif ! cmp -s "$dir/$name.ffmpeg" "$dir/$name.pcm"; then
        echo "FAIL $name: decoded PCM differs from the source ($(cmp "$dir/$name.ffmpeg" "$dir/$name.pcm" 2>&1 | head -n 1))"
    else
        rm -f "$dir/$name.ffmpeg"
        echo "ok $name"
    fi
}
export -f check

results=$(tail -n +2 "$dir/corpus.tsv" | cut -f1,5 | tr '\t' ' ' |
    xargs -P 2 -n 2 bash -c 'check "$0" "$1" "$2"' "$dir")
total=$(grep -c . <<<"$results")
failures=$(grep '^FAIL' <<<"$results")
if [ -n "$failures" ]; then
    echo "$failures"
    echo "$(grep -c . <<<"$failures") of $total corpus files do not decode to their source PCM with ffmpeg"
    exit 1
fi
echo "all $total corpus files decode to their source PCM with ffmpeg"
