#!/usr/bin/env bash
# Remakes the screenshots README.md shows (docs/*.png) from built programs, the same on every
# machine: the programs run on a virtual screen (Xvfb, 1280x800, openbox), with only the DejaVu
# fonts, as the user "demo" whose home holds nothing but Pictures made by make_samples. They run
# inside private namespaces with a root of their own, so the folder tree shows /home/demo and no
# volume, file, setting or host name of the machine the pictures are made on.
#
#   scripts/screenshots.sh [BUILD_DIR] [OUT_DIR]    (defaults: build and docs of the repository)
#
# BUILD_DIR must hold ombri-writer, ombri-reader and make_samples. Nothing is written outside a
# temporary folder, removed at the end, except the PNG files in OUT_DIR, and those only once all
# of them are made. Needs Xvfb, openbox, xdotool, ImageMagick, fonts-dejavu-core and user
# namespaces (unshare from util-linux; a normal user may create them on Debian 12).
#
# The reader's About box shows when the reader was compiled: build it with SOURCE_DATE_EPOCH
# set (say to the last commit's time) for a picture that does not change with every build.
set -euo pipefail

readonly screen_width=1280 screen_height=800
# Every picture file in the demo home has this time, so that nothing depends on the day.
readonly file_time='2026-01-15 10:00:00 UTC'
readonly shots=(writer-main writer-about writer-help
                reader-main reader-customize reader-about reader-help reader-fullscreen
                reader-thumbnails)

die() {
    echo "screenshots: $*" >&2
    exit 1
}

# ---- inside the demo root: the screen, the programs and the pictures ------------------------

# Inside the demo root: the programs, the pictures made there, and the demo's pictures.
opt=/opt/ombritools
out=/shots
pictures=/home/demo/Pictures
sunset=$pictures/sunset-notes-32.png
app_pid=
xvfb_pid=
openbox_pid=

stop_app() {
    if [[ -n $app_pid ]]; then
        kill "$app_pid" 2>/dev/null || true
        wait "$app_pid" 2>/dev/null || true
        app_pid=
    fi
}

stop_screen() {
    stop_app
    [[ -n $openbox_pid ]] && kill "$openbox_pid" 2>/dev/null && wait "$openbox_pid" 2>/dev/null
    [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    return 0
}

show_logs() {
    local log
    for log in "$out"/logs/*.log; do
        [[ -s $log ]] || continue
        echo "--- ${log##*/}" >&2
        tail -n 20 "$log" >&2
    done
}

fail() {
    echo "screenshots: $*" >&2
    show_logs
    exit 1
}

# Waits until the file exists (a server's sign that it is ready) while the server runs; the
# same handshake as tests/reader_gui/under_window_manager.sh.
await_file() {
    local name=$1 pid=$2 file=$3 waited=0
    until [[ -e $file ]]; do
        if ! kill -0 "$pid" 2>/dev/null || ((waited >= 100)); then
            fail "$name did not start"
        fi
        sleep 0.1
        waited=$((waited + 1))
    done
}

start_screen() {
    Xvfb -displayfd 3 -nolisten tcp -dpi 96 \
        -screen 0 "${screen_width}x${screen_height}x24" 3>"$out/display" 2>"$out/logs/xvfb.log" &
    xvfb_pid=$!
    local waited=0
    until [[ -s $out/display ]]; do
        if ! kill -0 "$xvfb_pid" 2>/dev/null || ((waited >= 100)); then
            fail "Xvfb did not start"
        fi
        sleep 0.1
        waited=$((waited + 1))
    done
    DISPLAY=":$(tr -d '[:space:]' <"$out/display")"
    export DISPLAY

    openbox --sm-disable --startup "touch $out/managing" >"$out/logs/openbox.log" 2>&1 &
    openbox_pid=$!
    await_file openbox "$openbox_pid" "$out/managing"
}

# Prints the id of the visible window whose title is exactly $1, waiting for it to appear while
# the program runs.
await_window() {
    local title=$1 id waited=0
    while :; do
        id=$(xdotool search --onlyvisible --name "^${title}\$" 2>/dev/null | head -n 1) || true
        [[ -n $id ]] && break
        kill -0 "$app_pid" 2>/dev/null || fail "the program ended before \"$title\" appeared"
        ((waited < 200)) || fail "no window \"$title\" appeared"
        sleep 0.1
        waited=$((waited + 1))
    done
    printf '%s\n' "$id"
}

# Starts PROGRAM on the file and waits until its main window has the keyboard.
start_app() {
    local program=$1 title=$2 file=$3
    stop_app
    "$opt/bin/$program" "$file" >>"$out/logs/$program.log" 2>&1 &
    app_pid=$!
    app_window=$(await_window "$title")
    xdotool windowactivate --sync "$app_window"
    # Out of the way: no button under the pointer lights up or shows its tooltip.
    xdotool mousemove "$((screen_width - 1))" "$((screen_height - 1))"
}

# Waits until the window has looked the same for three captures in a row (drawn, and done with
# what the last keys and clicks asked for), then keeps that look as OUT/NAME.png, without the
# times ImageMagick would otherwise write into the file.
capture() {
    local window=$1 name=$2 previous=$out/previous.ppm current=$out/current.ppm
    local tries=0 same=0
    rm -f "$previous"
    while ((same < 2)); do
        ((tries < 80)) || fail "$name never stopped changing"
        tries=$((tries + 1))
        sleep 0.2
        import -window "$window" "ppm:$current" 2>>"$out/logs/import.log" ||
            fail "could not capture $name"
        if [[ -f $previous ]] && cmp -s "$previous" "$current"; then
            same=$((same + 1))
        else
            same=0
        fi
        mv "$current" "$previous"
    done
    convert "$previous" -strip -define png:exclude-chunks=date,time "$out/$name.png"
    rm -f "$previous"
    echo "screenshots: made $name.png"
}

# Opens a dialog through the keys and captures it alone, as README shows dialogs.
capture_dialog() {
    local name=$1 title=$2 dialog
    shift 2
    xdotool key --clearmodifiers "$@"
    dialog=$(await_window "$title")
    capture "$dialog" "$name"
}

writer_main() {
    start_app ombri-writer OmbriWriter "$sunset"
    local x=41 y=50 # the picture's top left corner in the window, below the bar, right of the box
    # Tools > Text Tool, a click on the picture, and the note typed there.
    xdotool key --clearmodifiers alt+t t
    xdotool mousemove --window "$app_window" $((x + 246)) $((y + 236)) click 1
    xdotool type --delay 20 'Meet at dawn'
    # Tools > Rectangle Tool puts the text into the notes; a rectangle dragged around it stays
    # in the tool, in the note colour, until another tool is picked.
    xdotool key --clearmodifiers alt+t r
    local from_x=$((x + 234)) from_y=$((y + 226)) to_x=$((x + 342)) to_y=$((y + 258)) step
    xdotool mousemove --window "$app_window" "$from_x" "$from_y" mousedown 1
    for step in 1 2 3 4 5 6 7 8; do
        xdotool mousemove --window "$app_window" \
            $((from_x + (to_x - from_x) * step / 8)) $((from_y + (to_y - from_y) * step / 8))
    done
    xdotool mouseup 1
    xdotool mousemove "$((screen_width - 1))" "$((screen_height - 1))"
    capture "$app_window" writer-main
}

writer_about() {
    start_app ombri-writer OmbriWriter "$sunset"
    capture_dialog writer-about 'About OmbriWriter' alt+n a
}

writer_help() {
    start_app ombri-writer OmbriWriter "$sunset"
    capture_dialog writer-help Dialog F1
}

# The reader starts with the notes hidden: View > Display Notes shows them, as the eye button.
show_notes() {
    xdotool key --clearmodifiers alt+v d
}

reader_main() {
    start_app ombri-reader OmbriReader "$sunset"
    show_notes
    capture "$app_window" reader-main
}

reader_customize() {
    start_app ombri-reader OmbriReader "$sunset"
    capture_dialog reader-customize 'Customize \.\.\.' alt+o c
}

reader_about() {
    start_app ombri-reader OmbriReader "$sunset"
    capture_dialog reader-about 'About OmbriReader' alt+n a
}

reader_help() {
    start_app ombri-reader OmbriReader "$sunset"
    capture_dialog reader-help Dialog F1
}

# Full screen has no key: the last button of the main toolbar, at its place in the window.
reader_fullscreen() {
    start_app ombri-reader OmbriReader "$sunset"
    show_notes
    xdotool mousemove --window "$app_window" 431 38 click 1
    local waited=0 geometry
    while :; do
        geometry=$(xdotool getwindowgeometry --shell "$app_window")
        if grep -qx "WIDTH=$screen_width" <<<"$geometry" &&
            grep -qx "HEIGHT=$screen_height" <<<"$geometry"; then
            break
        fi
        ((waited < 100)) || fail "the reader did not go full screen"
        sleep 0.1
        waited=$((waited + 1))
    done
    xdotool mousemove "$((screen_width - 1))" "$((screen_height - 1))"
    capture "$(xdotool getactivewindow)" reader-fullscreen
}

# View > Thumbnails (Ctrl+T), with the list pane widened by its splitter handle so that the grid
# has two columns; the thumbnails are made in the background, and the wait lets them come.
# Last of the shots, since the reader keeps the choice for its next start.
reader_thumbnails() {
    start_app ombri-reader OmbriReader "$sunset"
    xdotool key --clearmodifiers ctrl+t
    xdotool mousemove --window "$app_window" 406 300 mousedown 1
    xdotool mousemove --window "$app_window" 480 300
    xdotool mousemove --window "$app_window" 530 300 mouseup 1
    xdotool mousemove "$((screen_width - 1))" "$((screen_height - 1))"
    sleep 3
    capture "$app_window" reader-thumbnails
}

shoot() {
    mkdir -p "$out/logs" "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$XDG_DATA_HOME"
    chmod 700 "$XDG_RUNTIME_DIR"
    cd "$HOME"
    trap stop_screen EXIT
    start_screen
    local name
    for name in "${shots[@]}"; do
        "${name//-/_}"
        stop_app
    done
}

# ---- in the new namespaces, before the switch: the demo root is put together ----------------

# The host's system folders are seen read-only; /tmp, /dev/shm and the demo home are the demo's
# own. Only the folders listed here exist in the demo root, so no other mount of the machine
# (media, network shares, the real homes) appears in its mount table or its folder tree.
enter_demo_root() {
    local root=$1 name
    mount --bind "$root" "$root"
    for name in usr etc; do
        mkdir -p "$root/$name"
        mount --rbind "/$name" "$root/$name"
        mount -o remount,bind,ro "$root/$name"
    done
    # On a merged /usr these are links into it; otherwise they are seen like /usr.
    for name in bin sbin lib lib32 lib64 libx32; do
        if [[ -L /$name ]]; then
            ln -sfn "$(readlink "/$name")" "$root/$name"
        elif [[ -d /$name ]]; then
            mkdir -p "$root/$name"
            mount --rbind "/$name" "$root/$name"
            mount -o remount,bind,ro "$root/$name"
        fi
    done
    mkdir -p "$root/dev" "$root/proc" "$root/tmp" "$root/run" "$root/var/tmp" "$root/.old"
    mount --rbind /dev "$root/dev"
    mount -t tmpfs -o mode=1777 tmpfs "$root/dev/shm"
    # A proc of the new process namespace; where the machine does not allow it, the old one,
    # which still shows each process its own mounts.
    mount -t proc proc "$root/proc" 2>/dev/null || mount --rbind /proc "$root/proc"
    mount -t tmpfs -o mode=1777 tmpfs "$root/tmp"
    mount -t tmpfs -o mode=755 tmpfs "$root/run"
    cd "$root"
    pivot_root . .old
    umount -l /.old
    rmdir /.old
    hostname demo
    cd /
    exec env -i \
        PATH=/usr/local/bin:/usr/bin:/bin \
        HOME=/home/demo USER=demo LOGNAME=demo SHELL=/bin/sh \
        LANG=C.UTF-8 LC_ALL=C.UTF-8 TZ=UTC \
        XDG_CONFIG_HOME=/home/demo/.config \
        XDG_DATA_HOME=/home/demo/.local/share \
        XDG_CACHE_HOME=/home/demo/.cache \
        XDG_RUNTIME_DIR=/home/demo/.runtime \
        XDG_DATA_DIRS=/usr/share \
        XDG_CONFIG_DIRS=/etc/xdg \
        FONTCONFIG_FILE="$opt/fonts.conf" \
        QT_QPA_PLATFORM=xcb \
        QT_STYLE_OVERRIDE=Fusion \
        QT_ENABLE_HIGHDPI_SCALING=0 \
        QT_ACCESSIBILITY=0 NO_AT_BRIDGE=1 \
        DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent \
        bash "$opt/screenshots.sh" --shoot
}

# ---- on the machine: checks, the demo home, and the pictures brought back -------------------

# Only the DejaVu fonts, with fixed rendering: the pictures must not depend on the fonts and
# settings of the machine. The About box asks for Times New Roman; a system with no other
# fonts shows it in DejaVu Serif, as here.
write_fonts_conf() {
    cat >"$1" <<'EOF'
<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "urn:fontconfig:fonts.dtd">
<fontconfig>
  <dir>/usr/share/fonts/truetype/dejavu</dir>
  <cachedir>/home/demo/.cache/fontconfig</cachedir>
  <alias binding="same"><family>Times New Roman</family><default><family>serif</family></default></alias>
  <alias binding="same"><family>Sans Serif</family><default><family>sans-serif</family></default></alias>
  <match target="pattern">
    <test qual="all" name="family" compare="not_eq"><string>sans-serif</string></test>
    <test qual="all" name="family" compare="not_eq"><string>serif</string></test>
    <test qual="all" name="family" compare="not_eq"><string>monospace</string></test>
    <edit name="family" mode="append_last"><string>sans-serif</string></edit>
  </match>
  <alias binding="same"><family>serif</family><prefer><family>DejaVu Serif</family></prefer></alias>
  <alias binding="same"><family>sans-serif</family><prefer><family>DejaVu Sans</family></prefer></alias>
  <alias binding="same"><family>monospace</family><prefer><family>DejaVu Sans Mono</family></prefer></alias>
  <match target="font">
    <edit name="antialias" mode="assign"><bool>true</bool></edit>
    <edit name="hinting" mode="assign"><bool>true</bool></edit>
    <edit name="hintstyle" mode="assign"><const>hintslight</const></edit>
    <edit name="rgba" mode="assign"><const>none</const></edit>
    <edit name="lcdfilter" mode="assign"><const>lcdnone</const></edit>
  </match>
</fontconfig>
EOF
}

check_machine() {
    local build=$1 program tool missing=()
    for program in ombri-writer ombri-reader make_samples; do
        [[ -x $build/$program ]] ||
            die "$build/$program is missing: build it first (ninja -C $build $program)"
    done
    for tool in Xvfb openbox xdotool import convert unshare pivot_root mount hostname; do
        command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
    done
    if ((${#missing[@]} != 0)); then
        die "missing ${missing[*]}; on Debian: apt-get install xvfb openbox xdotool imagemagick"
    fi
    local font
    for font in DejaVuSans.ttf DejaVuSerif.ttf; do
        [[ -f /usr/share/fonts/truetype/dejavu/$font ]] ||
            die "missing the DejaVu fonts; on Debian: apt-get install fonts-dejavu-core"
    done
}

main() {
    (($# <= 2)) || die "usage: scripts/screenshots.sh [BUILD_DIR] [OUT_DIR]"
    local here repo build output
    here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
    repo=$(dirname "$here")
    build=$(realpath -m "${1:-$repo/build}")
    output=$(realpath -m "${2:-$repo/docs}")
    check_machine "$build"

    work=$(mktemp -d "${TMPDIR:-/tmp}/ombri-screenshots.XXXXXX")
    trap 'rm -rf "$work"' EXIT
    local root=$work/root
    mkdir -p "$root$opt/bin" "$root$out" "$root$pictures"
    # Copies outside the build tree show the Help text of an installed program, which names
    # the installed sample folder rather than this checkout.
    cp "$build/ombri-writer" "$build/ombri-reader" "$root$opt/bin/"
    cp "${BASH_SOURCE[0]}" "$root$opt/screenshots.sh"
    write_fonts_conf "$root$opt/fonts.conf"
    "$build/make_samples" "$root$pictures" >"$work/make_samples.log" 2>&1 ||
        { cat "$work/make_samples.log" >&2; die "make_samples failed"; }
    find "$root/home/demo" -exec touch -h -d "$file_time" {} +

    if ! unshare --user --map-root-user --mount --pid --fork --kill-child --uts --net \
        true 2>/dev/null; then
        die "cannot create user namespaces here (unshare --user); they keep the machine out" \
            "of the pictures"
    fi
    timeout 600 unshare --user --map-root-user --mount --pid --fork --kill-child --uts --net \
        bash "${BASH_SOURCE[0]}" --enter-demo-root "$root" ||
        die "the screenshots could not be made"

    local name
    for name in "${shots[@]}"; do
        [[ -s $root$out/$name.png ]] || die "$name.png was not made"
    done
    mkdir -p "$output"
    for name in "${shots[@]}"; do
        cp "$root$out/$name.png" "$output/$name.png"
    done
    echo "screenshots: ${#shots[@]} pictures in $output"
}

case ${1:-} in
    --enter-demo-root) enter_demo_root "$2" ;;
    --shoot) shoot ;;
    *) main "$@" ;;
esac
