#!/usr/bin/env bash
# The layer check on the real checkout, which passes, and on a copy of it with one wrong-way
# include (or one changed link) planted at a time: each planted include fails the check, which
# names its file and line; headers of the system that share a folder's name do not.
# Usage: check-layers-test.sh CHECKOUT
set -u
checkout=$(cd "$1" && pwd)
workdir=$(mktemp -d)
trap 'rm -rf "$workdir"' EXIT
failures=0

fail() {
    echo "FAIL $1"
    failures=$((failures + 1))
}

# A fresh copy for each case, so that no planted line outlives its case.
fresh_copy() {
    rm -rf "$workdir/tree"
    mkdir -p "$workdir/tree/scripts"
    cp -R "$checkout/src" "$checkout/tests" "$checkout/bench" "$checkout/fuzz" "$workdir/tree/"
    cp "$checkout/scripts/check-layers.sh" "$checkout/scripts/cmake-targets.awk" "$workdir/tree/scripts/"
}

run_check() {
    bash "$workdir/tree/scripts/check-layers.sh" "$workdir/tree" >"$workdir/out" 2>&1
}

# plant FILE INCLUDE: a header of its own whose second line is the include.
plant() {
    printf '#pragma once\n#include %s\n' "$2" >"$workdir/tree/$1"
}

expect_fails_naming() {
    local case=$1 text=$2
    if run_check; then
        fail "$case: the check passed"
    elif ! grep -qF -- "$text" "$workdir/out"; then
        fail "$case: no line names \"$text\":"
        cat "$workdir/out"
    fi
}

expect_passes() {
    local case=$1
    if ! run_check; then
        fail "$case: the check failed:"
        cat "$workdir/out"
    fi
}

if ! bash "$checkout/scripts/check-layers.sh" "$checkout" >"$workdir/out" 2>&1; then
    fail "the checkout itself:"
    cat "$workdir/out"
fi

fresh_copy
plant src/protocol/Planted.h '"link/ControllerLink.h"'
expect_fails_naming 'a quoted include upward in src' 'src/protocol/Planted.h:2:'

fresh_copy
plant src/common/Planted.h '<link/ControllerLink.h>'
expect_fails_naming 'an angle-bracket include upward in src' 'src/common/Planted.h:2:'

fresh_copy
plant src/scope/Planted.h '"report/TestReport.h"'
expect_fails_naming 'a sibling the layer does not depend on' 'src/scope/Planted.h:2:'

fresh_copy
plant src/cli/Planted.h '"app/MainWindow.h"'
expect_fails_naming 'the command line including the window' 'front ends never include each other'

fresh_copy
plant src/app/Planted.h '<cli/Cli.h>'
expect_fails_naming 'the window including the command line' 'src/app/Planted.h:2:'

fresh_copy
plant tests/link/Planted.h '"autotest/TestRunner.h"'
expect_fails_naming 'a test folder including a layer above its own' 'tests/link/Planted.h:2:'

fresh_copy
plant tests/support/Planted.h '"cli/Cli.h"'
expect_fails_naming 'the test support including a front end' 'tests/support/Planted.h:2:'

fresh_copy
plant bench/Planted.h '"cli/Cli.h"'
expect_fails_naming 'a benchmark including what it does not link' 'bench/Planted.h:2:'

fresh_copy
plant fuzz/Planted.h '"link/ControllerLink.h"'
expect_fails_naming 'a fuzz target including what it does not link' 'fuzz/Planted.h:2:'

fresh_copy
mkdir "$workdir/tree/src/stray"
plant src/stray/Stray.h '"common/Clock.h"'
expect_fails_naming 'a folder of src that the build does not make' 'src/stray builds no target'

fresh_copy
sed -i 's/^trevane_layer(common DEPENDS Threads::Threads)/trevane_layer(common DEPENDS Threads::Threads trevane_link)/' \
    "$workdir/tree/src/CMakeLists.txt"
expect_fails_naming 'a layer linking one above it' 'a cycle between layers'

fresh_copy
plant src/common/Planted.h '<net/if.h>'
printf '#include <vector>\n#include <QtWidgets/QWidget>\n#include <link.h>\n' >>"$workdir/tree/src/common/Planted.h"
expect_passes 'system headers, one sharing the name of a folder'

fresh_copy
sed -i 's/^trevane_layer(scope DEPENDS trevane_common)/trevane_layer(scope DEPENDS trevane_report)/' \
    "$workdir/tree/src/CMakeLists.txt"
plant src/scope/Planted.h '"report/TestReport.h"'
expect_passes 'a sibling include once the build links it'

# The command line as a library of the layer kind beside a program made of main.cpp alone.
fresh_copy
cat >"$workdir/tree/src/cli/CMakeLists.txt" <<'EOF'
trevane_layer(cli DEPENDS trevane_controller trevane_net trevane_sim nlohmann_json::nlohmann_json)
add_library(trevane_cli_table STATIC CommandTable.cpp)
target_link_libraries(trevane_cli PUBLIC trevane_cli_table)
add_executable(trevane-cli main.cpp)
target_link_libraries(trevane-cli PRIVATE trevane_cli)
EOF
sed -i 's/trevane_cli_table LABELS/trevane_cli LABELS/' "$workdir/tree/tests/cli/CMakeLists.txt"
expect_passes 'the command line as a library'
plant src/cli/Planted.h '"app/MainWindow.h"'
expect_fails_naming 'the command line library including the window' 'front ends never include each other'

if [ "$failures" -ne 0 ]; then
    echo "$failures case(s) failed"
    exit 1
fi
echo "check-layers: every planted include named, the checkout passes"
