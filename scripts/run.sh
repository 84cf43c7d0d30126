#!/usr/bin/env bash
# Builds Trevane and opens the window on the embedded simulated controller.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target trevane
exec build/src/app/trevane --simulate "$@"
