#!/usr/bin/env bash
# Fails when a file in src/ includes a header of a folder that is not below its own. CMake accepts
# cycles between static libraries, so the build alone would not notice an arrow that points up.
#
# The order, lowest first; a folder may include its own headers and those of every folder before
# it. net (the TCP client) and sim (the simulated controller) stand beside the order on protocol
# and common; only the front ends (app, cli) use them, and the front ends never use each other.
set -euo pipefail
cd "$(dirname "$0")/.."

order=(common protocol traffic link machine autotest history report scope console controller)
declare -A allowed
below=""
for folder in "${order[@]}"; do
    allowed[$folder]="$below $folder"
    below="$below $folder"
done
allowed[net]="common protocol net"
allowed[sim]="common protocol sim"
allowed[app]="$below net sim app"
allowed[cli]="$below net sim cli"

status=0
for dir in src/*/; do
    folder=$(basename "$dir")
    if [ -z "${allowed[$folder]+set}" ]; then
        echo "check-layers: src/$folder has no place in the layer order (scripts/check-layers.sh)"
        status=1
        continue
    fi
    while IFS=: read -r file line include; do
        target=${include#*\"}
        target=${target%%/*}
        [ -d "src/$target" ] || continue
        case " ${allowed[$folder]} " in
            *" $target "*) ;;
            *)
                echo "check-layers: $file:$line: $folder includes $target, which is not below it"
                status=1
                ;;
        esac
    done < <(grep -Hn '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^"/]*/' "$dir"*.h "$dir"*.cpp 2>/dev/null || true)
done
if [ "$status" -eq 0 ]; then
    echo "check-layers: ${order[*]}, then app and cli; net and sim on protocol and common: ok"
fi
exit "$status"
