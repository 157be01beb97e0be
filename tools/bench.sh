#!/usr/bin/env bash
# Decode benchmark: our decoder (host, optimised) and MACDllC.dll (under
# Wine) against ffmpeg's decoder on the same files, per compression level.
# The table also times the x64 MACDllC.dll, in the x64 build's prefix.
# Prints figures; it asserts nothing.
# Usage: tools/bench.sh [--seconds N] [--runs N]
#        tools/bench.sh --table [--seconds N] [--runs N] [--only NAME]
#   --table: the speed table over many kinds of material and the real
#   recordings of ../shared/real-ape (60 s each unless --seconds says less;
#   the encoded files stay in build/bench and are reused).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)

"$root/tools/setup.sh"
"$root/tools/build.sh" windows
table=false
for arg in "$@"; do [ "$arg" = --table ] && table=true; done
$table && "$root/tools/build.sh" windows64
cmake -S "$root" -B "$root/build/release" -DCMAKE_BUILD_TYPE=Release >"$root/build/release.configure.log" 2>&1
cmake --build "$root/build/release" -j"$jobs" --target codecbench codecbench_table

# --table picks the table's own program; the other options pass through.
program=codecbench
args=()
extra=()
for arg in "$@"; do
    if [ "$arg" = --table ]; then
        program=codecbench_table
        mkdir -p "$root/build/bench"
        extra+=(--dir "$root/build/bench")
        [ -d "$root/../shared/real-ape" ] && extra+=(--real "$(cd "$root/../shared/real-ape" && pwd)")
        extra+=(--dll64-bench "$root/build/windows64/tools/codecbench/codecbench_dll.exe"
            --dll64-prefix "$root/build/windows64/wine/prefix"
            --dll64-loader "$(. "$root/build/windows64/wine/environment" && echo "$APESRC_WINE")")
    else
        args+=("$arg")
    fi
done

windows="$root/build/windows"
export HOME="$windows/wine/home" WINEPREFIX="$windows/wine/prefix" WINEDEBUG=-all
# Each prefix exists already and keeps its own width.
unset WINEARCH
if (. "$windows/wine/environment" && [ "$APESRC_RUNS_X86" = 1 ]); then
    extra+=(--dll-bench "$windows/tools/codecbench/codecbench_dll.exe")
else
    echo "This machine does not run 32-bit x86 programs: no figures for the 32-bit MACDllC.dll."
fi
exec "$root/build/release/tools/codecbench/$program" "${extra[@]}" "${args[@]}"
