"""Holds the module to its exports reference: every row of
docs/reference/exports.md names an export of the built module, and the module
returns what the row says for a bad index, a missing library and a missing
driver function.

Usage: exports_behaviour.py REFERENCE MODULE DRIVER
  DRIVER: a driver library that loads, on which a prefix of no function is
  defined to meet every missing function.
"""

import ctypes
import os
import re
import sys
import tempfile

ROW = re.compile(r"^\| (\d+) \| `([^`]+)` \| `\(([^)]*)\)` \|(?: [^|]+ \|)? (\d+) \| ([^|]+) \| ([^|]+) \| ([^|]+) \|$")
NA = "—"
VOID = "void"
BAD_INDEX = 1_000_000  # names no system: none is ever defined in this process but one

PARAMETER_TYPES = {"int": ctypes.c_int, "ZelWord": ctypes.c_ssize_t, "double": ctypes.c_double}


def parameter_type(declaration):
    declaration = declaration.strip()
    if "*" in declaration:
        return ctypes.c_void_p
    return PARAMETER_TYPES[declaration.rsplit(" ", 1)[0]]


def read_rows(reference):
    rows = []
    with open(reference, encoding="utf-8") as page:
        for line in page:
            match = ROW.match(line.rstrip("\n"))
            if match:
                ordinal, exported, params, _size, bad, library, function = match.groups()
                # The name a C compiler gives: _ConnectPciBoard@8 is ConnectPciBoard.
                name = exported.lstrip("_").split("@")[0]
                result = "void" if VOID in (bad.strip(), library.strip(), function.strip()) else "int"
                types = [] if params.strip() == "void" else [parameter_type(p) for p in params.split(",")]
                rows.append((int(ordinal), name, result, types, bad.strip(), library.strip(), function.strip()))
    return rows


def expected(cell):
    return None if cell in (NA, VOID) else int(cell)


def main():
    reference, module_path, driver = sys.argv[1:4]
    # An empty install folder: every family library and the graph library is missing.
    os.environ["ZELBRIDGE_PATH"] = tempfile.mkdtemp()
    os.environ.pop("ZELBRIDGE_RECORD", None)
    os.environ.pop("ZELBRIDGE_TRACE", None)
    module = ctypes.CDLL(module_path)
    rows = read_rows(reference)
    faults = []
    if len(rows) != 150:
        faults.append(f"the reference has {len(rows)} export rows, not 150")

    define = module.DefineSystem
    define.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
    without_functions = define(driver.encode(), b"NO_SUCH_PREFIX_")
    if without_functions < 0:
        faults.append(f"DefineSystem({driver!r}) failed: the missing-function cases cannot be tried")

    def call(name, result, types, *leading):
        try:
            function = getattr(module, name)
        except AttributeError:
            faults.append(f"{name}: in the reference, not exported by the module")
            return None
        function.restype = None if result == "void" else ctypes.c_int
        function.argtypes = types
        arguments = list(leading) + [0] * (len(types) - len(leading))
        return function(*arguments)

    checked = 0
    for ordinal, name, result, types, bad, library, function in rows:
        cases = []
        if name == "DefineSystem":
            cases.append(("missing library", library, lambda: define(b"/no/such/folder/libnone.so", b"X_")))
        elif bad != NA:
            cases.append(("bad index", bad, lambda: call(name, result, types, BAD_INDEX)))
            cases.append(("missing function", function,
                          lambda: call(name, result, types, without_functions)))
        else:
            cases.append(("missing library", library, lambda: call(name, result, types)))
        for case, cell, make_call in cases:
            got = make_call()
            want = expected(cell)
            checked += 1
            if want is not None and got != want:
                faults.append(f"{name} (ordinal {ordinal}), {case}: the reference says {want}, the module returns {got}")
            if name != "GetError" and case == "missing function" and without_functions >= 0:
                # Each missing function leaves -1034 for the next GetError, once.
                pending = call("GetError", "int", [ctypes.c_int], without_functions)
                if pending != -1034:
                    faults.append(f"{name}, missing function: GetError then returns {pending}, not -1034")

    if faults:
        print("\n".join(faults), file=sys.stderr)
        return 1
    print(f"{len(rows)} exports, {checked} results as the reference says")
    return 0


if __name__ == "__main__":
    sys.exit(main())
