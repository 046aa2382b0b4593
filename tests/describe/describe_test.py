"""zelbridge describe, end to end: a session recorded on a stage becomes a
description the simulator loads unedited and the published schema accepts;
a different session (other values, the same queries in another order) then
gets from it every answer the recording could determine, as the original
stage gives them. The same from a family (M329) recording and from one made
by Python over `zelbridge serve`.

Usage: describe_test.py SOURCE_DIR TOOL SIMULATOR SIMULATED_FAMILIES
"""
import json
import os
import re
import subprocess
import sys
import tempfile

import jsonschema

SOURCE, TOOL, SIMULATOR, FAMILIES = sys.argv[1:5]
RUNNER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "session_runner.py")
SCHEMA = json.load(open(os.path.join(SOURCE, "docs", "reference", "description-file.schema.json")))
EXAMPLE = json.load(open(os.path.join(SOURCE, "drivers", "simulator", "examples", "two_axis_stage.json")))
faults = []

# The example stage with a setting, a velocity read back as VEL? X.
STAGE = dict(EXAMPLE, properties=[{"get": "VEL? X", "set": "VEL X {number}", "initial": 5, "decimals": 3,
                                   "units": "mm/s", "min": 0.1, "max": 20, "limit_error": 7}])

RECORDED = ["*IDN?", "POS? X", "VEL? X", "MOVE X 10", "POS? X", "ONT? X", "VEL X 2.5", "VEL? X",
            "MOVE X 80", "VEL X 30", "MVR X -3", "VEL X 4", "VEL? X", "AXES?", "LIMITS? Y"]

# The different session, each command with whether the recording
# determines what it gets. The clock stands still, so the axes never move.
DIFFERENT = [
    ("VEL? X", True),          # the initial value, read first this time
    ("VEL X 7.25", True),      # a value never recorded, taken by the property
    ("AXES?", True),
    ("VEL? X", True),          # ... and read back
    ("MOVE X 20", True),       # another target, taken as MOVE X 10 was
    ("MOVE X 80", True),       # the recorded error
    ("VEL X 30", True),        # the recorded refusal
    ("POS? X", True),
    ("*IDN?", True),
    ("MVR X 2", True),
    ("ONT? X", True),
    ("MOVE X 60", False),      # beyond the limit, which no recorded command found
    ("VEL X 0.05", False),     # below the setting's limit, likewise
    ("LIMITS? X", False),      # never asked
    ("STOP X", False),         # never sent
]


def fault(text):
    faults.append(text)


def run(how, description, commands, environment, *extra):
    process = subprocess.run([sys.executable, RUNNER, how, description, *extra], input=json.dumps(commands),
                             capture_output=True, text=True, env=environment, timeout=120)
    if process.returncode != 0:
        raise AssertionError(f"{how} session failed: {process.stderr[-2000:]}")
    return json.loads(process.stdout)


def describe(recording, output, *options):
    process = subprocess.run([TOOL, "describe", "-o", output, *options, recording], capture_output=True, text=True,
                             timeout=60)
    if process.returncode != 0:
        raise AssertionError(f"describe {recording} failed ({process.returncode}): {process.stderr}")
    notes = [line.split("not derived: ", 1)[1] for line in process.stderr.splitlines() if "not derived: " in line]
    return notes


def validated(path):
    document = json.load(open(path))
    errors = sorted(jsonschema.Draft202012Validator(SCHEMA).iter_errors(document), key=lambda e: list(e.path))
    for error in errors[:3]:
        fault(f"{os.path.basename(path)}: {'/'.join(map(str, error.absolute_path))}: {error.message[:200]}")
    return document


def without_delays(path):
    """A copy without answer delays: with the clock standing still, a delayed
    answer would never be ready, and how long the recording's answers took
    on this machine is no part of what the comparison is about."""
    document = json.load(open(path))
    for entry in document.get("commands", []) + document.get("properties", []):
        entry.pop("delay_ms", None)
    copy = path + ".nodelay.json"
    json.dump(document, open(copy, "w"))
    return copy


def compare(label, how, original, derived, environment, *extra):
    commands = [command for command, _ in DIFFERENT]
    expected = run(how, original, commands, dict(environment, ZELBRIDGE_SIM=original), *extra)
    got = run(how, derived, commands, dict(environment, ZELBRIDGE_SIM=derived), *extra)
    undetermined = []
    for (command, determined), want, have in zip(DIFFERENT, expected, got):
        if determined and want != have:
            fault(f"{label}: {command!r}: the stage answers {want!r}, the derived description {have!r}")
        if not determined:
            undetermined.append(f"{command!r}: stage {want!r}, derived {have!r}")
    print(f"{label}: not determined by the recording: " + "; ".join(undetermined))


def main():
    folder = tempfile.mkdtemp(prefix="describe-test-")
    stage = os.path.join(folder, "stage.json")
    json.dump(STAGE, open(stage, "w"), indent=1)
    clock = os.path.join(folder, "clock")
    open(clock, "w").write("0")
    environment = dict(os.environ, ZELBRIDGE_SIM_CLOCK=clock, ZELBRIDGE_PATH=FAMILIES)
    environment.pop("ZELBRIDGE_RECORD", None)

    # The generic API, from Python in a process of its own.
    recording = os.path.join(folder, "generic.jsonl")
    run("generic", stage, RECORDED, dict(environment, ZELBRIDGE_RECORD=recording), SIMULATOR)
    derived = os.path.join(folder, "generic.json")
    notes = describe(recording, derived)
    document = validated(derived)
    print("generic: not derived: " + "; ".join(notes))
    properties = document.get("properties", [])
    if [p.get("set") for p in properties] != ["VEL X {number}"] or properties[0].get("initial") != 5:
        fault(f"generic: VEL X is not derived as a property starting at 5: {properties}")
    if not any("VEL X {number}" in note for note in notes):
        fault("generic: the unknown limit of VEL X is not listed as not derived")
    compare("generic", "generic", stage, without_delays(derived), environment, SIMULATOR)

    # A family, M329, whose connects answer from ZELBRIDGE_SIM.
    recording = os.path.join(folder, "family.jsonl")
    run("family", stage, RECORDED, dict(environment, ZELBRIDGE_RECORD=recording, ZELBRIDGE_SIM=stage))
    derived = os.path.join(folder, "family.json")
    describe(recording, derived, "--family", "M329")
    validated(derived)
    compare("M329", "family", stage, without_delays(derived), environment)

    # Python over zelbridge serve: the server's process records.
    token = "describe-test-token-" + "5" * 20
    open(os.path.join(folder, "token"), "w").write(token + "\n")
    # serve takes only a private token file.
    os.chmod(os.path.join(folder, "token"), 0o600)
    recording = os.path.join(folder, "served.jsonl")
    server = subprocess.Popen([TOOL, "serve", "--listen", "127.0.0.1:0", "--token-file", os.path.join(folder, "token"),
                               "--allow-library", os.path.dirname(SIMULATOR), "--allow-data", folder],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                              env=dict(environment, ZELBRIDGE_RECORD=recording))
    try:
        port = re.search(r"http://127\.0\.0\.1:(\d+)/", server.stdout.readline())
        if not port:
            raise AssertionError("the server did not start")
        url = f"http://127.0.0.1:{port.group(1)}"
        run("remote", stage, RECORDED, environment, url, token, SIMULATOR)
    finally:
        server.terminate()
        server.wait(30)
    derived = os.path.join(folder, "served.json")
    describe(recording, derived)
    validated(derived)
    compare("served", "generic", stage, without_delays(derived), environment, SIMULATOR)

    # Several controllers in one recording: a file each, and a restriction picks one.
    both = os.path.join(folder, "both.jsonl")
    with open(both, "w") as out:
        out.write(open(os.path.join(folder, "generic.jsonl")).read() + open(os.path.join(folder, "family.jsonl")).read())
    process = subprocess.run([TOOL, "describe", both], capture_output=True, text=True)
    if process.returncode != 2 or "2 controllers" not in process.stderr:
        fault(f"two controllers without -o: exit {process.returncode}, {process.stderr!r}")
    describe(both, os.path.join(folder, "both.json"))
    for tagged in ("both.system0-ConnectUSB.json", "both.M329_ConnectRS232.json"):
        if not os.path.exists(os.path.join(folder, tagged)):
            fault(f"{tagged} was not written; the folder holds {sorted(os.listdir(folder))}")
        else:
            validated(os.path.join(folder, tagged))
    process = subprocess.run([TOOL, "describe", "--system", "3", both], capture_output=True, text=True)
    if process.returncode != 1 or "no connection of those asked for" not in process.stderr:
        fault(f"--system 3: exit {process.returncode}, {process.stderr!r}")

    for text in faults:
        print("FAULT: " + text)
    print(f"{len(faults)} faults")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
