#!/usr/bin/env bash
# Builds OmbriTools into build/, makes the sample images when there are none yet, and then
# opens them in OmbriReader when there is a display and the reader is built; otherwise it shows
# the ombri command line on each sample and writes the note layers into a temporary folder.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
# shellcheck source=scripts/deps.sh
source scripts/deps.sh

samples=resources/samples
images=()

list_samples() {
    find "$samples" -maxdepth 1 -type f \( \
        -iname '*.bmp' -o -iname '*.dib' -o -iname '*.rle' -o -iname '*.png' -o \
        -iname '*.jpg' -o -iname '*.jpeg' -o -iname '*.tif' -o -iname '*.tiff' -o \
        -iname '*.gif' -o -iname '*.rgb' -o -iname '*.sgi' -o -iname '*.bw' -o \
        -iname '*.dpx' -o -iname '*.cin' -o -iname '*.pcx' \) -print0 | sort -z
}

show() {
    echo "\$ $*"
    "$@"
}

make_samples_if_missing() {
    mapfile -d '' images < <(list_samples)
    if ((${#images[@]} == 0)); then
        show build/make_samples "$samples"
        mapfile -d '' images < <(list_samples)
    fi
    if ((${#images[@]} == 0)); then
        echo "run: make_samples wrote no images into $samples" >&2
        exit 1
    fi
}

open_reader_if_possible() {
    if [[ -n ${DISPLAY:-}${WAYLAND_DISPLAY:-} && -x build/ombri-reader ]]; then
        echo "\$ build/ombri-reader $samples"
        exec build/ombri-reader "$samples"
    fi
}

# Exit code 3 of "ombri notes" means the image carries no notes; it is not a failure here.
cli_demo() {
    local outdir image file stem mask info rc failures=0
    outdir=$(mktemp -d "${TMPDIR:-/tmp}/ombri-notes.XXXXXX")
    for image in "${images[@]}"; do
        echo
        echo "\$ build/ombri info $image"
        if ! info=$(build/ombri info "$image"); then
            echo "run: ombri info failed on $image" >&2
            failures=$((failures + 1))
            continue
        fi
        printf '%s\n' "$info"
        if grep -Eiq 'notes[^[:alnum:]]*no([^[:alnum:]]|$)' <<<"$info"; then
            continue
        fi

        file=$(basename "$image")
        stem=${file%.*}
        mask=$outdir/$stem-notes.png
        if [[ -e $mask ]]; then
            mask=$outdir/$file-notes.png
        fi
        echo "\$ build/ombri notes $image -o $mask"
        rc=0
        build/ombri notes "$image" -o "$mask" || rc=$?
        case $rc in
            0) echo "wrote $mask" ;;
            3) echo "(no notes)" ;;
            *) echo "run: ombri notes failed on $image (exit $rc)" >&2
               failures=$((failures + 1)) ;;
        esac
    done
    echo
    echo "Note layers are in $outdir"
    if ((failures != 0)); then
        echo "run: $failures command(s) failed" >&2
        exit 1
    fi
}

ombri_install_deps
ombri_build_main
make_samples_if_missing
open_reader_if_possible
cli_demo
