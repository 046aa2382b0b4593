"""What a system and a family connection share: commands, answers, errors."""
from __future__ import annotations

import ctypes
import logging
import math
import threading
import time
from typing import Any, Callable, List, Optional, TypeVar, Union

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
# A command named in an exception is cut to this many characters.
_LONGEST_SHOWN_COMMAND = 80
_BLANKS = " \t\r\n"

logger = logging.getLogger("zelbridge")
"""Where answers that came after their query gave up are set aside."""


def is_query(command: str) -> bool:
    """Whether `command` asks for an answer: its first word ends in "?"
    ("*IDN?", "POS? X"). The zelbridge tool keeps the same rule."""
    words = command.strip(_BLANKS).split(None, 1)
    return bool(words) and words[0].endswith("?")

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
        self._error_check = True
        # Queries that timed out, whose answers may still come.
        self._late: List[str] = []

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
        and returns it, without its trailing line end: the answer of a command
        sent with command(), or the late answer of a query that timed out."""
        _check_timeout(timeout)
        with self._lock:
            answer = self._receive(timeout)
            if self._late:
                self._late.pop(0)
            return answer

    def query(self, text: Text, timeout: Optional[float] = DEFAULT_TIMEOUT) -> str:
        """Sends a command and returns its answer, as command() and read().

        An answer still pending from a query that timed out is taken first
        and logged as a late answer (logger "zelbridge"), so that each query
        returns its own answer."""
        _check_timeout(timeout)
        with self._lock:
            command = self._encode(text)
            self._set_aside_late_answers()
            self._send(command)
            try:
                return self._receive(timeout, f"query({_shown(command).decode(self.encoding, 'replace')!r})")
            except AnswerTimeout:
                self._late.append(command.decode(self.encoding, "replace"))
                raise

    def error(self) -> int:
        """Takes the controller's pending error code (GetError): 0 when there
        is none. The package asks for it itself only when a call's result
        reports a failure, and not at all with error checking off."""
        with self._lock:
            return self._get_error()

    def error_text(self, code: int) -> str:
        """The driver's text for an error code (TranslateError)."""
        with self._lock:
            return self._error_text(code)

    def set_error_check(self, enabled: bool) -> None:
        """Whether the driver checks for an error after each command
        (SetErrorCheck; a result other than 0 is a failure). Off, command()
        raises only what ZelCommandset's result reports, and the package
        never asks GetError: call error() yourself. A new connection starts
        with checking on, as the driver's does."""
        with self._lock:
            self._check("SetErrorCheck", self._set_error_check(1 if enabled else 0))
            self._error_check = bool(enabled)

    @property
    def connected(self) -> bool:
        """Whether the driver has the connection open (IsConnected: 1 when
        open, 0 when not, and 0 too for a missing function, which only
        GetError tells apart; it is asked then, with error checking on)."""
        with self._lock:
            if self._is_connected() == 1:
                return True
            # A driver may also report "not connected" as an error; only a
            # missing function is worth raising here.
            if self._pending_error() == FUNCTION_NOT_AVAILABLE:
                raise self._failure("IsConnected", FUNCTION_NOT_AVAILABLE)
            return False

    def close(self) -> None:
        """Closes the connection; closing a closed one does nothing."""
        with self._lock:
            self._close_connection()

    def __enter__(self: Self) -> Self:
        return self

    def __exit__(self, *exception: Any) -> None:
        self.close()

    # The work, with the lock held ------------------------------------------

    def _encode(self, text: Text) -> bytes:
        if isinstance(text, str):
            command = text.encode(self.encoding)
        elif isinstance(text, (bytes, bytearray)):
            command = bytes(text)
        else:
            raise TypeError(f"a command is a str (or bytes), not {type(text).__name__}")
        if b"\0" in command:
            raise ValueError(f"the command {_shown(command)!r} holds a zero character, which would end it there")
        return command

    def _send(self, text: Text) -> None:
        command = self._encode(text)
        # With error checking on, the result is the code of the command's
        # error (0 for none); off, the driver returns 0.
        result = self._commandset(command)
        if result != 0:
            raise self._failure("ZelCommandset", self._pending_error() or result, command)

    def _set_aside_late_answers(self) -> None:
        """Logs the answers that came for queries given up on, oldest first,
        and forgets those queries: an answer that comes later still cannot
        be told from the next query's."""
        while self._late:
            query = self._late.pop(0)
            if self._answer_ready():
                logger.warning("late answer to %r: %r", query, self._take_answer())
            else:
                logger.warning("no answer to %r came; the next answer is taken for the next query's", query)

    def _answer_ready(self) -> bool:
        result = self._answer_size(self._size_pointer)
        if result != 0:
            raise self._failure("ZelGetAnswerSize", self._pending_error() or result)
        return self._size.value > 0

    def _receive(self, timeout: Optional[float], call: str = "read") -> str:
        self._wait_for_answer(timeout, call)
        return self._take_answer()

    def _take_answer(self) -> str:
        size = self._size.value
        if size > _LARGEST_ANSWER:
            raise ZelbridgeError("ZelGetAnswerSize", None, f"the driver announces an answer of {size} bytes")
        # One byte more than announced, whether or not the driver counted
        # the terminating zero.
        if len(self._buffer) <= size:
            self._buffer = ctypes.create_string_buffer(size + 1)
        buffer = self._buffer
        buffer[0] = b"\0"
        result = self._answer(buffer, len(buffer))
        if result != 0:
            raise self._failure("ZelGetAnswer", self._pending_error() or result)
        # A missing ZelGetAnswer returns 0 and leaves the buffer as it was.
        if size > 1 and not buffer.value:
            code = self._pending_error()
            if code:
                raise self._failure("ZelGetAnswer", code)
        return buffer.value.decode(self.encoding, "replace").rstrip("\r\n")

    def _wait_for_answer(self, timeout: Optional[float], call: str) -> None:
        deadline: Optional[float] = None
        pause = _FIRST_PAUSE
        while not self._answer_ready():
            # The clock is read only once there is something to wait for.
            now = time.monotonic()
            if deadline is None:
                deadline = now + timeout if timeout is not None else math.inf
            elif now >= deadline:
                # A missing ZelGetAnswerSize, too, reports no answer.
                code = self._pending_error()
                if code:
                    raise self._failure("ZelGetAnswerSize", code)
                raise AnswerTimeout(call, None, f"no answer within {timeout} s; an answer that comes later is "
                                                  f"set aside by the next query, logged as a late answer "
                                                  f"(logger \"zelbridge\"), or taken by read()")
            time.sleep(pause)
            pause = min(pause * 2, _LONGEST_PAUSE)

    def _pending_error(self) -> int:
        """GetError, asked only once a result reports a failure, and never
        with error checking off."""
        return self._get_error() if self._error_check else 0

    def _check(self, operation: str, result: int, command: Optional[bytes] = None) -> None:
        """Raises the failure a result other than 0 reports, with the code
        GetError gives for it, else the result itself."""
        if result != 0:
            raise self._failure(operation, self._pending_error() or result, command)

    def _failure(self, operation: str, code: int, command: Optional[bytes] = None) -> ZelbridgeError:
        call = operation if command is None else f"{operation}({_shown(command).decode(self.encoding, 'replace')!r})"
        if code == FUNCTION_NOT_AVAILABLE:
            return FunctionNotAvailable(call, code, self._function_missing(operation))
        return ZelbridgeError(call, code, self._error_text(code))

    def _error_text(self, code: int) -> str:
        size = _ERROR_TEXT_SIZE
        while True:
            buffer = ctypes.create_string_buffer(size)
            # A driver without TranslateError returns 0 with the buffer
            # empty, and leaves FUNCTION_NOT_AVAILABLE pending, which must
            # not be blamed on the next call.
            if self._translate(code, buffer, size) == 0 and not buffer.value:
                self._pending_error()
            text = buffer.value
            if len(text) < size - 1 or size >= _LONGEST_ERROR_TEXT:
                return text.decode(self.encoding, "replace")
            size *= 4

    def _close_connection(self) -> None:
        if self._connected:
            self._connected = False
            self._close()

    def _connected_as(self: Self, result: int, operation: str) -> Self:
        """A connect's result is 0 or more on success, negative on failure."""
        # A new connection checks errors, whatever the last one did.
        self._error_check = True
        if result < 0:
            raise self._failure(operation, self._pending_error() or result)
        self._connected = True
        return self


def _check_timeout(timeout: Optional[float]) -> None:
    if timeout is not None and not timeout >= 0:
        raise ValueError(f"the timeout is {timeout} s: give 0 or more seconds, or None to wait for ever")


def _shown(command: bytes) -> bytes:
    """The command as an exception names it: a long one is cut short."""
    if len(command) <= _LONGEST_SHOWN_COMMAND:
        return command
    return command[:_LONGEST_SHOWN_COMMAND - 20] + f"... ({len(command)} bytes)".encode("ascii")

