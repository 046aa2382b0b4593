#!/usr/bin/env bash
# The set-up's apt step against a local mirror whose i386 index of one suite
# is broken the way a mirror caught mid-synchronisation is (its Release
# gives the Packages file another size): the set-up must leave that suite
# out, install from the others, and leave the machine's apt files as they
# were. Exits 77 (skipped) where apt cannot run.
# Usage: setup_broken_mirror.sh SETUP_SCRIPT
set -euo pipefail
setup=$(realpath "$1")
command -v apt-get >/dev/null && command -v dpkg-deb >/dev/null || { echo "no apt here"; exit 77; }
[ "$(id -u)" -eq 0 ] || { echo "apt-get update needs root"; exit 77; }

work=$(mktemp -d)
server=""
trap '[ -z "$server" ] || kill "$server"; rm -rf "$work"' EXIT
chmod 755 "$work"
mirror=$work/mirror
root=$work/root

# A package of nothing, in every suite and both architectures' indexes.
mkdir -p "$work/deb/DEBIAN" "$mirror/pool"
printf 'Package: zelbridge-probe\nVersion: 1.0\nArchitecture: all\nMaintainer: Zelbridge tests <tests@invalid>\nDescription: a package of nothing\n' \
    >"$work/deb/DEBIAN/control"
dpkg-deb --root-owner-group --build "$work/deb" "$mirror/pool/zelbridge-probe_1.0_all.deb" >/dev/null
deb=pool/zelbridge-probe_1.0_all.deb
packages_text=$(printf '%s\nFilename: %s\nSize: %s\nSHA256: %s\n' "$(cat "$work/deb/DEBIAN/control")" \
    "$deb" "$(stat -c %s "$mirror/$deb")" "$(sha256sum <"$mirror/$deb" | cut -d' ' -f1)")

# archive suite [BROKEN_ARCH]: BROKEN_ARCH's index is one byte longer in
# Release than on the mirror.
make_suite() {
    local dists=$mirror/$1/dists/$2 broken_arch=${3:-} arch lines="" size
    for arch in amd64 i386; do
        mkdir -p "$dists/main/binary-$arch"
        printf '%s\n' "$packages_text" >"$dists/main/binary-$arch/Packages"
        size=$(stat -c %s "$dists/main/binary-$arch/Packages")
        [ "$arch" != "$broken_arch" ] || size=$((size + 1))
        lines+=$(printf ' %s %s main/binary-%s/Packages' \
            "$(sha256sum <"$dists/main/binary-$arch/Packages" | cut -d' ' -f1)" "$size" "$arch")$'\n'
    done
    printf 'Suite: %s\nCodename: %s\nDate: %s\nArchitectures: amd64 i386\nComponents: main\nSHA256:\n%s' \
        "$2" "$2" "$(LC_ALL=C date -u -R)" "$lines" >"$dists/Release"
}
make_suite debian stable
make_suite debian stable-updates
make_suite debian stable-security i386
make_suite other stable-security i386
make_suite other extras
make_suite other unsigned
for archive in debian other; do ln -s ../pool "$mirror/$archive/pool"; done

python3 -c '
import functools, http.server, sys
handler = functools.partial(http.server.SimpleHTTPRequestHandler, directory=sys.argv[1])
handler.log_message = lambda *args: None
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
print(server.server_address[1], flush=True)
server.serve_forever()' "$mirror" >"$work/port" </dev/null 2>"$work/server.log" &
server=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
url=http://127.0.0.1:$(cat "$work/port")/

# The sources as machines have them: a deb822 stanza naming several suites,
# one of them the broken one, and one-line entries with options.
mkdir -p "$root/etc/apt/sources.list.d"
printf 'Types: deb\nURIs: %sdebian\nSuites: stable stable-security stable-updates\nComponents: main\nArchitectures: amd64 i386\nTrusted: yes\n' \
    "$url" >"$root/etc/apt/sources.list.d/debian.sources"
# And a suite whose Release file fails: it is not signed.
printf 'deb [trusted=yes arch=amd64,i386] %sother stable-security main\ndeb [ trusted=yes ] %sother extras main\n  deb %sother unsigned main\n' \
    "$url" "$url" "$url" \
    >"$root/etc/apt/sources.list"
snapshot() {
    (cd "$1" && find . -printf '%p %m %s %T@\n' | sort && find . -type f -print0 | sort -z | xargs -0 sha256sum)
}
snapshot "$root/etc/apt" >"$work/root-before"
snapshot /etc/apt >"$work/machine-before"

status=0
(
    export ZELBRIDGE_APT_ROOT=$root ZELBRIDGE_APT_TRIES=2 ZELBRIDGE_APT_WAIT=0
    # A proxy the machine's apt uses would not reach this mirror.
    printf 'Acquire::http::Proxy::127.0.0.1 "DIRECT";\n' >"$work/apt.conf"
    export APT_CONFIG=$work/apt.conf no_proxy=127.0.0.1
    # shellcheck source=/dev/null
    source "$setup"
    apt_get update
    apt_get install --download-only zelbridge-probe
    # The run's own cache, which it removes when it ends.
    [ ! -f "$apt_own/cache/archives/zelbridge-probe_1.0_all.deb" ] || echo "downloaded zelbridge-probe"
    echo "suites used:" $(apt-cache "${apt_options[@]}" policy | sed -n 's#.* \([a-z-]*\)/main .*#\1#p' | sort -u)
) 2>&1 | tee "$work/setup.log" || status=$?

fail() { echo "FAIL: $*"; exit 1; }
[ "$status" -eq 0 ] || fail "the set-up stopped (exit $status)"
grep -q 'leaves out stable-security unsigned (its updates are not used)' "$work/setup.log" ||
    fail "the set-up did not say in one line which suite it left out"
! grep -q 'Still failing' "$work/setup.log" || fail "an index still failed once the suite was left out"
grep -qx 'downloaded zelbridge-probe' "$work/setup.log" || fail "the package was not downloaded"
grep -qx 'suites used: extras stable stable-updates' "$work/setup.log" || fail "the suites kept are not the others"
snapshot "$root/etc/apt" | cmp -s - "$work/root-before" || fail "the set-up changed the sources it was given"
snapshot /etc/apt | cmp -s - "$work/machine-before" || fail "the set-up changed the machine's /etc/apt"
# Other programs may update the machine's lists meanwhile; none may be ours.
! ls /var/lib/apt/lists | grep -q '^127\.0\.0\.1' || fail "the set-up wrote the mirror's lists into the machine's"
echo "PASS: left out stable-security and unsigned, downloaded zelbridge-probe, apt configuration unchanged"
