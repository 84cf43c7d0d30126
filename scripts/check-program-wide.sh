#!/usr/bin/env bash
# Fails when a library below the front ends defines a program-wide mutable value that is not on
# the allowlist. One controller's state belongs to one controller object; a value that every
# controller shares silently couples two sessions (and two tests) that should know nothing of
# each other.
#
#   check-program-wide.sh [--list] FOLDER [ALLOWLIST]
#
# FOLDER is a build folder (its src/ is scanned, src/app and src/cli left out) or any folder of
# static libraries, all of which are scanned. ALLOWLIST defaults to scripts/program-wide-values.txt.
# --list prints every value found, with where it is defined, and ignores the allowlist.
#
# A value is mutable when the compiler placed it in a writable data section: .data, .bss, .tdata or
# .tbss and their per-symbol subsections. .rodata and .data.rel.ro (constants, vtables, type
# information) are not; a const object that is built at run time is, as its storage is written
# after start-up. Values count when they belong to namespace trevane or to the global namespace of
# a project file; what library headers instantiate (std, asio) and what the compiler and the
# sanitizers add (names reserved to the implementation) does not. A guard variable stands for the
# static it guards, and a reference temporary for the static reference bound to it.
set -euo pipefail
# Names sort and match byte by byte, whatever the locale the tests run under.
export LC_ALL=C

list_only=0
if [ "${1:-}" = "--list" ]; then
    list_only=1
    shift
fi
if [ $# -lt 1 ] || [ $# -gt 2 ]; then
    echo "usage: $0 [--list] FOLDER [ALLOWLIST]" >&2
    exit 2
fi
repo=$(cd "$(dirname "$0")/.." && pwd)
folder=$1
allowlist=${2:-$repo/scripts/program-wide-values.txt}
name=check-program-wide

if [ ! -d "$folder" ]; then
    echo "$name: no folder $folder" >&2
    exit 2
fi
for tool in objdump c++filt; do
    command -v "$tool" >/dev/null || { echo "$name: $tool is missing (binutils)" >&2; exit 2; }
done

# The libraries to read: below the front ends only, as the front ends own the program.
if [ -d "$folder/src" ]; then
    root=$folder/src
    mapfile -t libraries < <(find "$root" \( -path "$root/app" -o -path "$root/cli" \) -prune \
        -o -name 'lib*.a' -print | sort)
else
    root=$folder
    mapfile -t libraries < <(find "$root" -name 'lib*.a' | sort)
fi
if [ ${#libraries[@]} -eq 0 ]; then
    echo "$name: no static libraries under $root; build them first" >&2
    exit 2
fi
# In a build folder of this tree every layer must be there: a library left unbuilt would pass.
if [ -f "$folder/CMakeCache.txt" ]; then
    missing=0
    for dir in "$repo"/src/*/; do
        layer=$(basename "$dir")
        case $layer in app | cli) continue ;; esac
        if ! printf '%s\n' "${libraries[@]}" | grep -q "/libtrevane_$layer\.a$"; then
            echo "$name: libtrevane_$layer.a is not built in $folder (target trevane_$layer)" >&2
            missing=1
        fi
    done
    [ "$missing" -eq 0 ] || exit 2
fi

# One line per value: library, object, demangled name. objdump prints each archive member as
# "member:     file format ..." and each symbol as "value flags section<TAB>size name".
scan() {
    local library
    for library in "${libraries[@]}"; do
        objdump -t "$library" | awk -v library="$(basename "$library")" '
            / file format / { object = $1; sub(/:$/, "", object); next }
            !/^[0-9a-f]+ / { next }
            {
                flags = substr($0, 18, 7)
                kind = substr(flags, 7, 1)
                if (substr(flags, 6, 1) == "d" || kind == "f" || kind == "F") next
                split(substr($0, 26), parts, "\t")
                section = parts[1]
                if (section !~ /^\.(data|bss|tdata|tbss|ldata|lbss)(\.|$)/) next
                if (section ~ /^\.data\.rel\.ro(\.|$)/) next
                count = split(parts[2], words, " ")
                symbol = words[count]
                if (symbol ~ /^_Z/) {
                    if (symbol !~ /^_Z(GV|GR)?Z*(N[rVKRO]*7trevane|L?[0-9])/) next
                } else if (symbol !~ /^[A-Za-z][A-Za-z0-9_]*$/) {
                    next
                }
                printf "%s\t%s\t%s\n", library, object, symbol
            }'
    done
}

# Demangles the third column, folds guards and reference temporaries into their statics, and
# keeps one line per name (inline statics are defined again in every object that uses them).
values=$(scan | c++filt | awk -F '\t' '
    {
        value = $3
        sub(/^guard variable for /, "", value)
        sub(/^reference temporary #[0-9]+ for /, "", value)
        if (!(value in where)) { where[value] = $1 ": " $2; order[++n] = value }
        else if (index(where[value], $2) == 0) { more[value]++ }
    }
    END {
        for (i = 1; i <= n; i++) {
            value = order[i]
            extra = more[value] ? " and " more[value] " more" : ""
            printf "%s\t%s%s\n", value, where[value], extra
        }
    }' | sort -t $'\t' -k1,1)

if [ "$list_only" -eq 1 ]; then
    [ -z "$values" ] || printf '%s\n' "$values" | awk -F '\t' '{ printf "%s  (%s)\n", $1, $2 }'
    exit 0
fi

if [ ! -f "$allowlist" ]; then
    echo "$name: no allowlist $allowlist" >&2
    exit 2
fi
# Each entry: "<demangled name or glob>  # why". A name matches an entry spelled exactly like it
# or, failing that, read as a glob (names hold brackets, as in [abi:cxx11]).
patterns=()
bad=0
line_number=0
while IFS= read -r line || [ -n "$line" ]; do
    line_number=$((line_number + 1))
    [[ $line =~ ^[[:space:]]*(#|$) ]] && continue
    if [[ ! $line =~ ^(.*[^[:space:]])[[:space:]]+#[[:space:]]*[^[:space:]] ]]; then
        echo "$name: $allowlist:$line_number: an entry needs '# why it must be program-wide'"
        bad=1
        continue
    fi
    patterns+=("${BASH_REMATCH[1]}")
done <"$allowlist"

declare -A used
allowed=0
new=0
while IFS=$'\t' read -r value where; do
    [ -n "$value" ] || continue
    match=""
    for pattern in "${patterns[@]}"; do
        if [ "$value" = "$pattern" ]; then match=$pattern; break; fi
    done
    if [ -z "$match" ]; then
        for pattern in "${patterns[@]}"; do
            # case, not [[ == ]]: the latter reads "*(" as an extended glob.
            # shellcheck disable=SC2254  # the entry is a glob on purpose
            case $value in $pattern) match=$pattern; break ;; esac
        done
    fi
    if [ -n "$match" ]; then
        used[$match]=1
        allowed=$((allowed + 1))
    else
        echo "$name: new program-wide value: $value  ($where)"
        new=$((new + 1))
    fi
done <<<"$values"

for pattern in "${patterns[@]}"; do
    if [ -z "${used[$pattern]+set}" ]; then
        echo "$name: note: no longer found, delete it from $(basename "$allowlist"): $pattern"
    fi
done
if [ "$new" -gt 0 ] || [ "$bad" -ne 0 ]; then
    if [ "$new" -gt 0 ]; then
        echo "$name: $new new; keep them in the object that owns them, or add them to" \
            "$allowlist with the reason they must be program-wide"
    fi
    exit 1
fi
echo "program-wide values: $allowed allowed, 0 new"
