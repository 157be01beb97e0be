#!/usr/bin/env bash
# A fuzzing campaign: runs one fuzz target of the host build for MINUTES,
# seeded with the real files of ../shared/real-ape, the generated corpus of
# build/host/corpus (written by a test run) and the regression inputs. The
# corpus it grows persists in build/host/fuzz/TARGET/corpus, so a campaign
# goes on where the last one stopped; an input that fails is kept in
# build/host/fuzz/TARGET/findings. Prints inputs run, inputs a second,
# coverage (edges) at the start and the end, and findings; exits non-zero on
# a finding. The fuzzer's own output goes to build/host/fuzz/TARGET/last-run.log.
# An interrupt (Ctrl-C, or SIGINT to the fuzzer) ends a campaign early with
# its figures.
#   tools/fuzz.sh [--jobs N] TARGET MINUTES     (after tools/build.sh host)
# Targets: ape_fuzzer, ape_deep_fuzzer, ape_tag_fuzzer, ape_props_fuzzer,
# ape_picture_fuzzer, ape_cue_fuzzer (seeded with the sheets of tests/codec/fuzz/cue-seeds).
# It takes one core, or N with --jobs: one campaign over one corpus, its
# inputs run by N processes side by side (libFuzzer's fork mode), for a slow
# target that needs hours of one core. On a shared machine run it under nice.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=1
if [ "${1:-}" = --jobs ] && [[ ${2:-} =~ ^[1-9][0-9]*$ ]]; then
    jobs=$2
    shift 2
fi
if [ $# -ne 2 ] || ! [[ $2 =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: tools/fuzz.sh [--jobs N] TARGET MINUTES" >&2
    exit 2
fi
target=$1 minutes=$2
build=$root/build/host
fuzzer=$build/tests/codec/fuzz/$target
if [ ! -x "$fuzzer" ]; then
    echo "no fuzz target $fuzzer: run tools/build.sh host first" >&2
    exit 2
fi
seeding=()
case $target in ape_tag_fuzzer | ape_picture_fuzzer) seeding=(--seed-ends) ;; esac
forking=()
[ "$jobs" -eq 1 ] || forking=(-fork="$jobs")
work=$build/fuzz/$target
log=$work/last-run.log
mkdir -p "$work"
started=$work/.started
touch "$started"
echo "fuzzing $target for $minutes min in $jobs process(es); log: $log"
# The fuzzer prints its figures on an interrupt; this script goes on to
# report them.
trap : INT
status=0
if [ "$target" = ape_cue_fuzzer ]; then
    "$root/tests/codec/fuzz/run-fuzzer.sh" --seeds "$root/tests/codec/fuzz/cue-seeds" "$fuzzer" $((minutes * 60)) \
        "$work" "${forking[@]}" >"$log" 2>&1 || status=$?
else
    "$root/tests/codec/fuzz/run-fuzzer.sh" "${seeding[@]}" "$fuzzer" $((minutes * 60)) "$work" "$build/corpus" \
        "$root/../shared/real-ape" "${forking[@]}" >"$log" 2>&1 || status=$?
fi

final() { sed -n "s/^stat::$1: *//p" "$log" | tail -n 1; }
coverage() { grep -oE "$1.*cov: [0-9]+" "$log" | sed 's/.*cov: //' | "$2" -n 1; }
if [ "$jobs" -eq 1 ]; then
    inputs=$(final number_of_executed_units) rate=$(final average_exec_per_sec)
    covered="coverage (edges):  $(coverage INITED head) at the start, $(coverage '#' tail) at the end"
else
    # The forked processes keep their own statistics (and an interrupted one
    # prints them into the log); the campaign's are in the parent's progress
    # lines ("#RUNS: cov: ... time: SECONDSs"). Fork mode counts the covered
    # points of the merged corpus, a larger figure than a single process's
    # edges.
    progress=$(grep -E '^#[0-9]+: cov:' "$log" | tail -n 1)
    inputs=$(sed -n 's/^#\([0-9]*\):.*/\1/p' <<<"$progress")
    seconds=$(sed -n 's/.* time: \([0-9]*\)s.*/\1/p' <<<"$progress")
    rate=$(( ${inputs:-0} / (${seconds:-0} > 0 ? seconds : 1) ))
    covered="coverage (points): $(coverage '^#[0-9]+:' head) after the first job, $(coverage '^#[0-9]+:' tail) at the end"
fi
# Inputs slower than libFuzzer's 10 s report are noted, not faults.
findings=$(find "$work/findings" -type f -newer "$started" ! -name 'slow-unit-*' | sort)
slow=$(find "$work/findings" -type f -newer "$started" -name 'slow-unit-*' | wc -l)
echo "inputs run:        ${inputs:-0}"
echo "inputs per second: $rate"
echo "$covered"
echo "corpus:            $(find "$work/corpus" -type f | wc -l) inputs in $work/corpus"
[ "$slow" -eq 0 ] || echo "slow inputs:       $slow (over 10 s each) in $work/findings"
if [ -n "$findings" ]; then
    echo "findings:"
    printf '  %s\n' $findings
    grep -m 1 -A 3 -E 'runtime error|ERROR: (AddressSanitizer|libFuzzer|LeakSanitizer)' "$log" | sed 's/^/  /' || true
else
    echo "findings:          none"
fi
# After an interrupt libFuzzer exits with 72 in one process and with another
# non-zero status in fork mode; an input that failed is a finding in either.
if [ "$status" -ne 0 ] && [ -z "$findings" ] && grep -q 'run interrupted' "$log"; then
    echo "interrupted before the time was up"
    status=0
fi
if [ "$status" -ne 0 ] || [ -n "$findings" ]; then
    echo "the fuzzer stopped with status $status; the whole output is in $log" >&2
    exit 1
fi
