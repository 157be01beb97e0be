#!/usr/bin/env bash
# apeplay --tracks and --track N end to end, through the wrapper and the
# registered module in the build's Wine prefix. The album images are made
# here from the shared real files (ffmpeg decodes them, apeenc encodes them
# again with the cue sheet in the tag, or beside them as a .cue), and each
# track apeplay converts must equal the matching slice of ffmpeg's decode of
# the whole original: the first, a middle and the last track, at 44.1 and
# 48 kHz. A file whose sheet is hostile still converts whole.
#   apeplay_tracks.sh APEPLAY_SH BUILDDIR APEENC_EXE REALDIR SCRATCHDIR [ENGINE]
set -uo pipefail
apeplay=${1:?usage: apeplay_tracks.sh APEPLAY_SH BUILDDIR APEENC_EXE REALDIR SCRATCHDIR [ENGINE]}
export APEPLAY_BUILD=${2:?}
apeenc=${3:?}
real=${4:?}
scratch=${5:?}
engine=${6:-dshow}
rm -rf "$scratch"
mkdir -p "$scratch"
failures=0
fail() {
    echo "FAIL $*"
    failures=$((failures + 1))
}
play() {
    "$apeplay" --engine "$engine" "$@"
}
# apeenc.exe in the build's prefix, started as the tests start their programs.
encode() {
    (. "$APEPLAY_BUILD/wine/environment" && "$APESRC_WINE" "$apeenc" "$@") >"$scratch/apeenc.out" 2>&1 ||
        { echo "apeenc failed: $(cat "$scratch/apeenc.out")"; exit 1; }
}
md5() { md5sum | cut -d' ' -f1; }

# 44.1 kHz, 16 bits, 337180 blocks, the sheet in the tag. Track 02's pregap
# (INDEX 00 at 1.93 s) stays with track 01.
album44=$real/atl-ape.ape
ffmpeg -nostdin -v error -i "$album44" -c:a pcm_s16le "$scratch/album44.wav" || exit 1
sheet44='PERFORMER "The Band"
TITLE "Atl"
FILE "Atl.wav" WAVE
  TRACK 01 AUDIO
    TITLE "First"
    INDEX 01 00:00:00
  TRACK 02 AUDIO
    TITLE "Second"
    PERFORMER "A Guest"
    INDEX 00 00:01:70
    INDEX 01 00:02:10
  TRACK 03 AUDIO
    TITLE "Third"
    INDEX 01 00:05:00'
encode --tag "Cuesheet=$sheet44" "$(printf 'Z:%s' "${scratch//\//\\}")\\album44.wav" \
    "$(printf 'Z:%s' "${scratch//\//\\}")\\album44.ape"

# 48 kHz, 24 bits, 6000 blocks, the sheet beside the file (CR LF, a byte-
# order mark), naming the image the ripper wrote and another disc's file.
album48=$real/waxflow-noise-c4000-s24.ape
ffmpeg -nostdin -v error -i "$album48" -c:a pcm_s24le "$scratch/album48.wav" || exit 1
encode "$(printf 'Z:%s' "${scratch//\//\\}")\\album48.wav" "$(printf 'Z:%s' "${scratch//\//\\}")\\Noise 48k.ape"
printf '\xef\xbb\xbfFILE "Noise 48k.wav" WAVE\r\n  TRACK 01 AUDIO\r\n    TITLE "Eins"\r\n    INDEX 01 00:00:00\r\n  TRACK 02 AUDIO\r\n    TITLE "Zwei"\r\n    INDEX 01 00:00:03\r\n  TRACK 03 AUDIO\r\n    TITLE "Drei"\r\n    INDEX 01 00:00:07\r\nFILE "Other.wav" WAVE\r\n  TRACK 04 AUDIO\r\n    INDEX 01 00:00:01\r\n' \
    >"$scratch/Noise 48k.cue"

# Converts track $2 of $1 and compares it with blocks $4 to $5 of ffmpeg's
# decode of the original $3, in sample format $6 with $7 bytes a block.
compare_track() {
    local ape=$1 track=$2 original=$3 first=$4 end=$5 format=$6 align=$7 wav ours theirs
    wav="$scratch/track$track.wav"
    rm -f "$wav"
    if ! play --track "$track" --wav "$wav" "$ape" >"$scratch/track.out" 2>&1; then
        fail "$(basename "$ape") track $track: $(tail -n 2 "$scratch/track.out" | tr '\n' '|')"
        return
    fi
    ours=$(ffmpeg -nostdin -v error -i "$wav" -f "$format" - | md5)
    theirs=$(ffmpeg -nostdin -v error -threads 1 -i "$original" -f "$format" - |
        tail -c +$((first * align + 1)) | head -c $(((end - first) * align)) | md5)
    if [ "$ours" != "$theirs" ]; then
        fail "$(basename "$ape") track $track: the WAV (md5 $ours) is not blocks $first to $end of ffmpeg's decode ($theirs)"
    else
        echo "ok $(basename "$ape") track $track: blocks $first to $end"
    fi
}
compare_track "$scratch/album44.ape" 1 "$album44" 0 94080 s16le 4
compare_track "$scratch/album44.ape" 2 "$album44" 94080 220500 s16le 4
compare_track "$scratch/album44.ape" 3 "$album44" 220500 337180 s16le 4
compare_track "$scratch/Noise 48k.ape" 1 "$album48" 0 1920 s24le 6
compare_track "$scratch/Noise 48k.ape" 2 "$album48" 1920 4480 s24le 6
compare_track "$scratch/Noise 48k.ape" 3 "$album48" 4480 6000 s24le 6

# The progress line counts within the track: track 02 lasts 2.866 s.
play --track 2 --wav "$scratch/progress.wav" "$scratch/album44.ape" >"$scratch/progress.out" 2>&1
last=$(tr '\r' '\n' <"$scratch/progress.out" | grep ' / ' | tail -n 1)
grep -Eq '^ *0:02\.8 / 0:02\.8 ' <<<"$last" || fail "the progress line does not count within track 2: \"$last\""

# --tracks: number, start, length, title and performer of each.
list=$(play --tracks "$scratch/album44.ape" 2>&1)
for expected in '^Tracks +3$' '^  01 +0:00\.0 +0:02\.1 +First$' '^  02 +0:02\.1 +0:02\.8 +Second +/ A Guest$' \
    '^  03 +0:05\.0 +0:02\.6 +Third$'; do
    grep -Eq "$expected" <<<"$list" || fail "--tracks shows no line matching \"$expected\": ${list//$'\n'/ | }"
done
list=$(play --tracks "$scratch/Noise 48k.ape" 2>&1)
grep -Eq '^Tracks +3$' <<<"$list" || fail "--tracks of the sidecar's file: ${list//$'\n'/ | }"

# What is not there, said in one line.
play --track 4 --wav "$scratch/none.wav" "$scratch/Noise 48k.ape" >/dev/null 2>"$scratch/none.err"
[ $? -eq 1 ] && grep -q "^apeplay: the file's cue sheet has no track 4" "$scratch/none.err" && [ ! -e "$scratch/none.wav" ] ||
    fail "--track 4 of another disc's entry: $(cat "$scratch/none.err")"
play --track 1 --wav "$scratch/none.wav" "$real/taglib-mac-399-tagged.ape" >/dev/null 2>"$scratch/none.err"
status=$?
[ $status -eq 1 ] && grep -q '^apeplay: the file has no tracks' "$scratch/none.err" ||
    fail "--track 1 of a file without a sheet (exit status $status): $(cat "$scratch/none.err")"

# A hostile sheet: garbage, falling times, a title without its end. The
# file converts whole, bit-exact, and keeps only the one track that rises.
hostile=$(printf 'garbage \x01\x7f\nTRACK 01 AUDIO\nINDEX 01 00:03:00\nTRACK 02 AUDIO\nINDEX 01 00:01:00\nINDEX 01 -1:00:00\nTRACK 99999999999 AUDIO\nTITLE "%s' "$(head -c 100000 /dev/zero | tr '\0' x)")
printf '%s' "$hostile" >"$scratch/hostile.cue"
encode "$(printf 'Z:%s' "${scratch//\//\\}")\\album44.wav" "$(printf 'Z:%s' "${scratch//\//\\}")\\hostile.ape"
if play --wav "$scratch/hostile.wav" "$scratch/hostile.ape" >"$scratch/hostile.out" 2>&1; then
    ours=$(ffmpeg -nostdin -v error -i "$scratch/hostile.wav" -f s16le - | md5)
    theirs=$(ffmpeg -nostdin -v error -threads 1 -i "$album44" -f s16le - | md5)
    [ "$ours" = "$theirs" ] && echo "ok hostile.ape plays whole" || fail "hostile.ape: the WAV differs from ffmpeg's decode"
else
    fail "hostile.ape: $(tail -n 1 "$scratch/hostile.out")"
fi
list=$(play --tracks "$scratch/hostile.ape" 2>&1)
grep -Eq '^Tracks +1$' <<<"$list" || fail "hostile.ape: not the one rising track: ${list//$'\n'/ | }"

[ $failures -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "all tracks bit-exact"
