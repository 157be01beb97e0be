#!/usr/bin/env bash
# Builds the release zip for Windows users: dist/apesrc-VERSION-win32.zip with
# the filter, its codec library, apeplay and apedec, install.cmd, README.txt
# and LICENSE.txt. The zip depends only on the commit: binaries carry no time
# stamps or build paths, and every file in it is dated with the commit's time.
#   tools/package.sh [--build DIR] [--out DIR]
#   tools/package.sh --check-reproducible   builds twice in fresh trees and compares
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/package
out=$root/dist

if [ "${1:-}" = "--check-reproducible" ]; then
    scratch=$(mktemp -d)
    trap 'rm -rf "$scratch"' EXIT
    for n in 1 2; do
        "$0" --build "$scratch/build$n" --out "$scratch/dist$n" >/dev/null
    done
    first=$(ls "$scratch/dist1"/*.zip)
    second=$(ls "$scratch/dist2"/*.zip)
    if cmp "$first" "$second"; then
        echo "package: two builds from the same commit give identical zips ($(basename "$first"), $(md5sum <"$first" | cut -c1-32))"
        exit 0
    fi
    mkdir "$scratch/a" "$scratch/b"
    (cd "$scratch/a" && unzip -q "$first") && (cd "$scratch/b" && unzip -q "$second")
    diff -r "$scratch/a" "$scratch/b" || true
    echo "package: the two builds differ" >&2
    exit 1
fi
while [ $# -gt 0 ]; do
    case $1 in
    --build) build=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    *) echo "usage: tools/package.sh [--build DIR] [--out DIR] | --check-reproducible" >&2; exit 2 ;;
    esac
done

"$root/tools/setup.sh"
mkdir -p "$build"
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/tools/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_SHARED_LINKER_FLAGS=-s -DCMAKE_EXE_LINKER_FLAGS=-s >"$build.configure.log" 2>&1 || { cat "$build.configure.log"; exit 1; }
cmake --build "$build" -j"$(nproc)" --target apesrc MACDllC apeplay apedec

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
stamp=$(git -C "$root" log -1 --format=%ct)
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
# Stripped by the linker: strip would stamp the current time into them.
for file in monkeysaudio/apesrc.dll codec/dll/MACDllC.dll tools/apeplay/apeplay.exe tools/apedec/apedec.exe; do
    cp "$build/$file" "$stage/"
done
cp "$root/tools/package/install.cmd" "$stage/"
# Notepad-friendly line ends for the texts.
sed "s/@VERSION@/$version/; s/\$/\r/" "$root/tools/package/README.txt" >"$stage/README.txt"
sed 's/$/\r/' "$root/LICENSE" >"$stage/LICENSE.txt"
touch -d "@$stamp" "$stage"/*

mkdir -p "$out"
zipfile=$out/apesrc-$version-win32.zip
rm -f "$zipfile"
# Zip stores local times: UTC keeps them the commit's everywhere.
(cd "$stage" && TZ=UTC zip -q -X -D "$zipfile" $(ls | LC_ALL=C sort))
echo "$zipfile"
