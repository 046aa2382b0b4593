#!/usr/bin/env bash
# Follows docs/developers/adding-an-operation-or-family.md in a scratch copy of
# the tree: adds a made-up generic operation and a made-up family of two
# operations by editing only the description and the public header (the
# server's API document lists its names from the description), builds the
# module and the Python declarations, and finds each new export's entry point,
# forwarding, recording, Python declaration, module definition line and
# reference row, and no list of names in the API document to make stale.
# Usage: adding_an_operation.sh SOURCE_DIR SCRATCH_DIR
set -euo pipefail
source_dir=$1
scratch=$2
rm -rf "$scratch"
mkdir -p "$scratch"
# The tree as git has it, without any build folder.
(cd "$source_dir" && git ls-files -z --cached --others --exclude-standard | grep -zv '^build/' |
    xargs -0 cp --parents -t "$scratch")
cd "$scratch"

contract=src/api/driver_contract.h
header=include/zelbridge.h

# 1. The generic operation: one row, after the last one.
python3 - "$contract" <<'EOF'
import re, sys
path = sys.argv[1]
text = open(path).read()
last = "      NoFamily)\n\n// The operations only families export"
assert last in text, "the last generic row is not where the guide says"
text = text.replace(last, """      NoFamily) \\
    X(MadeUpCount, (ConnectionId id, Word a1), (id, a1),\\
      (OnConnection, Takes(Integer), 151, Traced, DriverResult, 0, 0, Plain),\\
      InFamilies(24, MadeUpCount, Plain, (0, 0, 0, 0, 0, 0, 155)))

// The operations only families export""")
# 2. The family: a row of the family table, its column, and its ordinal in
#    the rows of the operations it exports (here IsConnected and the new one).
text = text.replace('F(context, T5XX, T5XX_, T5XX_, "T5XX_ZEL_DLL.DLL", ShortTrace, false, 23)',
                    'F(context, T5XX, T5XX_, T5XX_, "T5XX_ZEL_DLL.DLL", ShortTrace, false, 23) \\\n'
                    '    F(context, Z900, Z900_, Z900_, "Z900_ZEL_DLL.DLL", FullTrace, true, 153)')
text = text.replace("#define ZELBRIDGE_FAMILY_COLUMN_1(",
                    "#define ZELBRIDGE_FAMILY_MARK_Z900(...) ZELBRIDGE_FAMILY_COLUMN_7(__VA_ARGS__, 0, 0, 0, 0, 0, 0, 0, 0)\n"
                    "#define ZELBRIDGE_FAMILY_COLUMN_1(")
text, count = re.subn(r"InFamilies\(6, IsConnected, Plain, \(([0-9, ]+)\)\)",
                      r"InFamilies(6, IsConnected, Plain, (\1, 154))", text)
assert count == 1
open(path, "w").write(text)
EOF
# 3. The header: the declarations applications compile against.
python3 - "$header" <<'EOF'
import sys
path = sys.argv[1]
text = open(path).read()
end = text.rindex("#ifdef __cplusplus")
text = (text[:end] + "int ZELBRIDGE_CALL MadeUpCount(int index, ZelWord a1);\n"
        "int ZELBRIDGE_CALL Z900_IsDLLAvailable(void);\n"
        "int ZELBRIDGE_CALL Z900_IsConnected(int id);\n"
        "int ZELBRIDGE_CALL Z900_MadeUpCount(int id, ZelWord a1);\n\n" + text[end:])
open(path, "w").write(text)
EOF

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DZELBRIDGE_BUILD_TESTS=ON >build.log 2>&1 ||
    { cat build.log; exit 1; }
cmake --build build --target Zelbridge python_declarations >>build.log 2>&1 || { tail -50 build.log; exit 1; }
listing=build/export_listing/export_listing
module=$(find build -name 'libZelbridge.so' | head -1)

fail() { echo "adding_an_operation: $*" >&2; exit 1; }

# The entry points, exported.
symbols=$(nm -D --defined-only "$module")
for name in MadeUpCount Z900_IsDLLAvailable Z900_IsConnected Z900_MadeUpCount; do
    grep -qw "$name" <<<"$symbols" || fail "$name is not exported"
done
# The module definition file and the reference page the tree would hold.
definition=$("$listing" --def)
grep -q '^    MadeUpCount = MadeUpCount@8 @151$' <<<"$definition" || fail "no .def line for MadeUpCount"
grep -q '^    Z900_MadeUpCount = Z900_MadeUpCount@8 @155$' <<<"$definition" || fail "no .def line for Z900_MadeUpCount"
python3 tools/docs/exports_reference.py --listing "$listing" --output reference.md .
grep -q '^| 151 | `MadeUpCount` | `(int index, ZelWord a1)` | index, integer | 8 | 0 | — | 0 |$' reference.md ||
    fail "no reference row for MadeUpCount"
grep -q '^### `Z900_`: Z900_ZEL_DLL.DLL$' reference.md || fail "no reference section for Z900_"
# The Python declarations.
declarations=$(find build -name python_declarations -type f -perm -u+x | head -1)
"$declarations" >operations.py
grep -q '"MadeUpCount": ("int", ("word",), "on_connection"),' operations.py || fail "no Python declaration of MadeUpCount"
grep -q '"Z900_": {' operations.py || fail "no Python declarations of Z900_"
# The OpenAPI document keeps no list of names that the new ones would make stale.
python3 "$source_dir/tests/docs/description_consumers.py" "$listing" . 2>&1 | grep -v '150 ordinals' >consumers.txt || true
if [ -s consumers.txt ]; then cat consumers.txt; fail "the hand-written names disagree with the description"; fi

# Forwarding and recording: an index that names no system gives the row's
# result, a family without its library its fallback, and both are recorded.
empty=$(mktemp -d)
ZELBRIDGE_PATH=$empty ZELBRIDGE_RECORD=$scratch/calls.jsonl python3 - "$module" <<'EOF' || fail "the calls did not give the rows' results"
import ctypes, sys
module = ctypes.CDLL(sys.argv[1])
assert module.MadeUpCount(-1, 7) == 0
assert module.Z900_IsDLLAvailable() == 0
assert module.Z900_MadeUpCount(3, 7) == 0
assert module.Z900_IsConnected(3) == 0
EOF
rmdir "$empty"
grep -q '"entry":"MadeUpCount",.*"args":\[7\],"result":0' calls.jsonl || { cat calls.jsonl; fail "MadeUpCount not recorded"; }
grep -q '"entry":"Z900_MadeUpCount",.*"args":\[3,7\],"result":0' calls.jsonl || { cat calls.jsonl; fail "Z900_MadeUpCount not recorded"; }
echo "adding_an_operation: MadeUpCount and the Z900_ family, from two files edited by hand: $contract and $header"
