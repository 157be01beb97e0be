#!/usr/bin/env bash
# The main job: installs what is missing, builds everything, and shows what
# was built.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

"$root/tools/setup.sh"
"$root/tools/build.sh" windows host

echo
echo "Built for 32-bit Windows (build/windows):"
find "$root/build/windows" -maxdepth 3 \( -name '*.dll' -o -name '*.exe' \) ! -path '*/CMakeFiles/*' ! -path '*/wine/*' ! -name '*_test.exe' |
    sed "s|^$root/||" | sort | sed 's/^/  /'
echo "Built for this machine (build/host):"
find "$root/build/host/tools" -maxdepth 2 -type f -perm -u+x 2>/dev/null | sed "s|^$root/||" | sort | sed 's/^/  /'
