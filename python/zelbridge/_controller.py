"""What a system and a family connection share: commands, answers, errors."""
from __future__ import annotations

import ctypes
import logging
import math
import threading
import time
from typing import Any, Callable, Dict, List, Optional, TypeVar, Union

from ._bridge import ON_WINDOWS, Bridge
from ._answers import (ANSWER_BOUND, GIVE_UP_FACTOR, MOST_ANSWERS_AT_ONCE, SHORTEST_GIVE_UP, AnswerLedger, Owed,
                       is_query, trim_answer)
from .errors import FUNCTION_NOT_AVAILABLE, AnswersOutOfStep, AnswerTimeout, FunctionNotAvailable, ZelbridgeError

DEFAULT_TIMEOUT = 5.0
"""Seconds query() and read() wait for an answer unless told otherwise."""

# The answer buffer starts at this size and grows to the largest answer
# announced; it is kept, so a steady stream of answers allocates nothing.
_FIRST_BUFFER = 256
# Polling for an answer: at once, then after pauses that double up to the
# longest, so a quick answer is seen quickly and a slow one costs little.
_FIRST_PAUSE = 0.0001
_LONGEST_PAUSE = 0.01
_ERROR_TEXT_SIZE = 512
_LONGEST_ERROR_TEXT = 1 << 16
# A command named in an exception is cut to this many characters.
_LONGEST_SHOWN_COMMAND = 80
# A buffer grown past this for one long answer is let go after it.
_KEPT_BUFFER = 1 << 20

logger = logging.getLogger("zelbridge")
"""Where answers that came after their query gave up are set aside."""

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
        self._ledger = AnswerLedger()
        self.answer_bound = ANSWER_BOUND
        """Bytes of an answer returned whole: a longer one is read in full,
        returned cut to this and logged as cut."""
        self.give_up_factor = GIVE_UP_FACTOR
        """An answer owed this many times its query's timeout puts the
        connection out of step: AnswersOutOfStep until clear()."""

    def _bind_connection(self, on_connection: Callable[[str], Callable[..., Any]]) -> None:
        """Binds the entry points that work on the connection, each as
        `on_connection` gives it for an operation's name when first called."""
        self._on_connection = on_connection
        self._bound: Dict[str, Callable[..., Any]] = {}

    def _call(self, operation: str) -> Callable[..., Any]:
        """The entry point of `operation` on the connection."""
        entry = self._bound.get(operation)
        if entry is None:
            entry = self._bound[operation] = self._on_connection(operation)
        return entry

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
        as ZelbridgeError with the driver's text. A query sent this way is
        owed its answer, which read() returns."""
        with self._lock:
            command = self._encode(text)
            query = is_query(command)
            if query:
                self._refuse_out_of_step(self._call_name("ZelCommandset", command))
            self._send(command)
            if query:
                self._ledger.owe(self._decoded(command), time.monotonic(), DEFAULT_TIMEOUT)

    def read(self, timeout: Optional[float] = DEFAULT_TIMEOUT) -> str:
        """Waits up to `timeout` seconds (None: for ever) for the next answer
        and returns it, without its trailing line end: the answer of the
        oldest query still owed one (sent with command(), or one that timed
        out), else of the last command."""
        _check_timeout(timeout)
        with self._lock:
            self._refuse_out_of_step("read")
            return self._await(self._ledger.oldest(), timeout, "read")

    def query(self, text: Text, timeout: Optional[float] = DEFAULT_TIMEOUT) -> str:
        """Sends a command and returns its own answer.

        Controllers answer in the order they were asked: answers still owed to
        earlier queries (one that timed out, or one sent with command() and
        not read) come first and are logged (logger "zelbridge", as "late
        answer to 'TEMP?': '21.5 C'"), never returned for this one. Its
        timeout runs from when those answers are in. An answer owed for
        `give_up_factor` times its timeout raises AnswersOutOfStep, here and
        for every query after, until clear()."""
        _check_timeout(timeout)
        with self._lock:
            command = self._encode(text)
            call = self._call_name("query", command)
            # Out of step, nobody can say whose the answers that come are: they wait for clear().
            self._refuse_out_of_step(call)
            self._set_aside_answers_come()
            self._refuse_out_of_step(call)
            self._send(command)
            owed = self._ledger.owe(self._decoded(command), time.monotonic(), timeout)
            return self._await(owed, timeout, call)

    def clear(self) -> List[str]:
        """Resynchronises after AnswersOutOfStep: forgets every answer owed,
        and takes and returns (oldest first) the answers that have come."""
        with self._lock:
            self._ledger.reset()
            drained = []
            while len(drained) < MOST_ANSWERS_AT_ONCE and self._answer_ready():
                drained.append(self._take_answer(None))
            return drained

    def error(self) -> int:
        """Takes the controller's pending error code (GetError): 0 when there
        is none. The package asks for it itself only when a call's result
        reports a failure, and not at all with error checking off."""
        with self._lock:
            return self._call("GetError")()

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
            self._check("SetErrorCheck", self._call("SetErrorCheck")(1 if enabled else 0))
            self._error_check = bool(enabled)

    @property
    def connected(self) -> bool:
        """Whether the driver has the connection open (IsConnected: 1 when
        open, 0 when not, and 0 too for a missing function, which only
        GetError tells apart; it is asked then, with error checking on)."""
        with self._lock:
            if self._call("IsConnected")() == 1:
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

    def _decoded(self, command: bytes) -> str:
        return command.decode(self.encoding, "replace")

    def _call_name(self, operation: str, command: bytes) -> str:
        """The call as an exception names it, the same in process and through a server."""
        return f"{operation}({self._decoded(_shown(command))!r})"

    def _send(self, command: bytes) -> None:
        # With error checking on, the result is the code of the command's
        # error (0 for none); off, the driver returns 0. A refused command is
        # owed no answer.
        result = self._call("ZelCommandset")(command)
        if result != 0:
            raise self._failure("ZelCommandset", self._pending_error() or result, command)

    def _refuse_out_of_step(self, call: str) -> None:
        missing = self._ledger.missing
        if missing is not None:
            raise AnswersOutOfStep(call, None, _out_of_step_text(missing, self.give_up_factor), missing.query)

    def _set_aside(self, owed: Owed, answer: str) -> None:
        logger.warning("%s answer to %r: %r", "late" if owed.late else "unread", owed.query, answer)

    def _set_aside_answers_come(self) -> None:
        """Logs the answers that have come for earlier queries, oldest first;
        past its bound, an answer still owed puts the connection out of step."""
        for _ in range(MOST_ANSWERS_AT_ONCE):
            if not self._answer_ready():
                break
            owed = self._ledger.oldest()
            answer = self._take_answer(owed)
            self._ledger.settle()
            if owed is None:
                logger.warning("unread answer to an earlier command: %r", answer)
            else:
                self._set_aside(owed, answer)
        self._ledger.check_bound(time.monotonic(), self.give_up_factor)

    def _await(self, owed: Optional[Owed], timeout: Optional[float], call: str) -> str:
        """Waits for the answer of `owed` (None: the next answer, owed to no
        query), handing the answers of older queries to the log. Its own
        timeout starts once it is the oldest owed."""
        deadline: Optional[float] = None
        pause = _FIRST_PAUSE
        while True:
            if self._answer_ready():
                oldest = self._ledger.oldest()
                answer = self._take_answer(oldest)
                self._ledger.settle()
                if oldest is owed or oldest is None:
                    return answer
                self._set_aside(oldest, answer)
                continue
            # The clock is read only once there is something to wait for.
            now = time.monotonic()
            own_turn = self._ledger.oldest() in (owed, None)
            if not own_turn and self._ledger.check_bound(now, self.give_up_factor):
                self._refuse_out_of_step(call)
            if own_turn:
                if deadline is None:
                    deadline = now + timeout if timeout is not None else math.inf
                elif now >= deadline:
                    # A missing ZelGetAnswerSize, too, reports no answer.
                    code = self._pending_error()
                    if code:
                        raise self._failure("ZelGetAnswerSize", code)
                    if owed is not None:
                        owed.late = True
                    raise AnswerTimeout(call, None, f"no answer within {timeout} s; an answer that comes later is "
                                                      f"set aside, logged as a late answer (logger \"zelbridge\") by the next "
                                                      f"query, or taken by read()")
            time.sleep(pause)
            pause = min(pause * 2, _LONGEST_PAUSE)

    def _answer_ready(self) -> bool:
        result = self._call("ZelGetAnswerSize")(self._size_pointer)
        if result != 0:
            raise self._failure("ZelGetAnswerSize", self._pending_error() or result)
        return self._size.value > 0

    def _take_answer(self, owed: Optional[Owed]) -> str:
        """The answer announced, read in full; one over answer_bound is cut
        to it, with a warning."""
        size = self._size.value
        # One byte more than announced, whether or not the driver counted
        # the terminating zero.
        if len(self._buffer) <= size:
            try:
                self._buffer = ctypes.create_string_buffer(size + 1)
            except MemoryError:
                raise ZelbridgeError("ZelGetAnswerSize", None,
                                     f"the driver announces an answer of {size} bytes, more than there is memory for") \
                    from None
        buffer = self._buffer
        buffer[0] = b"\0"
        result = self._call("ZelGetAnswer")(buffer, len(buffer))
        if result != 0:
            raise self._failure("ZelGetAnswer", self._pending_error() or result)
        # A missing ZelGetAnswer returns 0 and leaves the buffer as it was.
        value = buffer.value
        if size > 1 and not value:
            code = self._pending_error()
            if code:
                raise self._failure("ZelGetAnswer", code)
        if len(value) > self.answer_bound:
            logger.warning("the answer to %r is %d bytes, over the bound of %d (answer_bound): cut by %d bytes",
                           owed.query if owed else "the last command", len(value), self.answer_bound,
                           len(value) - self.answer_bound)
            value = value[:self.answer_bound]
        # A large buffer is not kept for the answers after it.
        if len(self._buffer) > _KEPT_BUFFER:
            self._buffer = ctypes.create_string_buffer(_FIRST_BUFFER)
        return trim_answer(value.decode(self.encoding, "replace"))

    def _pending_error(self) -> int:
        """GetError, asked only once a result reports a failure, and never
        with error checking off."""
        return self._call("GetError")() if self._error_check else 0

    def _check(self, operation: str, result: int, command: Optional[bytes] = None) -> None:
        """Raises the failure a result other than 0 reports, with the code
        GetError gives for it, else the result itself."""
        if result != 0:
            raise self._failure(operation, self._pending_error() or result, command)

    def _failure(self, operation: str, code: int, command: Optional[bytes] = None) -> ZelbridgeError:
        call = operation if command is None else self._call_name(operation, command)
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
            self._call("CloseConnection")()

    def _connected_as(self: Self, result: int, operation: str) -> Self:
        """A connect's result is 0 or more on success, negative on failure."""
        # A new connection checks errors, whatever the last one did.
        self._error_check = True
        if result < 0:
            raise self._failure(operation, self._pending_error() or result)
        self._connected = True
        return self


def _out_of_step_text(missing: Owed, factor: float) -> str:
    return (f"no answer to {missing.query!r} came within {factor:g} times its timeout of {missing.timeout} s (and "
            f"{SHORTEST_GIVE_UP:g} s at least), so the "
            f"answers that follow cannot be told apart: call clear() to forget the answers owed, then ask again")


def _check_timeout(timeout: Optional[float]) -> None:
    if timeout is not None and not timeout >= 0:
        raise ValueError(f"the timeout is {timeout} s: give 0 or more seconds, or None to wait for ever")


def _shown(command: bytes) -> bytes:
    """The command as an exception names it: a long one is cut short."""
    if len(command) <= _LONGEST_SHOWN_COMMAND:
        return command
    return command[:_LONGEST_SHOWN_COMMAND - 20] + f"... ({len(command)} bytes)".encode("ascii")

