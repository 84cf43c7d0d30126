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

# The template's dialog units in pixels, as the window lays them out: a quarter of the dialog
# font's average character width across, an eighth of its height down. The X window is the
# client area: the 549 x 357 units of the template and the link strip (the font's height and
# four pixels) below them.
muldiv() { echo $((($1 * $2 + $3 / 2) / $3)); }
avg=
height=
for a in $(seq 3 20); do
    [[ $(muldiv 549 "$a" 4) == "$WIDTH" ]] && avg=$a
done
for h in $(seq 8 40); do
    [[ $(($(muldiv 357 "$h" 8) + h + 4)) == "$HEIGHT" ]] && height=$h
done
[[ -n $avg && -n $height ]] ||
    fail "a ${WIDTH}x$HEIGHT window does not fit the 549 x 357 template with its strip"
echo "windows-window: ${WIDTH}x$HEIGHT pixels, dialog base units $avg x $height" >&2

# Clicks the middle of a control given by its template rectangle (x, y, width, height).
click() {
    local x=$(($(muldiv $(($1 * 2 + $3)) "$avg" 8))) y=$(($(muldiv $(($2 * 2 + $4)) "$height" 16)))
    xdotool mousemove --window "$window" "$x" "$y" click 1
}

click 93 7 49 13 # Connect
sleep 3
click 396 156 106 17 # Run Auto Test
log=
for _ in $(seq 60); do
    log=$(ls logFile.txt*.txt 2>/dev/null | head -1 || true)
    [[ -n $log ]] && break
    sleep 0.5
done
[[ -n $log ]] || fail "Run Auto Test started no test: no log file in $folder"
for _ in $(seq 600); do
    (($(grep -c . "$log") >= entries)) && break
    kill -0 "$app" 2>/dev/null || fail "the window ended during the test: $(cat window.err)"
    sleep 0.5
done
(($(grep -c . "$log") >= entries)) || fail "the test's log holds $(grep -c . "$log") of $entries entries"
sleep 2
import -window root "$screenshot"
# Escape is the dialog's Cancel: the window closes and the program ends.
xdotool key Escape
for _ in $(seq 60); do
    kill -0 "$app" 2>/dev/null || exit 0
    sleep 0.5
done
fail "the window did not close on Escape"
