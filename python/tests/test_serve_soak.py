"""A bounded soak of `zelbridge serve`: 16 clients on 127.0.0.1 open and drop
sessions, define, query, time out, and hang up in the middle of a request,
at random, for $ZELBRIDGE_SOAK_SECONDS (the test command gives 45). Then
every system they connected is closed, the server's memory has grown by
less than the bound below, and it still answers.

Skipped unless $ZELBRIDGE_SOAK_SECONDS is set: the test command runs it on
its own, not with the package's tests.
"""
import json
import os
import random
import re
import socket
import threading
import time

import pytest
from conftest import LIBRARIES
from test_remote import SIMULATOR, WINDOWS, served
from test_serve_limits import DESCRIPTION, TOKEN, call, define, session, start, still_serves, stop

SECONDS = float(os.environ.get("ZELBRIDGE_SOAK_SECONDS", "0"))
CLIENTS = 16
# The server's resident memory may grow this much from the end of the first
# seconds (its sessions, systems and threads all made once) to the end.
GROWTH_BOUND_MB = 48

pytestmark = pytest.mark.skipif(not SECONDS or WINDOWS, reason="the soak runs on its own, on the host build")


def resident_mb(pid):
    with open(f"/proc/{pid}/status") as status:
        return int(re.search(r"VmRSS:\s+(\d+) kB", status.read()).group(1)) / 1024


def hang_up_mid_request(url, path, body):
    """Sends part of a request, or all of it, and closes before the answer."""
    host, port = url.split("//")[1].split(":")
    payload = json.dumps(body).encode()
    request = (f"POST {path} HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer {TOKEN}\r\n"
               f"Content-Length: {len(payload)}\r\n\r\n").encode() + payload
    with socket.create_connection((host, int(port)), timeout=5) as connection:
        connection.sendall(request[:random.randrange(1, len(request) + 1)])


def client(url, data, until, seen, failures):
    rng = random.Random()
    while time.monotonic() < until:
        try:
            status, reply = call(url, "POST", "/v1/sessions", {"lease_seconds": rng.choice([1, 2, 5])})
            if status != 201:
                # The bound on sessions: those dropped run out within seconds.
                assert (status, reply["error"]["kind"]) == (503, "busy"), reply
                time.sleep(0.2)
                continue
            base = f"/v1/sessions/{reply['session']}"
            status, reply = define(url, base)
            if status != 201:
                continue
            on = f"{base}/systems/{reply['system']}"
            seen.add(reply["system"])
            call(url, "POST", f"{on}/ConnectUSB", {"arguments": [served(data)]})
            for _ in range(rng.randrange(1, 20)):
                action = rng.random()
                if action < 0.6:
                    status, reply = call(url, "POST", f"{on}/query", {"command": "WHO?"})
                    if status == 200 and reply.get("answer") != "me":
                        failures.append(f"WHO? answered {reply}")
                elif action < 0.75:
                    call(url, "POST", f"{on}/query", {"command": "SLOW?", "timeout_ms": 5})
                    # Until its late answer has come, the next query could be
                    # given it: answers are not told apart yet.
                    time.sleep(0.4)
                elif action < 0.9:
                    hang_up_mid_request(url, f"{on}/query", {"command": rng.choice(["WHO?", "SLOW?"])})
                else:
                    call(url, "POST", f"{on}/NoSuchOp", {"arguments": []})
            if rng.random() < 0.5:
                call(url, "DELETE", base)
        except (OSError, ValueError) as error:
            failures.append(repr(error))
        except AssertionError as error:
            failures.append(f"answered {error}")


def test_sixteen_clients_that_come_and_go_leave_the_server_as_it_was(tmp_path, monkeypatch):
    (tmp_path / "token").write_text(TOKEN + "\n")
    (tmp_path / "token").chmod(0o600)
    data = tmp_path / "answers.json"
    data.write_text(json.dumps(DESCRIPTION))
    # The sanitizer's quarantine of freed memory would hide the server's own growth.
    monkeypatch.setenv("ASAN_OPTIONS", os.environ.get("ASAN_OPTIONS", "") + ":quarantine_size_mb=16")
    process, url = start(tmp_path, tmp_path / "token", "--allow-library", served(LIBRARIES),
                         "--allow-data", served(str(tmp_path)))
    assert url
    seen, failures = set(), []
    try:
        until = time.monotonic() + SECONDS
        threads = [threading.Thread(target=client, args=(url, str(data), until, seen, failures))
                   for _ in range(CLIENTS)]
        for thread in threads:
            thread.start()
        time.sleep(min(8, SECONDS / 4))
        settled = resident_mb(process.pid)
        for thread in threads:
            thread.join(SECONDS + 60)
        # Every lease has run out.
        time.sleep(6)
        grown = resident_mb(process.pid) - settled
        print(f"{len(seen)} systems, {len(failures)} requests cut by the server; resident memory {settled:.0f} MB after the first seconds, grown by {grown:.1f} MB")
        # Client-side failures are only those a server that stays up and
        # answers correctly cannot cause.
        assert not [f for f in failures if "answered" in f], failures[:5]
        still_serves(url)
        assert grown < GROWTH_BOUND_MB
        # Every system the clients used is free again and not connected.
        bases = []
        for number in range(len(seen)):
            if number % 32 == 0:
                bases.append(session(url))
            base = bases[-1]
            status, reply = define(url, base)
            assert status == 201, reply
            status, reply = call(url, "POST", f"{base}/systems/{reply['system']}/IsConnected", {"arguments": []})
            assert (status, reply["result"]) == (200, 0)
        log = (tmp_path / "log").read_text()
        opened = set(re.findall(r"session (\w+) opened", log))
        closed = set(re.findall(r"session (\w+) (?:expired|deleted)", log))
        assert opened - closed == {base.split("/")[-1] for base in bases}
    finally:
        stop(process)
