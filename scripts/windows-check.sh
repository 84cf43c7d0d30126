#!/usr/bin/env bash
# The Windows build: cross-compiles everything, the window included (on Qt cross-built from
# Debian's sources by scripts/windows-qt.sh), with mingw-w64 into build-windows/, runs the tests
# under Wine, runs the Windows trevane-cli's and the Windows window's automatic test against the
# Linux simulator on loopback and compares their logs with the Linux CLI's, checks that Ctrl-C of
# a Windows jog leaves the axis standing, packs the ZIP and the installer, and installs and
# uninstalls it silently. Exits non-zero naming the step that failed.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=$root/build-windows
# The Linux simulator and CLI come from the main build when there is one.
linux=${TREVANE_LINUX_BUILD:-$root/build}

step="start"
fail() {
    echo "windows-check: FAILED at step '$step': $*" >&2
    exit 1
}
trap 'echo "windows-check: FAILED at step '"'"'$step'"'"' (line $LINENO)" >&2' ERR
begin() {
    step=$1
    echo "=== windows-check: $step (at $SECONDS s)"
}

pids=()
cleanup() {
    for pid in "${pids[@]}"; do
        kill -INT "$pid" 2>/dev/null || true
    done
}
trap cleanup EXIT

# Wine links the user's Documents, Desktop and the like to the Linux home folder; the checks
# install into them, so they become folders inside the prefix.
keep_in_prefix() {
    local link
    for link in "$1"/drive_c/users/*/*; do
        if [[ -L $link ]]; then
            rm "$link" && mkdir "$link"
        fi
    done
}

# The version resource and the manifest that Explorer and Windows read from the window's .exe.
check_identity() {
    local exe=$1 resources
    resources=$(x86_64-w64-mingw32-windres -i "$exe" -O rc 2>/dev/null) || fail "windres cannot read $exe's resources"
    local value
    for value in '"ProductName", "Trevane"' '"FileDescription", "Ostrel"' '"OriginalFilename", "Trevane.exe"' \
        '"FileVersion", "1.0.0.1"' '"ProductVersion", "1.0.0.1"' 'FILEVERSION 1, 0, 0, 1' 'PRODUCTVERSION 1, 0, 0, 1'; do
        grep -qF "$value" <<<"$resources" || fail "$exe's version resource lacks $value"
    done
    local manifest
    manifest=$(strings -n 8 "$exe" | tr -d '\r')
    for value in 'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"' 'level="asInvoker"' \
        '>true/pm</dpiAware>'; do
        grep -qF "$value" <<<"$manifest" || fail "$exe's manifest lacks $value"
    done
}

# Every DLL that a shipped program, DLL or plugin imports is shipped in bin/ or is one of
# Windows' own (Wine's system32 holds a stand-in for each); nothing in bin/ goes unused.
check_imports() {
    local stage=$1 system32=$WINEPREFIX/drive_c/windows/system32
    local shipped imported="" file dll lower
    shipped=$(find "$stage/bin" -maxdepth 1 -iname '*.dll' -printf '%f\n' | tr 'A-Z' 'a-z')
    while IFS= read -r file; do
        while IFS= read -r dll; do
            lower=$(tr 'A-Z' 'a-z' <<<"$dll")
            imported+="$lower"$'\n'
            grep -qxF "$lower" <<<"$shipped" && continue
            case $lower in
            libstdc++* | libgcc* | libwinpthread* | qt6* | *qcustomplot*)
                fail "$(basename "$file") needs $dll, which is not shipped" ;;
            # API sets: names Windows itself resolves to its own DLLs.
            api-ms-win-*) continue ;;
            esac
            [[ -n $(find "$system32" -maxdepth 1 -iname "$dll" -print -quit) ]] ||
                fail "$(basename "$file") needs $dll, neither shipped nor one of Windows' own"
        done < <(x86_64-w64-mingw32-objdump -p "$file" | sed -n 's/^[[:space:]]*DLL Name: //p')
    done < <(find "$stage/bin" -iname '*.exe' -o -iname '*.dll')
    while IFS= read -r dll; do
        grep -qxF "$dll" <<<"$imported" || fail "bin/$dll is shipped but nothing imports it"
    done <<<"$shipped"
}

source "$root/scripts/debian-source.sh"

begin "install the cross compiler and Wine"
packages=(g++-mingw-w64-x86-64-posix wine wine64 googletest libasio-dev nlohmann-json3-dev cmake ninja-build
    ccache tcl xz-utils dpkg-dev qt6-base-dev libqcustomplot-dev nsis xvfb xauth xdotool imagemagick
    fonts-dejavu-core fonts-wine unzip)
missing=()
for package in "${packages[@]}"; do
    dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
if ((${#missing[@]})); then
    export DEBIAN_FRONTEND=noninteractive
    apt_wait=(-o DPkg::Lock::Timeout=600)
    apt-get "${apt_wait[@]}" update -qq && apt-get "${apt_wait[@]}" install -y -qq "${missing[@]}" >/dev/null
fi

begin "make SQLite's one-file source from Debian's sqlite3 sources"
# Debian has no SQLite built for Windows. Its source package is fetched through the machine's own
# package sources (as deb-src, in a private apt state) and turned into sqlite3.c by its makefile.
sqlite=$out/sqlite
if [[ ! -f $sqlite/sqlite3.c || ! -f $sqlite/sqlite3.h ]]; then
    rm -rf "$sqlite"
    tree=$(debian_source sqlite3 "$out/sqlite-source")
    mkdir -p "$sqlite/build"
    (cd "$sqlite/build" && "$tree/configure" >configure.log 2>&1 && make sqlite3.c >make.log 2>&1) ||
        fail "could not make sqlite3.c (see $sqlite/build/*.log)"
    mv "$sqlite/build/sqlite3.c" "$sqlite/build/sqlite3.h" "$sqlite/"
    rm -rf "$sqlite/build" "$out/sqlite-source"
fi

begin "Qt and QCustomPlot for Windows (built once, then cached)"
qt=$(bash scripts/windows-qt.sh | tail -1)
[[ -f $qt/.complete ]] || fail "scripts/windows-qt.sh gave no Qt prefix"

begin "cross-build into build-windows/"
cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw64.cmake" \
    -DTREVANE_BUILD_GUI=ON -DTREVANE_BUILD_BENCH=OFF -DTREVANE_BUILD_FUZZ=OFF \
    -DTREVANE_SQLITE_SOURCE="$sqlite" -DTREVANE_QT_PREFIX="$qt" -DQT_HOST_PATH=/usr \
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake >/dev/null
nice cmake --build "$out" -j "$(nproc)"
for program in trevane-cli trevane-sim; do
    exe=$(find "$out/src" -name "$program.exe" | head -1)
    [[ -n $exe ]] || fail "$program.exe was not built"
    if x86_64-w64-mingw32-objdump -p "$exe" | grep -iE 'DLL Name: (libstdc|libgcc|libwinpthread)'; then
        fail "$program.exe needs the compiler's DLLs"
    fi
done
cli_exe=$(find "$out/src" -name trevane-cli.exe | head -1)

begin "stage the installed programs and check the window's identity"
stage=$out/stage
rm -rf "$stage"
cmake --install "$out" --prefix "$stage" >/dev/null || fail "cmake --install into $stage failed"
[[ -f $stage/bin/trevane.exe ]] || fail "the window trevane.exe is not installed"
check_identity "$stage/bin/trevane.exe"

begin "prepare a headless Wine prefix"
export WINEPREFIX=$out/wine
export WINEDEBUG=-all
# No Mono or Gecko prompts, and no debugger that would hold a crashed test until its timeout.
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
unset DISPLAY WAYLAND_DISPLAY
# A new prefix with the user's folders inside it, and Wine's null graphics driver when asked.
make_prefix() {
    local prefix=$1 driver=$2
    [[ -f $prefix/system.reg ]] && return 0
    WINEPREFIX=$prefix timeout 300 wineboot --init >/dev/null 2>&1 || fail "wineboot could not make $prefix"
    WINEPREFIX=$prefix timeout 120 wineserver -w || true
    if [[ $driver == null ]]; then
        WINEPREFIX=$prefix timeout 60 wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f \
            >/dev/null 2>&1 || fail "could not select Wine's null graphics driver"
        WINEPREFIX=$prefix timeout 120 wineserver -w || true
    fi
    keep_in_prefix "$prefix"
}
make_prefix "$WINEPREFIX" null

begin "check that the shipped files import only what ships or what Windows has"
check_imports "$stage"

begin "run the Windows tests under Wine"
tests_passed=1
(cd "$out" && CTEST_OUTPUT_ON_FAILURE=1 ctest -j "$(nproc)" --timeout 300) 2>&1 |
    tee "$out/wine-tests.log" || tests_passed=0
# Only Wine's own failure to start a program gets a second run, and only of what failed: a test
# that starts while the previous test's wineserver shuts down dies connecting to it ("wine client
# error:0: recvmsg: Connection reset by peer"). A persistent wineserver is no cure: the services
# it keeps alive hold the first test's output open, and ctest waits on them.
if [[ $tests_passed == 0 ]] && grep -q '^wine client error' "$out/wine-tests.log"; then
    echo "windows-check: Wine failed to start a test; running the failed ones again"
    (cd "$out" && CTEST_OUTPUT_ON_FAILURE=1 ctest --rerun-failed --timeout 300) && tests_passed=1
fi
[[ $tests_passed == 1 ]] || fail "a Windows test failed (see above)"

begin "build the Linux simulator and CLI"
if [[ ! -f $linux/CMakeCache.txt ]]; then
    linux=$out/linux
    cmake -S . -B "$linux" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTREVANE_BUILD_GUI=OFF \
        -DTREVANE_BUILD_TESTS=OFF -DTREVANE_BUILD_BENCH=OFF >/dev/null
fi
if [[ $linux == "$root"/* ]]; then
    nice cmake --build "$linux" -j "$(nproc)" --target trevane-sim trevane-cli
fi
sim=$linux/src/sim/trevane-sim
cli=$linux/src/cli/trevane-cli
[[ -x $sim && -x $cli ]] || fail "no Linux trevane-sim and trevane-cli in $linux"

work=$out/check
rm -rf "$work"
mkdir -p "$work"

# Starts a fresh simulator on a free loopback port; sets sim_port.
start_sim() {
    local name=$1
    "$sim" --bind 127.0.0.1 --port 0 >"$work/$name.sim" 2>&1 &
    pids+=($!)
    sim_pid=$!
    sim_port=
    for _ in $(seq 100); do
        sim_port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/$name.sim")
        [[ -n $sim_port ]] && return 0
        sleep 0.1
    done
    fail "the simulator did not start: $(cat "$work/$name.sim")"
}
stop_sim() {
    kill -INT "$sim_pid"
    wait "$sim_pid" || fail "the simulator did not stop cleanly"
}

# The log's entries with the time stamps ("MM/DD/YY HH:MM:SS ") and the readings' digits left out.
log_form() {
    sed -E 's#[0-9]{2}/[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} #<stamp> #g; s/-?[0-9]+(\.[0-9]+)?/<n>/g' "$1"
}

run_autotest() {
    local name=$1
    shift
    mkdir -p "$work/$name"
    start_sim "$name"
    (cd "$work/$name" && timeout 300 "$@" --address 127.0.0.1 --port "$sim_port" autotest \
        >../"$name".out 2>../"$name".err) ||
        fail "$name autotest exited $?: $(cat "$work/$name.err")"
    stop_sim
    local logs=("$work/$name"/logFile.txt*.txt)
    [[ ${#logs[@]} == 1 && -f ${logs[0]} ]] || fail "$name autotest left no single log file"
    log_form "${logs[0]}" >"$work/$name.form"
}

begin "autotest of the Windows CLI against the Linux simulator"
run_autotest linux "$cli"
run_autotest windows wine "$cli_exe"
if ! diff -u "$work/linux.form" "$work/windows.form"; then
    fail "the Windows CLI's log differs in form from the Linux CLI's"
fi
# Byte for byte apart from the numbers: the same line ends on both.
cmp -s <(tr -cd '\r' <"$work"/linux/logFile.txt*.txt) <(tr -cd '\r' <"$work"/windows/logFile.txt*.txt) ||
    fail "the Windows CLI's log has other line ends than the Linux CLI's"

begin "a fleet of two of the Windows CLI against two Linux simulators"
mkdir -p "$work/fleet"
start_sim fleet-a
fleet_a=$sim_pid port_a=$sim_port
start_sim fleet-b
fleet_b=$sim_pid port_b=$sim_port
printf '127.0.0.1 %s cell-a\r\n127.0.0.1 %s cell-b\r\n' "$port_a" "$port_b" >"$work/fleet/fleet.txt"
(cd "$work/fleet" && timeout 300 wine "$cli_exe" fleet fleet.txt --json autotest \
    >../fleet.out 2>../fleet.err) || fail "the Windows fleet exited $?: $(cat "$work/fleet.err")"
for pid in "$fleet_a" "$fleet_b"; do
    kill -INT "$pid"
    wait "$pid" || fail "a fleet's simulator did not stop cleanly"
done
for cell in cell-a cell-b; do
    logs=("$work/fleet/$cell"/logFile.txt*.txt)
    [[ ${#logs[@]} == 1 && -f ${logs[0]} ]] || fail "the Windows fleet left no single log in $cell"
    log_form "${logs[0]}" | diff -u "$work/linux.form" - ||
        fail "the Windows fleet's log of $cell differs in form from the Linux CLI's"
    grep -q '"controller": *"'"$cell"'".*"state": *"passed"' "$work/fleet.out" ||
        fail "the Windows fleet did not report $cell passed: $(tail -5 "$work/fleet.out")"
done
[[ -f $work/fleet/trevane-history.sqlite && -f $work/fleet/fleet-summary.html ]] ||
    fail "the Windows fleet left no shared history or summary"
rows=$(cd "$work/fleet" && "$cli" history --json | grep -o '"id":' | wc -l)
[[ $rows == 2 ]] || fail "the Windows fleet's history holds $rows tests, not 2"

begin "Ctrl-C of a Windows jog leaves the axis standing"
start_sim jog
speed_of_y() {
    "$cli" --address 127.0.0.1 --port "$sim_port" send "MG _TVY" 2>/dev/null | tr -d ' \r' || true
}
# A jog drives only motors that are on.
"$cli" --address 127.0.0.1 --port "$sim_port" send "SH" >/dev/null || fail "could not turn the motors on"
wine "$cli_exe" --address 127.0.0.1 --port "$sim_port" jog Y 700 60 >"$work/jog.out" 2>"$work/jog.err" &
jog_pid=$!
moving=
for _ in $(seq 150); do
    speed=$(speed_of_y)
    if [[ $speed == 700.0000 ]]; then
        moving=1
        break
    fi
    sleep 0.2
done
[[ -n $moving ]] || fail "the Windows jog never moved Y (speed '$speed'): $(cat "$work/jog.err")"
# Wine turns SIGINT into the console's CTRL_C_EVENT for the program: only that ends the 60 s jog
# within the bound, with the exit code of Ctrl-C.
kill -INT "$jog_pid"
timeout 30 tail --pid="$jog_pid" -f /dev/null || fail "the Windows jog did not end after Ctrl-C"
jog_exit=0
wait "$jog_pid" || jog_exit=$?
[[ $jog_exit == 130 ]] || fail "the Windows jog exited $jog_exit after Ctrl-C, not 130: $(cat "$work/jog.err")"
standing=
for _ in $(seq 50); do
    speed=$(speed_of_y)
    if [[ $speed == 0.0000 ]]; then
        standing=1
        break
    fi
    sleep 0.2
done
[[ -n $standing ]] || fail "Y still moves (speed '$speed') after Ctrl-C of the Windows jog"
stop_sim

begin "the window under Wine: Connect and Run Auto Test against the Linux simulator"
# A Wine prefix of its own with the X11 driver, on a virtual X server; the tests' prefix stays
# headless.
make_prefix "$out/wine-x11" x11
start_sim window
mkdir -p "$work/window"
printf '[Main]\r\nGAddress=127.0.0.1\r\nPort=%s\r\n' "$sim_port" >"$work/window/PelornControl.ini"
entries=$(grep -c . "$work"/linux/logFile.txt*.txt)
WINEPREFIX=$out/wine-x11 timeout 600 xvfb-run -a -s "-screen 0 1280x1024x24" \
    bash "$root/scripts/windows-window.sh" "$stage/bin/trevane.exe" "$work/window" "$entries" \
    "$out/window.png" || fail "the window's automatic test did not run through (see $work/window)"
stop_sim
window_logs=("$work/window"/logFile.txt*.txt)
[[ ${#window_logs[@]} == 1 && -f ${window_logs[0]} ]] || fail "the window left no single log file"
log_form "${window_logs[0]}" >"$work/window.form"
if ! diff -u "$work/linux.form" "$work/window.form"; then
    fail "the Windows window's log differs in form from the Linux CLI's"
fi
cmp -s <(tr -cd '\r' <"$work"/linux/logFile.txt*.txt) <(tr -cd '\r' <"${window_logs[0]}") ||
    fail "the Windows window's log has other line ends than the Linux CLI's"

begin "pack the Windows programs into a ZIP and an installer"
(cd "$out" && cpack -G ZIP >/dev/null) || fail "cpack could not make the ZIP"
zip=$(ls "$out"/trevane-*-windows-x64.zip 2>/dev/null | head -1)
[[ -n $zip ]] || fail "no ZIP in $out"
listing=$(unzip -l "$zip")
for entry in bin/trevane.exe bin/trevane-cli.exe bin/trevane-sim.exe bin/platforms/qwindows.dll README.txt LICENSE.txt; do
    grep -q "$entry" <<<"$listing" || fail "$zip lacks $entry"
done
(cd "$out" && cpack -G NSIS >"$work/nsis.log" 2>&1) || fail "cpack could not make the installer (see $work/nsis.log)"
setup=$(ls "$out"/trevane-*-win64-setup.exe 2>/dev/null | head -1)
[[ -n $setup ]] || fail "no trevane-VERSION-win64-setup.exe in $out"

begin "install silently, start the installed program, uninstall"
# Per user and without administrator rights: into the user's own program folder.
profile=$(ls -d "$WINEPREFIX"/drive_c/users/*/AppData/Local | grep -v /Public/ | head -1)
profile=${profile%/AppData/Local}
installed=$profile/AppData/Local/Programs/Trevane
shortcut="$profile/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Trevane.lnk"
documents=$profile/Documents/Trevane
rm -rf "$installed" "$documents"
timeout 300 wine "$setup" /S || fail "the silent install exited $?"
timeout 120 wineserver -w || true
[[ -f $installed/bin/trevane.exe && -f $installed/Uninstall.exe ]] ||
    fail "the installer left no program in $installed"
[[ -f $shortcut ]] || fail "the installer made no Start-menu entry Trevane"
# The entry starts the window in the user's own working folder.
strings -e l "$shortcut" | grep -qF 'Documents\Trevane' ||
    fail "the Start-menu entry does not start in Documents\Trevane"
[[ -d $documents ]] || fail "the installer made no working folder $documents"
version=$(timeout 60 wine "$installed/bin/trevane-cli.exe" --version | tr -d '\r') ||
    fail "the installed trevane-cli.exe does not start"
[[ $version == "trevane-cli $(sed -n 's/^project(Trevane VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)" ]] ||
    fail "the installed trevane-cli.exe says '$version'"
# What the user made in the working folder outlives the program.
printf 'kept\r\n' >"$documents/logFile.txt"
timeout 300 wine "$installed/Uninstall.exe" /S || fail "the silent uninstall exited $?"
timeout 120 wineserver -w || true
[[ ! -e $installed ]] || fail "the uninstaller left $installed: $(find "$installed" | head -5)"
[[ ! -e $shortcut ]] || fail "the uninstaller left the Start-menu entry"
[[ $(cat "$documents/logFile.txt" 2>/dev/null) == $'kept\r' ]] || fail "the uninstaller touched $documents"

echo "windows-check: passed; packages $zip $setup ($(du -h "$setup" | cut -f1))"
