"""Zelbridge served by `zelbridge serve`, driven over HTTP with the same API.

A 64-bit Python cannot load the 32-bit Zelbridge.dll; `zelbridge serve`, a
32-bit program, loads it and serves its calls. :func:`connect` gives a
server whose System and Family behave as the package's own and raise the
same exceptions, using the standard library only::

    import zelbridge
    with zelbridge.connect("http://127.0.0.1:8765") as server:
        with server.System("Simulator.dll", "SIM_").connect_usb("stage.json") as stage:
            print(stage.query("*IDN?"))

Texts go to the driver as their UTF-8 bytes. The session's lease is renewed
in the background while the server object lives; if this process dies, the
server closes its connections when the lease runs out.
"""
from __future__ import annotations

import json
import os
import socket
import sys
import threading
import urllib.parse
import weakref
from typing import Any, Callable, Dict, List, Optional, Tuple, Union

from ._answers import GIVE_UP_FACTOR
from ._controller import DEFAULT_TIMEOUT, _check_timeout, _shown, logger
from .errors import (FUNCTION_NOT_AVAILABLE, AnswersOutOfStep, AnswerTimeout, DriverNotLoaded, FunctionNotAvailable,
                     ZelbridgeError)
from .family import FAMILIES, board_connect, family_lacks

DEFAULT_URL = "http://127.0.0.1:8765"
TOKEN_VARIABLE = "ZELBRIDGE_TOKEN"
DEFAULT_LEASE = 30.0
"""Seconds the server keeps a session that sends nothing."""

# Seconds to wait for the server beyond the time an answer may take.
_NETWORK_TIMEOUT = 30.0
_LONGEST_WAIT_MS = 600000
_ERROR_TEXT_SIZE = 4096

Text = Union[str, bytes]


class ServerError(Exception):
    """The server refused a request: `status` is the HTTP status, `kind` the
    error's kind ("unauthorized", "forbidden", "bad_request"...)."""

    def __init__(self, status: int, kind: str, message: str) -> None:
        super().__init__(f"{message} (HTTP {status}, {kind})")
        self.status = status
        self.kind = kind
        self.message = message


class NotServed(ServerError, NotImplementedError):
    """The operation cannot cross to the server (its words mean something to
    the driver alone, or it opens a window), or the family lacks it."""


def default_token_file() -> str:
    """Where `zelbridge serve` writes its token unless told: readable only
    on the server's own machine, by the user who started it."""
    if sys.platform == "win32":
        return os.path.join(os.environ.get("LOCALAPPDATA", "."), "Zelbridge", "serve-token")
    runtime = os.environ.get("XDG_RUNTIME_DIR")
    if runtime:
        return os.path.join(runtime, "zelbridge-serve-token")
    return os.path.join(os.path.expanduser("~"), ".zelbridge-serve-token")


def connect(url: str = DEFAULT_URL, token: Optional[str] = None, lease: float = DEFAULT_LEASE,
            token_file: Optional[str] = None) -> "Server":
    """Opens a session on the server at `url`. The token is `token`, else
    $ZELBRIDGE_TOKEN, else the first line of `token_file` (default: the file
    the server writes on this machine)."""
    if token is None:
        token = os.environ.get(TOKEN_VARIABLE)
    if token is None:
        with open(token_file or default_token_file(), encoding="ascii") as file:
            token = file.readline().strip()
    return Server(url, token, lease)


class Server:
    """One session on a `zelbridge serve`; systems and family connections
    made through it belong to the session. Close it (or use it as a context
    manager) to close them at once."""

    FAMILIES = FAMILIES

    def __init__(self, url: str, token: str, lease: float = DEFAULT_LEASE, heartbeat: bool = True) -> None:
        parts = urllib.parse.urlsplit(url)
        if parts.scheme != "http" or not parts.hostname:
            raise ValueError(f"{url!r}: the server's address is http://HOST:PORT")
        self.url = url
        self._address = (parts.hostname, parts.port or 8765)
        self._root = parts.path.rstrip("/")
        self._host = f"{self._address[0]}:{self._address[1]}"
        self._header_lines = f"Authorization: Bearer {token}\r\nContent-Type: application/json\r\n"
        self._local = threading.local()
        # Called with (method, path, status, body) for every response: a test's hook.
        self.observer: Optional[Callable[[str, str, int, Any], None]] = None
        self._operations: Optional[Dict[str, Any]] = None
        reply = self._request("POST", "/v1/sessions", {"lease_seconds": max(1, round(lease))})
        self.session: str = reply["session"]
        self.lease: float = reply["lease_seconds"]
        self._base = f"/v1/sessions/{self.session}"
        self._closed = threading.Event()
        if heartbeat:
            threading.Thread(target=_renew, args=(weakref.ref(self), self._closed, self.lease / 3),
                             name="zelbridge-lease", daemon=True).start()

    def System(self, library: str, prefix: str) -> "System":  # noqa: N802 - as zelbridge.System
        """A system on the driver library `library` (a bare name: from the
        server's install folder), as :class:`zelbridge.System`."""
        return System(self, os.fspath(library), prefix)

    def Family(self, name: str) -> "Family":  # noqa: N802 - as zelbridge.Family
        """A controller of the family `name`, as :class:`zelbridge.Family`."""
        return Family(self, name)

    def operations(self) -> Dict[str, Any]:
        """What the server serves and what not, with each operation's arguments."""
        if self._operations is None:
            self._operations = self._request("GET", "/v1/operations")
        return self._operations

    def renew(self) -> None:
        """Renews the session's lease (the background renewal does it too)."""
        self._request("GET", self._base)

    def close(self) -> None:
        """Ends the session: the server closes its connections."""
        if not self._closed.is_set():
            self._closed.set()
            try:
                self._request("DELETE", self._base)
            except (ServerError, OSError):
                pass  # gone already, or its lease will end it

    def __enter__(self) -> "Server":
        return self

    def __exit__(self, *exception: Any) -> None:
        self.close()

    def __repr__(self) -> str:
        return f"<zelbridge.remote.Server {self.url} session {self.session}>"

    # HTTP ----------------------------------------------------------------

    def _connection(self) -> Tuple["_Connection", bool]:
        connection = getattr(self._local, "connection", None)
        if connection is not None:
            return connection, True
        connection = _Connection(self._address)
        self._local.connection = connection
        return connection, False

    def _request(self, method: str, path: str, body: Optional[Dict[str, Any]] = None, wait: float = 0.0) -> Any:
        data = json.dumps(body).encode() if body is not None else b""
        head = (f"{method} {self._root}{path} HTTP/1.1\r\nHost: {self._host}\r\n{self._header_lines}"
                f"Content-Length: {len(data)}\r\n\r\n").encode()
        while True:
            connection, reused = self._connection()
            try:
                status, close, payload = connection.exchange(head + data, _NETWORK_TIMEOUT + wait)
                break
            except (_Closed, BrokenPipeError, ConnectionResetError):
                connection.close()
                self._local.connection = None
                # A kept connection the server has closed meanwhile: once more on a new one.
                if not reused:
                    raise
        if close:
            connection.close()
            self._local.connection = None
        reply = json.loads(payload) if payload else None
        if self.observer:
            self.observer(method, path, status, reply)
        if status >= 400:
            # Answers set aside before the request failed are logged all the same.
            _log_set_aside(((reply or {}).get("error") or {}).get("late_answers", ()) if isinstance(reply, dict) else ())
            raise _failure(status, reply)
        return reply


class _Closed(ConnectionError):
    """The server closed a kept connection before answering."""


class _Connection:
    """One keep-alive HTTP/1.1 connection to the server, which answers every
    request with a Content-Length body. http.client parses each response's
    headers as a mail message and costs more than the rest of a query; this
    is all the server's answers need."""

    def __init__(self, address: Tuple[str, int]) -> None:
        self._socket = socket.create_connection(address, timeout=_NETWORK_TIMEOUT)
        # A request is one small write: nothing to gain from waiting to fill a packet.
        self._socket.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self._buffer = b""

    def exchange(self, request: bytes, timeout: float) -> Tuple[int, bool, bytes]:
        """Sends a request; the response's status, whether the server
        closes the connection after it, and its body."""
        self._socket.settimeout(timeout)
        self._socket.sendall(request)
        end = self._buffer.find(b"\r\n\r\n")
        while end < 0:
            self._receive(bool(self._buffer))
            end = self._buffer.find(b"\r\n\r\n")
        lines = self._buffer[:end].decode("latin-1").split("\r\n")
        self._buffer = self._buffer[end + 4:]
        parts = lines[0].split(" ", 2)
        if len(parts) < 2 or not parts[0].startswith("HTTP/1.") or not parts[1].isdigit():
            raise ServerError(0, "protocol", f"not an HTTP response: {lines[0]!r}")
        headers = {}
        for line in lines[1:]:
            name, _, value = line.partition(":")
            headers[name.strip().lower()] = value.strip()
        length = int(headers.get("content-length", "0"))
        while len(self._buffer) < length:
            self._receive(True)
        body, self._buffer = self._buffer[:length], self._buffer[length:]
        return int(parts[1]), headers.get("connection", "").lower() == "close", body

    def _receive(self, answering: bool) -> None:
        chunk = self._socket.recv(65536)
        if not chunk:
            if answering:
                raise ConnectionAbortedError("the server closed the connection in the middle of its answer")
            raise _Closed("the server closed the connection")
        self._buffer += chunk

    def close(self) -> None:
        self._socket.close()


def _renew(server: "weakref.ref[Server]", closed: threading.Event, interval: float) -> None:
    while not closed.wait(interval):
        alive = server()
        if alive is None:
            return
        try:
            alive.renew()
        except (ServerError, OSError):
            pass
        del alive


def _failure(status: int, reply: Any) -> Exception:
    error = (reply or {}).get("error", {}) if isinstance(reply, dict) else {}
    kind, message = error.get("kind", "unknown"), error.get("message", f"HTTP {status}")
    call, code, text = error.get("call", ""), error.get("code"), error.get("text", message)
    if kind == "driver_error":
        return ZelbridgeError(call, code, text)
    if kind == "function_not_available":
        return FunctionNotAvailable(call, code, text)
    if kind == "driver_not_loaded":
        return DriverNotLoaded(call, code, message)
    if kind == "answer_timeout":
        return AnswerTimeout(call, None, message)
    if kind == "answers_out_of_step":
        return AnswersOutOfStep(call, None, message.split(": ", 1)[-1], error.get("query", ""))
    if kind in ("not_served", "not_exported"):
        return NotServed(status, kind, message)
    return ServerError(status, kind, message)


def _command_body(text: Text) -> Dict[str, Any]:
    """A command as the server takes it: a text, or bytes as they are."""
    if isinstance(text, (bytes, bytearray)):
        command = bytes(text)
        if b"\0" in command:
            raise ValueError(f"the command {_shown(command)!r} holds a zero character, which would end it there")
        return {"command_bytes": list(command)}
    if not isinstance(text, str):
        raise TypeError(f"a command is a str (or bytes), not {type(text).__name__}")
    if "\0" in text:
        raise ValueError(f"the command {_shown(text.encode())!r} holds a zero character, which would end it there")
    return {"command": text}


def _command_bytes(body: Dict[str, Any]) -> bytes:
    return bytes(body["command_bytes"]) if "command_bytes" in body else body["command"].encode("utf-8")


def _named(operation: str, command: bytes) -> str:
    """The call as an exception names it, the same as in process."""
    return f"{operation}({_shown(command).decode('utf-8', 'replace')!r})"


def _log_set_aside(entries: Any) -> None:
    for entry in entries:
        if entry.get("query") is None:
            logger.warning("unread answer to an earlier command: %r", entry["answer"])
        else:
            logger.warning("%s answer to %r: %r", "late" if entry.get("late") else "unread", entry["query"],
                           entry["answer"])


class _Controller:
    """What a remote system and a remote family connection share."""

    def __init__(self, server: Server) -> None:
        self.server = server
        self._lock = threading.Lock()
        self._connected = False
        self._error_check = True
        # The longest wait asked for: the server may wait behind it that long, times its give-up factor.
        self._longest_wait = 0.0
        # The path of the system or connection, under the session.
        self._path: Optional[str] = None

    def _on(self, what: str, body: Dict[str, Any], wait: float = 0.0) -> Any:
        if self._path is None:
            raise ZelbridgeError(what, None, "not connected")
        return self.server._request("POST", self.server._base + self._path + "/" + what, body, wait)

    def _call(self, operation: str, *arguments: Any, check: bool = False) -> Any:
        return self._on(operation, {"arguments": list(arguments), "check": check})

    def _connect(self, operation: str, *arguments: Any) -> Any:
        raise NotImplementedError

    def connect_rs232(self, port: int, baud: int) -> Any:
        """Connects over a serial port of the server (COM1 is 1) at `baud`."""
        with self._lock:
            return self._connect("ConnectRS232", port, baud)

    def connect_gpib(self, board: int, device: int) -> Any:
        """Connects to GPIB `device` on `board` of the server."""
        with self._lock:
            return self._connect("ConnectNIgpib", board, device)

    def connect_dialog(self, window: int = 0) -> Any:
        """Not served: the dialog would open on the server's screen."""
        with self._lock:
            return self._connect("InterfaceSetupDlg", window)

    def command(self, text: Text) -> None:
        """Sends a command; an error the controller reports is raised. A
        query sent this way is owed its answer, which read() returns."""
        body = _command_body(text)
        with self._lock:
            self._named_as(_named("ZelCommandset", _command_bytes(body)), self._on, "command", body)

    def read(self, timeout: Optional[float] = DEFAULT_TIMEOUT) -> str:
        """Waits up to `timeout` seconds (None: for ever) for the next answer:
        the answer of the oldest query still owed one (sent with command(),
        or one that timed out), else of the last command."""
        _check_timeout(timeout)
        with self._lock:
            return self._wait("answer", {}, timeout, "read")

    def query(self, text: Text, timeout: Optional[float] = DEFAULT_TIMEOUT) -> str:
        """Sends a command and returns its own answer, as the in-process
        query() does: answers owed to earlier queries are logged (logger
        "zelbridge"), never returned for this one; past the server's
        --give-up-factor, AnswersOutOfStep until clear()."""
        _check_timeout(timeout)
        body = _command_body(text)
        with self._lock:
            return self._wait("query", body, timeout, _named("query", _command_bytes(body)))

    def clear(self) -> List[str]:
        """Resynchronises after AnswersOutOfStep: the server forgets the
        answers owed, and the answers that have come are returned."""
        with self._lock:
            return self._on("clear", {})["answers"]

    def _named_as(self, call: str, request: Callable[..., Any], *arguments: Any, **keywords: Any) -> Any:
        """A request whose command error names the call as in process."""
        try:
            return request(*arguments, **keywords)
        except ZelbridgeError as error:
            if error.call.startswith("ZelCommandset(") and type(error) in (ZelbridgeError, FunctionNotAvailable):
                raise type(error)(call, error.code, error.text) from None
            raise

    def _wait(self, what: str, body: Dict[str, Any], timeout: Optional[float], call: str) -> str:
        while True:
            milliseconds = _LONGEST_WAIT_MS if timeout is None else min(_LONGEST_WAIT_MS, round(timeout * 1000))
            # The server may wait behind older answers up to their bound too.
            self._longest_wait = max(self._longest_wait, milliseconds / 1000)
            wait = milliseconds / 1000 + GIVE_UP_FACTOR * self._longest_wait
            try:
                if what == "query":
                    reply = self._named_as(_named("ZelCommandset", _command_bytes(body)), self._on, what,
                                           dict(body, timeout_ms=milliseconds), wait)
                else:
                    reply = self._on(what, dict(body, timeout_ms=milliseconds), wait)
            except AnswerTimeout:
                if timeout is not None:
                    raise AnswerTimeout(call, None, f"no answer within {timeout} s; an answer that comes later is set "
                                                    f"aside, logged as a late answer (logger \"zelbridge\") by the "
                                                    f"next query, or taken by read()") from None
                # For ever: the command went; from now on only its answer is awaited.
                what, body = "answer", {}
                continue
            except AnswersOutOfStep as error:
                text = error.text.replace("POST .../clear drops the answers owed",
                                          "call clear() to forget the answers owed, then ask again")
                raise AnswersOutOfStep(call, None, text, error.query) from None
            _log_set_aside(reply.get("late_answers", ()))
            if reply.get("cut_bytes"):
                logger.warning("the answer to %r is over the server's --answer-bound: cut by %d bytes", call,
                               reply["cut_bytes"])
            return reply["answer"]

    def error(self) -> int:
        """Takes the controller's pending error code: 0 when there is none."""
        with self._lock:
            return self._call("GetError")["result"]

    def error_text(self, code: int) -> str:
        """The driver's text for an error code (TranslateError)."""
        with self._lock:
            return self._error_text(code)

    def _error_text(self, code: int) -> str:
        raise NotImplementedError

    def set_error_check(self, enabled: bool) -> None:
        """Whether the driver checks for an error after each command; off,
        the server never asks GetError for this connection."""
        with self._lock:
            self._call("SetErrorCheck", 1 if enabled else 0, check=True)
            self._error_check = bool(enabled)

    @property
    def connected(self) -> bool:
        """Whether the driver has the connection open (IsConnected)."""
        with self._lock:
            if self._path is None:
                return False
            if self._call("IsConnected")["result"] == 1:
                return True
            # 0 for a missing function too, which only GetError tells apart.
            if self._error_check and self._call("GetError")["result"] == FUNCTION_NOT_AVAILABLE:
                raise FunctionNotAvailable("IsConnected", FUNCTION_NOT_AVAILABLE,
                                           f"function not available: the driver lacks {self.prefix}IsConnected")
            return False

    def close(self) -> None:
        """Closes the connection; closing a closed one does nothing."""
        with self._lock:
            self._close_connection()

    def _close_connection(self) -> None:
        if self._connected:
            self._connected = False
            self._call("CloseConnection")

    def __enter__(self) -> Any:
        return self

    def __exit__(self, *exception: Any) -> None:
        self.close()


class System(_Controller):
    """A system defined on the server, as :class:`zelbridge.System`."""

    def __init__(self, server: Server, library: str, prefix: str) -> None:
        super().__init__(server)
        self.library = library
        self.prefix = prefix
        self.index: int = server._request("POST", server._base + "/systems",
                                          {"library": library, "prefix": prefix})["system"]
        self._path = f"/systems/{self.index}"

    def connect_tcpip(self, host: str, port: int) -> "System":
        """Connects over TCP/IP, from the server, to `host` at `port`."""
        with self._lock:
            return self._connect("ConnectTCPIP", host, port)

    def connect_usb(self, description: str) -> "System":
        """Connects to the USB device `description` names on the server."""
        with self._lock:
            return self._connect("ConnectUSB", os.fspath(description))

    def connect_pci(self, board: int) -> "System":
        """Connects to a PCI board of the server."""
        with self._lock:
            return self._connect("Connect", board)

    def _connect(self, operation: str, *arguments: Any) -> "System":
        self._close_connection()
        self._error_check = True
        self._call(operation, *arguments, check=True)
        self._connected = True
        return self

    def _error_text(self, code: int) -> str:
        reply = self._call("TranslateError", code, _ERROR_TEXT_SIZE)
        # A driver without TranslateError leaves FUNCTION_NOT_AVAILABLE pending.
        if reply["result"] == 0 and not reply["outputs"][0] and self._error_check:
            self._call("GetError")
        return reply["outputs"][0]

    def __repr__(self) -> str:
        return f"<zelbridge.remote.System {self.index}: {self.library!r}, prefix {self.prefix!r} on {self.server.url}>"


class Family(_Controller):
    """A family controller on the server, as :class:`zelbridge.Family`."""

    def __init__(self, server: Server, name: str) -> None:
        family = name.upper().rstrip("_")
        if family not in FAMILIES:
            raise ValueError(f"no family {name!r}: the families are {', '.join(FAMILIES)}")
        super().__init__(server)
        self.name = family
        self.prefix = family + "_"
        self._id = -1

    @property
    def available(self) -> bool:
        """Whether the family's library loads on the server."""
        return self.server._request("GET", f"{self.server._base}/families/{self.name}")["available"]

    @property
    def connection_id(self) -> int:
        """The driver's identifier of the connection, -1 before connecting."""
        return self._id

    def has(self, operation: str) -> bool:
        """Whether the family has the call `operation` (served or not)."""
        return operation in self._exported()

    def _exported(self) -> List[str]:
        for family in self.server.operations()["families"]:
            if family["family"] == self.name:
                return [entry["name"] for entry in family["served"] + family["not_served"]]
        return []

    def connect_pci(self, board: int) -> "Family":
        """Connects to a board: ConnectPciBoard, or Connect where the family
        has that instead."""
        with self._lock:
            return self._connect(board_connect(self.has), board)

    def connect_tcpip(self, host: str, port: int) -> "Family":
        """No family connects over TCP/IP: NotImplementedError, as in process."""
        with self._lock:
            return self._connect("ConnectTCPIP", host, port)

    def connect_usb(self, description: str) -> "Family":
        """No family connects over USB: NotImplementedError, as in process."""
        with self._lock:
            return self._connect("ConnectUSB", description)

    def _connect(self, operation: str, *arguments: Any) -> "Family":
        if not self.has(operation):
            raise NotImplementedError(family_lacks(self.name, operation, self.has))
        self._close_connection()
        self._path = None
        self._id = -1
        reply = self.server._request("POST", f"{self.server._base}/families/{self.name}/{operation}",
                                     {"arguments": list(arguments), "check": True})
        self._error_check = True
        self._id = reply["result"]
        self._path = f"/families/{self.name}/connections/{self._id}"
        self._connected = True
        return self

    def _close_connection(self) -> None:
        if self._connected:
            self._connected = False
            # The server forgets the connection with its close.
            self._call("CloseConnection")
            self._path = None

    def _error_text(self, code: int) -> str:
        reply = self.server._request("POST", f"{self.server._base}/families/{self.name}/TranslateError",
                                     {"arguments": [code, _ERROR_TEXT_SIZE]})
        return reply["outputs"][0]

    def __repr__(self) -> str:
        return f"<zelbridge.remote.Family {self.name}, connection {self._id} on {self.server.url}>"
