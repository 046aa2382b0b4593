#!/usr/bin/env bash
# Writes one short import object of the kind MSVC's import libraries hold,
# for an export whose name keeps its decoration (the DLL exports
# "_ConnectPciBoard@8" as it is): import name type NAME, i386, by name.
# Usage: write-import-object.sh SYMBOL DLL ORDINAL OUTPUT
set -euo pipefail
symbol=$1 dll=$2 ordinal=$3 output=$4
size=$(( ${#symbol} + 1 + ${#dll} + 1 ))
le16() { printf '\\x%02x\\x%02x' $(( $1 & 255 )) $(( ($1 >> 8) & 255 )); }
# Signatures 0 and 0xFFFF, version 0, machine i386, no time stamp, size of
# the two names, the ordinal as hint, code import by exact name (type 0, name type 1).
header="\\x00\\x00\\xff\\xff\\x00\\x00\\x4c\\x01\\x00\\x00\\x00\\x00$(le16 $size)\\x00\\x00$(le16 $ordinal)$(le16 4)"
printf "$header%s\\x00%s\\x00" "$symbol" "$dll" > "$output"
