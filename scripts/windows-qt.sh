#!/usr/bin/env bash
# Qt and QCustomPlot for the Windows window, cross-built with mingw-w64 from Debian's own source
# packages (qt6-base, qcustomplot) and cached outside the checkout, so that a fresh clone reuses
# them. The cache is keyed by the source version and the build options: a changed option or a
# new source version builds anew, a second run finds it.
# Prints the prefix (Qt, QCustomPlot and the C++ runtime DLLs) on its last line.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
cache=${TREVANE_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/trevane}
mkdir -p "$cache"
# One build at a time: a second run waits for the first and then finds its result.
exec 9>"$cache/windows-qt.lock"
flock 9

fail() {
    echo "windows-qt: FAILED: $*" >&2
    exit 1
}
say() { echo "windows-qt: $*" >&2; }

# Only what the window and its tests use; the rest of qtbase is left out to keep the cold build
# short. tabletevent needs wintab, which the dfsg tarball lacks; Debian's cross patch would build
# androiddeployqt; DirectWrite 3 needs direct2d in 6.4.2; the offscreen plugin needs FreeType.
qt_options=(
    -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON -DQT_HOST_PATH=/usr
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF
    -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF -DFEATURE_concurrent=OFF
    -DFEATURE_xml=OFF -DFEATURE_opengl=OFF -DINPUT_opengl=no -DFEATURE_vulkan=OFF
    -DFEATURE_direct2d=OFF -DFEATURE_directwrite3=OFF -DFEATURE_icu=OFF -DFEATURE_zstd=OFF
    -DFEATURE_tabletevent=OFF -DFEATURE_androiddeployqt=OFF -DFEATURE_jpeg=OFF
    -DFEATURE_freetype=ON -DFEATURE_system_freetype=OFF -DFEATURE_system_zlib=OFF
    -DFEATURE_system_pcre2=OFF -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_png=OFF
    -DFEATURE_system_doubleconversion=OFF
)

source "$root/scripts/debian-source.sh"

packages=(g++-mingw-w64-x86-64-posix cmake ninja-build ccache dpkg-dev qt6-base-dev libqcustomplot-dev)
missing=()
for package in "${packages[@]}"; do
    dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
if ((${#missing[@]})); then
    # Other installs may run beside this one (CI builds Qt beside the Linux tests).
    apt_wait=(-o DPkg::Lock::Timeout=600)
    DEBIAN_FRONTEND=noninteractive apt-get "${apt_wait[@]}" update -qq &&
        DEBIAN_FRONTEND=noninteractive apt-get "${apt_wait[@]}" install -y -qq "${missing[@]}" >/dev/null ||
        fail "could not install ${missing[*]}"
fi

toolchain=$root/cmake/toolchain-mingw64.cmake
qt_version=$(dpkg-query -W -f='${Version}' qt6-base-dev 2>/dev/null) || fail "qt6-base-dev is not installed"
# Fixes of our own, applied over Debian's patches.
patches=("$root"/scripts/windows-qt-patches/*.patch)
key=$( (echo "qt6-base $qt_version"; printf '%s\n' "${qt_options[@]}"; cat "$toolchain" "${patches[@]}") |
    sha256sum | cut -c1-12)
prefix=$cache/qt6-windows-${qt_version//[^A-Za-z0-9.]/_}-$key

if [[ ! -f $prefix/.complete ]]; then
    say "building qt6-base $qt_version for Windows into $prefix (about half an hour on two cores)"
    work=$cache/qt6-windows-work
    tree=$(debian_source qt6-base "$work")
    fetched=$(sed -n 's/^Version: //p' "$work"/qt6-base_*.dsc)
    # The host's moc, rcc and uic serve the cross build: the two must be the same version.
    [[ $fetched == "$qt_version" ]] || fail "the sources serve qt6-base $fetched, the host has $qt_version"
    for patch in "${patches[@]}"; do
        patch -d "$tree" -p1 --quiet <"$patch" || fail "could not apply $patch"
    done
    rm -rf "$prefix"
    launcher=()
    command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    cmake -S "$tree" -B "$work/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_INSTALL_PREFIX="$prefix" "${launcher[@]}" "${qt_options[@]}" >"$work/configure.log" 2>&1 ||
        fail "qtbase's configure failed (see $work/configure.log)"
    nice cmake --build "$work/build" -j "$(nproc)" >"$work/build.log" 2>&1 ||
        fail "qtbase's build failed (see the end of $work/build.log)"
    cmake --install "$work/build" >"$work/install.log" 2>&1 || fail "qtbase's install failed"
    # Qt's DLLs need the compiler's runtime; the window ships the same three beside itself.
    for dll in libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll; do
        found=$(find /usr/lib/gcc/x86_64-w64-mingw32/*-posix /usr/x86_64-w64-mingw32/lib -name "$dll" | head -1)
        [[ -n $found ]] || fail "the mingw runtime's $dll is missing"
        cp "$found" "$prefix/bin/"
    done
    touch "$prefix/.complete"
    rm -rf "$work"
fi

# The same QCustomPlot as the Linux window's.
qcp_version=$(dpkg-query -W -f='${Version}' libqcustomplot-dev 2>/dev/null) || fail "libqcustomplot-dev is not installed"
qcp=$prefix/qcustomplot
if [[ ! -f $qcp/.complete-$qcp_version ]]; then
    say "building QCustomPlot $qcp_version for Windows"
    work=$cache/qcustomplot-windows-work
    tree=$(debian_source qcustomplot "$work")
    fetched=$(sed -n 's/^Version: //p' "$work"/qcustomplot_*.dsc)
    [[ $fetched == "$qcp_version" ]] || fail "the sources serve qcustomplot $fetched, the host has $qcp_version"
    rm -rf "$qcp"
    mkdir -p "$qcp/src"
    cp "$tree/qcustomplot.cpp" "$tree/qcustomplot.h" "$qcp/src/"
    cat >"$qcp/src/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.16)
project(qcustomplot CXX)
# The toolchain searches the cross sysroot only; the Qt prefix is the other root.
list(APPEND CMAKE_FIND_ROOT_PATH ${CMAKE_PREFIX_PATH})
find_package(Qt6 REQUIRED COMPONENTS Widgets PrintSupport)
set(CMAKE_AUTOMOC ON)
# Named as Debian's build of it, so that the window finds it the same way on both systems.
add_library(QCustomPlotQt6 SHARED qcustomplot.cpp qcustomplot.h)
set_target_properties(QCustomPlotQt6 PROPERTIES OUTPUT_NAME qcustomplot-qt6)
target_compile_definitions(QCustomPlotQt6 PRIVATE QCUSTOMPLOT_COMPILE_LIBRARY
                                          INTERFACE QCUSTOMPLOT_USE_LIBRARY)
target_include_directories(QCustomPlotQt6 INTERFACE $<INSTALL_INTERFACE:include>)
target_link_libraries(QCustomPlotQt6 PUBLIC Qt6::Widgets Qt6::PrintSupport)
install(TARGETS QCustomPlotQt6 EXPORT QCustomPlotQt6Targets
        RUNTIME DESTINATION bin ARCHIVE DESTINATION lib LIBRARY DESTINATION lib)
install(FILES qcustomplot.h DESTINATION include)
install(EXPORT QCustomPlotQt6Targets NAMESPACE QCustomPlotQt6:: DESTINATION lib/cmake/QCustomPlotQt6
        FILE QCustomPlotQt6Config.cmake)
EOF
    cmake -S "$qcp/src" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_PREFIX_PATH="$prefix" -DQT_HOST_PATH=/usr \
        -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
        -DCMAKE_INSTALL_PREFIX="$qcp" >"$work/configure.log" 2>&1 ||
        fail "QCustomPlot's configure failed (see $work/configure.log)"
    nice cmake --build "$work/build" >"$work/build.log" 2>&1 || fail "QCustomPlot's build failed (see $work/build.log)"
    cmake --install "$work/build" >/dev/null || fail "QCustomPlot's install failed"
    rm -rf "$work"
    touch "$qcp/.complete-$qcp_version"
fi

echo "$prefix"
