#!/usr/bin/env bash
# The 32-bit zelbridge on 64-bit Windows, as a user runs it there: in a 64-bit
# Wine prefix, check and config must name and use the 32-bit registry view,
# which the 32-bit module reads, and point out a value left in the 64-bit one.
# Each output of check --json must follow the JSON Schema SCHEMA.
# Usage: registry_views_test.sh RUNNER PREFIX TOOL SCHEMA
set -uo pipefail
runner=$1
prefix=$2
tool=$3
schema=$4
key='HKLM\Software\QX\Zelbridge'
failures=0

# Both views cleared, before and after: the prefix outlives the test.
reg64() { bash "$runner" "$prefix" win64 reg "$@" >/dev/null 2>&1; }
clear_views() { reg64 delete "$key" /v Path /f /reg:32; reg64 delete "$key" /v Path /f /reg:64; }
trap clear_views EXIT

# expect EXIT_CODE TEXT ARGUMENTS...: the tool's exit code, and TEXT in what it printed.
expect() {
    local code=$1 text=$2
    shift 2
    local output status
    output=$(cd "$(dirname "$tool")" && bash "$runner" "$prefix" win32 "./$(basename "$tool")" "$@" 2>&1 </dev/null)
    status=$?
    output=${output//$'\r'/}
    if [ "$status" != "$code" ] || [[ "$output" != *"$text"* ]]; then
        printf 'FAILED: zelbridge %s\n  expected exit %s and: %s\n  got exit %s:\n%s\n' "$*" "$code" "$text" "$status" "$output"
        failures=$((failures + 1))
    fi
    if [[ " $* " == *" --json "* ]] && ! /usr/bin/python3 -c '
import json, sys, jsonschema
jsonschema.validate(json.loads(sys.stdin.read()), json.load(open(sys.argv[1])), jsonschema.Draft202012Validator)
' "$schema" <<<"$output"; then
        printf "FAILED: zelbridge %s: the output does not follow %s\n" "$*" "$schema"
        failures=$((failures + 1))
    fi
}

clear_views
reg64 add "$key" /v Path /t REG_SZ /d 'C:\windows' /f /reg:64
expect 1 'Read from:        HKEY_LOCAL_MACHINE\Software\WOW6432Node\QX\Zelbridge, value Path (32-bit view): not set' check
expect 1 'Other view:       HKEY_LOCAL_MACHINE\Software\QX\Zelbridge, value Path (64-bit view) holds REG_SZ "C:\windows", which Zelbridge.dll (32-bit) does not read; to set it where it reads: reg add "HKLM\Software\QX\Zelbridge" /v Path /t REG_SZ /d "C:\windows" /f /reg:32' check
expect 1 '"fix":"reg add \"HKLM\\Software\\QX\\Zelbridge\" /v Path /t REG_SZ /d \"C:\\windows\" /f /reg:32"' check --json
expect 1 '"otherView":{"key":"HKEY_LOCAL_MACHINE\\Software\\QX\\Zelbridge","view":"64-bit","type":"REG_SZ","path":"C:\\windows"}' check --json

# The fix as printed, then the value where the module reads it is used.
reg64 add "$key" /v Path /t REG_SZ /d 'C:\windows' /f /reg:32
expect 1 'File tried:       C:\windows\M329_ZEL_DLL.DLL' check --family M329
expect 1 '"fileTried":"C:\\windows\\M329_ZEL_DLL.DLL"' check --family M329 --json
expect 0 '(64-bit view) holds REG_SZ "C:\windows", which Zelbridge.dll (32-bit) does not read' config

clear_views
expect 0 'Install path set to C:\windows in HKEY_LOCAL_MACHINE\Software\WOW6432Node\QX\Zelbridge, value Path, 32-bit view.' config --install-path 'C:\windows\'
expect 0 'Read from:        HKEY_LOCAL_MACHINE\Software\WOW6432Node\QX\Zelbridge, value Path (32-bit view): REG_SZ, 11 bytes' check
expect 0 'Install path removed from HKEY_LOCAL_MACHINE\Software\WOW6432Node\QX\Zelbridge' config --unset
expect 0 'Install path:     (none set)' config
expect 1 'zelbridge: the path is 303 characters long; Zelbridge.dll reads at most 259' config --install-path "C:\\$(printf 'a%.0s' {1..300})"

[ "$failures" = 0 ]
