"""The exceptions of the package: every failure a call reports is raised."""
from __future__ import annotations

from typing import Any, Optional, Tuple

FUNCTION_NOT_AVAILABLE = -1034
"""The code Zelbridge reports when a driver function or library is missing."""


class ZelbridgeError(Exception):
    """A call failed. `code` is the error code the driver (or Zelbridge)
    reported, None where the package itself gave up (a timeout); `text` is
    the driver's TranslateError text for it; `call` names what was asked."""

    def __init__(self, call: str, code: Optional[int], text: str) -> None:
        self.call = call
        self.code = code
        self.text = text
        # One argument, the message: TimeoutError, a base of AnswerTimeout,
        # would take several for an errno and a file name.
        if code is None:
            super().__init__(f"{call}: {text}")
        else:
            super().__init__(f"{call}: error {code}" + (f": {text}" if text else ""))

    def __reduce__(self) -> Tuple[Any, ...]:
        return (type(self), (self.call, self.code, self.text))


class FunctionNotAvailable(ZelbridgeError):
    """The driver library lacks the function the call needs, or a family's
    library cannot be used (code -1034). A wrong prefix shows as this."""


class DriverNotLoaded(ZelbridgeError):
    """DefineSystem could not load the driver library. `os_error` is the
    system's error code from loading it (126, 193, errno...)."""

    def __init__(self, call: str, code: Optional[int], text: str, os_error: int = 0) -> None:
        super().__init__(call, code, text)
        self.os_error = os_error

    def __reduce__(self) -> Tuple[Any, ...]:
        return (type(self), (self.call, self.code, self.text, self.os_error))


class AnswerTimeout(ZelbridgeError, TimeoutError):
    """No answer came within the time given to query() or read()."""


class AnswersOutOfStep(ZelbridgeError):
    """An answer owed has not come within `give_up_factor` times its query's
    timeout: the answers after it could be anyone's. `query` is the query
    whose answer never came; every query raises this until clear()."""

    def __init__(self, call: str, code: Optional[int], text: str, query: str = "") -> None:
        super().__init__(call, code, text)
        self.query = query

    def __reduce__(self) -> Tuple[Any, ...]:
        return (type(self), (self.call, self.code, self.text, self.query))


class LibraryLoadError(OSError):
    """Zelbridge itself could not be loaded. `errno` (and on Windows
    `winerror`) keep the system's error; the message says what it means:
    the library's bitness against the interpreter's, a missing dependency,
    a missing file."""

    def __init__(self, code: Optional[int], message: str, path: str) -> None:
        super().__init__(code, message, path, code)
        self.message = message

    def __str__(self) -> str:
        return self.message

    def __reduce__(self) -> Tuple[Any, ...]:
        code = getattr(self, "winerror", None) or self.errno
        return (type(self), (code, self.message, self.filename))
