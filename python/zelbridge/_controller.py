"""What a system and a family connection share: commands, answers, errors."""
from __future__ import annotations

import ctypes
import math
import threading
import time
from typing import Any, Callable, Optional, TypeVar, Union

from ._bridge import ON_WINDOWS, Bridge
from .errors import FUNCTION_NOT_AVAILABLE, AnswerTimeout, FunctionNotAvailable, ZelbridgeError

DEFAULT_TIMEOUT = 5.0
"""Seconds query() and read() wait for an answer unless told otherwise."""

# The answer buffer starts at this size and grows to the largest answer
# announced; it is kept, so a steady stream of answers allocates nothing.
_FIRST_BUFFER = 256
# An announced size beyond this is taken for a driver fault, not allocated.
_LARGEST_ANSWER = 1 << 24
# Polling for an answer: at once, then after pauses that double up to the
# longest, so a quick answer is seen quickly and a slow one costs little.
_FIRST_PAUSE = 0.0001
_LONGEST_PAUSE = 0.01
_ERROR_TEXT_SIZE = 512
_LONGEST_ERROR_TEXT = 1 << 16

_CONNECTION_OPERATIONS = (
    ("_get_error", "GetError"),
    ("_commandset", "ZelCommandset"),
    ("_answer_size", "ZelGetAnswerSize"),
    ("_answer", "ZelGetAnswer"),
    ("_is_connected", "IsConnected"),
    ("_close", "CloseConnection"),
    ("_set_error_check", "SetErrorCheck"),
)

Text = Union[str, bytes]
Self = TypeVar("Self", bound="Controller")


class Controller:
    """A connection to one controller: through a defined system
    (:class:`~zelbridge.System`) or a family (:class:`~zelbridge.Family`).

    One object may be shared by threads: each method holds the object's lock,
    so a query's command and its answer stay together. Use it as a context
    manager, or call close(), to close the connection."""

    encoding = "mbcs" if ON_WINDOWS else "utf-8"
    """How texts are turned into the bytes the driver sees, and back."""

    def __init__(self, bridge: Bridge) -> None:
        self.bridge = bridge
        self._lock = threading.Lock()
        self._buffer = ctypes.create_string_buffer(_FIRST_BUFFER)
        self._size = ctypes.c_int(0)
        self._size_pointer = ctypes.byref(self._size)
        self._connected = False

    # The entry points on the connection, bound by _bind_connection.
    _get_error: Callable[[], int]
    _commandset: Callable[[bytes], int]
    _answer_size: Callable[[Any], int]
    _answer: Callable[[Any, int], int]
    _is_connected: Callable[[], int]
    _close: Callable[[], None]
    _set_error_check: Callable[[int], int]

    def _bind_connection(self, on_connection: Callable[[str], Callable[..., Any]]) -> None:
        """Binds each entry point that works on the connection, as
        `on_connection` gives it for an operation's name."""
        for attribute, operation in _CONNECTION_OPERATIONS:
            setattr(self, attribute, on_connection(operation))

    def _translate(self, code: int, buffer: Any, size: int) -> int:
        raise NotImplementedError

    def _function_missing(self, operation: str) -> str:
        """The text of FUNCTION_NOT_AVAILABLE for `operation`."""
        raise NotImplementedError

    # Connecting --------------------------------------------------------

    def _connect(self: Self, operation: str, *arguments: Any) -> Self:
        raise NotImplementedError

    def connect_rs232(self: Self, port: int, baud: int) -> Self:
        """Connects over a serial port (COM1 is 1) at `baud`."""
        with self._lock:
            return self._connect("ConnectRS232", port, baud)

    def connect_gpib(self: Self, board: int, device: int) -> Self:
        """Connects to GPIB `device` (its primary address) on `board`."""
        with self._lock:
            return self._connect("ConnectNIgpib", board, device)

    def connect_dialog(self: Self, window: int = 0) -> Self:
        """Connects as the driver's interface set-up dialog, owned by
        `window` (a window handle, 0 for none), says."""
        with self._lock:
            return self._connect("InterfaceSetupDlg", window)

    # Commands and answers ------------------------------------------------

    def command(self, text: Text) -> None:
        """Sends a command; an error the controller reports for it is raised
        as ZelbridgeError with the driver's text."""
        with self._lock:
            self._send(text)

    def read(self, timeout: Optional[float] = DEFAULT_TIMEOUT) -> str:
        """Waits up to `timeout` seconds (None: for ever) for the next answer
        and returns it, without its trailing line end."""
        with self._lock:
            return self._receive(timeout)

    def query(self, text: Text, timeout: Optional[float] = DEFAULT_TIMEOUT) -> str:
        """Sends a command and returns its answer, as command() and read()."""
        with self._lock:
            self._send(text)
            return self._receive(timeout)

    def error(self) -> int:
        """Takes the controller's pending error code: 0 when there is none."""
        with self._lock:
            return self._get_error()

    def error_text(self, code: int) -> str:
        """The driver's text for an error code (TranslateError)."""
        with self._lock:
            return self._error_text(code)

    def set_error_check(self, enabled: bool) -> None:
        """Whether the driver checks for an error after each command."""
        with self._lock:
            self._check("SetErrorCheck", self._set_error_check(1 if enabled else 0))

    @property
    def connected(self) -> bool:
        """Whether the driver has the connection open (IsConnected)."""
        with self._lock:
            result = self._is_connected()
            # A driver may also report "not connected" as an error; only a
            # missing function is worth raising here.
            if self._get_error() == FUNCTION_NOT_AVAILABLE:
                raise self._failure("IsConnected", FUNCTION_NOT_AVAILABLE)
            return result == 1

    def close(self) -> None:
        """Closes the connection; closing a closed one does nothing."""
        with self._lock:
            self._close_connection()

    def __enter__(self: Self) -> Self:
        return self

    def __exit__(self, *exception: Any) -> None:
        self.close()

    # The work, with the lock held ------------------------------------------

    def _send(self, text: Text) -> None:
        command = text.encode(self.encoding) if isinstance(text, str) else bytes(text)
        self._check("ZelCommandset", self._commandset(command), command)

    def _receive(self, timeout: Optional[float]) -> str:
        size = self._wait_for_answer(timeout)
        if size > _LARGEST_ANSWER:
            raise ZelbridgeError("ZelGetAnswerSize", None, f"the driver announces an answer of {size} bytes")
        # One byte more than announced, whether or not the driver counted
        # the terminating zero.
        if len(self._buffer) <= size:
            self._buffer = ctypes.create_string_buffer(size + 1)
        buffer = self._buffer
        self._check("ZelGetAnswer", self._answer(buffer, len(buffer)))
        return buffer.value.decode(self.encoding, "replace").rstrip("\r\n")

    def _wait_for_answer(self, timeout: Optional[float]) -> int:
        deadline: Optional[float] = None
        pause = _FIRST_PAUSE
        while True:
            result = self._answer_size(self._size_pointer)
            size = self._size.value
            if size > 0 and result == 0:
                return size
            # Nothing yet: a missing function or a failure would look the
            # same, so only the pending error tells waiting from failing.
            self._check("ZelGetAnswerSize", result)
            if size > 0:
                return size
            # The clock is read only once there is something to wait for.
            now = time.monotonic()
            if deadline is None:
                deadline = now + timeout if timeout is not None else math.inf
            elif now >= deadline:
                raise AnswerTimeout("read", None, f"no answer within {timeout} s")
            time.sleep(pause)
            pause = min(pause * 2, _LONGEST_PAUSE)

    def _check(self, operation: str, result: int, command: Optional[bytes] = None) -> None:
        """Raises what the call left pending, or its own negative result."""
        code = self._get_error()
        if code == 0 and result < 0:
            code = result
        if code != 0:
            raise self._failure(operation, code, command)

    def _failure(self, operation: str, code: int, command: Optional[bytes] = None) -> ZelbridgeError:
        call = operation if command is None else f"{operation}({command.decode(self.encoding, 'replace')!r})"
        if code == FUNCTION_NOT_AVAILABLE:
            return FunctionNotAvailable(call, code, self._function_missing(operation))
        return ZelbridgeError(call, code, self._error_text(code))

    def _error_text(self, code: int) -> str:
        size = _ERROR_TEXT_SIZE
        while True:
            buffer = ctypes.create_string_buffer(size)
            self._translate(code, buffer, size)
            # A driver without TranslateError leaves FUNCTION_NOT_AVAILABLE
            # pending, which must not be blamed on the next call.
            self._get_error()
            text = buffer.value
            if len(text) < size - 1 or size >= _LONGEST_ERROR_TEXT:
                return text.decode(self.encoding, "replace")
            size *= 4

    def _close_connection(self) -> None:
        if self._connected:
            self._connected = False
            self._close()
            # A driver without the function leaves FUNCTION_NOT_AVAILABLE
            # pending; the connection is gone either way.
            self._get_error()

    def _connected_as(self: Self, result: int, operation: str) -> Self:
        self._check(operation, result)
        self._connected = True
        return self

