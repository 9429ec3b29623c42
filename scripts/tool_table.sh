#!/usr/bin/env bash
# Puts carriers of every kind through the operations of the programs people use on pictures that
# keep the pixels and their depth, and tells for each whether the notes came through:
#
#   scripts/tool_table.sh [--check] [--jobs N] [--pictures "photo document"] OMBRI [FOLDER]
#
# OMBRI is the ombri program to judge (any version with embed, info and notes). The carriers are
# a photograph-like and a document-like picture (or those named) with about 2% notes, saved by
# OMBRI itself at both depths as PNG, TIFF, BMP and SGI; FOLDER keeps every file made (default: a temporary
# folder, removed at the end). Without --check it prints a markdown table, one row an operation
# and one column a kind of carrier; with --check it prints one line a case,
# "operation<TAB>carrier<TAB>format made<TAB>result", and exits 1 unless every result is kept, dropped or n/a.
#
# The results:
#   kept      the same notes, in the same place, with the picture upright
#   dropped   the program removed the alpha channel that carried the notes, and none are shown
#   lost      the carrier channel is still there but its notes are not found, or not the same
#   invented  notes shown where the carrier channel is gone, in the picture's own low bits
#   flipped   the notes are kept but the picture is said to be flipped (or turned, mirrored:
#             the orientation info names)
#   refused   ombri cannot open what the program made
#   n/a       the program is not installed or cannot make that file
# Only kept and dropped are right answers.
set -uo pipefail

check=no
jobs=$(nproc 2>/dev/null || echo 2)
pictures="photo document"
while [[ ${1:-} == --* ]]; do
    case $1 in
    --check) check=yes ;;
    --jobs) jobs=$2; shift ;;
    --pictures) pictures=$2; shift ;;
    *) echo "tool_table: unknown option $1" >&2; exit 2 ;;
    esac
    shift
done
if (($# < 1)); then
    echo "usage: $0 [--check] [--jobs N] OMBRI [FOLDER]" >&2
    exit 2
fi
ombri=$(realpath "$1")
if [[ -n ${2:-} ]]; then
    work=$(realpath -m "$2")
    mkdir -p "$work" || exit 2
else
    work=$(mktemp -d "${TMPDIR:-/tmp}/tool-table.XXXXXX") || exit 2
    trap 'rm -rf "$work"' EXIT
fi
if ! command -v convert >/dev/null; then
    echo "tool_table: ImageMagick's convert draws the pictures and is not installed" >&2
    exit 2
fi

# Pillow may be missing from a python3 found first on PATH (a virtual environment); the system's
# own has it when the package is installed.
python=
for candidate in python3 /usr/bin/python3; do
    if "$candidate" -c 'import PIL' 2>/dev/null; then
        python=$candidate
        break
    fi
done
export python

# One operation a line: name | the carrier formats it takes | the file it makes | the command,
# which reads "$in" and writes "$out" (the rest of the line, pipes included). The first word of
# the command is the program that must be installed.
operations() {
    cat <<'EOF'
optipng -o2|png|png|optipng -quiet -o2 -out "$out" "$in"
pngcrush|png|png|pngcrush -q "$in" "$out"
pngcrush -reduce|png|png|pngcrush -q -reduce "$in" "$out"
advpng -z -2|png|png|cp "$in" "$out" && advpng -q -z -2 "$out"
zopflipng|png|png|zopflipng -y "$in" "$out" >/dev/null
zopflipng --keepchunks|png|png|zopflipng -y --keepchunks=tEXt,zTXt,iTXt,eXIf "$in" "$out" >/dev/null
pngtopnm + pnmtopng|png|png|pngtopnm "$in" | pnmtopng >"$out"
pngtopam -alphapam + pamtopng|png|png|pngtopam -alphapam "$in" | pamtopng >"$out"
exiftool -Comment|png|png|exiftool -q -o "$out" -Comment=checked "$in"
exiftool -ImageDescription|tif|tif|exiftool -q -o "$out" -ImageDescription=checked "$in"
tiffcp -c none|tif|tif|tiffcp -c none "$in" "$out"
tiffcp -c lzw|tif|tif|tiffcp -c lzw "$in" "$out"
tiffcp -c zip|tif|tif|tiffcp -c zip "$in" "$out"
tiffcp -p separate|tif|tif|tiffcp -p separate "$in" "$out"
tiffcp -t (64x64 tiles)|tif|tif|tiffcp -t -w 64 -l 64 "$in" "$out"
convert to PNG|*|png|convert "$in" "$out"
convert to TIFF|*|tif|convert "$in" "$out"
convert to BMP|*|bmp|convert "$in" "$out"
convert to SGI|*|rgb|convert "$in" "sgi:$out"
convert -alpha on|*|png|convert "$in" -alpha on "PNG32:$out"
convert -alpha off|*|png|convert "$in" -alpha off "PNG24:$out"
gm convert to PNG|*|png|gm convert "$in" "$out"
gm convert to TIFF|*|tif|gm convert "$in" "$out"
gm convert to BMP|*|bmp|gm convert "$in" "$out"
gm convert to SGI|*|rgb|gm convert "$in" "sgi:$out"
vips copy to PNG|*|png|vips copy "$in" "$out"
vips copy to TIFF|*|tif|vips copy "$in" "$out"
vips tiffsave (deflate)|*|tif|vips tiffsave "$in" "$out" --compression deflate
vips pngsave -9|*|png|vips pngsave "$in" "$out" --compression 9
Pillow to PNG|*|png|pillow "$in" "$out" same
Pillow to TIFF|*|tif|pillow "$in" "$out" same
Pillow to BMP|*|bmp|pillow "$in" "$out" same
Pillow to SGI|*|rgb|pillow "$in" "$out" same
Pillow to RGB|*|png|pillow "$in" "$out" RGB
Pillow to RGBA|*|png|pillow "$in" "$out" RGBA
EOF
}

# Pillow's open and save, the picture's mode kept ("same") or converted.
pillow() {
    [[ -n $python ]] || return 127
    "$python" - "$@" <<'EOF'
import sys
from PIL import Image
source, target, mode = sys.argv[1:4]
image = Image.open(source)
if mode != "same":
    image = image.convert(mode)
image.save(target, format="SGI" if target.endswith(".rgb") else None)
EOF
}

programInstalled() {
    case $1 in
    pillow) [[ -n $python ]] ;;
    cp) return 0 ;;
    *) command -v "$1" >/dev/null ;;
    esac
}

# The pictures and the mask, drawn by ImageMagick: a plasma of colours with its own grain, and a
# typed page with a white margin (a white corner is where a 32-bit carrier's colour bytes can pass
# for the 24-bit signature). The mask holds handwriting-like rings and strokes, clear of the
# rows' first pixels where a signature goes.
drawPictures() {
    convert -size 256x192 -seed 3 plasma:sienna-skyblue BMP3:"$work/photo.bmp" || return 1
    convert -size 256x192 xc:white -font DejaVu-Sans -pointsize 11 -fill black \
        -annotate +14+24 'Minutes of the meeting held on the third' \
        -annotate +14+40 'of March: the budget, the roof, the garden' \
        -annotate +14+56 'and the new shelves in the library were' \
        -annotate +14+72 'discussed at length. The roof will be' \
        -annotate +14+88 'mended in May; the shelves wait a year.' \
        -annotate +14+104 'Present: eleven members and two guests.' \
        -annotate +14+136 'Signed,' -annotate +14+152 'the secretary' \
        BMP3:"$work/document.bmp" || return 1
    convert -size 256x192 xc:white +antialias -stroke black -strokewidth 2 -fill none \
        -draw 'ellipse 120,90 50,30 0,360' -draw 'line 30,150 220,40' \
        -draw 'circle 200,150 212,150' \
        PNG24:"$work/mask.png"
}

# The carriers: picture-depth.format, with the notes info counts and the mask ombri writes of
# them, against which every copy is judged.
makeCarriers() {
    local picture depth format carrier
    for picture in $pictures; do
        for depth in 24 32; do
            for format in png tif bmp rgb; do
                carrier=$picture-$depth.$format
                "$ombri" embed "$work/$picture.bmp" "$work/mask.png" -o "$work/$carrier" \
                    --depth "$depth" >/dev/null || return 1
                "$ombri" notes "$work/$carrier" -o "$work/$carrier.notes.png" >/dev/null ||
                    return 1
                echo "$carrier"
            done
        done
    done
}

infoValue() {
    sed -n "s/^$1: //p" <<<"$2"
}

# The result of one copy, as the list at the top tells.
judge() {
    local carrier=$1 copy=$2 info notes bits depth=${1#*-}
    depth=${depth%%.*}
    info=$("$ombri" info "$copy" 2>/dev/null) || {
        echo refused
        return
    }
    notes=$(infoValue notes "$info")
    bits=$(infoValue bits "$info")
    if [[ $depth == 32 && $bits != 32 ]]; then
        if [[ $notes == no ]]; then echo dropped; else echo invented; fi
        return
    fi
    if [[ $notes != yes ]]; then
        echo lost
        return
    fi
    if ! "$ombri" notes "$copy" -o "$copy.notes.png" >/dev/null 2>&1 ||
        ! cmp -s "$copy.notes.png" "$work/$carrier.notes.png"; then
        echo lost
        return
    fi
    local orientation
    orientation=$(infoValue orientation "$info")
    if [[ -z $orientation || $orientation == normal ]]; then
        echo kept
    else
        echo "$orientation"
    fi
}

# Every operation on one carrier, a line each: operation, carrier, format made, result.
runCarrier() {
    local carrier=$1 format=${1##*.} name inputs made command index=0
    # shellcheck disable=SC2034 # in and out are read by the operation's command
    local in=$work/$carrier out
    while IFS='|' read -r name inputs made command; do
        index=$((index + 1))
        [[ $inputs == '*' || $inputs == "$format" ]] || continue
        out=$work/$carrier.$index.$made
        if ! programInstalled "${command%% *}" ||
            ! (cd "$work" && eval "$command") </dev/null >/dev/null 2>&1 ||
            [[ ! -s $out ]]; then
            printf '%s\t%s\t%s\tn/a\n' "$name" "$carrier" "$made"
            continue
        fi
        printf '%s\t%s\t%s\t%s\n' "$name" "$carrier" "$made" "$(judge "$carrier" "$out")"
    done < <(operations)
}

drawPictures || { echo "tool_table: cannot draw the pictures" >&2; exit 2; }
mapfile -t carriers < <(makeCarriers)
if ((${#carriers[@]} == 0 || ${#carriers[@]} % 8 != 0)); then
    echo "tool_table: $ombri cannot make the carriers" >&2
    exit 2
fi
export -f runCarrier judge infoValue operations pillow programInstalled
export ombri work
# shellcheck disable=SC2016 # the carrier is the inner shell's own argument
printf '%s\n' "${carriers[@]}" | xargs -P "$jobs" -I{} bash -c 'runCarrier "$1"' _ {} \
    >"$work/results.tsv"

if [[ $check == yes ]]; then
    cat "$work/results.tsv"
    ! cut -f4 "$work/results.tsv" | grep -qvx 'kept\|dropped\|n/a'
    exit
fi

# The table: a column per format and depth; a cell names one result when every picture gives it,
# or each picture's result when they differ.
cell() {
    local name=$1 format=$2 depth=$3 picture result results=() differ=no
    for picture in $pictures; do
        result=$(awk -F'\t' -v n="$name" -v c="$picture-$depth.$format" \
            '$1 == n && $2 == c {print $4}' "$work/results.tsv")
        [[ -n $result ]] || return
        [[ ${#results[@]} -gt 0 && $result != "${results[0]#* }" ]] && differ=yes
        results+=("$picture $result")
    done
    if [[ $differ == no ]]; then
        printf '%s' "${results[0]#* }"
    else
        local IFS=,
        printf '%s' "${results[*]}" | sed 's/,/, /g'
    fi
}

printf '| Operation | PNG 24 | PNG 32 | TIFF 24 | TIFF 32 | BMP 24 | BMP 32 | SGI 24 | SGI 32 |\n'
printf '|---|---|---|---|---|---|---|---|---|\n'
while IFS='|' read -r name _; do
    row="| $name |"
    for column in png-24 png-32 tif-24 tif-32 bmp-24 bmp-32 rgb-24 rgb-32; do
        row+=" $(cell "$name" "${column%-*}" "${column#*-}") |"
    done
    printf '%s\n' "$row"
done < <(operations)
