#!/usr/bin/env bash
# Runs a fuzz target for a bounded time, seeded with the regression inputs
# beside this script, the generated corpus, the real sample files and
# old-version variants of one of them. The corpus it grows stays in
# WORKDIR/corpus for the next run; an input that fails is written to
# WORKDIR/findings. Exits with the fuzzer's status: non-zero on a finding,
# including a regression input that fails again.
#   run-fuzzer.sh [--seed-ends] FUZZER SECONDS WORKDIR CORPUSDIR REALDIR [FUZZER-FLAG]...
#   run-fuzzer.sh --seeds SEEDDIR FUZZER SECONDS WORKDIR [FUZZER-FLAG]...
# --seed-ends seeds with the files' last bytes (for a target that reads what
# ends a file, its tags) instead of their first. --seeds takes the seeds of
# a target that reads no .ape file (the cue-sheet reader) from SEEDDIR.
set -euo pipefail
cut=head
if [ "${1:-}" = --seed-ends ]; then
    cut=tail
    shift
fi
if [ "${1:-}" = --seeds ]; then
    seeds=$2 fuzzer=$3 seconds=$4 work=$5
    shift 5
    mkdir -p "$work/corpus" "$work/findings"
    exec "$fuzzer" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=1024 -max_len=65536 \
        -print_final_stats=1 -artifact_prefix="$work/findings/" "$@" "$work/corpus" "$seeds"
fi
fuzzer=$1 seconds=$2 work=$3 corpus=$4 real=$5
shift 5
regressions=$(cd "$(dirname "$0")" && pwd)/regressions
seeds=$work/seeds
rm -rf "$seeds"
mkdir -p "$work/corpus" "$work/findings" "$seeds"
for f in "$corpus"/*.ape "$real"/*.ape; do
    [ -e "$f" ] || continue
    # Large files only slow each run down; their first 48 KiB still reach the
    # frames, their last 48 KiB hold the tags.
    "$cut" -c 49152 "$f" > "$seeds/$(basename "$f")"
done
# The 3940 sample relabelled with older versions drives the older frame decoders.
old=$real/atl-v394.ape
if [ "$cut" = head ] && [ -e "$old" ]; then
    for v in '\x3c\x0f' '\x28\x0f' '\x14\x0f' '\xf6\x0e' '\xd8\x0e'; do
        out=$seeds/old-$(printf '%s' "$v" | tr -d '\\x').ape
        head -c 49152 "$old" > "$out"
        printf "$v" | dd of="$out" bs=1 seek=4 conv=notrunc status=none
    done
fi
exec "$fuzzer" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=1024 -max_len=65536 \
    -print_final_stats=1 -artifact_prefix="$work/findings/" "$@" "$work/corpus" "$seeds" "$regressions"
