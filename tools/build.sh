#!/usr/bin/env bash
# Configures and builds the builds of this tree:
#   build/windows    apesrc.dll, MACDllC.dll, tools and tests for 32-bit Windows (run under Wine)
#   build/windows64  the same for 64-bit Windows (x64), run in a 64-bit Wine prefix
#   build/host     the portable codec core, its tools, tests and fuzzer, with
#                  AddressSanitizer and UndefinedBehaviorSanitizer (clang)
#   build/host32   the same core and its tests as 32-bit x86 Linux programs,
#                  run under qemu's user-mode emulator (tools/test.sh builds it
#                  where the kernel refuses 32-bit programs)
# Usage: tools/build.sh [windows|windows64|host|host32]...   (the first three when none is named)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)

configure_and_build() {
    local dir=$1; shift
    cmake -S "$root" -B "$dir" "$@" >"$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; return 1; }
    cmake --build "$dir" -j"$jobs"
}

mkdir -p "$root/build"
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(windows windows64 host)
for target in "${targets[@]}"; do
    case $target in
    windows) configure_and_build "$root/build/windows" -DCMAKE_TOOLCHAIN_FILE="$root/tools/cmake/mingw-i686.cmake" -DCMAKE_BUILD_TYPE=RelWithDebInfo ;;
    windows64) configure_and_build "$root/build/windows64" -DCMAKE_TOOLCHAIN_FILE="$root/tools/cmake/mingw-x86_64.cmake" -DCMAKE_BUILD_TYPE=RelWithDebInfo ;;
    host32) configure_and_build "$root/build/host32" -DCMAKE_TOOLCHAIN_FILE="$root/tools/cmake/linux-i686.cmake" -DCMAKE_BUILD_TYPE=RelWithDebInfo ;;
    host) configure_and_build "$root/build/host" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DAPE_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo ;;
    *) echo "unknown build: $target" >&2; exit 2 ;;
    esac
done
