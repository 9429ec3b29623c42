#!/usr/bin/env bash
# Runs every check of OmbriTools:
#   build/       the test suites (the benchmarks are built there too, never run)
#   build-asan/  the test suites again under AddressSanitizer and UndefinedBehaviorSanitizer,
#                the widget tests and the random journeys through both programs included
#   build-fuzz/  each libFuzzer target for a short while (OMBRI_FUZZ_SECONDS, default 20), as
#                many at once as there are processors
# and closes with "N passed, N failed" over those runs. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
# shellcheck source=scripts/deps.sh
source scripts/deps.sh

fuzz_seconds=${OMBRI_FUZZ_SECONDS:-20}
passed=0
failed=0
failures=()

# Runs one stage in a subshell with errexit on, records the result and goes on with the next
# stage, so one failure does not hide the others.
stage() {
    local name=$1 rc=0 started=$SECONDS
    shift
    echo
    echo "==> $name"
    set +e
    (set -e; "$@")
    rc=$?
    set -e
    local took=""
    if ((SECONDS > started)); then
        took=" in $((SECONDS - started)) s"
    fi
    if ((rc == 0)); then
        passed=$((passed + 1))
        echo "==> $name: passed$took"
    else
        failed=$((failed + 1))
        failures+=("$name")
        echo "==> FAILED: $name (exit $rc)$took"
    fi
}

main_tests() {
    ombri_build_main
    ctest --test-dir build --output-on-failure --no-tests=error -j2
}

# Both stages run the random journeys: the kept journeys and one seed from the clock, the same
# in both, printed here so that a failure can be replayed with OMBRI_JOURNEY_SEED=N, and shrunk
# and kept with scripts/journeys.sh. The fixed set of seeds runs under the sanitizers only.
export OMBRI_JOURNEY_SEED=${OMBRI_JOURNEY_SEED:-$(($(date +%s) % 1000000000))}
echo "journeys: the seed from the clock is $OMBRI_JOURNEY_SEED"

asan_tests() {
    ombri_build build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOMBRI_TESTS=ON \
        -DOMBRI_SANITIZE=ON -DOMBRI_BENCH=OFF -DOMBRI_GUI=ON -DOMBRI_UNITY=ON
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        ctest --test-dir build-asan --output-on-failure --no-tests=error -j2
}

fuzz_build() {
    # The compiler is fixed when a tree is first configured: start over if it is not clang.
    if [[ -f build-fuzz/CMakeCache.txt ]] &&
        ! grep -Eq '^CMAKE_CXX_COMPILER:[A-Z]+=.*clang\+\+' build-fuzz/CMakeCache.txt; then
        rm -rf build-fuzz
    fi
    # The fuzzers alone: the rest of the tree is built and tested in build/ and build-asan/.
    CC=clang CXX=clang++ ombri_build build-fuzz --target ombri_fuzzers -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DOMBRI_FUZZ=ON -DOMBRI_TESTS=OFF -DOMBRI_BENCH=OFF -DOMBRI_GUI=OFF
}

list_fuzzers() {
    find build-fuzz \( -path build-fuzz/CMakeFiles -o -path build-fuzz/corpus \
        -o -path build-fuzz/artifacts \) -prune -o \
        -type f -name '*_fuzz' -perm -u+x -print | sort
}

# Fuzzes on a fresh copy of fuzz/corpus/<name>/ (when there is one) inside build-fuzz/, so the
# repository is never written to; crashing inputs land in build-fuzz/artifacts/<name>/.
run_fuzzer() {
    local exe=$1 name seeds work artifacts log
    name=$(basename "$exe")
    seeds=fuzz/corpus/${name%_fuzz}
    work=build-fuzz/corpus/$name
    artifacts=build-fuzz/artifacts/$name
    log=build-fuzz/logs/$name.log
    rm -rf "$work"
    mkdir -p "$work" "$artifacts" "$(dirname "$log")"
    if [[ -d $seeds ]]; then
        cp -R "$seeds/." "$work/"
    fi
    echo "$exe -max_total_time=$fuzz_seconds $work (log: $log)"
    if ! "$exe" -max_total_time="$fuzz_seconds" -rss_limit_mb=2048 -timeout=10 \
        -artifact_prefix="$artifacts/" -print_final_stats=1 "$work" >"$log" 2>&1; then
        tail -n 60 "$log"
        return 1
    fi
    grep -E '^(Done|stat::number_of_executed_units)' "$log" || true
}

ombri_install_deps

stage "tests in build/" main_tests
stage "tests in build-asan/" asan_tests

failed_before_fuzz=$failed
stage "fuzz build in build-fuzz/" fuzz_build
fuzzers=()
if ((failed == failed_before_fuzz)); then
    mapfile -t fuzzers < <(list_fuzzers)
    if ((${#fuzzers[@]} == 0)); then
        stage "no *_fuzz programs in build-fuzz/" false
    fi
fi
# The fuzzers run side by side, one per processor, each for its full time; each is then reported
# as a stage of its own, in order, with what it printed.
fuzz_jobs=$(nproc)
fuzz_out=build-fuzz/results
rm -rf "$fuzz_out"
mkdir -p "$fuzz_out"
fuzz_started=$SECONDS
for fuzzer in "${fuzzers[@]}"; do
    while (($(jobs -rp | wc -l) >= fuzz_jobs)); do
        wait -n || true
    done
    name=$(basename "$fuzzer")
    (
        rc=0
        run_fuzzer "$fuzzer" >"$fuzz_out/$name.out" 2>&1 || rc=$?
        echo "$rc" >"$fuzz_out/$name.rc"
    ) &
done
wait
if ((${#fuzzers[@]} != 0)); then
    echo
    echo "==> ${#fuzzers[@]} fuzzers, $fuzz_jobs at a time, in $((SECONDS - fuzz_started)) s"
fi
fuzz_result() {
    cat "$fuzz_out/$1.out"
    return "$(cat "$fuzz_out/$1.rc" 2>/dev/null || echo 1)"
}
for fuzzer in "${fuzzers[@]}"; do
    stage "fuzz $(basename "$fuzzer")" fuzz_result "$(basename "$fuzzer")"
done

echo
if ((failed != 0)); then
    printf 'Failed: %s\n' "${failures[@]}"
fi
echo "$passed passed, $failed failed, in $SECONDS s"
((failed == 0))
