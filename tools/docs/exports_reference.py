#!/usr/bin/env python3
"""Writes docs/reference/exports.md from the description of the exports.

export_listing, a program built from the description, prints every export's
ordinal, argument kinds and bytes and what it returns when its index names no
system, its library is missing, or its driver function is; the public header
gives its declaration. Nothing of the page is written by hand, so it cannot
drift from the module: the tests run this with --check.

Usage: exports_reference.py [--check] [--output FILE] [--listing PROGRAM] [SOURCE_DIR]
"""

import argparse
import json
import os
import pathlib
import re
import subprocess
import sys
import tempfile

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


def read_listing(root, listing):
    """The exports as the description gives them: export_listing --json, built
    from the description when no built one is named. The compiler is the one
    reader of the description; this script reads only what it prints."""
    if listing is None:
        folder = tempfile.mkdtemp()
        listing = os.path.join(folder, "export_listing")
        compiler = os.environ.get("CXX", "c++")
        subprocess.run([compiler, "-std=c++17", "-I", str(root / "src"), "-I", str(root / "include"),
                        str(root / "src/api/export_listing.cpp"), "-o", listing], check=True)
    output = subprocess.run([str(listing), "--json"], check=True, capture_output=True, text=True).stdout
    return json.loads(output)


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


# How the description's argument kinds read in the reference.
ARGUMENT_WORDS = {
    "integer": "integer",
    "opaque": "opaque word",
    "text": "text",
    "buffer": "out buffer",
    "capacity": "its size",
    "integer_out": "out int",
}


def shown(value):
    return NA if value is None else str(value)


def build_rows(root, listing):
    declarations = read_declarations(root)
    rows = []
    arguments = {"DefineSystem": "text, text"}
    for export in read_listing(root, listing):
        ordinal, name, plain = export["ordinal"], export["name"], export["function"]
        if plain not in declarations:
            raise SourceError(f"{name} (ordinal {ordinal}) is not declared in zelbridge.h")
        result, params = declarations[plain]
        if (result == "void") == export["result"]:
            raise SourceError(f"{plain}: the description and zelbridge.h disagree on whether it returns a result")
        if export["group"] == "family":
            group = ("family", export["prefix"], export["library"])
        else:
            group = (export["group"],)
        row = (shown(export["bad_index"]), shown(export["missing_library"]), shown(export["missing_function"]))
        if export["group"] != "generic":
            # A family or graph call has no driver function of its own to miss:
            # its library is used only when it has them all.
            row = (NA, row[1], row[1])
        elif plain != "DefineSystem":
            unknown = [kind for kind in export["arguments"] if kind not in ARGUMENT_WORDS]
            if unknown:
                raise SourceError(f"{plain}: argument kind {unknown[0]} has no wording in exports_reference.py")
            arguments[plain] = ", ".join(["index"] + [ARGUMENT_WORDS[kind] for kind in export["arguments"]])
        if result == "void":
            row = tuple(NA if cell == NA else "void" for cell in row)
        rows.append((group, ordinal, name, f"({params})", export["bytes"]) + row)
    return rows, arguments


def table(rows, columns):
    lines = ["| " + " | ".join(columns) + " |", "|" + "---|" * len(columns)]
    for row in rows:
        lines.append("| " + " | ".join(row) + " |")
    return "\n".join(lines)


def render(root, listing=None):
    rows, arguments = build_rows(root, listing)
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
        "<!-- Generated by tools/docs/exports_reference.py from the description of the",
        "     exports (src/api/driver_contract.h, src/families/family_catalog.h,",
        "     src/graph/graph_functions.h) and include/zelbridge.h; do not edit: run the script. -->",
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
    parser.add_argument("--listing", type=pathlib.Path, help="a built export_listing (default: build one with $CXX)")
    options = parser.parse_args()
    page = options.output or options.source_dir / "docs/reference/exports.md"
    try:
        text = render(options.source_dir, options.listing)
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
