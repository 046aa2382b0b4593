#!/usr/bin/env bash
# Installs what is missing, builds Zelbridge for Linux (with the address and
# thread sanitizers, and the fuzzers), 64-bit and 32-bit Windows, and runs
# every test. Fails when any test fails; the set-up fails first where the
# 32-bit product's tests cannot run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

for preset in host host-tsan host-fuzz win64 win32; do
    echo "== $preset"
    cmake --preset "$preset" -DZELBRIDGE_BUILD_TESTS=ON >/dev/null
    cmake --build --preset "$preset"
    ctest --preset "$preset" --no-tests=error
done
