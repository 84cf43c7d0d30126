#!/usr/bin/env bash
# The skip check against a ctest log of its own making: in CI a skip fails unless it names the
# platform it cannot run on, whether ctest ran the test alone or inside a whole program, and a
# test that ctest skipped without a reason fails too; outside CI every skip is only listed.
# Usage: check-skips-test.sh PATH_TO_CHECK_SCRIPT
set -u
check=$1
workdir=$(mktemp -d)
trap 'rm -rf "$workdir"' EXIT
failures=0

fail() {
    echo "FAIL $1"
    failures=$((failures + 1))
}

# gtest_block NAME REASON...: what GoogleTest prints for one skipped test.
gtest_block() {
    local name=$1
    shift
    echo "[ RUN      ] $name"
    echo "/src/tests/a/ATest.cpp:12: Skipped"
    printf '%s\n' "$@"
    echo "[  SKIPPED ] $name (0 ms)"
}

# ctest_block INDEX NAME CLOSING OUTPUT: one test of ctest's LastTest.log.
ctest_block() {
    cat <<EOF
$1/9 Testing: $2
$1/9 Test: $2
Command: "/build/tests/a/a_tests" "--gtest_filter=$2"
Directory: /build/tests/a
"$2" start time: Dec 09 21:11 UTC
Output:
----------------------------------------------------------
[==========] Running 1 test from 1 test suite.
$4
[  PASSED  ] 0 tests.
<end of output>
Test time =   0.02 sec
----------------------------------------------------------
$3
"$2" end time: Dec 09 21:11 UTC
----------------------------------------------------------

EOF
}

skipped_by_regex=$'Test Pass Reason:\nSkip regular expression found in output. Regex=[\\[  SKIPPED \\]]'

# make_log CASE BLOCK...: a build folder whose ctest log holds the blocks.
make_log() {
    mkdir -p "$workdir/$1/Testing/Temporary"
    local name=$1
    shift
    {
        echo "Start testing: Dec 09 21:11 UTC"
        echo "----------------------------------------------------------"
        printf '%s' "$@"
        echo "End testing: Dec 09 21:11 UTC"
    } >"$workdir/$name/Testing/Temporary/LastTest.log"
}

# expect CASE CI OUTCOME TEXT: OUTCOME is pass or fail; TEXT must be in what the check printed.
expect() {
    local case=$1 ci=$2 outcome=$3 text=$4 result=pass
    CI=$ci bash "$check" "$workdir/$case" >"$workdir/out" 2>&1 || result=fail
    if [ "$result" != "$outcome" ]; then
        fail "$case with CI=$ci: expected $outcome, got $result:"
        cat "$workdir/out"
    elif ! grep -qF -- "$text" "$workdir/out"; then
        fail "$case with CI=$ci: no line holds \"$text\":"
        cat "$workdir/out"
    fi
}

make_log platform "$(ctest_block 1 A.OnlyElsewhere "$skipped_by_regex" \
    "$(gtest_block A.OnlyElsewhere "on Windows: no POSIX modes" "second line")")" \
    "$(ctest_block 2 A.Runs "Test Passed." "[       OK ] A.Runs (0 ms)")"
expect platform true pass 'A.OnlyElsewhere skipped: on Windows: no POSIX modes / second line'

make_log plain "$(ctest_block 1 A.NeedsAServer "$skipped_by_regex" \
    "$(gtest_block A.NeedsAServer "SKIPPED, no PostgreSQL server: initdb not found")")"
expect plain true fail 'A.NeedsAServer skipped in CI: SKIPPED, no PostgreSQL server: initdb not found'
expect plain false pass 'A.NeedsAServer skipped: SKIPPED, no PostgreSQL server'

make_log mention "$(ctest_block 1 A.Mentions "$skipped_by_regex" \
    "$(gtest_block A.Mentions "cannot mount here, unlike on Windows: it is Linux")")"
expect mention true fail 'A.Mentions skipped in CI'

# CI runs on Linux: naming it is no reason to skip there.
make_log linux "$(ctest_block 1 A.NotHere "$skipped_by_regex" \
    "$(gtest_block A.NotHere "on Linux: needs a mount")")"
expect linux true fail 'A.NotHere skipped in CI'

make_log bare "$(ctest_block 1 A.Bare "$skipped_by_regex" "$(gtest_block A.Bare "")")"
expect bare true fail 'A.Bare skipped in CI'

# One ctest entry for a whole program: ctest calls it passed, the skip inside still counts.
make_log whole "$(ctest_block 1 server_tests "Test Passed." \
    "$(gtest_block Server.Stores "no server here")
[       OK ] Server.Other (3 ms)")"
expect whole true fail 'Server.Stores (in server_tests) skipped in CI: no server here'

# A skip return code: only ctest's printed summary tells.
make_log summary "$(ctest_block 1 script_check "Test Passed." "nothing to do")"
printf '\nThe following tests did not run:\n\t  1 - script_check (Skipped)\n' \
    >"$workdir/summary/ctest-summary.log"
expect summary true fail 'script_check skipped without a reason'
expect summary false pass 'script_check skipped without a reason'

mkdir -p "$workdir/nolog"
expect nolog true fail 'no ctest log'

if [ "$failures" -ne 0 ]; then
    echo "$failures case(s) failed"
    exit 1
fi
echo "check-skips: every case as expected"
