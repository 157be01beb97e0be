#!/usr/bin/env bash
# Runs the decoder fuzzer for a bounded time, seeded with the generated corpus,
# the real sample files and old-version variants of one of them.
#   run-fuzzer.sh FUZZER SECONDS WORKDIR CORPUSDIR REALDIR
set -euo pipefail
fuzzer=$1 seconds=$2 work=$3 corpus=$4 real=$5
seeds=$work/seeds
mkdir -p "$work/found" "$seeds"
for f in "$corpus"/*.ape "$real"/*.ape; do
    [ -e "$f" ] || continue
    # Large files only slow each run down; their first 48 KiB still reach the frames.
    head -c 49152 "$f" > "$seeds/$(basename "$f")"
done
# The 3940 sample relabelled with older versions drives the older frame decoders.
old=$real/atl-v394.ape
if [ -e "$old" ]; then
    for v in '\x3c\x0f' '\x28\x0f' '\x14\x0f' '\xf6\x0e' '\xd8\x0e'; do
        out=$seeds/old-$(printf '%s' "$v" | tr -d '\\x').ape
        head -c 49152 "$old" > "$out"
        printf "$v" | dd of="$out" bs=1 seek=4 conv=notrunc status=none
    done
fi
exec "$fuzzer" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=1024 -max_len=65536 \
    -print_final_stats=1 "$work/found" "$seeds"
