#!/usr/bin/env bash
# Soak: the graph storm (tools/graphstorm) N times for M seconds each, with
# fresh seeds, alternating our source with Wine's own WAV path (File Source
# and WAVE Parser) for the same audio, then a table of hangs, failures and
# calls per run for each. Builds what is missing, runs under Wine in the
# build's private prefix; it asserts nothing. Not part of the test suite.
# Usage: tools/soak.sh [--runs N] [--seconds M] [--load] [--first-seed S] [--build DIR]
#   --load   our source's threads also Load the same file now and then
#   --build  a copy of build/windows (its tools/graphstorm and wine folders)
#            to run from, so that the tree can be rebuilt meanwhile
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
windows="$root/build/windows"
runs=20
seconds=60
seed=1
load=()
while [ $# -gt 0 ]; do
    case $1 in
    --runs) runs=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --first-seed) seed=$2; shift 2 ;;
    --load) load=(--load); shift ;;
    --build) windows=$(cd "$2" && pwd); shift 2 ;;
    *) echo "usage: tools/soak.sh [--runs N] [--seconds M] [--load] [--first-seed S] [--build DIR]" >&2; exit 2 ;;
    esac
done

if [ -f "$windows/CMakeCache.txt" ]; then
    cmake --build "$windows" -j"$(nproc)" --target graphstorm wineprefix >/dev/null
elif [ "$windows" = "$root/build/windows" ]; then
    "$root/tools/build.sh" windows
    cmake --build "$windows" -j"$(nproc)" --target graphstorm wineprefix >/dev/null
fi

export HOME="$windows/wine/home" WINEPREFIX="$windows/wine/prefix" WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
log=$(mktemp)
trap 'rm -f "$log"' EXIT

# One run; appends "source seed result calls failed aborts detail" to $log.
storm() {
    local source=$1 run_seed=$2 output line
    local extra=()
    [ "$source" = ours ] && extra=("${load[@]}")
    # A hang ends the program itself after 15 s; the timeout only guards
    # against a graph that will not even let the program exit.
    output=$(timeout $((seconds + 120)) wine "$windows/tools/graphstorm/graphstorm.exe" storm --source "$source" \
        --seconds "$seconds" --seed "$run_seed" "${extra[@]}" 2>/dev/null || true)
    line=$(printf '%s\n' "$output" | grep '^result ' | tail -n 1)
    [ -n "$line" ] || line="result lost calls=0 failed=0 aborts=0"
    printf '%s %s %s\n' "$source" "$run_seed" "$line" | tee -a "$log"
    wineserver -k 2>/dev/null || true
}

for ((i = 0; i < runs; ++i)); do
    storm ours $((seed + i))
    storm wine $((seed + i))
done

echo
printf '%-6s %5s %5s %7s %7s %5s  %s\n' source runs hung failed aborts lost "calls per finished run (min/median/max)"
for source in ours wine; do
    rows=$(grep "^$source " "$log" || true)
    count() { printf '%s\n' "$rows" | grep -c "$1" || true; }
    calls=$(printf '%s\n' "$rows" | grep -v ' result \(hung\|lost\) ' | sed -n 's/.* calls=\([0-9]*\).*/\1/p' | sort -n)
    n=$(printf '%s\n' "$calls" | grep -c . || true)
    if [ "$n" -gt 0 ]; then
        spread="$(printf '%s\n' "$calls" | head -n 1)/$(printf '%s\n' "$calls" | sed -n "$(((n + 1) / 2))p")/$(printf '%s\n' "$calls" | tail -n 1)"
    else
        spread=-
    fi
    printf '%-6s %5s %5s %7s %7s %5s  %s\n' "$source" "$(count .)" "$(count ' result hung ')" \
        "$(count ' failed=[1-9]')" "$(count ' aborts=[1-9]')" "$(count ' result lost ')" "$spread"
done
