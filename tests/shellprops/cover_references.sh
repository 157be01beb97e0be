#!/usr/bin/env bash
# What the thumbnail handler's drawings are compared with: each real file's
# picture, taken out of its APE tag here by the tag's own layout (footer,
# items, file name, NUL, bytes) and decoded by ffmpeg, scaled with area
# averaging to the size a thumbnail of 256 and of 96 pixels must have (the
# longer side becomes the size, the other keeps the aspect, rounded to the
# nearest pixel; a picture within the size stays as it is), as 32-bit BGRA
# rows from the top.
#   cover_references.sh REAL_DIR OUT_DIR
# For each picture: OUT/NAME.pic (its bytes), OUT/NAME-CX.bgra and
# OUT/NAME-CX.size ("WIDTH HEIGHT").
set -euo pipefail
export LC_ALL=C
real=$1 out=$2
mkdir -p "$out"

le32() { od -An -tu4 -j "$2" -N4 "$1" | tr -d ' \n'; }
# The text at `offset` up to its NUL (at most `limit` bytes).
text_at() { dd if="$1" bs=1 skip="$2" count="$3" status=none | tr '\0' '\n' | { head -n 1; cat >/dev/null; }; }

# extract FILE KEY OUT: the first item keyed KEY (any case), its picture.
extract() {
    local file=$1 key=$2 target=$3 size end tag_size count at i value_size item_key value name
    size=$(stat -c %s "$file")
    end=$size
    [ "$(dd if="$file" bs=1 skip=$((size - 128)) count=3 status=none)" = TAG ] && end=$((size - 128))
    [ "$(dd if="$file" bs=1 skip=$((end - 32)) count=8 status=none)" = APETAGEX ] || { echo "$file: no APE tag"; return 1; }
    tag_size=$(le32 "$file" $((end - 20)))
    count=$(le32 "$file" $((end - 16)))
    at=$((end - tag_size))
    for ((i = 0; i < count; ++i)); do
        value_size=$(le32 "$file" "$at")
        item_key=$(text_at "$file" $((at + 8)) 256)
        value=$((at + 8 + ${#item_key} + 1))
        if [ "${item_key,,}" = "${key,,}" ]; then
            name=$(text_at "$file" "$value" "$value_size")
            dd if="$file" of="$target" bs=64K iflag=skip_bytes,count_bytes skip=$((value + ${#name} + 1)) \
                count=$((value_size - ${#name} - 1)) status=none
            return 0
        fi
        at=$((value + value_size))
    done
    echo "$file: no item $key"
    return 1
}

# scale NAME: OUT/NAME.pic drawn at both sizes.
scale() {
    local name=$1 width height cx w h longer
    IFS=, read -r width height < <(ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=p=0 \
        "$out/$name.pic")
    for cx in 256 96; do
        w=$width h=$height
        longer=$((width > height ? width : height))
        if [ "$longer" -gt "$cx" ]; then
            w=$(((2 * width * cx + longer) / (2 * longer)))
            h=$(((2 * height * cx + longer) / (2 * longer)))
        fi
        ffmpeg -nostdin -v error -y -i "$out/$name.pic" -vf "scale=$w:$h:flags=area" -f rawvideo -pix_fmt bgra \
            "$out/$name-$cx.bgra"
        echo "$w $h" >"$out/$name-$cx.size"
    done
}

# NAME FILE KEY
pictures=(
    "atl-front|atl-ape.ape|Cover Art (Front)"
    "exiftool-front|exiftool-APE.ape|Cover Art (front)"
    "musicmetadata-front|musicmetadata-tagged-36items.ape|Cover Art (Front)"
    "musicmetadata-back|musicmetadata-tagged-36items.ape|Cover Art (Back)"
)
for entry in "${pictures[@]}"; do
    IFS='|' read -r name file key <<<"$entry"
    extract "$real/$file" "$key" "$out/$name.pic"
    scale "$name"
done
# No real file's picture is translucent: a PNG whose colours and alpha both
# change across it, wider than high.
ffmpeg -nostdin -v error -y -f lavfi \
    -i "nullsrc=s=300x120,format=rgba,geq=r='X*255/299':g='Y*255/119':b=128:a='32+X*192/299'" \
    -frames:v 1 -c:v png -f image2pipe "$out/translucent.pic"
scale translucent
