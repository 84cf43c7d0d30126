#!/usr/bin/env bash
# The program-wide value check against a throwaway library that holds one value of each kind:
# every mutable one is named and fails the check, constants are not, and an allowlist that names
# them all lets it pass.
# Usage: check-program-wide-test.sh PATH_TO_CHECK_SCRIPT [C++ COMPILER] [AR]
set -u
check=$1
cxx=${2:-c++}
ar=${3:-ar}
workdir=$(mktemp -d)
trap 'rm -rf "$workdir"' EXIT
failures=0

fail() {
    echo "FAIL $1"
    failures=$((failures + 1))
}

cat >"$workdir/planted.cpp" <<'EOF'
namespace trevane {
int g_planted = 0;
}
EOF
cat >"$workdir/statics.cpp" <<'EOF'
#include <string>
namespace trevane {
struct Holder {
    static int s_count;
};
int Holder::s_count = 0;

int Calls() {
    static int calls = 0;
    return ++calls;
}

// Built at run time, so it has a guard variable; the check names the static, not the guard.
const std::string& Name() {
    static std::string name(40, 'n');
    return name;
}

thread_local int t_depth = 0;

extern const int kTable[] = {1, 2, 3};
constexpr int kOther[] = {4, 5, 6};
// Pointers: relocated at load time, so in .data.rel.ro rather than .rodata.
extern const char* const kNames[] = {"x", "y", "z"};
int Pick(int i) {
    return kTable[i] + kOther[i] + kNames[i][0] + t_depth;
}
}  // namespace trevane

extern "C" {
int plain_c_counter = 0;
}
EOF

mkdir "$workdir/libs"
for source in planted statics; do
    "$cxx" -std=c++20 -O2 -fPIC -c "$workdir/$source.cpp" -o "$workdir/$source.o" || exit 1
done
"$ar" rcs "$workdir/libs/libplanted.a" "$workdir/planted.o" "$workdir/statics.o" || exit 1

: >"$workdir/empty.txt"
output=$(bash "$check" "$workdir/libs" "$workdir/empty.txt" 2>&1)
rc=$?
echo "$output"
[ "$rc" -eq 1 ] || fail "an unlisted value: exit $rc, not 1"
for value in 'trevane::g_planted  (libplanted.a: planted.o)' \
    'trevane::Holder::s_count  (libplanted.a: statics.o)' \
    'trevane::Calls()::calls  (libplanted.a: statics.o)' \
    'trevane::Name[abi:cxx11]()::name  (libplanted.a: statics.o)' \
    'trevane::t_depth  (libplanted.a: statics.o)' \
    'plain_c_counter  (libplanted.a: statics.o)'; do
    grep -qxF "check-program-wide: new program-wide value: $value" <<<"$output" ||
        fail "not named: $value"
done
for constant in kTable kOther kNames 'guard variable'; do
    if grep -q "$constant" <<<"$output"; then
        fail "reported, but must not be: $constant"
    fi
done

# Exact names and globs, with reasons; the guard folds into name, so one entry covers both.
cat >"$workdir/allowed.txt" <<'EOF'
# comment lines are skipped
trevane::g_planted  # planted
trevane::Holder::s_*  # a glob
trevane::Calls()::calls  # exact, with brackets
trevane::Name*()::name  # a glob over an ABI tag
trevane::t_depth  # per thread
plain_c_counter  # a C global
EOF
output=$(bash "$check" "$workdir/libs" "$workdir/allowed.txt" 2>&1)
rc=$?
echo "$output"
[ "$rc" -eq 0 ] || fail "every value allowed: exit $rc, not 0"
[ "$output" = "program-wide values: 6 allowed, 0 new" ] || fail "every value allowed: $output"

# An entry without its reason is refused even when it matches.
echo "trevane::g_unexplained" >>"$workdir/allowed.txt"
output=$(bash "$check" "$workdir/libs" "$workdir/allowed.txt" 2>&1)
rc=$?
if [ "$rc" -ne 1 ] || ! grep -q "allowed.txt:8: an entry needs" <<<"$output"; then
    fail "an entry without a reason: exit $rc, $output"
fi

[ "$failures" -eq 0 ] && echo "ok: the check names every planted value and passes once they are allowed"
