#!/usr/bin/env bash
# Run by scripts/windows-check.sh inside a virtual X server (xvfb-run), with WINEPREFIX set:
# starts the Windows window under Wine in FOLDER (which holds its PelornControl.ini), clicks
# Connect and then Run Auto Test, waits until the test's log holds ENTRIES lines (as many as the
# Linux CLI's log of the same test), keeps a screenshot in SCREENSHOT and closes the window.
# Usage: windows-window.sh TREVANE_EXE FOLDER ENTRIES SCREENSHOT
set -euo pipefail
exe=$1
folder=$2
entries=$3
screenshot=$4
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"

fail() {
    echo "windows-window: $*" >&2
    import -window root "$screenshot" 2>/dev/null || true
    exit 1
}

if [[ ! -f $WINEPREFIX/system.reg ]]; then
    timeout 300 wineboot --init >/dev/null 2>&1 || fail "wineboot could not make $WINEPREFIX"
    timeout 120 wineserver -w || true
fi

cd "$folder"
wine "$exe" >window.out 2>window.err &
app=$!
trap 'kill "$app" 2>/dev/null || true; timeout 30 wineserver -k 2>/dev/null || true' EXIT

window=
for _ in $(seq 240); do
    window=$(xdotool search --onlyvisible --name '^Trevane$' 2>/dev/null | head -1 || true)
    [[ -n $window ]] && break
    kill -0 "$app" 2>/dev/null || fail "the window ended before it showed: $(cat window.err)"
    sleep 0.5
done
[[ -n $window ]] || fail "no window named Trevane came up: $(cat window.err)"
sleep 2
eval "$(xdotool getwindowgeometry --shell "$window")"
echo "windows-window: window $window at $X,$Y size ${WIDTH}x$HEIGHT" >&2
import -window root "$screenshot"
