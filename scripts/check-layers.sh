#!/usr/bin/env bash
# Fails when a source file includes a header of a folder its folder does not depend on. CMake
# accepts cycles between static libraries and every library adds src/ to the include path, so the
# build alone would not notice an include that points up or sideways.
#
# The rules come from the build itself (scripts/cmake-targets.awk reads every CMakeLists.txt under
# src, tests, bench and fuzz; conditions are not evaluated, so every platform's links count):
#   src/X      its own headers and those of every folder it links, directly or not: for a layer
#              its trevane_layer(X DEPENDS ...) line, for the other folders (the front ends app and
#              cli, net, sim) the target_link_libraries of the targets their CMakeLists.txt makes.
#              The front ends are the folders that nothing else in src/ links; they never include
#              each other. Two folders of src/ that reach each other are a cycle and fail too.
#   tests/X    what src/X may include, tests/support, and whatever the targets of tests/X link by
#              name (the simulator, the TCP client, a harness of another test folder). Every test
#              links the test support, whose own links (the whole core) do not count for them.
#   tests/support, bench, bench/X, fuzz
#              whatever their own targets link, directly or not. The test support thus reaches
#              the core, net and sim but no front end.
# A header is the project's when src/ (or, outside src/, tests/) holds it at the included path;
# <vector>, <QWidget> or <net/if.h> are not. Both "..." and <...> includes count.
# Usage: check-layers.sh [CHECKOUT]
set -euo pipefail
root=${1:-"$(dirname "$0")/.."}
parser="$(cd "$(dirname "$0")" && pwd)/cmake-targets.awk"
cd "$root"
test_support=trevane_test_support

declare -A defined=() home=() provides=() links=()
while read -r kind target value; do
    case $kind in
        T) defined[$target]=1; home[$target]=$value ;;
        P) provides[$target]="${provides[$target]:-} $value" ;;
        L) links[$target]="${links[$target]:-} $value" ;;
    esac
done < <(find src tests bench fuzz -name CMakeLists.txt 2>/dev/null | sort | while read -r file; do
    awk -v home="$(dirname "$file")" -f "$parser" "$file"
done)

# The checked unit of a path, into REPLY: src/X, tests/X, bench/X or fuzz/X, or bench and fuzz
# themselves.
unit_of() {
    local rest=${1#*/}
    if [[ $1 == */* ]]; then REPLY=${1%%/*}/${rest%%/*}; else REPLY=$1; fi
}

declare -A home_unit=()
for target in "${!home[@]}"; do
    unit_of "${home[$target]}"
    home_unit[$target]=$REPLY
done

# The folders a target's sources may include: its own and those of every target it links,
# directly or not. The test support's links are followed only when the walk starts there.
reachable_folders() {
    local start=$1 target next
    local -A seen=()
    local stack=("$start")
    while ((${#stack[@]})); do
        target=${stack[-1]}
        unset 'stack[-1]'
        [[ -z ${seen[$target]+set} ]] || continue
        seen[$target]=1
        echo "${provides[$target]:-}"
        [[ $target != "$test_support" || $target == "$start" ]] || continue
        for next in ${links[$target]:-}; do
            [[ -z ${defined[$next]+set} ]] || stack+=("$next")
        done
    done
}

# The targets whose links decide what a unit may include.
judges_of() {
    local unit=$1 target found=""
    for target in "${!home_unit[@]}"; do
        [[ ${home_unit[$target]} != "$unit" ]] || { echo "$target"; found=1; }
    done
    if [[ $unit == tests/* && -d src/${unit#tests/} ]]; then
        judges_of "src/${unit#tests/}"
    elif [[ -z $found && $unit != src/* ]]; then
        for target in "${!provides[@]}"; do
            [[ " ${provides[$target]} " != *" $unit "* ]] || echo "$target"
        done
    fi
}

declare -A allowed=() judged=()
allow_unit() {
    local unit=$1 target folder folders=" $1 "
    [[ $unit != tests/* ]] || folders+="tests/support "
    for target in $(judges_of "$unit"); do
        judged[$unit]=1
        for folder in $(reachable_folders "$target"); do
            unit_of "$folder"
            folders+="$REPLY "
        done
    done
    allowed[$unit]=$folders
}

status=0
fail() {
    echo "check-layers: $*"
    status=1
}

mapfile -t units < <(find src tests bench fuzz -type f \( -name '*.h' -o -name '*.hpp' -o -name '*.cpp' \
    -o -name '*.cc' \) 2>/dev/null | sed 's#/[^/]*$##; s#^\([^/]*/[^/]*\)/.*#\1#' | sort -u)
for unit in "${units[@]}"; do
    allow_unit "$unit"
    if [[ $unit == src/* && -z ${judged[$unit]+set} ]]; then
        fail "$unit builds no target of its own, so it has no place among the layers"
    fi
done

# The front ends: folders of src/ that no other folder of src/ links.
declare -A linked=() front_end=()
for target in "${!links[@]}"; do
    [[ ${home_unit[$target]:-} == src/?* ]] || continue
    for next in ${links[$target]}; do
        [[ -n ${home_unit[$next]:-} && ${home_unit[$next]} != "${home_unit[$target]}" ]] || continue
        linked[${home_unit[$next]}]=1
    done
done
for unit in "${units[@]}"; do
    [[ $unit != src/* || -n ${linked[$unit]+set} ]] || front_end[$unit]=1
done

for unit in "${units[@]}"; do
    [[ $unit == src/* ]] || continue
    for other in ${allowed[$unit]}; do
        if [[ $other == src/?* && $other != "$unit" && $unit < $other &&
              " ${allowed[$other]:-} " == *" $unit "* ]]; then
            fail "$unit and $other link each other: a cycle between layers"
        fi
    done
done

# The unit of the project's folder that holds a header included from a unit, into REPLY; empty
# when the header is not the project's.
header_unit() {
    local from=$1 header=$2
    REPLY=""
    [[ $header == */* && $header != .* ]] || return 0
    if [[ -f src/$header ]]; then
        unit_of "src/$header"
    elif [[ $from != src/* && -f tests/$header ]]; then
        unit_of "tests/$header"
    fi
}

while IFS=: read -r file line text; do
    unit_of "${file%/*}"
    unit=$REPLY
    header=${text#*include}
    header=${header#"${header%%[<\"]*}"}
    header=${header:1}
    header=${header%%[>\"]*}
    header_unit "$unit" "$header"
    target=$REPLY
    [[ -n $target && " ${allowed[$unit]} " != *" $target "* ]] || continue
    if [[ -n ${front_end[$unit]+set} && -n ${front_end[$target]+set} ]]; then
        fail "$file:$line: $unit includes $header of the front end $target; front ends never include each other"
    else
        fail "$file:$line: $unit includes $header, but $unit does not link $target"
    fi
done < <(find src tests bench fuzz -type f \( -name '*.h' -o -name '*.hpp' -o -name '*.cpp' -o -name '*.cc' \) \
    -print0 2>/dev/null | sort -z | xargs -0 grep -HnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"][^>"]*/' || true)

if [[ $status -eq 0 ]]; then
    echo "check-layers: ${#units[@]} folders, each including only what it links: ok"
fi
exit "$status"
