#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build, test and run Trevane; does nothing when
# everything is present. Run as root (or with sudo available).
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config ccache
    qt6-base-dev libqcustomplot-dev libgl1-mesa-dev
    libsqlite3-dev libpq-dev postgresql-15
    libasio-dev libgtest-dev libgmock-dev googletest libbenchmark-dev nlohmann-json3-dev
    clang libclang-rt-14-dev
    locales xvfb xauth
    dpkg-dev file desktop-file-utils debootstrap
    scdoc lintian appstream
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    # Waits for another install (CI builds the Windows Qt beside the tests) rather than failing.
    as_root apt-get -o DPkg::Lock::Timeout=600 update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}"
fi

# The tests run under a decimal-comma locale to prove that numbers and stamps ignore it.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
    echo "setup: generating the de_DE.UTF-8 locale"
    as_root sed -i 's/^# *\(de_DE.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' | as_root tee -a /etc/locale.gen >/dev/null
    as_root locale-gen >/dev/null
fi
