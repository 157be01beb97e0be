#!/usr/bin/env bash
# apeplay --wav end to end, through the wrapper and the registered module in
# the build's Wine prefix: the data of every WAV it writes must equal
# ffmpeg's decode of the same file (ffmpeg shares no code with us), for the
# generated corpus and for the good real files; --start must give the tail
# of the same data; and every bad input must end with a non-zero status, one
# line on the error output and no file written. ENGINE (dshow by default, or
# mf) is the framework apeplay plays through.
#   apeplay_converts.sh APEPLAY_SH BUILDDIR CORPUSDIR REALDIR SCRATCHDIR [ENGINE]
set -uo pipefail
apeplay=${1:?usage: apeplay_converts.sh APEPLAY_SH BUILDDIR CORPUSDIR REALDIR SCRATCHDIR}
export APEPLAY_BUILD=${2:?}
corpus=${3:?}
real=${4:?}
scratch=${5:?}
engine=${6:-dshow}
[ -s "$corpus/corpus.tsv" ] || { echo "no corpus manifest in $corpus"; exit 1; }
rm -rf "$scratch"
mkdir -p "$scratch"
export apeplay scratch engine
play() {
    "$apeplay" --engine "$engine" "$@"
}
failures=0
fail() {
    echo "FAIL $*"
    failures=$((failures + 1))
}

pcm_format() {
    case $1 in 8) echo u8 ;; 16) echo s16le ;; 24) echo s24le ;; *) echo "unexpected depth $1" >&2; return 1 ;; esac
}

# Converts $1 (an .ape) at depth $2 and compares the WAV's data with
# ffmpeg's decode; prints one "ok" or "FAIL" line.
compare() {
    local ape=$1 bits=$2 name format wav ours theirs
    name=$(basename "$ape" .ape)
    format=$(pcm_format "$bits") || { echo "FAIL $name: depth $bits"; return 0; }
    wav="$scratch/$name.wav"
    if ! play --wav "$wav" "$ape" >"$scratch/$name.out" 2>&1; then
        # The last lines: a process killed by a signal has the shell's
        # report of it last, and the player's own message before that.
        echo "FAIL $name: apeplay: $(tail -n 3 "$scratch/$name.out" | tr '\n' '|')"
        return 0
    fi
    ours=$(ffmpeg -nostdin -v error -i "$wav" -f "$format" - | md5sum | cut -d' ' -f1)
    theirs=$(ffmpeg -nostdin -v error -threads 1 -i "$ape" -f "$format" - | md5sum | cut -d' ' -f1)
    if [ "$ours" != "$theirs" ]; then
        echo "FAIL $name: the WAV's PCM (md5 $ours) differs from ffmpeg's decode (md5 $theirs)"
    elif [ -e "$wav.partial" ]; then
        echo "FAIL $name: $wav.partial left behind"
    else
        rm -f "$wav" "$scratch/$name.out"
        echo "ok $name"
    fi
}
export -f compare pcm_format play

# Registers the module once before the conversions run side by side.
"$apeplay" --help >/dev/null || { echo "the wrapper can't run apeplay"; exit 1; }

# The generated corpus: every version, level, depth and channel count.
results=$(tail -n +2 "$corpus/corpus.tsv" | cut -f1,5 | while read -r name bits; do
    echo "$corpus/$name.ape" "$bits"
done | xargs -P 2 -n 2 bash -c 'compare "$0" "$1"')
# The good real files (made by the reference encoder), from the table of
# what ffmpeg makes of them: decoded completely, without errors.
results+=$'\n'$(awk -F'\t' 'NR > 1 && $12 == 0 && $13 == "none" && $9 == $10 && $4 > 0 && $1 != "mutagen-mac-396.ape" { print $1, $6 }' \
    "$real/EXPECTED.tsv" | while read -r file bits; do echo "$real/$file" "$bits"; done |
    xargs -P 2 -n 2 bash -c 'compare "$0" "$1"')
echo "$results" | grep -v '^ok' | grep . && failures=$((failures + $(echo "$results" | grep -c '^FAIL')))
echo "$(echo "$results" | grep -c '^ok') files converted bit-exact to ffmpeg's decode"

# --start: the data from the block the start time falls in (as the source
# counts, truncating), to the end.
start_ape="$real/atl-ape.ape"
if play --start 2.5 --wav "$scratch/start.wav" "$start_ape" >"$scratch/start.out" 2>&1; then
    skip=$(( 44100 * 25 / 10 * 4 ))
    ours=$(ffmpeg -nostdin -v error -i "$scratch/start.wav" -f s16le - | md5sum | cut -d' ' -f1)
    theirs=$(ffmpeg -nostdin -v error -threads 1 -i "$start_ape" -f s16le - | tail -c +$((skip + 1)) | md5sum | cut -d' ' -f1)
    [ "$ours" = "$theirs" ] || fail "--start 2.5: the WAV differs from ffmpeg's decode after block $((skip / 4))"
else
    fail "--start 2.5: $(tail -n 1 "$scratch/start.out")"
fi

# --info: the format, the duration and the tag texts, and nothing written.
info=$(play --info "$real/taglib-mac-399-tagged.ape" 2>&1)
for expected in 'Format +2 channels, 44100 Hz, 16 bits' 'Duration +0:03\.5' 'Author +' 'Title +'; do
    grep -Eq "^$expected" <<<"$info" || fail "--info shows no line matching \"$expected\": ${info//$'\n'/ | }"
done

# Bad input. Each case: a file to play, what the one line must say.
printf 'just some text, not audio\n' >"$scratch/text.ape"
head -c 30000 "$real/atl-ape.ape" >"$scratch/truncated.ape"
bad_cases=(
    "$scratch/missing.ape|no such file"
    "$scratch/text.ape|is not a Monkey's Audio file"
    "$scratch/truncated.ape|damaged or truncated"
)
# The bad real files, but for mutagen-mac-396.ape: the codec library
# decodes its missing audio as silence, as ffmpeg does, and the player has
# no way to tell that from a quiet recording.
for file in audioscan-apev1 exiftool-APE mediafile-oldape mutagen-mac-390-hdr taglib-zerodiv; do
    bad_cases+=("$real/$file.ape|")
done
check_bad() {
    local file=$1 says=$2 out="$scratch/bad.wav" status errors
    rm -f "$out" "$out.partial"
    play --wav "$out" "$file" >/dev/null 2>"$scratch/bad.err"
    status=$?
    errors=$(grep -c . "$scratch/bad.err")
    if [ $status -eq 0 ]; then
        fail "$(basename "$file"): exit status 0"
    elif [ "$errors" -ne 1 ] || ! grep -q '^apeplay: ' "$scratch/bad.err"; then
        fail "$(basename "$file"): not one \"apeplay: \" line but: $(tr '\n' '|' <"$scratch/bad.err")"
    elif [ -n "$says" ] && ! grep -qF "$says" "$scratch/bad.err"; then
        fail "$(basename "$file"): the message does not say \"$says\": $(cat "$scratch/bad.err")"
    elif [ -e "$out" ] || [ -e "$out.partial" ]; then
        fail "$(basename "$file"): a WAV file was left behind"
    else
        echo "ok $(basename "$file"): $(cat "$scratch/bad.err")"
    fi
}
for case in "${bad_cases[@]}"; do
    check_bad "${case%%|*}" "${case#*|}"
done
"$apeplay" --bogus "$start_ape" >/dev/null 2>"$scratch/bad.err"
[ $? -ne 0 ] && grep -q '^apeplay: no such option: --bogus' "$scratch/bad.err" || fail "--bogus: $(cat "$scratch/bad.err")"

# The codec library missing: the module registered from a folder without
# it. The next run from the build's own folder registers that one again.
# apemf.dll links the codec core statically and needs no library beside it.
if [ "$engine" = dshow ]; then
    mkdir -p "$scratch/nocodec"
    cp "$APEPLAY_BUILD/tools/apeplay/apeplay.exe" "$APEPLAY_BUILD/tools/apeplay/apesrc.dll" "$scratch/nocodec/"
    APEPLAY_DIR="$scratch/nocodec" check_bad "$start_ape" "MACDllC.dll is missing"
    "$apeplay" --help >/dev/null
fi

if [ $failures -ne 0 ]; then
    echo "$failures failures"
    exit 1
fi
rm -rf "$scratch"
echo "all checks passed"
