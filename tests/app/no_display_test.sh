#!/usr/bin/env bash
# trevane where no window can be opened: one line on standard error naming why, exit code 1,
# never Qt's abort. Usage: no_display_test.sh PATH_TO_TREVANE
set -u
binary=$1
workdir=$(mktemp -d)
trap 'rm -rf "$workdir"' EXIT
failures=0

expect_refusal() {
    local what=$1 pattern=$2
    shift 2
    local stderr rc
    stderr=$(cd "$workdir" && "$@" 2>&1 >/dev/null)
    rc=$?
    local lines
    lines=$(printf '%s\n' "$stderr" | grep -c .)
    if [ "$rc" -ne 1 ] || [ "$lines" -ne 1 ] || ! grep -q "$pattern" <<<"$stderr"; then
        echo "FAIL $what: exit $rc, standard error:"
        printf '%s\n' "$stderr"
        failures=$((failures + 1))
    else
        echo "ok   $what: $stderr"
    fi
}

expect_refusal "no display set" "^trevane: no display available" \
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$binary" --simulate
# A display that is named but not there (nothing listens on :987 here).
expect_refusal "display unreachable" "^trevane: cannot open a window" \
    env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY=:987 XDG_RUNTIME_DIR="$workdir" \
    "$binary" --simulate
[ "$failures" -eq 0 ]
