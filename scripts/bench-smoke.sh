#!/usr/bin/env bash
# Runs every benchmark program of a build once, small and all at once (bench/Smoke.h): a benchmark
# that no longer starts, completes or measures fails here rather than on the day someone needs
# its figures. The figures of such a run mean nothing. Usage: scripts/bench-smoke.sh BUILD_DIR
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:?usage: scripts/bench-smoke.sh BUILD_DIR}

# Every bench_*.cpp is one program; a missing one would otherwise pass unseen.
for source in bench/bench_*.cpp; do
    name=$(basename "$source" .cpp)
    [[ -x $build/bench/$name ]] || { echo "bench-smoke: $build/bench/$name was not built" >&2; exit 1; }
done

mapfile -t programs < <(find "$build/bench" -maxdepth 2 -type f -name 'bench_*' -perm -u+x | sort)
logs=$build/bench-smoke
mkdir -p "$logs"
pids=()
for program in "${programs[@]}"; do
    TREVANE_BENCH_SMOKE=1 QT_QPA_PLATFORM=offscreen timeout 600 "$program" \
        --benchmark_min_time=0.001 >"$logs/$(basename "$program").log" 2>&1 &
    pids+=($!)
done
failed=0
for i in "${!programs[@]}"; do
    name=$(basename "${programs[i]}")
    status=0
    wait "${pids[i]}" || status=$?
    # A benchmark that gives up reports an error and still exits 0.
    if [[ $status -ne 0 ]] || grep -q 'ERROR OCCURRED' "$logs/$name.log"; then
        tail -n 20 "$logs/$name.log" >&2
        echo "bench-smoke: $name failed (exit $status); see $logs/$name.log" >&2
        failed=1
    fi
done
[[ $failed -eq 0 ]] || exit 1
echo "bench-smoke: ${#programs[@]} benchmark programs ran once without an error"
