#!/usr/bin/env bash
# Decode benchmark: our decoder (host, optimised) and MACDllC.dll (under
# Wine) against ffmpeg's decoder on the same files, per compression level.
# Prints figures; it asserts nothing. Usage: tools/bench.sh [--seconds N] [--runs N]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)

"$root/tools/setup.sh"
"$root/tools/build.sh" windows
cmake -S "$root" -B "$root/build/release" -DCMAKE_BUILD_TYPE=Release >"$root/build/release.configure.log" 2>&1
cmake --build "$root/build/release" -j"$jobs" --target codecbench

windows="$root/build/windows"
export HOME="$windows/wine/home" WINEPREFIX="$windows/wine/prefix" WINEARCH=win32 WINEDEBUG=-all
exec "$root/build/release/tools/codecbench/codecbench" \
    --dll-bench "$windows/tools/codecbench/codecbench_dll.exe" "$@"
