#!/usr/bin/env bash
# Runs widget tests on a real X server (Xvfb) under a real window manager (openbox): there,
# full screen and the way back are carried out by the window manager, in its own time, not at
# once as on the offscreen platform. Both programs must be installed (scripts/deps.sh); when
# one is missing the run fails.
#
#   under_window_manager.sh TEST_PROGRAM [GTEST_FILTER]
set -euo pipefail

program=$1
filter=${2:-*}

for tool in Xvfb openbox; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "under_window_manager: $tool is not installed (see scripts/deps.sh)" >&2
        exit 1
    fi
done

work=$(mktemp -d)
xvfb=
openbox=
cleanup() {
    [[ -n $openbox ]] && kill "$openbox" 2>/dev/null && wait "$openbox" 2>/dev/null
    [[ -n $xvfb ]] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# Waits until the file exists (the program's sign that it is ready) while the program runs.
await_ready() {
    local name=$1 pid=$2 file=$3 log=$4 waited=0
    until [[ -s $file || -e $file && $name == openbox ]]; do
        if ! kill -0 "$pid" 2>/dev/null || ((waited >= 100)); then
            echo "under_window_manager: $name did not start" >&2
            cat "$log" >&2
            exit 1
        fi
        sleep 0.1
        waited=$((waited + 1))
    done
}

# Xvfb picks a free display itself and writes its number once it accepts clients.
Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
await_ready Xvfb "$xvfb" "$work/display" "$work/xvfb.log"
export DISPLAY=":$(tr -d '[:space:]' <"$work/display")"

# openbox runs the startup command once it manages the screen.
openbox --sm-disable --startup "touch $work/managing" >"$work/openbox.log" 2>&1 &
openbox=$!
await_ready openbox "$openbox" "$work/managing" "$work/openbox.log"

# Under the sanitizers, libdbus's own buffer is not reported (see the suppressions file).
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$here/xcb_leaks.supp:print_suppressions=0"

# A filter that selects nothing passes in GoogleTest; here it must not.
status=0
QT_QPA_PLATFORM=xcb "$program" --gtest_filter="$filter" >"$work/output" 2>&1 || status=$?
cat "$work/output"
if ((status == 0)) && ! grep -Eq '^\[  PASSED  \] [1-9][0-9]* test' "$work/output"; then
    echo "under_window_manager: no test ran" >&2
    status=1
fi
exit "$status"
