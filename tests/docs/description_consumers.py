"""Holds the files written by hand that name exports to the description of
the exports, as export_listing prints it: the recording schema's entry names
and the OpenAPI document's kinds, and holds the document's family and
operation names to the server, which fills them from the description.

Usage: description_consumers.py EXPORT_LISTING SOURCE_DIR
"""

import json
import os
import re
import subprocess
import sys


def names_in_parentheses(text):
    """The comma-separated names inside the last parentheses of `text`."""
    inside = re.findall(r"\(([^()]*)\)", text)
    return {name.strip() for name in inside[-1].split(",")} if inside else set()


def check_recording_schema(exports, schema, faults):
    call = schema["$defs"]["call"]["properties"]
    entry = re.compile(call["entry"]["pattern"])
    # The recorder writes the name a C caller uses: ConnectPciBoard, not _ConnectPciBoard@8.
    for export in exports:
        if not entry.match(export["function"]):
            faults.append(f"recording schema: entry {export['function']} does not match {entry.pattern}")
    no_result = {e["function"] for e in exports if e["group"] == "generic" and not e["result"]}
    named = names_in_parentheses(call["result"]["description"])
    if named != no_result:
        faults.append(f"recording schema: 'result' names {sorted(named)} as the entry points without a result; "
                      f"the description has {sorted(no_result)}")
    size_writers = {e["function"] for e in exports if e["group"] == "generic" and "integer_out" in e["arguments"]}
    named = names_in_parentheses(call["size"]["description"])
    if named != size_writers:
        faults.append(f"recording schema: 'size' names {sorted(named)}; the description has {sorted(size_writers)}")
    for example in re.findall(r"[A-Za-z_][A-Za-z0-9_]*", call["entry"]["description"].split(":", 1)[1]):
        if example not in {e["function"] for e in exports}:
            faults.append(f"recording schema: the example entry {example} is no export")


# The schemas of the names a route takes, which the server fills from the
# description when it serves the document; the tree's copy lists none.
FILLED_BY_THE_SERVER = {"Family", "SystemOperation", "FamilyOperation", "FamilyConnectionOperation"}


def check_openapi(exports, document, faults):
    schemas = document["components"]["schemas"]
    for name in sorted(FILLED_BY_THE_SERVER):
        if name not in schemas:
            faults.append(f"openapi: no schema {name} for the server to fill")
        elif "enum" in schemas[name]:
            faults.append(f"openapi: {name} lists names by hand; the server fills them from the description")
    for path, methods in document["paths"].items():
        for method in methods.values():
            for parameter in method.get("parameters", []):
                if parameter["name"] in ("family", "operation"):
                    target = parameter["schema"].get("$ref", "").rsplit("/", 1)[-1]
                    if target not in FILLED_BY_THE_SERVER:
                        faults.append(f"openapi: {path} takes a {parameter['name']} that the server does not fill")
    served = document["components"]["schemas"]["ServedOperation"]["properties"]
    roles = {e["role"] for e in exports if e["role"]}
    if set(served["kind"]["enum"]) != roles:
        faults.append(f"openapi: ServedOperation kinds {served['kind']['enum']}; the description has {sorted(roles)}")
    kinds = {kind for e in exports for kind in e["arguments"]}
    unknown = set(served["arguments"]["items"]["enum"]) - kinds
    if unknown:
        faults.append(f"openapi: ServedOperation argument kinds {sorted(unknown)} are not the description's")


def main():
    listing, source = sys.argv[1:3]
    exports = json.loads(subprocess.run([listing, "--json"], check=True, capture_output=True, text=True).stdout)
    faults = []
    if len(exports) != 150 or len({e["ordinal"] for e in exports}) != 150:
        faults.append(f"the description has {len(exports)} exports; the module has 150 ordinals")
    with open(os.path.join(source, "docs/reference/recording-file.schema.json"), encoding="utf-8") as file:
        check_recording_schema(exports, json.load(file), faults)
    with open(os.path.join(source, "tools/zelbridge/serve/openapi.json"), encoding="utf-8") as file:
        check_openapi(exports, json.load(file), faults)
    for fault in faults:
        print(fault, file=sys.stderr)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
