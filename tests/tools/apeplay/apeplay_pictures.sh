#!/usr/bin/env bash
# apeplay --info and --cover on the real files with pictures, through the
# wrapper in the build's Wine prefix: --info lists each picture's kind,
# format, pixel size (ffprobe's) and bytes; --cover writes the front cover's
# bytes exactly as the tag stores them (taken out of the tag independently
# by cover_references.sh); a file without a picture ends with a non-zero
# status, one line naming the file and no file written.
#   apeplay_pictures.sh APEPLAY_SH BUILDDIR REALDIR REFERENCES_SH SCRATCHDIR
set -uo pipefail
apeplay=$1 real=$3 references=$4 scratch=$5
export APEPLAY_BUILD=$2
rm -rf "$scratch"
mkdir -p "$scratch"
"$references" "$real" "$scratch/ref" >/dev/null || { echo "FAIL no reference pictures"; exit 1; }
failures=0
fail() {
    echo "FAIL $*"
    failures=$((failures + 1))
}

# The listing of the file with two pictures: one line each, in tag order.
info=$("$apeplay" --info "$real/musicmetadata-tagged-36items.ape" 2>&1 | tr -d '\r' | grep '^Picture')
expected="Picture      Cover Art (Front): JPEG, 500 x 500, 98,008 bytes
Picture      Cover Art (Back): PNG, 500 x 390, 120,291 bytes"
[ "$info" = "$expected" ] || fail "--info lists: $info"
# Two items of the same kind, a JPEG and a PNG.
info=$("$apeplay" --info "$real/atl-ape.ape" 2>&1 | tr -d '\r' | grep '^Picture')
expected="Picture      Cover Art (Front): JPEG, 150 x 150, 4,705 bytes
Picture      Cover Art (Front): PNG, 175 x 168, 7,942 bytes"
[ "$info" = "$expected" ] || fail "--info lists: $info"

# The front cover as stored, for each file with one.
for pair in atl-ape:atl-front exiftool-APE:exiftool-front musicmetadata-tagged-36items:musicmetadata-front; do
    name=${pair%%:*} reference=${pair#*:}
    out="$scratch/$name.cover"
    if ! "$apeplay" --cover "$out" "$real/$name.ape" >"$scratch/$name.log" 2>&1; then
        fail "--cover $name: $(tr -d '\r' <"$scratch/$name.log" | tail -n 1)"
    elif ! cmp -s "$out" "$scratch/ref/$reference.pic"; then
        fail "--cover $name wrote other bytes than the tag's"
    else
        echo "ok --cover $name ($(stat -c %s "$out") bytes)"
    fi
done

# No picture: a message, a non-zero status, no file.
out="$scratch/none.cover"
if "$apeplay" --cover "$out" "$real/atl-v394.ape" >"$scratch/none.log" 2>&1; then
    fail "--cover of a file without pictures succeeded"
fi
message=$(tr -d '\r' <"$scratch/none.log" | grep -v seq_hw | tail -n 1)
[[ "$message" == *"holds no cover picture"* ]] || fail "--cover without a picture says: $message"
[ ! -e "$out" ] && [ ! -e "$out.partial" ] || fail "--cover without a picture left a file"
[ $failures -eq 0 ] && echo "apeplay lists pictures and writes the front cover"
exit $((failures > 0))
