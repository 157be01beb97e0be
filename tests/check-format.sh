#!/bin/sh
# Fails when a C or C++ source differs from what the tree's .clang-format makes
# of it, naming the lines.
set -eu
cd "$(dirname "$0")/.."
find support com filter monkeysaudio shellprops codec tools tests -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.c' \) -print0 |
    xargs -0 clang-format --dry-run --Werror
echo "every source follows .clang-format"
