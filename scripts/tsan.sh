#!/usr/bin/env bash
# Runs the tests whose code uses threads under ThreadSanitizer, in a build tree of its own
# (build-tsan/):
#   cli_tests        info -j and the ordered jobs behind it
#   formats_tests    the PNG save, whose image data is compressed in parts on several threads
#   reader_tests     thumbnails made by several threads into one cache
#   reader_gui_tests the reader's file list in both modes, fed by the background file reader
#   writer_gui_tests the writer's saves, written on a thread of their own while the window paints
# Qt itself is not instrumented; tests/tsan.supp names the few reports that come from inside it.
# A race in our own code is a bug to fix, never an entry there. Exits non-zero when a test fails
# or the sanitizer reports anything. Not part of scripts/test.sh or .ci/run.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
# shellcheck source=scripts/deps.sh
source scripts/deps.sh

build="build-tsan"
ombri_install_deps
ombri_configure "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOMBRI_TESTS=ON -DOMBRI_TSAN=ON \
    -DOMBRI_SANITIZE=OFF -DOMBRI_FUZZ=OFF -DOMBRI_BENCH=OFF -DOMBRI_GUI=ON
cmake --build "$build" -j"$(nproc)" --target cli_tests formats_tests reader_tests reader_gui_tests \
    writer_gui_tests

# halt_on_error=0: every report of a run is printed, and the run still exits 66 at its end.
export TSAN_OPTIONS="suppressions=$PWD/tests/tsan.supp halt_on_error=0 second_deadlock_stack=1"
export QT_QPA_PLATFORM=offscreen
export OMBRI_BINARY_DIR=$PWD/$build
logs=$build/tsan-logs
mkdir -p "$logs"

# gcc 12's runtime expects the address layout of older kernels; where the kernel places
# libraries with more random bits it stops at once with this message, and runs fine with the
# randomisation turned off for the process.
mapping_error="FATAL: ThreadSanitizer: unexpected memory mapping"
launcher=()

passed=0
failed=0
failures=()

# Runs one test program with a filter, its whole output kept in build-tsan/tsan-logs/NAME.log.
run_tests() {
    local name=$1 filter=$2 log=$logs/$1.log rc=0
    echo
    echo "==> $name ($filter)"
    "${launcher[@]}" "$build/tests/$name" --gtest_filter="$filter" >"$log" 2>&1 || rc=$?
    if ((${#launcher[@]} == 0)) && grep -q "$mapping_error" "$log"; then
        echo "tsan: the kernel's address layout does not suit the runtime; again under setarch -R"
        launcher=(setarch "$(uname -m)" -R)
        rc=0
        "${launcher[@]}" "$build/tests/$name" --gtest_filter="$filter" >"$log" 2>&1 || rc=$?
    fi
    local reports
    reports=$(grep -c '^WARNING: ThreadSanitizer' "$log" || true)
    grep -E '^\[  (PASSED|FAILED) ' "$log" || true
    if ((rc == 0 && reports == 0)); then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        failures+=("$name: exit $rc, $reports report(s), see $log")
        grep -A40 '^WARNING: ThreadSanitizer' "$log" | head -200 || true
    fi
}

run_tests cli_tests 'OrderedJobsTest.*:CliInfoJobsTest.*:CliInfo*'
run_tests formats_tests 'PngWrite.*:*StoppedPngSave*'
run_tests reader_tests 'ThumbnailCache.*'
run_tests reader_gui_tests 'FileListTest.*:FileListModesTest.*:ReaderFrameTest.*'
run_tests writer_gui_tests 'LongSaveTest.*'

echo
echo "tsan: $passed passed, $failed failed"
for failure in "${failures[@]}"; do
    echo "  FAILED: $failure"
done
((failed == 0))
