#!/usr/bin/env bash
# Installs, from Debian's packages only, everything the build, the tests and
# the demo need. Safe to run again: apt-get skips what is already there.
set -euo pipefail

if [ "$(id -u)" -eq 0 ]; then
    as_root=()
else
    as_root=(sudo)
fi

packages=(
    cmake make
    g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
    g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    mingw-w64-tools
    wine wine32:i386 wine64
    # GStreamer's plugins, of both widths, for Wine's own media parts: the
    # converters Media Foundation's topology loader puts before the audio
    # renderer, and the WAVE Parser that tools/soak.sh plays beside our
    # source.
    gstreamer1.0-plugins-base:i386 gstreamer1.0-plugins-good:i386
    gstreamer1.0-plugins-base gstreamer1.0-plugins-good
    libboost-dev
    googletest
    g++ clang libclang-rt-14-dev clang-format
    # The codec core's 32-bit tests where the kernel runs no 32-bit programs.
    g++-multilib qemu-user-static
    ffmpeg
    zip unzip
    # makensis, which builds the Windows setup program.
    nsis
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${as_root[@]}" dpkg --add-architecture i386
    missing+=("${packages[@]}")
fi
if [ ${#missing[@]} -gt 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    # A mirror caught mid-sync fails an index now and then; it passes a little
    # later. After the last try the install goes on with the indexes apt has,
    # and fails only if what it needs is not among them.
    for attempt in 1 2 3 4 5; do
        "${as_root[@]}" apt-get update -q && break
        [ "$attempt" -lt 5 ] || { echo "setup: the package indexes could not all be updated" >&2; break; }
        sleep $((attempt * 15))
    done
    "${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
