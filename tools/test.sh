#!/usr/bin/env bash
# Installs what is missing, builds the three builds and runs every test: the
# Windows tests of both widths (32-bit and x64) under Wine, each in a private
# prefix of its width, the codec core's host tests under the sanitizers (with
# a bounded fuzzing run). Where the kernel refuses 32-bit programs, see below.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)

"$root/tools/setup.sh" || exit 1
"$root/tools/build.sh" windows windows64 host || exit 1

status=0
passed=0
failed=0
# A wineserver left to itself exits a few seconds after its last client; a
# test starting in that moment connects to a closing socket and dies at once
# ("recvmsg: Connection reset by peer"). One persistent server holds each
# prefix for the whole run, with Wine's own services started beforehand: they
# live as long as the server, and started by a test they would hold its
# output open, so CTest would wait for them to the test's time-out.
# A server an interrupted run left behind goes first.
hold_wineserver() {
    (
        . "$root/build/$1/wine/environment"
        wineserver -k
        wineserver -p && "$APESRC_WINE" cmd /c exit
    ) </dev/null >/dev/null 2>&1
}
release_wineserver() {
    (
        . "$root/build/$1/wine/environment"
        wineserver -k
    ) </dev/null >/dev/null 2>&1
}
trap 'release_wineserver windows; release_wineserver windows64' EXIT
# On a machine whose kernel refuses 32-bit x86 programs (the builds' probe
# wrote APESRC_RUNS_X86=0) no 32-bit Windows program can start: the 32-bit
# build runs only its tests that read the built files, the x64 build all but
# those that start 32-bit programs. The rest are counted as not run.
runs_x86() {
    (. "$root/build/$1/wine/environment" && [ "$APESRC_RUNS_X86" = 1 ])
}
selected_count() {
    ctest --test-dir "$root/build/$1" -N "${@:2}" | sed -n 's/^Total Tests: //p'
}
not_run=0
builds=(windows windows64 host)
# There the codec core's 32-bit code is checked as 32-bit Linux programs
# under qemu's user-mode emulator instead.
if ! runs_x86 windows; then
    "$root/tools/build.sh" host32 || exit 1
    builds+=(host32)
fi
for build in "${builds[@]}"; do
    log="$root/build/$build.test.log"
    echo "== tests of the $build build"
    started=$SECONDS
    selection=()
    case $build in
    windows*) wine=yes ;;
    *) wine=no ;;
    esac
    if [ "$wine" = yes ] && ! runs_x86 "$build"; then
        case $build in
        windows) selection=(-L static) wine=no ;;
        windows64) selection=(-LE x86) ;;
        esac
        skipped=$(($(selected_count "$build") - $(selected_count "$build" "${selection[@]}")))
        not_run=$((not_run + skipped))
        echo "== $skipped of them cannot run: this machine does not run 32-bit x86 programs"
        echo "   $(/usr/lib/wine/wine --version 2>&1 | head -n 1)"
    fi
    [ "$wine" = no ] || hold_wineserver "$build"
    ctest --test-dir "$root/build/$build" -j"$jobs" --output-on-failure "${selection[@]}" 2>&1 | tee "$log"
    [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
    [ "$wine" = no ] || release_wineserver "$build"
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
if [ "$not_run" -gt 0 ]; then
    echo "$passed passed, $failed failed, $not_run not run (they start 32-bit programs, which this machine does not run)"
else
    echo "$passed passed, $failed failed"
fi
exit $status
