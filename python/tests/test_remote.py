"""The package's own sessions, run through `zelbridge serve` and the remote
client; the server's refusals; and every response held to the OpenAPI
document the server publishes.

The server is the host build's tool unless $ZELBRIDGE_SERVE gives another
command (the 32-bit tool under Wine); $ZELBRIDGE_SERVE_WINDOWS then says
that it names files as Windows does.
"""
import http.client
import json
import os
import re
import shlex
import socket
import subprocess
import threading
import time
from concurrent.futures import ThreadPoolExecutor

import jsonschema
import pytest
import test_answers
import test_session
from conftest import EXAMPLE_STAGE, LIBRARIES, REPOSITORY, TESTS

import zelbridge
from zelbridge import remote

DOCUMENT = os.path.join(REPOSITORY, "tools", "zelbridge", "serve", "openapi.json")
WINDOWS = bool(os.environ.get("ZELBRIDGE_SERVE_WINDOWS"))
SIMULATOR, LOOPBACK = ("Simulator.dll", "Loopback.dll") if WINDOWS else ("libSimulator.so", "libLoopback.so")
TOKEN = "t0ken-of-the-test-server-" + "7" * 16


def served(path: str) -> str:
    """A file of this machine as the server names it."""
    return "Z:" + path.replace("/", "\\") if WINDOWS else path


def server_command():
    return shlex.split(os.environ.get("ZELBRIDGE_SERVE", "")) or [
        os.environ.get("ZELBRIDGE_TOOL", os.path.join(LIBRARIES, "zelbridge"))]


@pytest.fixture(scope="module")
def server_process(tmp_path_factory):
    folder = tmp_path_factory.mktemp("serve")
    (folder / "token").write_text(TOKEN + "\n")
    (folder / "token").chmod(0o600)
    clock = folder / "clock"
    clock.write_text("")
    command = server_command()
    environment = dict(os.environ, ZELBRIDGE_SIM_CLOCK=served(str(clock)), ZELBRIDGE_SIM=served(EXAMPLE_STAGE))
    log = open(folder / "log", "w+")
    process = subprocess.Popen(command + ["serve", "--listen", "127.0.0.1:0", "--token-file", served(str(folder / "token")),
                                          "--allow-library", served(LIBRARIES),
                                          "--allow-data", served(os.path.dirname(EXAMPLE_STAGE)), "--allow-data", served(TESTS),
                                          "--allow-data", served(os.path.dirname(test_answers.LATE_ANSWERS))],
                               stdout=subprocess.PIPE, stderr=log, text=True, env=environment)
    line = process.stdout.readline()
    port = re.search(r"http://127\.0\.0\.1:(\d+)/", line)
    assert port, f"the server did not start: {line!r} {open(folder / 'log').read()}"
    yield {"url": f"http://127.0.0.1:{port.group(1)}", "clock": clock, "log": folder / "log"}
    process.terminate()
    # Under Wine a terminate ends the process at once, as on Windows.
    assert process.wait(30) == (-15 if WINDOWS else 0)
    assert WINDOWS or "stopped" in (folder / "log").read_text()


def validate_against_document():
    """An observer that holds each response to the document's schema for its
    route, method and status; a route the document lacks fails the test."""
    document = json.load(open(DOCUMENT))
    resolver = jsonschema.RefResolver("", document)
    routes = [(re.compile("^" + re.sub(r"\{[^}]+\}", "[^/]+", path) + "$"), path) for path in document["paths"]]
    # The concrete routes first, as OpenAPI matches them.
    routes.sort(key=lambda route: route[1].count("{"))

    def observe(method, path, status, body):
        template = next((t for pattern, t in routes if pattern.match(path)), None)
        assert template, f"{method} {path} is answered but not in the document"
        operation = document["paths"][template].get(method.lower())
        assert operation or status == 405, f"{method} {template} answered {status}; the document has no {method}"
        responses = operation["responses"] if operation else {"405": {"content": {"application/json": {
            "schema": {"$ref": "#/components/schemas/Error"}}}}}
        assert str(status) in responses, f"{method} {template} answered {status}, which the document lacks"
        content = responses[str(status)].get("content")
        if content:
            schema = content["application/json"]["schema"]
            jsonschema.Draft202012Validator(schema, resolver=resolver).validate(body)
        else:
            assert body is None
    return observe


OBSERVE = validate_against_document()


@pytest.fixture
def server(server_process):
    with remote.Server(server_process["url"], TOKEN) as bridge:
        bridge.observer = OBSERVE
        yield bridge


@pytest.fixture
def clock(server_process):
    def set_ms(milliseconds):
        server_process["clock"].write_text(f"{milliseconds}\n")
    set_ms(0)
    yield set_ms
    server_process["clock"].write_text("")


def system(server, library=SIMULATOR, prefix="SIM_"):
    return server.System(served(os.path.join(LIBRARIES, library)), prefix)


@pytest.fixture(params=["System"] + ([] if WINDOWS else ["Family"]))
def stage(request, server, clock):
    if request.param == "System":
        controller = system(server).connect_usb(served(EXAMPLE_STAGE))
    else:
        controller = server.Family("M329").connect_rs232(1, 115200)
    with controller:
        assert controller.connected
        yield controller
    assert not controller.connected


def test_the_package_session_runs_through_the_server(stage, clock):
    test_session.test_a_session_moves_queries_and_raises_the_limit_error_with_its_text(stage, clock)


@pytest.mark.parametrize("connect, arguments, link",
                         test_session.test_each_connect_reaches_the_driver_with_its_arguments.pytestmark[0].args[1])
def test_each_connect_reaches_the_driver_or_is_refused_as_not_served(server, connect, arguments, link):
    loopback = system(server, LOOPBACK, "LOOP_")
    if connect == "connect_dialog":
        with pytest.raises(remote.NotServed, match="window"):
            loopback.connect_dialog()
        return
    with getattr(loopback, connect)(*arguments) as connected:
        assert connected.query("LINK?") == link


@pytest.mark.parametrize("case", ["delayed", "late", "long", "threads"])
def test_answers_that_wait_come_late_grow_or_are_shared_by_threads(server, case, caplog):
    tests = {"delayed": test_answers.test_a_delayed_answer_is_waited_for_and_a_timeout_leaves_it_to_read,
             "late": lambda answers: test_answers.test_a_late_answer_is_logged_and_never_returned_for_the_next_query(
                 answers, caplog),
             "long": test_answers.test_an_answer_longer_than_the_first_buffer_is_read_whole,
             "threads": test_answers.test_threads_sharing_a_system_each_get_the_answer_to_their_own_command}
    with system(server).connect_usb(served(os.path.join(TESTS, "answers.json"))) as answers:
        tests[case](answers)


@pytest.mark.parametrize("case", ["ten after a slow one", "out of step until clear"])
def test_each_query_gets_its_own_answer_through_the_server(server, case, caplog):
    tests = {"ten after a slow one": test_answers.test_every_query_gets_its_own_answer_after_a_slow_one_timed_out,
             "out of step until clear":
                 test_answers.test_an_answer_that_never_comes_puts_the_connection_out_of_step_until_clear}
    with system(server).connect_usb(served(test_answers.LATE_ANSWERS)) as late:
        tests[case](late, caplog)


def test_errors_bytes_and_missing_connects_are_as_in_process(server, answers_file):
    # The texts the package raises in process (test_failures), and bytes sent as they are.
    cases = [("FLY", "ZelCommandset('FLY'): error -301: unknown command"),
             (b"\xff\xfe", "ZelCommandset('\ufffd\ufffd'): error -301: unknown command"),
             ("FLY " + "9" * 200, "ZelCommandset('FLY " + "9" * 56 + "... (204 bytes)'): error -301: unknown command")]
    with system(server).connect_usb(served(answers_file)) as answers:
        for command, text in cases:
            with pytest.raises(zelbridge.ZelbridgeError) as raised:
                answers.command(command)
            assert (type(raised.value), str(raised.value)) == (zelbridge.ZelbridgeError, text)
    with system(server, LOOPBACK, "LOOP_").connect_pci(0) as loopback:
        assert loopback.query(b"ECHO caf\xe9") == "caf\ufffd"
    with pytest.raises(NotImplementedError, match="the M329 family has no ConnectUSB; it connects with ConnectRS232"):
        server.Family("M329").connect_usb("stage")


def test_two_clients_at_once_each_keep_their_own_systems(server_process):
    def session(number):
        with remote.Server(server_process["url"], TOKEN) as own:
            with system(own).connect_usb(served(os.path.join(TESTS, "answers.json"))) as answers:
                return {answers.query(f"ECHO {number}") for _ in range(100)}, own.session

    with ThreadPoolExecutor(2) as pool:
        results = list(pool.map(session, (1, 2)))
    assert [replies for replies, _ in results] == [{"1"}, {"2"}]
    assert results[0][1] != results[1][1]


def test_a_client_that_goes_quiet_has_its_connection_closed_when_its_lease_ends(server_process, server):
    quiet = remote.Server(server_process["url"], TOKEN, lease=1, heartbeat=False)
    quiet.observer = OBSERVE
    stage = system(quiet, LOOPBACK, "LOOP_").connect_rs232(7, 9600)
    assert stage.connected
    time.sleep(2)
    with pytest.raises(remote.ServerError) as gone:
        stage.query("LINK?")
    assert (gone.value.status, gone.value.kind) == (404, "no_session")
    # The system is free again, and closed: a later session that defines it gets it so.
    again = [system(server, LOOPBACK, "LOOP_") for _ in range(8)]
    assert [s.connected for s in again if s.index == stage.index] == [False]
    assert f"session {quiet.session} expired: 1 systems" in server_process["log"].read_text()


def raw(url, method, path, body=b"", token=TOKEN, headers=()):
    """One request on a connection of its own: (status, parsed body)."""
    host, port = url.split("//")[1].split(":")
    connection = http.client.HTTPConnection(host, int(port), timeout=30)
    connection.request(method, path, body, dict(headers, **({"Authorization": f"Bearer {token}"} if token else {})))
    response = connection.getresponse()
    payload = response.read()
    connection.close()
    reply = json.loads(payload) if payload else None
    OBSERVE(method, path, response.status, reply)
    return response.status, reply


def test_the_server_refuses_what_it_must_not_do(server_process, server):
    url = server_process["url"]
    base = f"/v1/sessions/{server.session}"
    loopback = system(server, LOOPBACK, "LOOP_").connect_rs232(1, 9600)
    on = f"{base}/systems/{loopback.index}"
    cases = [
        # (method, path, body, token, status, kind)
        ("GET", "/v1/operations", b"", None, 401, "unauthorized"),
        ("GET", "/v1/operations", b"", "wrong-" + TOKEN, 401, "unauthorized"),
        ("POST", f"{on}/query", b'{"command": "LINK?"', TOKEN, 400, "bad_request"),
        ("POST", f"{on}/query", b'{"command": "LINK?", "command": "X"}', TOKEN, 400, "bad_request"),
        ("POST", f"{on}/query", b'{"command": "LINK?", "timeout": 1}', TOKEN, 400, "bad_request"),
        ("POST", f"{on}/query", b'{"command": "LINK?", "timeout_ms": 1.5}', TOKEN, 400, "bad_request"),
        ("POST", f"{on}/query", b'{"command": "LINK?"} // more', TOKEN, 400, "bad_request"),
        ("POST", f"{on}/command", json.dumps({"command": "x" * 70000}).encode(), TOKEN, 413, "too_large"),
        ("POST", f"{on}/command", b"[" + b"1," * 200000 + b"1]", TOKEN, 413, "too_large"),
        # A name that is no operation, twice: the server must still be there for the second.
        ("POST", f"{on}/NoSuchOp", b'{"arguments": []}', TOKEN, 404, "not_found"),
        ("POST", f"{on}/NoSuchOp", b'{"arguments": []}', TOKEN, 404, "not_found"),
        ("POST", f"{base}/families/M329/NoSuchOp", b'{"arguments": []}', TOKEN, 404, "not_found"),
        ("POST", f"{base}/families/NoSuchFamily/ConnectRS232", b"", TOKEN, 404, "not_found"),
        ("POST", f"{on}/SetQMC", b'{"arguments": [1, 2, 3]}', TOKEN, 501, "not_served"),
        ("POST", f"{on}/OpenQxStagesEditDialog", b"", TOKEN, 501, "not_served"),
        ("POST", f"{base}/families/M329/GetCurrentInterfaceId", b"", TOKEN, 501, "not_served"),
        ("POST", f"{base}/families/M329/ConnectPciBoard", b"", TOKEN, 404, "not_exported"),
        ("POST", f"{on}/ConnectRS232", b'{"arguments": [1]}', TOKEN, 400, "bad_request"),
        ("POST", f"{on}/ZelCommandset", b'{"arguments": [5]}', TOKEN, 400, "bad_request"),
        ("POST", f"{base}/systems", json.dumps({"library": "/srv/share/evil.so", "prefix": "X_"}).encode(), TOKEN,
         403, "forbidden"),
        ("POST", f"{base}/systems", json.dumps({"library": served(LIBRARIES) + "/../x.so", "prefix": "X_"}).encode(),
         TOKEN, 403, "forbidden"),
        ("POST", f"{base}/systems", json.dumps({"library": "sub/x.so", "prefix": "X_"}).encode(), TOKEN, 403,
         "forbidden"),
        ("POST", f"{base}/systems", json.dumps({"library": "NoSuchDriver.so", "prefix": "X_"}).encode(), TOKEN, 422,
         "driver_not_loaded"),
        ("GET", f"{on}/query", b"", TOKEN, 405, "method_not_allowed"),
        ("POST", f"{base}/systems/99/query", b'{"command": "X"}', TOKEN, 404, "not_found"),
    ]
    for method, path, body, token, status, kind in cases:
        got = raw(url, method, path, body, token)
        assert (got[0], got[1]["error"]["kind"]) == (status, kind), (method, path, body[:60], got)
    log = server_process["log"].read_text()
    assert "wrong bearer token" in log and "no bearer token" in log and TOKEN not in log


def test_the_document_is_served_and_names_exactly_the_served_operations(server_process, server):
    status, served_document = raw(server_process["url"], "GET", "/openapi.json")
    assert status == 200
    listing = server.operations()
    generic = {entry["name"] for entry in listing["generic"]["served"]}
    on_connection = {entry["name"] for family in listing["families"] for entry in family["served"]
                     if entry["kind"] == "on_connection"}
    unbound = {entry["name"] for family in listing["families"] for entry in family["served"]} - on_connection
    schemas = served_document["components"]["schemas"]
    filled = {name: set(schemas[name].pop("enum")) for name in
              ("Family", "SystemOperation", "FamilyOperation", "FamilyConnectionOperation")}
    # The rest is the document in the tree, which names no family or operation.
    assert served_document == json.load(open(DOCUMENT))
    assert filled == {"Family": {family["family"] for family in listing["families"]},
                      "SystemOperation": generic, "FamilyOperation": unbound,
                      "FamilyConnectionOperation": on_connection}
    assert {"M329", "T5XX"} <= filled["Family"] and {"ZelCommandset", "ListUSB"} <= generic
    assert "ZelCommandset" in on_connection and "ConnectRS232" in unbound
    assert {"SetQMC", "InterfaceSetupDlg", "EnumerateUSB"} <= {e["name"] for e in listing["generic"]["not_served"]}
