"""Runs one session in a process of its own, so that the module reads
ZELBRIDGE_RECORD and ZELBRIDGE_SIM afresh, and prints what each command got
as JSON: the answer of a query, "" for another command, "error N" for a
failure.

Usage: session_runner.py generic|threads DESCRIPTION SIMULATOR < commands (JSON list)
       session_runner.py family DESCRIPTION < commands
       session_runner.py remote DESCRIPTION URL TOKEN SIMULATOR < commands
"""
import json
import sys
import threading

import zelbridge
from zelbridge import remote

QUERY_TIMEOUT = 5.0


def run(controller, commands):
    got = []
    for command in commands:
        try:
            if zelbridge.is_query(command):
                got.append(controller.query(command, timeout=QUERY_TIMEOUT))
            else:
                controller.command(command)
                got.append("")
        except zelbridge.ZelbridgeError as error:
            got.append(f"error {error.code}")
    return got


def main():
    how, description = sys.argv[1], sys.argv[2]
    commands = json.load(sys.stdin)
    library = sys.argv[3] if how in ("generic", "threads") else None
    if how == "generic":
        with zelbridge.System(library, "SIM_").connect_usb(description) as stage:
            print(json.dumps(run(stage, commands)))
    elif how == "family":
        with zelbridge.Family("M329").connect_rs232(1, 9600) as stage:
            print(json.dumps(run(stage, commands)))
    elif how == "remote":
        url, token, library = sys.argv[3], sys.argv[4], sys.argv[5]
        with remote.connect(url, token) as server:
            with server.System(library, "SIM_").connect_usb(description) as stage:
                print(json.dumps(run(stage, commands)))
    elif how == "threads":
        # Two threads, each on a connection of its own.
        results = [None, None]

        def work(slot):
            with zelbridge.System(library, "SIM_").connect_usb(description) as stage:
                results[slot] = run(stage, commands)

        threads = [threading.Thread(target=work, args=(slot,)) for slot in (0, 1)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        print(json.dumps(results))


if __name__ == "__main__":
    main()
