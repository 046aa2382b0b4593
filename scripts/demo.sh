#!/usr/bin/env bash
# Installs what is missing, builds Zelbridge.dll and shows what it offers
# applications: its export table.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

cmake --preset win32 >/dev/null
cmake --build --preset win32 --target Zelbridge
dll=build/win32/bin/Zelbridge.dll
echo
echo "Built $dll"
i686-w64-mingw32-objdump -p "$dll" | sed -n '/^The Export Tables/,/^$/p;/\[Ordinal\/Name Pointer\] Table/,/^$/p'
