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
# minutes: a failed `apt-get update` is tried again ZELBRIDGE_APT_TRIES times
# in all (4), waiting ZELBRIDGE_APT_WAIT seconds (15) and twice as long after
# each try. The install then goes on with the indexes apt has; when it cannot,
# the index that failed is named.
set -euo pipefail

emulate=false
case ${1:-} in
    "") ;;
    --emulate-i386) emulate=true ;;
    *) echo "usage: setup.sh [--emulate-i386]" >&2; exit 2 ;;
esac

fail() {
    echo "setup: $*" >&2
    exit 1
}

packages=(
    cmake ninja-build g++ make googletest libgtest-dev libbenchmark-dev valgrind
    clang libclang-rt-14-dev llvm nlohmann-json3-dev libboost1.81-dev wixl msitools
    g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
    wine wine64 wine32:i386
    python3 python3-pytest python3-setuptools python3-venv python3-pip
    mkdocs python3-jsonschema
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
apt_log=$(mktemp)
trap 'rm -f "$apt_log"' EXIT
run_apt_get() {
    DEBIAN_FRONTEND=noninteractive $sudo apt-get -q -y -o Dpkg::Use-Pty=0 "$@" </dev/null >"$apt_log" 2>&1
}

# The indexes the last `apt-get update` could not download, one a line, each
# with apt's reason ("File has unexpected size ... Mirror sync in progress?").
failed_indexes() {
    sed -n 's/^[EW]: Failed to fetch \(.*\)$/\1/p' "$apt_log" | sed 's/  */ /g'
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
    [ -z "$stale_indexes" ] || fail "apt-get $1 failed: $failure
setup: apt-get update could not download:
$(sed 's/^/  /' <<<"$stale_indexes")
setup: the mirror may be in the middle of a synchronisation; a later run may succeed"
    fail "apt-get $1 failed: $failure"
}

apt_update() {
    local tries=${ZELBRIDGE_APT_TRIES:-4} wait=${ZELBRIDGE_APT_WAIT:-15} try
    for ((try = 1; ; try++)); do
        run_apt_get update && { stale_indexes=""; return; }
        local failed
        failed=$(failed_indexes)
        [ -n "$failed" ] || fail "apt-get update failed: $(grep -v '^\s*$' "$apt_log" | tail -n 1)"
        if [ "$try" -ge "$tries" ]; then
            stale_indexes=$failed
            echo "setup: apt-get update failed $tries times; going on with the indexes apt has. Still failing:" >&2
            sed 's/^/  /' <<<"$failed" >&2
            return
        fi
        echo "setup: apt-get update failed (try $try of $tries), trying again in $wait s: $(head -n 1 <<<"$failed")" >&2
        sleep "$wait"
        wait=$((wait * 2))
    done
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
        apt-cache policy | grep -q " $suite/" || apt_get update
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
