# Sourced by the Windows scripts: fetches a Debian source package through the machine's own
# package sources (read as deb-src, in a private apt state, so the machine's apt is untouched)
# and unpacks it with Debian's patches applied. Needs a fail function from the script.

# debian_source PACKAGE WORK: prints the unpacked tree, WORK/tree; the .dsc lies in WORK.
debian_source() {
    local package=$1 work=$2
    local apt_state=$work/apt
    rm -rf "$work"
    mkdir -p "$apt_state/parts" "$apt_state/lists/partial"
    local sources
    for sources in /etc/apt/sources.list.d/*.sources; do
        [[ -f $sources ]] && sed 's/^Types: deb$/Types: deb-src/' "$sources" >"$apt_state/parts/$(basename "$sources")"
    done
    if [[ -f /etc/apt/sources.list ]]; then
        sed -n 's/^deb /deb-src /p' /etc/apt/sources.list >"$apt_state/parts/main.list"
    fi
    local apt_options=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$apt_state/parts"
        -o "Dir::State::Lists=$apt_state/lists")
    apt-get "${apt_options[@]}" update -qq >/dev/null 2>&1 || fail "could not read the package sources' source lists"
    (cd "$work" && apt-get "${apt_options[@]}" source --download-only -qq "$package" >/dev/null 2>&1) ||
        fail "could not fetch the $package source package"
    local dsc
    dsc=$(find "$work" -maxdepth 1 -name "${package}_*.dsc" | head -1)
    [[ -n $dsc ]] || fail "the $package source package has no .dsc"
    (cd "$work" && dpkg-source --no-check -x "$dsc" tree >/dev/null 2>&1) || fail "could not unpack $dsc"
    echo "$work/tree"
}
