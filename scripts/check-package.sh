#!/usr/bin/env bash
# Builds the Debian package from a configured build directory and checks that it holds every file
# an installation needs, then runs the installed programs from an unrelated working directory.
set -euo pipefail
build=${1:-build}
cd "$(dirname "$0")/.."
root=$(pwd)

(cd "$build" && cpack -G DEB >/dev/null)
package=$(ls -t "$build"/trevane_*.deb | head -n 1)
echo "package: $package"

contents=$(dpkg-deb -c "$package" | awk '{print $6}')
expected=(
    ./usr/bin/trevane
    ./usr/bin/trevane-sim
    ./usr/bin/trevane-cli
    ./usr/share/applications/trevane.desktop
    ./usr/share/icons/hicolor/scalable/apps/trevane.svg
    ./usr/share/metainfo/org.trevane.trevane.metainfo.xml
    ./usr/share/bash-completion/completions/trevane-cli
    ./usr/share/man/man1/trevane.1.gz
    ./usr/share/man/man1/trevane-cli.1.gz
    ./usr/share/man/man1/trevane-sim.1.gz
    ./usr/share/doc/trevane/copyright
    ./usr/share/doc/trevane/changelog.gz
)
missing=0
for file in "${expected[@]}"; do
    if ! grep -qx "$file" <<<"$contents"; then
        echo "package check: missing $file" >&2
        missing=1
    fi
done
[ $missing -eq 0 ] || exit 1
dpkg-deb -f "$package" Package Version Depends

# Debian's own check: no error and no warning (overrides, each with its reason, are in
# packaging/debian/lintian-overrides). Run as root it warns about that on standard error only.
command -v lintian >/dev/null || { echo "package check: lintian is missing (scripts/setup.sh)" >&2; exit 1; }
if ! lintian --fail-on error,warning "$package"; then
    echo "package check: lintian found errors or warnings in $package" >&2
    exit 1
fi

# The unpacked programs run from any working directory.
unpacked=$(mktemp -d)
elsewhere=$(mktemp -d)
trap 'rm -rf "$unpacked" "$elsewhere"' EXIT
dpkg-deb -x "$package" "$unpacked"
cd "$elsewhere"
"$unpacked/usr/bin/trevane-cli" --help >/dev/null
"$unpacked/usr/bin/trevane-sim" --help >/dev/null
"$unpacked/usr/bin/trevane" --help >/dev/null 2>&1 || QT_QPA_PLATFORM=offscreen "$unpacked/usr/bin/trevane" --help >/dev/null
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$root/packaging/trevane.desktop"
fi
if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net "$root/packaging/org.trevane.trevane.metainfo.xml"
fi
bash -n "$unpacked/usr/share/bash-completion/completions/trevane-cli"
echo "package check: ok (${#expected[@]} files, programs run from $elsewhere)"
