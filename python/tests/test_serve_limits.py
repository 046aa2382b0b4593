"""What a careless or hostile client can do to `zelbridge serve`, each case
followed by a normal client that must be answered within a second: names
that are no route, connections that send nothing or dribble, the token
where it does not belong, paths outside the allowed folders, links that
lead out of them, sessions that leave something behind, a stop in the
middle of an answer wait.

The server is the host build's tool unless $ZELBRIDGE_SERVE gives another
command (the 32-bit tool under Wine), as in test_remote.
"""
import http.client
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import threading
import time
from concurrent.futures import ThreadPoolExecutor

import pytest
from conftest import LIBRARIES
from test_remote import LOOPBACK, OBSERVE, SIMULATOR, WINDOWS, served, server_command

TOKEN = "limits-token-" + "5" * 24
DESCRIPTION = {
    "description": "answers for the limits of the server",
    "commands": [
        {"command": "SLOW?", "answer": "slow", "delay_ms": 300},
        {"command": "NEVER?", "answer": "never", "delay_ms": 120000},
        {"command": "WHO?", "answer": "me"},
    ],
}


def start(folder, token_file, *options, port=0):
    """A server on 127.0.0.1; (process, url). The process's log is folder/log."""
    log = open(folder / "log", "a")
    process = subprocess.Popen(server_command() + ["serve", "--listen", f"127.0.0.1:{port}", "--token-file",
                                                   served(str(token_file)), *options],
                               stdout=subprocess.PIPE, stderr=log, text=True)
    line = process.stdout.readline()
    found = re.search(r"http://127\.0\.0\.1:(\d+)/", line)
    if not found:
        process.wait(30)
        return process, None
    return process, f"http://127.0.0.1:{found.group(1)}"


def stop(process):
    process.terminate()
    process.wait(30)


@pytest.fixture(scope="module")
def place(tmp_path_factory):
    folder = tmp_path_factory.mktemp("limits")
    for name in ("data", "libraries", "outside"):
        (folder / name).mkdir()
    (folder / "token").write_text(TOKEN + "\n")
    (folder / "token").chmod(0o600)
    (folder / "data" / "answers.json").write_text(json.dumps(DESCRIPTION))
    (folder / "outside" / "secret.json").write_text(json.dumps(DESCRIPTION))
    shutil.copy(os.path.join(LIBRARIES, LOOPBACK), folder / "outside" / LOOPBACK)
    # Links inside the allowed folders that lead out of them.
    (folder / "libraries" / LOOPBACK).symlink_to(folder / "outside" / LOOPBACK)
    (folder / "data" / "link.json").symlink_to(folder / "outside" / "secret.json")
    return folder


@pytest.fixture(scope="module")
def server(place):
    process, url = start(place, place / "token", "--allow-library", served(LIBRARIES),
                         "--allow-library", served(str(place / "libraries")), "--allow-data", served(str(place / "data")))
    assert url, (place / "log").read_text()
    yield url
    stop(process)


def call(url, method, path, body=None, token=TOKEN, scheme="Bearer", timeout=30):
    """One request on a connection of its own: (status, parsed body)."""
    host, port = url.split("//")[1].split(":")
    connection = http.client.HTTPConnection(host, int(port), timeout=timeout)
    headers = {"Authorization": f"{scheme} {token}"} if token else {}
    connection.request(method, path, json.dumps(body).encode() if body is not None else b"", headers)
    response = connection.getresponse()
    payload = response.read()
    connection.close()
    reply = json.loads(payload) if payload else None
    # Every answer is one the document gives for its route; a refused token
    # is answered before any route is looked up.
    if response.status != 401:
        OBSERVE(method, path.split("?")[0], response.status, reply)
    return response.status, reply


def still_serves(url):
    """A normal client is answered within a second."""
    assert call(url, "GET", "/v1/operations", timeout=1)[0] == 200


def session(url, lease=30):
    status, reply = call(url, "POST", "/v1/sessions", {"lease_seconds": lease})
    assert status == 201, reply
    return f"/v1/sessions/{reply['session']}"


def define(url, base, library=SIMULATOR, prefix="SIM_"):
    return call(url, "POST", f"{base}/systems", {"library": served(os.path.join(LIBRARIES, library)), "prefix": prefix})


def connected_simulator(url, place, base):
    status, reply = define(url, base)
    assert status == 201, reply
    on = f"{base}/systems/{reply['system']}"
    status, reply = call(url, "POST", f"{on}/ConnectUSB", {"arguments": [served(str(place / "data" / "answers.json"))]})
    assert status == 200 and reply["result"] >= 0, reply
    return on


def test_names_that_are_not_routes_are_refused_and_the_server_stays(server, place):
    mine, other = session(server), session(server)
    on = connected_simulator(server, place, mine)
    theirs = connected_simulator(server, place, other)
    cases = [
        ("POST", f"{on}/NoSuchOp", {"arguments": []}, 404, "not_found"),
        ("POST", f"{on}/NoSuchOp", {"arguments": []}, 404, "not_found"),
        ("POST", f"{mine}/families/NoSuchFamily/ConnectRS232", {}, 404, "not_found"),
        ("POST", f"{mine}/families/M329/connections/0/NoSuchOp", {}, 404, "not_found"),
        # Another session's system, and a session that is not there.
        ("POST", mine + theirs[theirs.index("/systems"):] + "/query", {"command": "WHO?"}, 404, "not_found"),
        ("POST", "/v1/sessions/" + "0" * 32 + "/systems", {}, 404, "no_session"),
        ("PUT", f"{on}/query", {"command": "WHO?"}, 405, "method_not_allowed"),
    ]
    for method, path, body, status, kind in cases:
        got = call(server, method, path, body)
        assert (got[0], got[1]["error"]["kind"]) == (status, kind), (method, path, got)
        still_serves(server)
    assert "ZelCommandset" in call(server, "POST", f"{on}/NoSuchOp", {})[1]["error"]["operations"]


def test_connections_that_send_nothing_or_dribble_do_not_lock_clients_out(server, place):
    host, port = server.split("//")[1].split(":")
    silent = [socket.create_connection((host, int(port))) for _ in range(200)]
    try:
        still_serves(server)
        dribbling = socket.create_connection((host, int(port)))
        started = time.monotonic()
        answer = b""
        for byte in b"GET /v1/operations HTTP/1.1\r\nHost: x\r\n":
            try:
                dribbling.sendall(bytes([byte]))
            except OSError:
                break
            still_serves(server)
            dribbling.settimeout(1)
            try:
                answer = dribbling.recv(4096)
                break
            except socket.timeout:
                pass
        # The header's deadline closes it, with 408 unless it was closed to make room.
        assert time.monotonic() - started < 15
        assert answer == b"" or answer.startswith(b"HTTP/1.1 408"), answer
    finally:
        for connection in silent:
            connection.close()
    still_serves(server)


def test_the_token_is_taken_in_any_case_of_its_scheme_and_never_logged(server, place):
    assert call(server, "GET", "/v1/operations", scheme="bearer")[0] == 200
    assert call(server, "GET", "/v1/operations", scheme="BEARER")[0] == 200
    for path in (f"/v1/operations?token={TOKEN}", f"/v1/{TOKEN}/x?access_token={TOKEN}"):
        assert call(server, "GET", path, token=None)[0] == 401
        assert call(server, "GET", path, token="wrong-" + TOKEN)[0] == 401
        still_serves(server)
    log = (place / "log").read_text()
    assert "?(hidden)" in log and TOKEN not in log


def test_paths_are_checked_by_what_they_are(server, place):
    base = session(server)
    on = connected_simulator(server, place, base)
    status, reply = define(server, base)
    assert status == 201
    fresh = f"{base}/systems/{reply['system']}"
    outside = [str(place / "outside" / "secret.json"), str(place / "token"), str(place / "data" / "link.json"),
               str(place / "data" / ".." / "token"), "/etc/passwd"]
    for path in outside:
        status, reply = call(server, "POST", f"{fresh}/ConnectUSB", {"arguments": [served(path)]})
        assert (status, reply["error"]["kind"]) == (403, "forbidden"), (path, reply)
        assert "--allow-data" in reply["error"]["message"] and TOKEN[:8] not in json.dumps(reply)
        still_serves(server)
    status, reply = define(server, base, os.path.join(str(place / "libraries"), LOOPBACK), "LOOP_")
    assert (status, reply["error"]["kind"]) == (403, "forbidden"), reply
    assert "links followed" in reply["error"]["message"]
    assert call(server, "POST", f"{on}/query", {"command": "WHO?"}) == (200, {"answer": "me"})


def test_a_closed_session_leaves_its_system_as_new_to_the_next(server, place):
    first = session(server)
    on = connected_simulator(server, place, first)
    status, reply = call(server, "POST", f"{on}/query", {"command": "SLOW?", "timeout_ms": 10})
    assert (status, reply["error"]["kind"]) == (422, "answer_timeout")
    assert call(server, "POST", f"{on}/SetErrorCheck", {"arguments": [0]})[0] == 200
    assert call(server, "DELETE", first)[0] == 204
    second = session(server)
    again = connected_simulator(server, place, second)
    assert again.split("/")[-1] == on.split("/")[-1], "the free system is taken again"
    time.sleep(0.4)
    assert call(server, "POST", f"{again}/query", {"command": "WHO?"}) == (200, {"answer": "me"})
    call(server, "DELETE", second)


def test_lease_expiry_racing_a_define_leaves_nothing_behind(server, place):
    def round_(number):
        base = session(server, lease=1)
        time.sleep(0.9 + (number % 8) * 0.05)
        status, reply = define(server, base, LOOPBACK, "LOOP_")
        if status == 201:
            on = f"{base}/systems/{reply['system']}"
            status, _ = call(server, "POST", f"{on}/ConnectRS232", {"arguments": [3, 9600]})
        return base.split("/")[-1], status

    with ThreadPoolExecutor(8) as pool:
        rounds = list(pool.map(round_, range(24)))
    assert {status for _, status in rounds} <= {200, 201, 404}
    time.sleep(2.5)
    log = (place / "log").read_text()
    for session_id, status in rounds:
        closed = re.search(f"session {session_id} (expired|deleted): (\\d+) systems", log)
        assert closed, f"session {session_id} was never closed"
        if status == 200:
            assert closed.group(2) == "1", f"session {session_id} connected a system it did not close"
    # Every system these sessions defined is free again, and not connected.
    base = session(server)
    for _ in range(len(rounds)):
        status, reply = define(server, base, LOOPBACK, "LOOP_")
        assert status == 201
        status, reply = call(server, "POST", f"{base}/systems/{reply['system']}/IsConnected", {"arguments": []})
        assert (status, reply["result"]) == (200, 0)
    call(server, "DELETE", base)


def test_a_token_file_others_can_use_is_refused_at_start(place):
    loose = place / "loose-token"
    loose.write_text(TOKEN + "\n")
    loose.chmod(0o666)
    process, url = start(place, loose)
    if WINDOWS:
        # Wine gives files of its Z: drive no access list of the owner's own.
        if url:
            stop(process)
        pytest.skip("a file's access list under Wine does not follow its Unix mode")
    assert url is None and process.returncode != 0
    assert f"chmod 600 {loose}" in (place / "log").read_text()
    (place / "linked-token").symlink_to(place / "token")
    process, url = start(place, place / "linked-token")
    assert url is None and "link" in (place / "log").read_text().splitlines()[-1]


def test_a_stop_ends_an_answer_wait_and_the_port_is_bound_again_at_once(place):
    process, url = start(place, place / "token", "--allow-library", served(LIBRARIES), "--allow-data",
                         served(str(place / "data")))
    on = connected_simulator(url, place, session(url))
    waiting = threading.Thread(target=lambda: call(url, "POST", f"{on}/query",
                                                   {"command": "NEVER?", "timeout_ms": 60000}, timeout=90))
    waiting.start()
    time.sleep(0.5)
    stopped = time.monotonic()
    process.send_signal(signal.SIGTERM)
    process.wait(30)
    assert time.monotonic() - stopped < 2
    waiting.join(5)
    again, url_again = start(place, place / "token", port=int(url.rsplit(":", 1)[1]))
    assert url_again == url, (place / "log").read_text()[-400:]
    still_serves(url_again)
    stop(again)
