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
    return "\n".join(lines).strip("\n")


def read_generic_results(root):
    """Generic export -> (result for a bad index, result for a missing driver function)."""
    entry_points = read(root, "src/api/generic_entry_points.cpp")
    binding = read(root, "src/api/system_binding.cpp")
    bad_index = {}
    for name, body in re.findall(r"^(?:int|void) ZELBRIDGE_CALL (\w+)\([^)]*\)\n\{(.*?)^\}", entry_points, re.M | re.S):
        valued = re.search(r'OnSystem\((?:"\w+"|nullptr), Timing::\w+, index, ([^,]+),', body)
        if valued:
            bad_index[name] = valued.group(1).strip()
        elif re.search(r'OnSystem\("\w+", index,', body):
            bad_index[name] = "(none: void)"
        elif re.search(r"return (\w+)\(index", body):
            bad_index[name] = ("alias", re.search(r"return (\w+)\(index", body).group(1))
    missing = {}
    for name, body in re.findall(r"^(?:std::int32_t|void) SystemBinding::(\w+)\([^)]*\) noexcept\n\{(.*?)^\}",
                                 binding, re.M | re.S) + re.findall(
            r"^(?:std::int32_t|void) SystemBinding::(\w+)\([^)]*\) noexcept \{(.*?)\}$", binding, re.M):
        helper = re.search(r"(Connecting|Unbound|OnConnection)<Operation::\w+>\(([^,)]*)", body)
        if not helper:
            continue
        if helper.group(1) == "Connecting":
            missing[name] = "-1"
        else:
            missing[name] = helper.group(2).strip()
    # The two that decide without a helper.
    missing["GetError"] = "FUNCTION_NOT_AVAILABLE"
    missing["CloseConnection"] = "(none: void)"
    return bad_index, missing


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
    return value.replace("(none: void)", "none (void)")


def build_rows(root):
    exports = read_exports(root)
    declarations = read_declarations(root)
    bad_index, missing = read_generic_results(root)
    families, family_rows = read_family_rows(root)
    graph = read_graph_rows(root)
    family_fallbacks = {}
    for position, (_family, prefix, _resolution, library) in enumerate(families):
        family_fallbacks[prefix + "IsDLLAvailable"] = ("0", prefix, library)
        for operation, result, fallback, marks in family_rows:
            if marks[position]:
                family_fallbacks[prefix + operation] = (
                    "none (void)" if result == "void" else shown(fallback), prefix, library)
    rows = []
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
            index_result = bad_index.get(plain)
            operation = plain
            if isinstance(index_result, tuple):
                operation = index_result[1]
                index_result = bad_index.get(operation)
            if index_result is None or operation not in missing:
                raise SourceError(f"no results found for the generic export {plain}")
            row = (shown(index_result), NA, shown(missing[operation]))
        if result == "void":
            row = tuple(NA if cell == NA else "none (void)" for cell in row)
        rows.append((group, ordinal, name, f"{result} {plain}({params})", size) + row)
    return rows


def table(rows, columns):
    lines = ["| " + " | ".join(columns) + " |", "|" + "---|" * len(columns)]
    for row in rows:
        lines.append("| " + " | ".join(row) + " |")
    return "\n".join(lines)


def render(root):
    rows = build_rows(root)
    columns = ["ordinal", "export", "declaration", "bytes", "bad index", "missing library", "missing function"]

    def cells(row):
        _group, ordinal, name, declaration, size, bad, library, function = row
        return [str(ordinal), f"`{name}`", f"`{declaration}`", str(size), bad, library, function]

    generic = [cells(r) for r in rows if r[0][0] == "generic"]
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
        "removes its arguments, `bytes` of them on 32-bit Windows. The declarations",
        "are those of `include/zelbridge.h`; `ZelWord` is an integer the size of a",
        "pointer, passed to the driver unchanged.",
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
        f"{NA} means the case cannot arise for that export.",
        "",
        "## What the words mean",
        "",
        "From `include/zelbridge.h`:",
        "",
        "```",
        read_word_meanings(root),
        "```",
        "",
        "## Generic API",
        "",
        "`DefineSystem(library, prefix)` returns a system index; the other calls",
        "take it. A connect that succeeds (the driver's result is 0 or more)",
        "returns the index, except `ConnectUSB` and `ConnectDaisyChainDevice`, which",
        "return the driver's result; `ConnectPciBoard` and `Connect` call the",
        "driver's `ConnectPciBoard` when it exports one, else its `Connect`.",
        "",
        table(generic, columns),
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
