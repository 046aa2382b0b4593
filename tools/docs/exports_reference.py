#!/usr/bin/env python3
"""Writes docs/reference/exports.md from the lists the module is built from.

The export table (src/module/Zelbridge.def) gives every export's ordinal and
argument bytes; the public header its declaration; the generic entry points
and the system binding, the family catalog and the graph function list give
what each export returns when its index names no system, its library is
missing, or its driver function is. Nothing of the page is written by hand,
so it cannot drift from the module: the tests run this with --check.

Usage: exports_reference.py [--check] [--output FILE] [SOURCE_DIR]
"""

import argparse
import pathlib
import re
import sys

NA = "—"


class SourceError(Exception):
    pass


def read(root, path):
    return (root / path).read_text(encoding="utf-8")


def find_all(pattern, text, what, flags=0):
    found = re.findall(pattern, text, flags)
    if not found:
        raise SourceError(f"no {what} found")
    return found


def read_exports(root):
    """(ordinal, exported name, argument bytes), in ordinal order."""
    rows = find_all(r"^\s+(\S+) = [A-Za-z0-9_]+@(\d+) @(\d+)\s*$", read(root, "src/module/Zelbridge.def"),
                    "exports in Zelbridge.def", re.M)
    return sorted((int(ordinal), name, int(size)) for name, size, ordinal in rows)


def read_declarations(root):
    """Exported name (undecorated) -> (result type, parameter list)."""
    header = read(root, "include/zelbridge.h")
    rows = find_all(r"^(int|void) ZELBRIDGE_CALL (\w+)\(([^)]*)\);", header, "declarations in zelbridge.h", re.M)
    return {name: (result, " ".join(params.split())) for result, name, params in rows}


def read_word_meanings(root):
    """The header's comment on what the words mean, as plain lines."""
    header = read(root, "include/zelbridge.h")
    match = re.search(r"/\*\n \* What the words mean\.(.*?)\*/", header, re.S)
    if not match:
        raise SourceError("no comment 'What the words mean' in zelbridge.h")
    lines = [re.sub(r"^ \*( |$)", "", line) for line in match.group(1).split("\n")]
    return "\n".join(lines).strip()


# How the operation table's argument kinds read in the reference.
ARGUMENT_WORDS = {
    "Integer": "integer",
    "Opaque": "opaque word",
    "Text": "text",
    "Buffer": "out buffer",
    "Capacity": "its size",
    "IntegerOut": "out int",
}


def read_operations(root):
    """Generic operation -> its description in the driver contract's table:
    ordinal, argument kinds, entry result, results for a bad index and a
    missing function."""
    contract = read(root, "src/api/driver_contract.h")
    body = contract[contract.index("#define ZELBRIDGE_DRIVER_OPERATIONS"):contract.index("enum class Operation ")]
    body = re.sub(r"\s*\\\n\s*", " ", body)
    rows = find_all(r"X\((\w+), \([^)]*\), \([^)]*\),\s*\((\w+), Takes\(([^)]*)\), (\d+), (\w+), (\w+), ([^,]+), ([^,]+), (\w+)\)\)",
                    body, "operations in driver_contract.h")
    operations = {}
    for name, _kind, takes, ordinal, _timing, result, invalid, missing, _interaction in rows:
        kinds = [kind.strip() for kind in takes.split(",") if kind.strip()]
        unknown = [kind for kind in kinds if kind not in ARGUMENT_WORDS]
        if unknown:
            raise SourceError(f"{name}: argument kind {unknown[0]} has no wording in exports_reference.py")
        operations[name] = {
            "ordinal": int(ordinal),
            "arguments": ["index"] + [ARGUMENT_WORDS[kind] for kind in kinds],
            "result": result,
            "invalid": invalid.strip(),
            "missing": missing.strip(),
        }
    return operations


def read_family_rows(root):
    """(exported prefix, operation, fallback, marks) of the family catalog."""
    catalog = read(root, "src/families/family_catalog.h")
    families = find_all(r"^\s+F\((\w+), (\w+), (\w+), \"([^\"]+)\"", catalog, "families in family_catalog.h", re.M)
    body = catalog[catalog.index("#define ZELBRIDGE_FAMILY_OPERATIONS"):catalog.index("#define ZELBRIDGE_FAMILIES")]
    body = re.sub(r"\s*\\\n\s*", " ", body)
    rows = find_all(r"X\(context, (\w+), (\w+), (\w+), \(([^)]*)\), \(([^)]*)\), (\w+), ([^,]+), \(([01, ]+)\)\)",
                    body, "operations in family_catalog.h")
    return families, [(op, result, fallback.strip(), [m.strip() == "1" for m in marks.split(",")])
                      for op, _driver, result, _params, _args, _kind, fallback, marks in rows]


def read_graph_rows(root):
    text = re.sub(r"\s*\\\n\s*", " ", read(root, "src/graph/graph_functions.h"))
    rows = find_all(r"X\((\d+), (\w+), \(([^)]*)\), \(([^)]*)\), ([^)]+)\)", text, "graph functions")
    return {name: fallback.strip() for _ordinal, name, _params, _args, fallback in rows}


def shown(value):
    if value == "FUNCTION_NOT_AVAILABLE":
        return "-1034"
    return value


def build_rows(root):
    exports = read_exports(root)
    declarations = read_declarations(root)
    operations = read_operations(root)
    families, family_rows = read_family_rows(root)
    graph = read_graph_rows(root)
    family_fallbacks = {}
    for position, (_family, prefix, _resolution, library) in enumerate(families):
        family_fallbacks[prefix + "IsDLLAvailable"] = ("0", prefix, library)
        for operation, result, fallback, marks in family_rows:
            if marks[position]:
                family_fallbacks[prefix + operation] = (
                    "void" if result == "void" else shown(fallback), prefix, library)
    rows = []
    arguments = {"DefineSystem": "text, text"}
    for ordinal, name, size in exports:
        plain = name.lstrip("_").split("@")[0]
        if plain not in declarations:
            raise SourceError(f"{name} (ordinal {ordinal}) is not declared in zelbridge.h")
        result, params = declarations[plain]
        if plain in family_fallbacks:
            library_missing, prefix, library = family_fallbacks[plain]
            group = ("family", prefix, library)
            row = (NA, library_missing, library_missing)
        elif plain in graph:
            group = ("graph",)
            row = (NA, shown(graph[plain]), shown(graph[plain]))
        elif plain == "DefineSystem":
            group = ("generic",)
            row = (NA, "-1", NA)
        else:
            group = ("generic",)
            operation = operations.get(plain)
            if operation is None:
                raise SourceError(f"{plain} (ordinal {ordinal}) is not in the operation table of driver_contract.h")
            if operation["ordinal"] != ordinal:
                raise SourceError(f"{plain}: ordinal {operation['ordinal']} in driver_contract.h, {ordinal} in Zelbridge.def")
            if (operation["result"] == "NoResult") != (result == "void"):
                raise SourceError(f"{plain}: driver_contract.h and zelbridge.h disagree on whether it returns a result")
            row = (shown(operation["invalid"]), NA, shown(operation["missing"]))
            arguments[plain] = ", ".join(operation["arguments"])
        if result == "void":
            row = tuple(NA if cell == NA else "void" for cell in row)
        rows.append((group, ordinal, name, f"({params})", size) + row)
    return rows, arguments


def table(rows, columns):
    lines = ["| " + " | ".join(columns) + " |", "|" + "---|" * len(columns)]
    for row in rows:
        lines.append("| " + " | ".join(row) + " |")
    return "\n".join(lines)


def render(root):
    rows, arguments = build_rows(root)
    columns = ["ordinal", "export", "parameters", "bytes", "bad index", "missing library", "missing function"]

    def cells(row):
        _group, ordinal, name, declaration, size, bad, library, function = row
        return [str(ordinal), f"`{name}`", f"`{declaration}`", str(size), bad, library, function]

    generic_columns = columns[:3] + ["what they are"] + columns[3:]
    generic = []
    for r in rows:
        if r[0][0] == "generic":
            row = cells(r)
            generic.append(row[:3] + [arguments[r[2].lstrip("_").split("@")[0]]] + row[3:])
    graph = [cells(r) for r in rows if r[0][0] == "graph"]
    families = {}
    for r in rows:
        if r[0][0] == "family":
            families.setdefault(r[0][1:], []).append(cells(r))
    out = [
        "# Exports",
        "",
        "<!-- Generated by tools/docs/exports_reference.py from src/module/Zelbridge.def,",
        "     include/zelbridge.h, src/api/, src/families/family_catalog.h and",
        "     src/graph/graph_functions.h; do not edit: run the script. -->",
        "",
        f"Zelbridge.dll exports {len(rows)} functions, each under a fixed name and",
        "ordinal, with the standard calling convention (`__stdcall`): the callee",
        "removes its arguments, `bytes` of them on 32-bit Windows. Each returns an",
        "`int`, but for those whose results read `void`. The parameters are those of",
        "`include/zelbridge.h`; `ZelWord` is an integer the size of a pointer, passed",
        "to the driver unchanged.",
        "",
        "Every export forwards its arguments to the driver function unchanged and",
        "returns the driver's result. The last three columns are what an export",
        "returns without reaching a driver:",
        "",
        "- **bad index**: the index names no system (never defined, negative, or",
        "  released at unload);",
        "- **missing library**: the driver library cannot be loaded (for",
        "  `DefineSystem`, the library named; for a family or the graph, its own",
        "  library: missing, not loadable, or lacking any of its driver functions,",
        "  which is then looked for again at the next call);",
        "- **missing function**: the library is loaded but does not export the",
        "  driver function under the system's prefix. The next `GetError` on that",
        "  system then returns -1034 (`FUNCTION_NOT_AVAILABLE`) once.",
        "",
        f"{NA} means the case cannot arise for that export. What the words mean to",
        "the drivers of this project: [What the words mean](#what-the-words-mean).",
        "",
        "## Generic API",
        "",
        "`DefineSystem(library, prefix)` returns a system index; the other calls",
        "take it. A connect that succeeds (the driver's result is 0 or more)",
        "returns the index, except `ConnectUSB` and `ConnectDaisyChainDevice`, which",
        "return the driver's result; `ConnectPciBoard` and `Connect` call the",
        "driver's `ConnectPciBoard` when it exports one, else its `Connect`.",
        "",
        table(generic, generic_columns),
        "",
        "## Controller families",
        "",
        "A family call takes no index: it goes to the family's own library, loaded",
        "from the install folder on first use and used only when it exports every",
        "driver function of the family. `<prefix>IsDLLAvailable` returns 1 when the",
        "library is usable and 0 otherwise.",
        "",
    ]
    for (prefix, library), family_rows in families.items():
        out += [f"### `{prefix}`: {library}", "", table(family_rows, columns), ""]
    out += [
        "## 3D graph",
        "",
        "Forwarded to \"wxQXGraph3D.dll\", loaded on first use and used only when",
        "it exports all 31 functions; it stays loaded until the process ends.",
        "",
        table(graph, columns),
        "",
        "## What the words mean",
        "",
        "From `include/zelbridge.h`:",
        "",
        "```",
        read_word_meanings(root),
        "```",
        "",
    ]
    return "\n".join(out)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("source_dir", nargs="?", default=pathlib.Path(__file__).resolve().parents[2], type=pathlib.Path)
    parser.add_argument("--check", action="store_true", help="fail when the page differs from what the sources give")
    parser.add_argument("--output", type=pathlib.Path, help="the page (default: docs/reference/exports.md)")
    options = parser.parse_args()
    page = options.output or options.source_dir / "docs/reference/exports.md"
    try:
        text = render(options.source_dir)
    except SourceError as error:
        print(f"exports_reference: {error}", file=sys.stderr)
        return 1
    if options.check:
        current = page.read_text(encoding="utf-8") if page.exists() else ""
        if current != text:
            print(f"exports_reference: {page} disagrees with the sources; run tools/docs/exports_reference.py",
                  file=sys.stderr)
            return 1
        return 0
    page.write_text(text, encoding="utf-8")
    return 0


if __name__ == "__main__":
    sys.exit(main())
