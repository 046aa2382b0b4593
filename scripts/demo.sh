#!/usr/bin/env bash
# Installs what is missing, builds Zelbridge.dll, the zelbridge tool and the
# loopback driver, and has the tool send commands through Zelbridge.dll to the
# loopback driver: an identification command and its answer, and a failure.
#
# The 32-bit product runs where the machine executes 32-bit programs; where it
# cannot, the same sources built for 64-bit Windows run under 64-bit Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

if /usr/lib/wine/wine --version >/dev/null 2>&1; then
    preset=win32
    how="the 32-bit build"
else
    preset=win64
    how="the 64-bit build, as this machine cannot run 32-bit programs"
fi
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
echo "and drives the loopback driver (prefix LOOP_) through it, under Wine with"
echo "$how."
zelbridge send --driver Loopback.dll --prefix LOOP_ --rs232 1,9600 "*IDN?" "LINK?" "ECHO hello through Zelbridge"
zelbridge send --driver Loopback.dll --prefix LOOP_ --tcp 192.168.0.5,5000 "MOVE 10"
