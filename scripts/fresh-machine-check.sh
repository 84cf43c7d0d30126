#!/usr/bin/env bash
# Proves that the README's commands work on a bare Debian 12: makes a minimal bookworm root,
# copies the committed tree into it, runs scripts/setup.sh there, builds the three programs and
# starts each once, then builds the Debian package, installs it with apt and runs the installed
# programs. A package that setup.sh forgets to install fails this check.
#
# Only the bare debootstrap result is cached (FRESH_CACHE_DIR, default
# ${TMPDIR:-/tmp}/trevane-fresh-root-cache), never a root on which setup.sh has run. Downloaded
# .deb files are kept there too, and ccache's objects of the build inside the root; they only save
# download and compile time, each run still installs every package.
# Steps aside (exit 0) only when the package archive cannot be reached at all. Run as root.
set -euo pipefail
cd "$(dirname "$0")/.."
checkout=$(pwd)

suite=bookworm
cache_dir=${FRESH_CACHE_DIR:-${TMPDIR:-/tmp}/trevane-fresh-root-cache}
base_tarball="$cache_dir/$suite-minbase.tar"
apt_cache="$cache_dir/apt-archives"

fail() {
    echo "fresh-machine-check: FAILED: $*" >&2
    exit 1
}

if [ "$(id -u)" -ne 0 ]; then
    fail "needs root (debootstrap and chroot)"
fi
for tool in debootstrap chroot git tar timeout mount umount flock; do
    command -v "$tool" >/dev/null || fail "'$tool' is missing (scripts/setup.sh installs debootstrap)"
done

# The archive mirror the host itself uses, from either source list format.
host_mirror() {
    local kind=$1 # "main" or "security"
    {
        cat /etc/apt/sources.list 2>/dev/null | awk -v kind="$kind" '
            $1 == "deb" {
                uri = ""; suite = ""
                for (i = 2; i <= NF; i++) {
                    if ($i ~ /^\[/) { while ($i !~ /\]$/ && i < NF) i++; continue }
                    if (uri == "") { uri = $i; continue }
                    suite = $i; break
                }
                if (kind == "main" && suite == "'"$suite"'") print uri
                if (kind == "security" && suite == "'"$suite"'-security") print uri
            }'
        for file in /etc/apt/sources.list.d/*.sources; do
            [ -f "$file" ] || continue
            awk -v kind="$kind" -v RS= '
                {
                    uri = ""; suites = ""; enabled = 1
                    n = split($0, lines, "\n")
                    for (i = 1; i <= n; i++) {
                        if (lines[i] ~ /^URIs:/) { sub(/^URIs:[ \t]*/, "", lines[i]); split(lines[i], u, /[ \t]+/); uri = u[1] }
                        if (lines[i] ~ /^Suites:/) { sub(/^Suites:[ \t]*/, "", lines[i]); suites = " " lines[i] " " }
                        if (lines[i] ~ /^Enabled:[ \t]*no/) enabled = 0
                    }
                    if (!enabled || uri == "") next
                    if (kind == "main" && suites ~ / '"$suite"' /) print uri
                    if (kind == "security" && suites ~ / '"$suite"'-security /) print uri
                }' "$file"
        done
    } | head -n 1 || true
}

mirror=$(host_mirror main)
security_mirror=$(host_mirror security)
[ -n "$mirror" ] || fail "found no $suite source in /etc/apt/sources.list(.d) to take the mirror from"

check_start=$(date +%s)
stage_start=0
stage() {
    stage_name=$1
    stage_start=$(date +%s)
    echo "== fresh-machine-check: $stage_name"
}
stage_done() {
    echo "== fresh-machine-check: $stage_name took $(($(date +%s) - stage_start)) s"
}

work=$(mktemp -d "${TMPDIR:-/tmp}/trevane-fresh.XXXXXX")
root="$work/root"
mounted=()

cleanup() {
    local status=$? point
    # Innermost first; never remove the root while anything is still mounted in it, or rm would
    # reach into the host's /dev, /proc or /sys.
    for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
        point=${mounted[i]}
        umount "$point" 2>/dev/null || umount -l "$point" 2>/dev/null || true
    done
    if [ -d "$root" ] && awk -v r="$root" '$2 == r || index($2, r "/") == 1 { found = 1 } END { exit !found }' /proc/mounts; then
        echo "fresh-machine-check: something is still mounted under $root; leaving $work in place" >&2
    else
        rm -rf --one-file-system "$work"
    fi
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mount_into() { # mount_into TARGET mount-arguments...
    local target="$root$1"
    shift
    mkdir -p "$target"
    mount "$@" "$target"
    mounted+=("$target")
}

in_root() { # in_root SECONDS command...
    local seconds=$1
    shift
    timeout --kill-after=30 "$seconds" chroot "$root" /usr/bin/env -i HOME=/root \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 \
        DEBIAN_FRONTEND=noninteractive "$@"
}

# step LABEL SECONDS command...: runs one step inside the root with its output in a log, which is
# shown (its end) only when the step fails or runs out of time.
step() {
    local label=$1 seconds=$2 status=0
    shift 2
    local log="$work/step-$(date +%s%N).log"
    in_root "$seconds" "$@" >"$log" 2>&1 || status=$?
    if [ "$status" -ne 0 ]; then
        tail -n 60 "$log" >&2
        if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
            fail "$label: ran out of its $seconds s"
        fi
        fail "$label (exit status $status; the end of its output is above)"
    fi
}

# 1. The bare root, from the cache or fresh from the archive.
mkdir -p "$root" "$cache_dir" "$apt_cache"
if [ -s "$base_tarball" ] && [ "$(cat "$base_tarball.mirror" 2>/dev/null)" = "$mirror" ]; then
    stage "unpacking the cached bare $suite root"
    timeout 300 tar -xpf "$base_tarball" -C "$root" || fail "unpacking $base_tarball"
    stage_done
else
    stage "debootstrap $suite (minbase) from $mirror"
    log="$work/debootstrap.log"
    if ! timeout --kill-after=30 900 debootstrap --variant=minbase "$suite" "$root" "$mirror" >"$log" 2>&1; then
        tail -n 20 "$log" >&2
        if grep -qE 'Failed getting release file|Temporary failure resolving|Could not resolve|Connection (refused|timed out)|Network is unreachable' "$log" &&
            ! grep -q 'Retrieving Packages' "$log"; then
            echo "fresh-machine-check: the package archive $mirror cannot be reached; skipping the check"
            exit 0
        fi
        fail "debootstrap (log above)"
    fi
    stage_done
    stage "caching the bare root"
    rm -rf "$root/var/cache/apt/archives/"*.deb
    timeout 300 tar -cpf "$base_tarball.part.$$" -C "$root" . || fail "writing $base_tarball"
    mv "$base_tarball.part.$$" "$base_tarball"
    echo "$mirror" >"$base_tarball.mirror"
    stage_done
fi

# 2. The machine around it: the host's mirror, name resolution, /proc, /dev, /sys.
stage "preparing the root"
{
    echo "deb $mirror $suite main"
    echo "deb $mirror $suite-updates main"
    [ -z "$security_mirror" ] || echo "deb $security_mirror $suite-security main"
} >"$root/etc/apt/sources.list"
rm -f "$root/etc/apt/sources.list.d/"*
# debootstrap leaves its package lists behind; without them the probe below sees only what the
# archive answers now.
find "$root/var/lib/apt/lists" -maxdepth 1 -type f -delete
cp -L /etc/resolv.conf "$root/etc/resolv.conf"
mount_into /proc -t proc proc
mount_into /sys -t sysfs sysfs
mount_into /dev --bind /dev
mount_into /dev/pts --bind /dev/pts
# The .deb files are shared only with one check at a time; a second one running alongside
# downloads its own rather than wait for or fight over apt's lock.
exec 9>"$cache_dir/apt-archives.lock"
if flock -n 9; then
    mount_into /var/cache/apt/archives --bind "$apt_cache"
else
    echo "fresh-machine-check: another check holds the package cache; downloading afresh"
fi
# Compiled objects are kept between checks like the .deb files: the root still installs every
# package itself, so a forgotten one fails all the same, but the build takes a minute, not ten.
# The tree always sits at /src/trevane, so a later check finds the same objects.
exec 8>"$cache_dir/ccache.lock"
if flock -n 8; then
    mkdir -p "$cache_dir/ccache"
    mount_into /root/.cache/ccache --bind "$cache_dir/ccache"
fi
mkdir -p "$root/src/trevane"
git -C "$checkout" archive --format=tar HEAD | tar -xf - -C "$root/src/trevane" ||
    fail "copying the committed tree into the root"
stage_done

stage "checking that the archive answers from inside the root"
in_root 300 apt-get update -qq >"$work/apt-update.log" 2>&1 || true
if ! ls "$root/var/lib/apt/lists/" | grep -q '_InRelease$\|_Release$'; then
    cat "$work/apt-update.log" >&2
    echo "fresh-machine-check: the package archive $mirror cannot be reached; skipping the check"
    exit 0
fi
stage_done

# 3. The README's steps, inside the root.
stage "scripts/setup.sh"
step "scripts/setup.sh inside the fresh root" 1200 bash /src/trevane/scripts/setup.sh
stage_done

stage "configuring"
step "configuring (cmake) inside the fresh root" 300 cmake -S /src/trevane -B /src/trevane/build \
    -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTREVANE_BUILD_TESTS=OFF -DTREVANE_BUILD_BENCH=OFF
stage_done

stage "building trevane, trevane-cli and trevane-sim"
step "building inside the fresh root" 1500 \
    cmake --build /src/trevane/build -j2 --target trevane trevane-cli trevane-sim
stage_done

stage "starting the programs"
step "starting trevane --simulate --screenshot under xvfb-run" 120 bash -c 'mkdir -p /tmp/run &&
    cd /tmp/run && xvfb-run -a -s "-screen 0 1280x1024x24" /src/trevane/build/src/app/trevane \
        --simulate --screenshot /tmp/run/window.png'
[ -s "$root/tmp/run/window.png" ] || fail "trevane wrote no screenshot (or an empty one)"
file "$root/tmp/run/window.png" 2>/dev/null | grep -q 'PNG image' ||
    head -c 8 "$root/tmp/run/window.png" | grep -q 'PNG' || fail "the screenshot is not a PNG"
step "trevane-cli --help" 30 /src/trevane/build/src/cli/trevane-cli --help
step "trevane-sim --help" 30 /src/trevane/build/src/sim/trevane-sim --help
stage_done

# 4. The package: built from the same tree, installed with apt, its programs run where it put them.
stage "building and installing the Debian package"
step "building the rest of the tree (manual pages, changelog)" 600 \
    cmake --build /src/trevane/build -j2
step "cpack -G DEB" 300 bash -c 'cd /src/trevane/build && cpack -G DEB'
step "apt-get install of the built package" 600 bash -c \
    'apt-get install -y --no-install-recommends /src/trevane/build/trevane_*.deb'
step "installed trevane-cli --version" 30 /usr/bin/trevane-cli --version
step "installed trevane-sim --help" 30 /usr/bin/trevane-sim --help
step "installed manual page" 30 test -s /usr/share/man/man1/trevane-cli.1.gz
stage_done

echo "fresh-machine-check: passed in $(($(date +%s) - check_start)) s"
