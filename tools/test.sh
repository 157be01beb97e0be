#!/usr/bin/env bash
# Installs what is missing, builds the three builds and runs every test: the
# Windows tests of both widths (32-bit and x64) under Wine, each in a private
# prefix of its width, the codec core's host tests under the sanitizers (with
# a bounded fuzzing run).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)

"$root/tools/setup.sh" || exit 1
"$root/tools/build.sh" windows windows64 host || exit 1

status=0
passed=0
failed=0
for build in windows windows64 host; do
    log="$root/build/$build.test.log"
    echo "== tests of the $build build"
    started=$SECONDS
    ctest --test-dir "$root/build/$build" -j"$jobs" --output-on-failure 2>&1 | tee "$log"
    [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
    echo "== the $build build's tests took $(((SECONDS - started) / 60)) min $(((SECONDS - started) % 60)) s"
    summary=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1)
    if [ -z "$summary" ]; then
        echo "no test ran in the $build build"
        status=1
        continue
    fi
    total=$(echo "$summary" | sed -E 's/.* out of ([0-9]+).*/\1/')
    bad=$(echo "$summary" | sed -E 's/.* ([0-9]+) tests failed.*/\1/')
    passed=$((passed + total - bad))
    failed=$((failed + bad))
done
echo
echo "$passed passed, $failed failed"
exit $status
