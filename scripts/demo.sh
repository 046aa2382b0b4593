#!/usr/bin/env bash
# Installs what is missing, builds the 32-bit product with everything the
# guides in docs/ go on to use (the tool, the loopback and simulator drivers, the
# import libraries, the MSI package, the tests), and has the tool send
# commands through Zelbridge.dll to the loopback driver: an identification
# command and its answer, and a failure.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

# The whole 32-bit build, so that `cmake --install build/win32`, the simulator
# and the MSI package work afterwards as the guides in docs/ show them.
preset=win32
build=build/$preset
log=$build/demo-build.log

echo "Building the $preset preset: Zelbridge.dll, zelbridge.exe, the drivers, the MSI package (log in $log)"
mkdir -p "$build"
if ! { cmake --preset "$preset" && cmake --build --preset "$preset"; } >"$log" 2>&1; then
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
