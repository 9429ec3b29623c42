#!/usr/bin/env bash
# Runs more random journeys through both programs than the test run does:
#   scripts/journeys.sh [COUNT] [FIRST-SEED]
# COUNT journeys per program (default 100) with the seeds FIRST-SEED, FIRST-SEED + 1, ...
# (default: taken from the clock and printed). OMBRI_JOURNEY_BUILD names the build tree to use
# (default build/; build-asan/ runs them under the sanitizers once scripts/test.sh made it).
#
# A failing journey is shrunk to its shortest failing form and kept in
# BUILD/journeys-failed/PROGRAM-seed-SEED.journey, as the steps it took (one a line, each naming
# what it acts on); copy it to tests/journeys/regressions/ (with a comment line saying what it
# found) to keep it as a regression test. A journey that crashes the program is shrunk the same
# way from the steps it had taken (BUILD/journeys-failed/PROGRAM-steps.journey), each shorter
# journey run in a process of its own.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
# shellcheck source=scripts/deps.sh
source scripts/deps.sh

count=${1:-100}
first=${2:-$(($(date +%s) % 1000000000))}
build=${OMBRI_JOURNEY_BUILD:-build}

ombri_install_deps
if [[ $build == build ]]; then
    ombri_build_main
else
    cmake --build "$build" -j"$(nproc)"
fi
export OMBRI_BINARY_DIR=$PWD/$build QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
mkdir -p "$build/journeys-failed"

echo "journeys: $count per program from seed $first (again: scripts/journeys.sh $count $first)"
failed=0
for program in writer reader; do
    exe=$build/tests/${program}_journeys
    log=$build/journeys-failed/$program-$first.log
    steps=$PWD/$build/journeys-failed/$program-steps.journey
    echo
    echo "==> $program: $count journeys (log: $log)"
    set +e
    OMBRI_JOURNEY_COUNT=$count OMBRI_JOURNEY_FIRST=$first OMBRI_JOURNEY_RECORD=$steps \
        "$exe" --gtest_filter=JourneySeeds.MoreSeeds >"$log" 2>&1
    rc=$?
    set -e
    grep -E 'journey seed [0-9]+ |^shrunk to|kept in' "$log" || true
    if ((rc == 0)); then
        echo "$program: all $count journeys kept every promise"
        continue
    fi
    failed=1
    # A run that ended without the test framework's verdict died inside a journey: the steps of
    # the last seed it started are the ones to shrink.
    if ! grep -q '^\[  FAILED  \]' "$log"; then
        seed=$(grep -Eo "^journey $program seed [0-9]+" "$log" | tail -n 1 | awk '{print $4}')
        echo "$program: the program died in the journey of seed $seed; shrinking its steps"
        tail -n 30 "$log"
        OMBRI_JOURNEY_SHRINK=$steps OMBRI_JOURNEY_SHRINK_SEED=$seed \
            "$exe" --gtest_filter=JourneySeeds.ShrinkInChildProcesses \
            2>&1 | grep -Ev '^(QStandardPaths|This plugin)' | tail -n 40 || true
    fi
done
exit $failed
