"""Holds the JSON Schemas of docs/reference/ to the files and outputs the
programs make: every description file and recording the simulator accepts,
recordings this test makes through the module, and `zelbridge check --json`
outputs for libraries of every kind.

Usage: schemas_test.py SOURCE_DIR MODULE SIMULATOR TOOL LOOPBACK SIMULATED_FAMILIES
"""

import ctypes
import glob
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

import jsonschema

faults = []


def fault(text):
    faults.append(text)


def load_schema(source, name):
    with open(os.path.join(source, "docs", "reference", name), encoding="utf-8") as file:
        schema = json.load(file)
    jsonschema.Draft202012Validator.check_schema(schema)
    return jsonschema.Draft202012Validator(schema)


def first_error(validator, document):
    error = next(iter(sorted(validator.iter_errors(document), key=lambda e: list(e.path))), None)
    if error is None:
        return None
    return f"{'/'.join(map(str, error.absolute_path)) or '(top)'}: {error.message[:300]}"


def json_lines(path):
    with open(path, encoding="utf-8") as file:
        return [json.loads(line) for line in file if line.strip()]


class Simulator:
    """The simulator's own reader: whether it accepts a description or a recording."""

    def __init__(self, path):
        self.path = path
        self.library = ctypes.CDLL(path)
        self.library.SIM_ConnectUSB.argtypes = [ctypes.c_char_p]
        self.library.SIM_CloseConnection.argtypes = [ctypes.c_int]

    def accepts(self, path):
        connection = self.library.SIM_ConnectUSB(path.encode())
        if connection >= 0:
            self.library.SIM_CloseConnection(connection)
        return connection >= 0


def check_descriptions(source, simulator, validator):
    # The codes a description may not use are the simulator's own.
    with open(os.path.join(source, "drivers/simulator/simulator_errors.h"), encoding="utf-8") as header:
        own = {int(code) for code in re.findall(r"X\(k\w+, (-\d+),", header.read())}
    forbidden = validator.schema["$defs"]["error"]["properties"]["code"]["allOf"][1]["not"]["enum"]
    if set(forbidden) != own | {0, -1034}:
        fault(f"description schema: the forbidden codes {sorted(forbidden)} are not 0, -1034 and the simulator's own {sorted(own)}")
    for group in ("drivers/simulator/examples/*.json", "fuzz/corpus/sim_description/*"):
        accepted = 0
        for path in sorted(glob.glob(os.path.join(source, group))):
            if not simulator.accepts(path):
                continue
            accepted += 1
            with open(path, encoding="utf-8") as file:
                problem = first_error(validator, json.load(file))
            if problem:
                fault(f"{os.path.relpath(path, source)}: the simulator accepts it, the schema does not: {problem}")
        if accepted == 0:
            fault(f"no description in {group} that the simulator accepts")


def check_recording(path, validator, name):
    records = json_lines(path)
    for number, record in enumerate(records, 1):
        problem = first_error(validator, record)
        if problem:
            fault(f"{name}, record {number}: {problem}")
    return records


def make_recording(out, module, families, simulator):
    """In a process of its own: generic, family and graph calls recorded."""
    os.environ["ZELBRIDGE_RECORD"] = out
    os.environ["ZELBRIDGE_PATH"] = families
    bridge = ctypes.CDLL(module)
    word, text, double = ctypes.c_ssize_t, ctypes.c_char_p, ctypes.c_double

    def entry(name, result, *types):
        function = getattr(bridge, name)
        function.restype, function.argtypes = result, list(types)
        return function

    index = entry("DefineSystem", ctypes.c_int, text, text)(os.fsencode(simulator), b"SIM_")
    command = entry("ZelCommandset", ctypes.c_int, ctypes.c_int, text)
    entry("ConnectRS232", ctypes.c_int, ctypes.c_int, word, word)(index, 1, 9600)
    for line in (b"*IDN?", b"MOVE X 80", b"\xc4\xfc \"quoted\" \\ X" * 3, b"X" * (1024 * 1024 + 1)):  # the last is longer than a recording keeps
        command(index, line)
    size = ctypes.c_int()
    entry("ZelGetAnswerSize", ctypes.c_int, ctypes.c_int, ctypes.POINTER(ctypes.c_int))(index, ctypes.byref(size))
    answer = ctypes.create_string_buffer(256)
    entry("ZelGetAnswer", ctypes.c_int, ctypes.c_int, ctypes.c_char_p, ctypes.c_int)(index, answer, len(answer))
    code = entry("GetError", ctypes.c_int, ctypes.c_int)(index)
    entry("TranslateError", ctypes.c_int, ctypes.c_int, word, ctypes.c_char_p, word)(index, code, answer, len(answer))
    entry("ZelCommandset", ctypes.c_int, ctypes.c_int, ctypes.c_void_p)(index, None)
    entry("CloseConnection", None, ctypes.c_int)(index)
    identifier = entry("M329_ConnectRS232", ctypes.c_int, word, word)(1, 115200)
    entry("M329_ZelCommandset", ctypes.c_int, ctypes.c_int, text)(identifier, b"POS? X")
    entry("M329_CloseConnection", None, ctypes.c_int)(identifier)
    entry("QXGraph3DAddDataPoint", ctypes.c_int, word, word, word, double)(1, 2, 3, float("nan"))
    entry("QXGraph3DSetRange", ctypes.c_int, word, word, double, double)(1, 0, -1.5, 1e300)


def reader_verdicts(tool, path):
    """The records zelbridge replay leaves out of a recording, by number: kind."""
    run = subprocess.run([tool, "replay", "--skip-bad-records", "--timeout", "10", path], capture_output=True,
                         text=True, errors="replace", timeout=120)
    return {int(number): kind for kind, number in re.findall(r"^left out, ([a-z ]+): record (\d+) \(byte", run.stdout, re.M)}


def check_seeds_both_ways(source, simulator, validator, tool):
    """Each line of each seed the simulator takes: the schema rejects it exactly
    when the reader leaves it out as against the schema."""
    accepted = 0
    for path in sorted(glob.glob(os.path.join(source, "fuzz/corpus/recording_reader/*"))):
        if not simulator.accepts(path):
            continue
        accepted += 1
        name = os.path.relpath(path, source)
        left_out = reader_verdicts(tool, path)
        with open(path, "rb") as file:
            for number, line in enumerate(file.read().split(b"\n"), 1):
                if not line.strip():
                    continue
                try:
                    # JSON is UTF-8: a line that is not is no record either.
                    record = json.loads(line.decode("utf-8"))
                except ValueError:
                    if left_out.get(number) != "unreadable":
                        fault(f"{name}, record {number}: not JSON, and the reader does not say so")
                    continue
                problem = first_error(validator, record)
                named = left_out.get(number) == "against the schema"
                if bool(problem) != named:
                    fault(f"{name}, record {number}: the schema {'rejects' if problem else 'accepts'} it "
                          f"({problem or 'valid'}), the reader {'names' if named else 'does not name'} it")
    if accepted == 0:
        fault("no recording seed that the simulator accepts")


def check_recordings(source, simulator, validator, module, tool, families, work):
    check_seeds_both_ways(source, simulator, validator, tool)

    made = os.path.join(work, "calls.jsonl")
    environment = dict(os.environ, ZELBRIDGE_PATH=families)
    subprocess.run([sys.executable, __file__, "--make-recording", made, module, families, simulator.path], env=environment,
                   check=True, timeout=120)
    example = os.path.join(source, "drivers/simulator/examples/two_axis_stage.json")
    by_tool = os.path.join(work, "tool.jsonl")
    subprocess.run([tool, "send", "--driver", "libSimulator.so", "--prefix", "SIM_", "--usb", example,
                    "*IDN?", "MOVE X 12.5", "POS? X", "MOVE X 80"],
                   env=dict(environment, ZELBRIDGE_RECORD=by_tool), stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=120)
    records = check_recording(made, validator, "the recording of generic, family and graph calls")
    records += check_recording(by_tool, validator, "the recording of a zelbridge send session")
    # The records this test means to make are there, or the schema was not tried on them.
    seen = {
        "a generic call": any("system" in r for r in records),
        "DefineSystem": any(r.get("entry") == "DefineSystem" for r in records),
        "a family call": any(r.get("entry", "").startswith("M329_") for r in records),
        "a graph call": any(r.get("entry", "").startswith("QXGraph3D") for r in records),
        "a call without a result": any("entry" in r and "result" not in r for r in records),
        "an answer": any("answer" in r for r in records),
        "a size": any("size" in r for r in records),
        "a text cut short": any(r.get("cut") for r in records),
        "a double that is not finite": any(None in r.get("args", [])[3:] for r in records
                                           if r.get("entry") == "QXGraph3DAddDataPoint"),
    }
    for what, present in seen.items():
        if not present:
            fault(f"the recordings made hold no record of {what}")


def check_outputs(source, validator, tool, loopback, families, work):
    """check --json for every form and libraries of every kind."""
    corpus = os.path.join(source, "fuzz/corpus/binary_reader")
    odd = os.path.join(work, "odd libraries")
    os.mkdir(odd)
    # Each family library something else: a library without the functions,
    # text, a 32-bit library, a Windows library, a cut-off one, one whose
    # dependency is missing.
    for file, family in ((loopback, "M329_"), (os.path.join(source, "README.md"), "T520_"),
                         (os.path.join(corpus, "elf32.so"), "M318_"), (os.path.join(corpus, "pe32.dll"), "T5XX_"),
                         (os.path.join(corpus, "pe32_truncated_header.dll"), "M317_"),
                         (os.path.join(corpus, "elf64_needed_runpath.so"), "M317_VB_")):
        shutil.copy(file, os.path.join(odd, family + "ZEL_DLL.DLL"))
    empty = os.path.join(work, "empty")
    os.mkdir(empty)
    runs = [
        ({"ZELBRIDGE_PATH": families}, ["check"]),
        ({"ZELBRIDGE_PATH": odd}, ["check"]),
        ({"ZELBRIDGE_PATH": empty}, ["check"]),
        ({"ZELBRIDGE_PATH": os.path.join(work, "no such folder")}, ["check"]),
        ({"ZELBRIDGE_PATH": ""}, ["check"]),
        ({}, ["check"]),
        ({"ZELBRIDGE_PATH": "x" * 300}, ["check"]),
        ({}, ["check", "--driver", loopback, "--prefix", "LOOP_"]),
        ({}, ["check", "--driver", loopback, "--prefix", "loop_"]),
        ({}, ["check", "--driver", "no_such_driver.so", "--prefix", "X_"]),
        ({}, ["check", "--driver", os.path.join(corpus, "elf32.so"), "--prefix", "X_"]),
        ({"ZELBRIDGE_PATH": families}, ["check", "--family", "M329"]),
        ({"ZELBRIDGE_PATH": odd}, ["check", "--family", "M329"]),
        ({"ZELBRIDGE_PATH": odd}, ["check", "--family", "M317_VB"]),
    ]
    kinds, states = set(), set()
    for variables, arguments in runs:
        environment = {k: v for k, v in os.environ.items() if k != "ZELBRIDGE_PATH"}
        environment.update(variables)
        run = subprocess.run([tool] + arguments + ["--json"], env=environment, capture_output=True, text=True,
                             timeout=120)
        shown = " ".join(f"{k}=..." for k in variables) + " zelbridge " + " ".join(arguments) + " --json"
        lines = run.stdout.splitlines()
        if run.returncode not in (0, 1) or len(lines) != 1:
            fault(f"{shown}: exit code {run.returncode}, {len(lines)} lines: {run.stderr.strip()[:300]}")
            continue
        output = json.loads(lines[0])
        problem = first_error(validator, output)
        if problem:
            fault(f"{shown}: {problem}")
        for library in output.get("libraries", []) + [output.get("family") or {}, output]:
            states.add(library.get("state"))
            kinds.update(p["kind"] for p in library.get("problems", []))
    for kind in ("not-found", "not-a-library", "invalid", "wrong-architecture"):
        if kind not in kinds:
            fault(f"no check --json output holds a problem of the kind {kind}")
    for state in ("found", "missing", "incomplete", "dependency-missing"):
        if state not in states:
            fault(f"no check --json output holds a library in the state {state}")


def main():
    if sys.argv[1] == "--make-recording":
        make_recording(*sys.argv[2:6])
        return 0
    source, module, simulator_path, tool, loopback, families = sys.argv[1:7]
    simulator = Simulator(simulator_path)
    with tempfile.TemporaryDirectory() as work:
        check_descriptions(source, simulator, load_schema(source, "description-file.schema.json"))
        check_recordings(source, simulator, load_schema(source, "recording-file.schema.json"), module, tool,
                         families, work)
        check_outputs(source, load_schema(source, "check-json.schema.json"), tool, loopback, families, work)
    if faults:
        print("\n".join(faults), file=sys.stderr)
        return 1
    print("the description files, recordings and check --json outputs follow their schemas")
    return 0


if __name__ == "__main__":
    sys.exit(main())
