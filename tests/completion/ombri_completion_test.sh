#!/usr/bin/env bash
# Completes ombri command lines with the completion that is installed for it and checks what
# is offered, in a scratch folder of pictures, other files and folders:
#   ombri_completion_test.sh COMPLETION-FILE plain     bash alone
#   ombri_completion_test.sh COMPLETION-FILE helpers   with the bash-completion package's helpers
set -u
completion=$1
mode=$2
failures=0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

if [[ $mode == helpers ]]; then
    helpers=/usr/share/bash-completion/bash_completion
    [[ -r $helpers ]] || { echo "no $helpers (Debian package bash-completion)"; exit 1; }
    # shellcheck source=/dev/null
    source "$helpers"
    declare -F _init_completion >/dev/null || { echo "$helpers defines no _init_completion"; exit 1; }
elif declare -F _init_completion >/dev/null; then
    echo "the plain run has the bash-completion helpers loaded"
    exit 1
fi
# shellcheck source=/dev/null
source "$completion"
function=$(complete -p ombri 2>/dev/null | sed -n 's/.*-F \([^ ]*\) .*/\1/p')
[[ -n $function ]] || { echo "$completion registers no function for ombri"; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/ombri-completion.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
pictures=(a.png b.PNG c.tif d.TIFF e.rgb f.dpx g.cin h.jpg i.gif j.pcx k.bmp l.jpeg m.JPEG n.webp o.WEBP p.avif q.heic r.HEIF s.jxl "with space.png")
folders=("Holiday pictures" notes.d)
mkdir "${folders[@]}"
touch "${pictures[@]}" readme.txt photo.png.txt script.sh tif Makefile

# Splits LINE into words as bash does for completion ("=" is a word of its own), with the
# cursor at the end, runs the completion function and prints what it offers, sorted.
offered() {
    local line=$1 word
    local -a words=()
    read -ra words <<<"$line"
    [[ $line == *' ' ]] && words+=("")
    COMP_WORDS=()
    for word in "${words[@]}"; do
        if [[ $word == ?*=* ]]; then
            COMP_WORDS+=("${word%%=*}" "=")
            [[ -n ${word#*=} ]] && COMP_WORDS+=("${word#*=}")
        else
            COMP_WORDS+=("$word")
        fi
    done
    [[ $line == *= ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE=$line
    COMP_POINT=${#line}
    COMPREPLY=()
    "$function" ombri "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    ((${#COMPREPLY[@]})) && printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort
}

# expect LINE WORD...: LINE offers exactly these words.
expect() {
    local line=$1 got want
    shift
    got=$(offered "$line")
    want=$( (($#)) && printf '%s\n' "$@" | LC_ALL=C sort)
    [[ $got == "$want" ]] || fail "'$line' offers [${got//$'\n'/ }], not [${want//$'\n'/ }]"
}

commands=(info notes embed convert repair clear render)
global=(--help --version --verbose)
adjustments=(auto-color auto-contrast invert gray red green blue flip-h flip-v rot-cw rot-ccw)

# The commands, all of them and only them, wherever a command can stand.
expect "ombri " "${commands[@]}" "${global[@]}"
expect "ombri --verbose " "${commands[@]}" "${global[@]}"
expect "ombri re" render repair
expect "ombri --v" --version --verbose

# Each command's own options, and none of another's.
expect "ombri info -" -r --recursive --json -j --jobs --help --verbose
expect "ombri notes a.png -" -o --output --help --verbose
expect "ombri embed a.png b.PNG -" -o --output --depth --lossy --help --verbose
expect "ombri convert a.png -" --depth --lossy --help --verbose
expect "ombri repair a.png -" -o --output --depth --help --verbose
expect "ombri clear a.png -" -o --output --depth --help --verbose
expect "ombri render a.png --" --output --hide-notes --color --complement --no-aa --adjust \
    --help --verbose

# Option values, given apart or after "=".
expect "ombri convert a.png k.bmp --depth " 24 32
expect "ombri clear a.png --depth=" 24 32
expect "ombri embed a.png b.PNG --depth 3" 32
expect "ombri render a.png --color " red green blue black white
expect "ombri render a.png --adjust " "${adjustments[@]}"
expect "ombri render a.png --adjust=fl" flip-h flip-v
expect "ombri render a.png --adjust gray,ro" gray,rot-cw gray,rot-ccw
expect "ombri info -j "

# Pictures of every kind ombri reads and folders, nothing else, for inputs and outputs alike.
expect "ombri info " "${pictures[@]}" "${folders[@]}"
expect "ombri render a.png -o " "${pictures[@]}" "${folders[@]}"
expect "ombri convert a.png " "${pictures[@]}" "${folders[@]}"
expect "ombri info Hol" "Holiday pictures"
expect "ombri info --json d" d.TIFF
expect "ombri notes t"
expect "ombri frobnicate "

if ((failures)); then
    echo "$failures completion checks failed ($mode)"
    exit 1
fi
echo "completion ($mode): all checks passed"
