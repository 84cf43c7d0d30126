#!/usr/bin/env bash
# Runs every fuzz target of a build for a bounded time each, all at once: each is bounded by wall
# time, so together they take the time of one.
# Usage: fuzz/run.sh BUILD_DIR SECONDS
# Exits non-zero when a target finds a crash (its input is kept in BUILD_DIR/fuzz/).
set -euo pipefail
if [ $# -lt 1 ]; then
    echo "usage: $0 BUILD_DIR [SECONDS]" >&2
    exit 2
fi
build=$(cd "$1" && pwd)
seconds=${2:-30}
here=$(cd "$(dirname "$0")" && pwd)

# Every target this directory builds must be there: a missing one would otherwise pass unseen.
expected=(fuzz_command_parser fuzz_request_framing fuzz_reply_parser fuzz_trace_reader)
for name in "${expected[@]}"; do
    if [ ! -x "$build/fuzz/$name" ]; then
        echo "fuzz: $build/fuzz/$name is missing; build the fuzz targets first" >&2
        exit 1
    fi
done

shopt -s nullglob
targets=("$build"/fuzz/fuzz_*)
names=()
pids=()
for target in "${targets[@]}"; do
    [ -f "$target" ] && [ -x "$target" ] || continue
    name=$(basename "$target")
    # A fresh working corpus per run, seeded from the checked-in inputs.
    corpus="$build/fuzz/corpus-$name"
    mkdir -p "$corpus"
    if [ -d "$here/corpus/$name" ]; then
        cp -n "$here/corpus/$name"/* "$corpus"/ 2>/dev/null || true
    fi
    options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096
             -artifact_prefix="$build/fuzz/$name-" -print_final_stats=1)
    if [ -f "$here/$name.dict" ]; then
        options+=(-dict="$here/$name.dict")
    fi
    echo "=== $name for ${seconds}s"
    "$target" "${options[@]}" "$corpus" >"$build/fuzz/$name.log" 2>&1 &
    names+=("$name")
    pids+=($!)
done
if [ "${#pids[@]}" -eq 0 ]; then
    echo "fuzz: no fuzz targets in $build/fuzz" >&2
    exit 1
fi
failed=0
for i in "${!pids[@]}"; do
    name=${names[i]}
    if wait "${pids[i]}"; then
        echo "$name: $(grep -E "^stat::number_of_executed_units" "$build/fuzz/$name.log" || echo "done")"
    else
        tail -n 40 "$build/fuzz/$name.log" >&2
        echo "fuzz: $name found a failure; see $build/fuzz/$name.log" >&2
        failed=1
    fi
done
[ "$failed" -eq 0 ] || exit 1
echo "fuzz: ${#pids[@]} targets ran ${seconds}s each, side by side, without a failure"
