#!/usr/bin/env bash
# Builds everything and passes every test: the main build (window included, offscreen) and its
# Debian package, then everything again under AddressSanitizer + UndefinedBehaviorSanitizer, the
# core, simulator and command line under ThreadSanitizer with the fuzz targets running beside them
# for a bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/check-layers.sh

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen
export CTEST_OUTPUT_ON_FAILURE=1

passed=0
skipped=0
started=$SECONDS
# A stage's heading with the seconds since the start, so CI's log shows where the time goes.
stage() {
    echo "=== $* (at $((SECONDS - started)) s)"
}
# Runs ctest in a build directory (with an optional command prefix) and adds its counts to the
# totals printed at the end.
run_ctest() {
    local dir=$1; shift
    local log="$dir/ctest-summary.log"
    stage "$dir: tests"
    (cd "$dir" && "$@" ctest -j "$jobs" --timeout 300) | tee "$log"
    # In CI a skipped test fails unless it names the platform it cannot run on.
    bash scripts/check-skips.sh "$dir"
    local total
    total=$(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' "$log")
    local notRun
    notRun=$(grep -c '(Skipped)' "$log" || true)
    passed=$((passed + total - notRun))
    skipped=$((skipped + notRun))
}

configure_and_test() {
    local dir=$1; shift
    stage "$dir: $*"
    cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
    run_ctest "$dir"
}

rm -f build/.passed
configure_and_test build -DCMAKE_BUILD_TYPE=RelWithDebInfo
# The libraries below the front ends as built: a new program-wide value shared by every
# controller fails here rather than as two sessions that disturb each other.
bash scripts/check-program-wide.sh build
bash scripts/check-package.sh build
# The main build stands and passed: CI's Windows check, which takes its Linux programs from it,
# may start beside what follows.
touch build/.passed

sanitizer_args=(-DCMAKE_BUILD_TYPE=Debug -DTREVANE_BUILD_BENCH=OFF)
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# Every benchmark once, briefly, beside the sanitizer build: it mostly waits on the simulator.
bash scripts/bench-smoke.sh build >build/bench-smoke.log 2>&1 &
smoke=$!
stage "build-asan (the benchmarks' smoke run beside its build)"
cmake -S . -B build-asan -G Ninja "${sanitizer_args[@]}" -DTREVANE_BUILD_GUI=ON \
    "-DTREVANE_SANITIZE=address;undefined" >/dev/null
cmake --build build-asan -j "$jobs"
if ! wait "$smoke"; then
    cat build/bench-smoke.log
    exit 1
fi
tail -1 build/bench-smoke.log
run_ctest build-asan

export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
# Some kernels randomise mmap beyond what TSan's shadow layout accepts; run without ASLR then.
if command -v setarch >/dev/null && setarch "$(uname -m)" -R true 2>/dev/null; then
    tsan_prefix=(setarch "$(uname -m)" -R)
else
    tsan_prefix=()
fi
stage "build-tsan"
# The window stays out: Qt's own thread pool is not instrumented and reports races of its own.
cmake -S . -B build-tsan -G Ninja "${sanitizer_args[@]}" -DTREVANE_BUILD_GUI=OFF \
    -DTREVANE_SANITIZE=thread >/dev/null
cmake --build build-tsan -j "$jobs"

stage "build-fuzz"
CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTREVANE_BUILD_GUI=OFF -DTREVANE_BUILD_BENCH=OFF -DTREVANE_BUILD_TESTS=OFF \
    -DTREVANE_BUILD_FUZZ=ON >/dev/null
cmake --build build-fuzz -j "$jobs"

# The fuzz targets run beside the ThreadSanitizer tests, at the lowest priority: the tests wait
# on timers and sockets most of the time, and no test depends on how fast it is run.
nice -n 19 bash fuzz/run.sh build-fuzz 30 >build-fuzz/run.log 2>&1 &
fuzz=$!
trap 'kill "$fuzz" 2>/dev/null || true' EXIT
stage "build-tsan: tests (the fuzz targets beside them)"
run_ctest build-tsan "${tsan_prefix[@]}"
if ! wait "$fuzz"; then
    cat build-fuzz/run.log
    exit 1
fi
trap - EXIT
cat build-fuzz/run.log
echo "tests: $passed passed, 0 failed, $skipped skipped, in $((SECONDS - started)) s"
