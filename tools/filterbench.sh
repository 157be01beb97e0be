#!/usr/bin/env bash
# Filter benchmark: playback throughput, seek latency and memory of apesrc.dll
# through Wine's graph, against the codec's own decode in the same run.
# Builds what is missing, runs under Wine in the build's private prefix,
# prints figures; it asserts nothing.
# Usage: tools/filterbench.sh [--seconds N] [--runs N] [--seeks N] [--repeats N]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
windows="$root/build/windows"

if [ ! -f "$windows/CMakeCache.txt" ]; then
    "$root/tools/build.sh" windows
fi
cmake --build "$windows" -j"$(nproc)" --target filterbench wineprefix >/dev/null

export HOME="$windows/wine/home" WINEPREFIX="$windows/wine/prefix" WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
exec wine "$windows/tools/filterbench/filterbench.exe" "$@"
