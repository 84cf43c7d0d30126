#!/usr/bin/env bash
# Takes docs/screenshot.png: builds trevane, starts it under a virtual X server on the embedded
# simulated controller (loopback only), lets it connect and fill the status table, and saves a
# picture of the window. BUILD_DIR chooses the build directory (default: build).
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
output=${1:-docs/screenshot.png}

if [ ! -f "$build_dir/build.ninja" ]; then
    cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build_dir" -j 2 --target trevane

mkdir -p "$(dirname "$output")"
# The window reads PelornControl.ini and writes its test log in the working directory: give it a
# scratch one, so that the picture never depends on (or litters) the checkout.
workdir=$(mktemp -d)
trap 'rm -rf "$workdir"' EXIT
binary=$(realpath "$build_dir/src/app/trevane")
target=$(realpath -m "$output")
(cd "$workdir" && env -u QT_QPA_PLATFORM xvfb-run -a -s "-screen 0 1280x1024x24" \
    "$binary" --simulate --screenshot "$target")
echo "screenshot: $output"
