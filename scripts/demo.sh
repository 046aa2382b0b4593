#!/usr/bin/env bash
# Installs what is missing, builds Zelbridge.dll, the zelbridge tool and the
# loopback driver, and has the tool send commands through Zelbridge.dll to the
# loopback driver: an identification command and its answer, and a failure.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

# The 32-bit product: Zelbridge.dll, zelbridge.exe and Loopback.dll, all i686.
preset=win32
build=build/$preset
log=$build/demo-build.log

echo "Building Zelbridge.dll, zelbridge.exe and Loopback.dll ($preset; log in $log)"
mkdir -p "$build"
if ! { cmake --preset "$preset" && cmake --build --preset "$preset" --target Zelbridge zelbridge Loopback; } >"$log" 2>&1; then
    cat "$log"
    exit 1
fi

# Shows a command line as a user would type it, runs the tool under Wine and
# prints its output with Unix line ends.
zelbridge() {
    local shown="zelbridge" argument
    for argument in "$@"; do
        case $argument in
            *[[:space:]*?\"]*) shown+=" \"$argument\"" ;;
            *) shown+=" $argument" ;;
        esac
    done
    printf '\n$ %s\n' "$shown"
    local status=0
    bash cmake/run-under-wine.sh "$PWD/$build/wineprefix" "$preset" "$build/bin/zelbridge.exe" "$@" 2>&1 |
        tr -d '\r' || status=$?
    [ "$status" -eq 0 ] || echo "(exit code $status)"
}

echo
echo "The zelbridge tool loads Zelbridge.dll next to it, as any application does,"
echo "and drives the loopback driver (prefix LOOP_) through it, under 32-bit Wine."
zelbridge send --driver Loopback.dll --prefix LOOP_ --rs232 1,9600 "*IDN?" "LINK?" "ECHO hello through Zelbridge"
zelbridge send --driver Loopback.dll --prefix LOOP_ --tcp 192.168.0.5,5000 "MOVE 10"
