#!/usr/bin/env bash
# Builds what Windows users get, from the same files: the release zip,
# dist/apesrc-VERSION-windows.zip, with a folder for each width, x86\
# (32-bit players) and x64\ (64-bit players), each holding the modules, the
# codec library, apeplay and apedec, then install.cmd, uninstall.cmd,
# README.txt and LICENSE.txt; and the setup program,
# dist/apesrc-VERSION-setup.exe (tools/package/setup.nsi). Both depend only
# on the commit: binaries carry no time stamps or build paths, and every file
# is dated with the commit's time.
#   tools/package.sh [--build DIR] [--out DIR] [--version V]
#       DIR/x86 and DIR/x64 are the build trees; --version labels the package
#       V instead of the project's version (the binaries keep theirs): the
#       tests make an older setup with it
#   tools/package.sh --check-reproducible   builds twice in fresh trees and compares
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/package
out=$root/dist
version=

if [ "${1:-}" = "--check-reproducible" ]; then
    scratch=$(mktemp -d)
    trap 'rm -rf "$scratch"' EXIT
    for n in 1 2; do
        "$0" --build "$scratch/build$n" --out "$scratch/dist$n" >/dev/null
    done
    first=$(ls "$scratch/dist1"/*.zip)
    second=$(ls "$scratch/dist2"/*.zip)
    setup=$(basename "$scratch/dist1"/*-setup.exe)
    cmp "$scratch/dist1/$setup" "$scratch/dist2/$setup" ||
        { echo "package: the two builds give different setup programs" >&2; exit 1; }
    if cmp "$first" "$second"; then
        echo "package: two builds from the same commit give identical zips ($(basename "$first"), $(md5sum <"$first" | cut -c1-32))"
        echo "package: and identical setup programs ($setup, $(md5sum <"$scratch/dist1/$setup" | cut -c1-32))"
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
    --version) version=$2; shift 2 ;;
    *) echo "usage: tools/package.sh [--build DIR] [--out DIR] [--version V] | --check-reproducible" >&2; exit 2 ;;
    esac
done

# What each width's folder holds: the build target and the file it makes in
# the build tree. A module that install.cmd registers is also named in its
# "modules" list.
contents=(
    "apesrc monkeysaudio/apesrc.dll"
    "MACDllC codec/dll/MACDllC.dll"
    "apeprops shellprops/apeprops.dll"
    "apemf mediafoundation/apemf.dll"
    "apeplay tools/apeplay/apeplay.exe"
    "apedec tools/apedec/apedec.exe"
)
declare -A toolchain=([x86]=mingw-i686 [x64]=mingw-x86_64)

"$root/tools/setup.sh"
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
for width in x86 x64; do
    tree=$build/$width
    mkdir -p "$tree" "$stage/$width"
    cmake -S "$root" -B "$tree" -DCMAKE_TOOLCHAIN_FILE="$root/tools/cmake/${toolchain[$width]}.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_SHARED_LINKER_FLAGS=-s -DCMAKE_EXE_LINKER_FLAGS=-s \
        >"$tree.configure.log" 2>&1 || { cat "$tree.configure.log"; exit 1; }
    targets=()
    for entry in "${contents[@]}"; do targets+=("${entry%% *}"); done
    cmake --build "$tree" -j"$(nproc)" --target "${targets[@]}"
    # Stripped by the linker: strip would stamp the current time into them.
    for entry in "${contents[@]}"; do
        cp "$tree/${entry#* }" "$stage/$width/"
    done
done

[ -n "$version" ] || version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/x86/CMakeCache.txt")
stamp=$(git -C "$root" log -1 --format=%ct)
cp "$root/tools/package/install.cmd" "$root/tools/package/uninstall.cmd" "$stage/"
# Notepad-friendly line ends for the texts.
sed "s/@VERSION@/$version/; s/\$/\r/" "$root/tools/package/README.txt" >"$stage/README.txt"
sed 's/$/\r/' "$root/LICENSE" >"$stage/LICENSE.txt"
find "$stage" -mindepth 1 -exec touch -d "@$stamp" {} +

mkdir -p "$out"
zipfile=$out/apesrc-$version-windows.zip
rm -f "$zipfile"
# Zip stores local times: UTC keeps them the commit's everywhere. Files only
# (the folders follow from their names), in one fixed order.
(cd "$stage" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | TZ=UTC zip -q -X -D "$zipfile" -@)
echo "$zipfile"

# The setup program packs the staged files with their dates; the rest of it
# is the same for the same script and files. install.cmd stays out: the
# setup registers the modules of the components the user picked itself.
setupfile=$out/apesrc-$version-setup.exe
year=$(sed -n 's/^set(APESRC_COPYRIGHT_YEAR \([0-9]*\))$/\1/p' "$root/cmake/VersionResource.cmake")
makensis -V2 -WX -DVERSION="$version" -DYEAR="$year" -DSTAGE="$stage" \
    -DOUTFILE="$setupfile" "$root/tools/package/setup.nsi" >"$build/setup.log" 2>&1 ||
    { cat "$build/setup.log"; exit 1; }
echo "$setupfile"
