"""zelbridge timeline: the trace events of a recording with two processes and
three threads, and of a trace file, follow the Trace Event Format's rules
(every event has ph, ts, pid and tid; complete events have a duration,
begin and end events pair up; timestamps rise on every thread) with a slice
per call and failures marked; the HTML page, opened in headless Chromium,
draws one bar per call.

Usage: timeline_test.py SOURCE_DIR TOOL SIMULATOR
"""
import collections
import json
import os
import shutil
import subprocess
import sys
import tempfile

SOURCE, TOOL, SIMULATOR = sys.argv[1:4]
RUNNER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "session_runner.py")
STAGE = os.path.join(SOURCE, "drivers", "simulator", "examples", "two_axis_stage.json")
SESSION = ["*IDN?", "MOVE X 10", "POS? X", "MOVE X 80", "ONT? X"]
CHROMIUM_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
                  "--disable-component-update", "--disable-sync", "--no-first-run"]
faults = []


def fault(text):
    faults.append(text)


def timeline(source, output):
    process = subprocess.run([TOOL, "timeline", "-o", output, source], capture_output=True, text=True, timeout=60)
    if process.returncode != 0:
        raise AssertionError(f"timeline {source}: {process.returncode} {process.stderr}")
    return output


def check_rules(label, document):
    """The format's rules; returns the complete events."""
    events = document["traceEvents"]
    last = {}
    open_async = collections.Counter()
    open_sync = collections.defaultdict(list)
    for number, event in enumerate(events):
        missing = [key for key in ("ph", "ts", "pid", "tid") if key not in event]
        if missing:
            fault(f"{label}: event {number} lacks {missing}: {event}")
            continue
        track = (event["pid"], event["tid"])
        if event["ph"] != "M":
            if event["ts"] < last.get(track, float("-inf")):
                fault(f"{label}: event {number} goes back in time on {track}: {event['ts']} < {last[track]}")
            last[track] = event["ts"]
        if event["ph"] == "X" and not event.get("dur", -1) >= 0:
            fault(f"{label}: complete event {number} has no duration: {event}")
        if event["ph"] in ("b", "e"):
            key = (event["pid"], event.get("cat"), event["id"])
            open_async[key] += 1 if event["ph"] == "b" else -1
            if open_async[key] < 0:
                fault(f"{label}: event {number} ends {key} before it began")
        if event["ph"] == "B":
            open_sync[track].append(event["name"])
        if event["ph"] == "E" and not open_sync[track]:
            fault(f"{label}: event {number} ends nothing on {track}")
        elif event["ph"] == "E":
            open_sync[track].pop()
    unpaired = [key for key, count in open_async.items() if count] + [t for t, names in open_sync.items() if names]
    if unpaired:
        fault(f"{label}: begun and never ended: {unpaired}")
    return [event for event in events if event["ph"] == "X"]


def calls_in(recording):
    with open(recording) as file:
        return [record for record in map(json.loads, filter(str.strip, file)) if "entry" in record]


def main():
    folder = tempfile.mkdtemp(prefix="timeline-test-")
    clock = os.path.join(folder, "clock")
    open(clock, "w").write("0")
    recording = os.path.join(folder, "session.jsonl")
    environment = dict(os.environ, ZELBRIDGE_SIM_CLOCK=clock, ZELBRIDGE_RECORD=recording)
    for how in ("generic", "threads"):
        subprocess.run([sys.executable, RUNNER, how, STAGE, SIMULATOR], input=json.dumps(SESSION), text=True,
                       capture_output=True, env=environment, check=True, timeout=120)

    calls = calls_in(recording)
    document = json.load(open(timeline(recording, os.path.join(folder, "session.json"))))
    slices = check_rules("recording", document)
    tracks = {(e["pid"], e["tid"]) for e in slices}
    if len({pid for pid, _ in tracks}) != 2 or len(tracks) != 3:
        fault(f"recording: the tracks are {sorted(tracks)}, not three threads of two processes")
    if len(slices) != len(calls) or len({e["args"]["record"] for e in slices}) != len(calls):
        fault(f"recording: {len(slices)} slices for {len(calls)} calls")
    failed = [e["name"] for e in slices if "error" in e.get("cat", "")]
    # MOVE X 80 and the GetError that reports it, on each of three connections.
    if sum("MOVE X 80" in name for name in failed) != 3 or sum(name.startswith("GetError") for name in failed) != 3:
        fault(f"recording: the failed calls marked are {failed}")
    waits = [e for e in document["traceEvents"] if e["ph"] == "b"]
    if len(waits) != 3 * 3:
        fault(f"recording: {len(waits)} waits for answers, not 9 (three queries on three connections)")

    # A trace file of the same session.
    trace = os.path.join(folder, "trace.txt")
    environment = dict(os.environ, ZELBRIDGE_SIM_CLOCK=clock, ZELBRIDGE_TRACE="file:" + trace)
    subprocess.run([sys.executable, RUNNER, "generic", STAGE, SIMULATOR], input=json.dumps(SESSION), text=True,
                   capture_output=True, env=environment, check=True, timeout=120)
    ends = sum(" -- end " in line for line in open(trace))
    traced = check_rules("trace", json.load(open(timeline(trace, os.path.join(folder, "trace.json")))))
    if len(traced) != ends or ends == 0:
        fault(f"trace: {len(traced)} slices for {ends} TIMER end lines")

    # The page, as a browser draws it.
    page = timeline(recording, os.path.join(folder, "session.html"))
    chromium = shutil.which("chromium")
    if not chromium:
        fault("chromium is not installed (scripts/setup.sh installs it)")
    else:
        # Without the sanitizer's runtime, which the tests preload for the
        # libraries they load into Python and which stops Chromium.
        plain = {k: v for k, v in os.environ.items() if k not in ("LD_PRELOAD", "ASAN_OPTIONS")}
        dom = subprocess.run([chromium, *CHROMIUM_FLAGS, f"--user-data-dir={folder}/chromium", "--dump-dom",
                              "file://" + page], capture_output=True, text=True, timeout=120, env=plain).stdout
        bars = dom.count('<rect class="call')
        if bars != len(calls):
            fault(f"page: Chromium finds {bars} call bars for {len(calls)} calls")
        failed_bars = dom.count('<rect class="call error"')
        if failed_bars != len(failed):
            fault(f"page: {failed_bars} failed bars for {len(failed)} failed calls")
        if "http://" in open(page).read().replace("http://www.w3.org/2000/svg", ""):
            fault("page: it refers to something on the network")

    for text in faults:
        print("FAULT: " + text)
    print(f"{len(calls)} calls, {len(faults)} faults")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
