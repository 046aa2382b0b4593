#!/usr/bin/env bash
# Runs one Windows test program under Wine, in the build's own prefix.
# Usage: run-under-wine.sh PREFIX_DIR win32|win64 PROGRAM [ARGS...]
#
# The prefix is made on first use, without dialogs; one wineserver is kept
# alive for the whole test run, so that each program starts in a fraction of
# a second instead of booting Wine anew. Everything started in the
# background has its descriptors closed, so that ctest never waits on it.
set -euo pipefail
prefix=$1
arch=$2
shift 2

export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="

if [ "$arch" = win64 ]; then
    wine=/usr/lib/wine/wine64
else
    wine=/usr/lib/wine/wine
fi
# The 64-bit server serves 32-bit programs as well, and runs natively where
# 32-bit code runs only under emulation.
wineserver=/usr/lib/wine/wineserver64
[ -x "$wineserver" ] || wineserver=/usr/lib/wine/wineserver32
export WINESERVER=$wineserver

mkdir -p "$(dirname "$prefix")"
(
    flock 9
    if [ ! -f "$prefix/.zelbridge-ready" ]; then
        rm -rf "$prefix"
        WINEARCH=$arch "$wine" wineboot -i </dev/null >/dev/null 2>&1 9>&- || true
        "$wineserver" -w 9>&- || true
        touch "$prefix/.zelbridge-ready"
    fi
    # Start the persistent server unless one already serves this prefix, and
    # bring up Wine's own services under it with no descriptor of ours.
    if "$wineserver" -p120 </dev/null >/dev/null 2>&1 9>&-; then
        "$wine" cmd /c exit </dev/null >/dev/null 2>&1 9>&- || true
    fi
) 9>"$prefix.lock"

exec "$wine" "$@"
