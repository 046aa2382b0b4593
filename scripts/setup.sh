#!/usr/bin/env bash
# Installs what building and testing Zelbridge needs on Debian, and makes
# 32-bit programs run: natively where the kernel executes them, through
# qemu-user's emulation where it does not. A second run changes nothing.
#
# Usage: setup.sh [--emulate-i386]
#   --emulate-i386  run 32-bit programs under qemu-user even where the kernel
#                   executes them, as on machines whose kernel cannot (to
#                   reproduce such a machine); undone by a restart, or by
#                   writing -1 to /proc/sys/fs/binfmt_misc/qemu-i386.
#
# A Debian mirror caught mid-synchronisation fails an index or two for some
# minutes, or for days: a failed `apt-get update` is tried again
# ZELBRIDGE_APT_TRIES times in all (4), waiting ZELBRIDGE_APT_WAIT seconds (15)
# and twice as long after each try. If an index still fails, this run leaves
# out the suites whose indexes failed: apt reads a copy of the machine's
# sources without them, and lists of its own, so that nothing of the machine's
# apt configuration changes. When the install cannot proceed even so, the
# packages and the indexes are named.
# ZELBRIDGE_APT_ROOT, when set, is a root of apt's files other than the
# machine's: its etc/apt holds the sources, its var/lib/apt/lists and
# var/cache/apt what apt downloads. A test points it at a mirror it has
# broken on purpose. Sourced rather than run, this file only defines its
# functions, so that such a test can call the apt step alone.
set -euo pipefail

fail() {
    echo "setup: $*" >&2
    exit 1
}

packages=(
    cmake ninja-build g++ make googletest libgtest-dev libbenchmark-dev valgrind pkgconf
    clang libclang-rt-14-dev llvm nlohmann-json3-dev libboost1.81-dev wixl msitools
    g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
    wine wine64 wine32:i386
    python3 python3-pytest python3-setuptools python3-wheel python3-venv python3-pip
    mkdocs python3-jsonschema chromium
)
wine32=/usr/lib/wine/wine
binfmt=/proc/sys/fs/binfmt_misc
# 32-bit x86 ELF executables, matched on the ELF identification and machine.
i386_magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
i386_mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
qemu=/usr/bin/qemu-i386

sudo=""
need_root() {
    [ "$(id -u)" -eq 0 ] && return
    command -v sudo >/dev/null && sudo -n true 2>/dev/null ||
        fail "$1 needs root: run as root, or as a user who may use sudo without a password"
    sudo=sudo
}

# apt-get with its output kept in a log; a failure shows the log's last line.
# apt_options (see apt_reads) point apt at other sources and lists.
apt_log=$(mktemp)
apt_own=""
trap 'rm -f "$apt_log"; [ -z "$apt_own" ] || rm -rf "$apt_own"' EXIT
apt_root=${ZELBRIDGE_APT_ROOT:-}

# apt_options: apt reads the sources in $1 (sources.list and sources.list.d)
# and keeps its lists and downloads in $2 and $3.
apt_reads() {
    mkdir -p "$2/partial" "$3/archives/partial"
    apt_options=(-o "Dir::Etc::SourceList=$1/sources.list" -o "Dir::Etc::SourceParts=$1/sources.list.d"
        -o "Dir::State::Lists=$2" -o "Dir::Cache=$3")
}
apt_options=()
[ -z "$apt_root" ] || apt_reads "$apt_root/etc/apt" "$apt_root/var/lib/apt/lists" "$apt_root/var/cache/apt"

run_apt_get() {
    DEBIAN_FRONTEND=noninteractive $sudo apt-get -q -y -o Dpkg::Use-Pty=0 "${apt_options[@]}" "$@" </dev/null >"$apt_log" 2>&1
}

# The suites of the indexes in failed_indexes' lines, once each.
suites_of() {
    sed -n 's#^[a-z+]*:[^ ]*/dists/\([^/ ]*\)/.*#\1#p' | sort -u
}

# Writes into $1 a copy of the sources under $apt_root/etc/apt with the
# suites given after it left out: a one-line entry of such a suite is made a
# comment, and a deb822 stanza loses the suite from its Suites (or, when it
# had no other, is disabled).
sources_without() {
    local into=$1
    shift
    local left_out=" $* "
    mkdir -p "$into/sources.list.d"
    : >"$into/sources.list"
    local file
    for file in "$apt_root/etc/apt/sources.list" "$apt_root"/etc/apt/sources.list.d/*.list; do
        [ -f "$file" ] || continue
        awk -v left_out="$left_out" '
            /^[ \t]*deb(-src)?[ \t]/ {
                line = $0; gsub(/\[[^]]*\]/, "", line); split(line, field)
                if (index(left_out, " " field[3] " ")) { print "# left out by setup.sh: " $0; next }
            }
            { print }' "$file" >"$into/sources.list.d/$(basename "$file" .list)-$(basename "$(dirname "$file")").list"
    done
    for file in "$apt_root"/etc/apt/sources.list.d/*.sources; do
        [ -f "$file" ] || continue
        awk -v left_out="$left_out" '
            function flush(   i, n, kept, suite) {
                if (stanza == "") return
                if (suites != "") {
                    n = split(suites, suite, /[ \t]+/); kept = ""
                    for (i = 1; i <= n; i++)
                        if (suite[i] != "" && !index(left_out, " " suite[i] " ")) kept = kept " " suite[i]
                    if (kept == "") stanza = replace_field(stanza, "Enabled", "no")
                    else stanza = replace_field(stanza, "Suites", kept)
                }
                printf "%s", stanza; stanza = ""; suites = ""
            }
            # A field given twice is an error to apt: the one line replaces
            # any the stanza has.
            function replace_field(text, name, value,   out, lines, n, i) {
                n = split(text, lines, "\n"); out = ""
                for (i = 1; i < n; i++)
                    if (tolower(lines[i]) !~ "^" tolower(name) ":") out = out lines[i] "\n"
                return out name ": " value "\n"
            }
            /^[ \t]*$/ { flush(); print; next }
            tolower($0) ~ /^suites:/ { suites = $0; sub(/^[^:]*:[ \t]*/, "", suites) }
            { stanza = stanza $0 "\n" }
            END { flush() }' "$file" >"$into/sources.list.d/$(basename "$file")"
    done
}

# From now on in this run, apt reads sources without the given suites, and
# keeps its lists and downloads apart from the machine's.
leave_out_suites() {
    if [ -z "$apt_own" ]; then
        apt_own=$(mktemp -d)
        # apt downloads as its own user where it can: let it reach its lists.
        chmod 755 "$apt_own"
    fi
    rm -rf "${apt_own:?}/etc"
    sources_without "$apt_own/etc" "$@"
    apt_reads "$apt_own/etc" "$apt_own/lists" "$apt_own/cache"
}

# The indexes the last `apt-get update` could not download, one a line, each
# with apt's reason ("File has unexpected size ... Mirror sync in progress?").
# A suite whose Release file itself fails ("The repository 'URI SUITE
# InRelease' is not signed", "... does not have a Release file") is named
# by the address of that file.
failed_indexes() {
    sed -n -e 's/^[EW]: Failed to fetch \(.*\)$/\1/p' \
        -e "s#^E: The repository '\\([^ ']*\\) \\([^ ']*\\) \\([^ ']*\\)' \\(.*\\)\$#\\1/dists/\\2/\\3 \\4#p" "$apt_log" |
        sed 's#\([^/]\)//dists/#\1/dists/#; s/  */ /g'
}

# Indexes still failing after the last try of `apt-get update`, for the
# message of an install that cannot proceed without them.
stale_indexes=""

apt_get() {
    if [ "$1" = update ]; then
        apt_update
        return
    fi
    run_apt_get "$@" && return
    local failure
    failure=$(grep -v '^\s*$' "$apt_log" | tail -n 1)
    [ -z "$stale_indexes" ] || fail "apt-get $* failed: $failure
setup: apt-get update could not download:
$(sed 's/^/  /' <<<"$stale_indexes")
setup: the mirror may be in the middle of a synchronisation; a later run may succeed"
    fail "apt-get $1 failed: $failure"
}

# Suites this run leaves out, once their indexes failed every try.
left_out_suites=""

apt_update() {
    local tries=${ZELBRIDGE_APT_TRIES:-4} wait=${ZELBRIDGE_APT_WAIT:-15} try failed suites
    # Sources may have been added since the suites were left out.
    [ -z "$left_out_suites" ] || leave_out_suites $left_out_suites
    for ((try = 1; ; try++)); do
        run_apt_get update && { stale_indexes=""; return; }
        failed=$(failed_indexes)
        [ -n "$failed" ] || fail "apt-get update failed: $(grep -v '^\s*$' "$apt_log" | tail -n 1)"
        [ "$try" -lt "$tries" ] || break
        echo "setup: apt-get update failed (try $try of $tries), trying again in $wait s: $(head -n 1 <<<"$failed")" >&2
        sleep "$wait"
        wait=$((wait * 2))
    done
    # A Release file that fails hides the indexes behind it: once a suite
    # is left out, another may fail that did not before. Each round leaves
    # out at least one suite more, so this ends.
    local times="$tries times"
    while suites=$(suites_of <<<"$failed" | awk -v out=" $left_out_suites " '!index(out, " " $0 " ")' | tr '\n' ' ') &&
        [ -n "$suites" ]; do
        suites=${suites% }
        left_out_suites=$(echo $left_out_suites $suites | tr ' ' '\n' | sort -u | tr '\n' ' ')
        left_out_suites=${left_out_suites% }
        echo "setup: an index of $suites failed $times ($(head -n 1 <<<"$failed" | cut -d' ' -f1)); this install leaves out $left_out_suites (its updates are not used), without changing the machine's apt configuration" >&2
        leave_out_suites $left_out_suites
        run_apt_get update && { stale_indexes=""; return; }
        failed=$(failed_indexes)
        times="with $left_out_suites left out"
    done
    stale_indexes=$failed
    echo "setup: apt-get update failed; going on with the indexes apt has. Still failing:" >&2
    sed 's/^/  /' <<<"$failed" >&2
}

missing_packages() {
    local package
    for package in "${packages[@]}"; do
        dpkg-query -W -f='${Status}\n' "$package" 2>/dev/null | grep -q '^install ok installed$' || echo "$package"
    done
}

# Trying a real 32-bit program is the only sure test: a 64-bit kernel may or
# may not have been built to execute them, and binfmt_misc may route them.
runs_32bit() {
    "$wine32" --version >/dev/null 2>&1
}

# The suite with qemu-user 8 or later: Debian 12's own 7.2 cannot run Wine
# (it loops for ever reserving memory). Its address is the machine's own
# Debian source, so that no archive address is written down here.
add_backports_suite() {
    local suite=$1
    local list=/etc/apt/sources.list.d/zelbridge-backports.sources
    if [ -e "$list" ] || grep -rqs "$suite" /etc/apt/sources.list /etc/apt/sources.list.d; then
        apt-cache "${apt_options[@]}" policy | grep -q " $suite/" || apt_get update
        return
    fi
    local uri
    uri=$(awk '/^URIs:/ && $2 !~ /security/ { print $2; exit }' /etc/apt/sources.list.d/*.sources 2>/dev/null || true)
    [ -n "$uri" ] || uri=$(awk '$1 == "deb" && $3 !~ /security/ { for (i = 2; i <= NF; i++) if ($i ~ /:\/\//) { print $i; exit } }' \
        /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null || true)
    [ -n "$uri" ] || fail "cannot add $suite: no Debian source found in /etc/apt to take its address from"
    printf 'Types: deb\nURIs: %s\nSuites: %s\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
        "$uri" "$suite" | $sudo tee "$list" >/dev/null
    apt_get update
}

qemu_major() {
    [ -x "$qemu" ] && "$qemu" --version | sed -n 's/.*version \([0-9]*\)\..*/\1/p;q'
}

install_qemu() {
    [ "$(qemu_major || echo 0)" -ge 8 ] && return
    local codename
    codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    if [ "$codename" = bookworm ]; then
        add_backports_suite bookworm-backports
        apt_get install --no-install-recommends -t bookworm-backports qemu-user
    else
        apt_get install --no-install-recommends qemu-user
    fi
    local major
    major=$(qemu_major || true)
    [ -n "$major" ] || fail "qemu-user is installed but $qemu is missing"
    [ "$major" -ge 8 ] || fail "qemu-user $major cannot run Wine; version 8 or later is needed"
}

# Registers qemu-i386 for 32-bit x86 programs; the F flag opens the
# interpreter now, so that it also serves programs in other mount namespaces.
register_qemu() {
    [ -e "$binfmt/register" ] || $sudo mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null ||
        fail "cannot mount binfmt_misc at $binfmt (a container without that right cannot emulate 32-bit programs)"
    local entry=$binfmt/qemu-i386
    if [ -e "$entry" ]; then
        grep -qx enabled "$entry" && grep -qx "interpreter $qemu" "$entry" && grep -qx 'flags: F' "$entry" && return
        echo -1 | $sudo tee "$entry" >/dev/null
    fi
    printf '%s' ":qemu-i386:M::$i386_magic:$i386_mask:$qemu:F" | $sudo tee "$binfmt/register" >/dev/null ||
        fail "binfmt_misc refused the qemu-i386 entry"
}

# Sourced by a test: the functions only.
[ "${BASH_SOURCE[0]}" = "$0" ] || return 0

emulate=false
case ${1:-} in
    "") ;;
    --emulate-i386) emulate=true ;;
    *) echo "usage: setup.sh [--emulate-i386]" >&2; exit 2 ;;
esac

missing=$(missing_packages)
if [ -n "$missing" ]; then
    need_root "installing $(echo $missing)"
    dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
    apt_get update
    # shellcheck disable=SC2086
    apt_get install $missing
fi

if $emulate || ! runs_32bit; then
    need_root "running 32-bit programs on this kernel"
    install_qemu
    register_qemu
    runs_32bit || fail "32-bit programs do not run even under qemu-user: $("$wine32" --version 2>&1 | head -n 1)"
fi
