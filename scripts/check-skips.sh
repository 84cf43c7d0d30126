#!/usr/bin/env bash
# Lists every skipped test of a ctest run with its reason; in CI (CI=true) a skip fails the run
# unless its reason begins with the platform the test cannot run on: "on Windows: ..." or
# "on macOS: ...". CI runs on Linux, where nothing may skip: a server, a mount or a permission
# that a test needs there is a failure of the machine, not a reason.
#
# The reasons come from ctest's own log of the run (Testing/Temporary/LastTest.log), which keeps
# every test's output whether it passed or not, so a GoogleTest skip inside a program that ctest
# runs as one test is found too. ctest's printed summary, when given, adds the tests that ctest
# itself reports as skipped (a skip return code leaves no mark in its log): each needs a reason.
# Usage: check-skips.sh BUILD_DIR [CTEST_OUTPUT]
#   CTEST_OUTPUT  what ctest printed; BUILD_DIR/ctest-summary.log when it exists
set -euo pipefail
build=$1
log="$build/Testing/Temporary/LastTest.log"
summary=${2:-"$build/ctest-summary.log"}
in_ci=false
[[ ${CI:-} != true ]] || in_ci=true
platform_reason='^on (Windows|macOS): '

if [[ ! -f $log ]]; then
    echo "check-skips: no ctest log at $log"
    [[ $in_ci == false ]] || exit 1
    exit 0
fi

# One line per GoogleTest skip: ctest's test name, GoogleTest's, and the reason's lines joined by
# " / "; and one line per test whose output ctest matched as a skip.
records=$(awk '
    /^[0-9]+\/[0-9]+ Testing: / { test = $0; sub(/^[0-9]+\/[0-9]+ Testing: /, "", test); next }
    /^\[ RUN      \] / { inside = 0; next }
    /: Skipped$/ { inside = 1; reason = ""; next }
    inside && /^\[  SKIPPED \] .* \([0-9]+ ms\)$/ {
        name = $0
        sub(/^\[  SKIPPED \] /, "", name)
        sub(/ \([0-9]+ ms\)$/, "", name)
        printf "skip\t%s\t%s\t%s\n", test, name, reason
        inside = 0
        next
    }
    inside { reason = (reason == "" ? $0 : reason " / " $0); next }
    /^Skip regular expression found in output/ { printf "ctest\t%s\n", test }
' "$log")

declare -A explained=()
skipped=()
failures=0
while IFS=$'\t' read -r kind test name reason; do
    case $kind in
        skip)
            explained[$test]=1
            [[ $name == "$test" ]] || name="$name (in $test)"
            if [[ $in_ci == true && ! $reason =~ $platform_reason ]]; then
                echo "check-skips: $name skipped in CI: ${reason:-no reason given}"
                failures=$((failures + 1))
            else
                echo "check-skips: $name skipped: ${reason:-no reason given}"
            fi
            ;;
        ctest) skipped+=("$test") ;;
    esac
done <<<"$records"

if [[ -f $summary ]]; then
    while read -r test; do
        skipped+=("$test")
    done < <(sed -n 's/^[[:space:]]*[0-9]* - \(.*\) (Skipped)$/\1/p' "$summary")
fi
for test in ${skipped[@]+"${skipped[@]}"}; do
    [[ -z ${explained[$test]+set} ]] || continue
    explained[$test]=1
    echo "check-skips: $test skipped without a reason in its output"
    [[ $in_ci == false ]] || failures=$((failures + 1))
done

if ((failures > 0)); then
    echo "check-skips: $failures skip(s) in CI without a platform the test cannot run on"
    exit 1
fi
