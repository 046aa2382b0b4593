"""Drive motion and instrument controllers through Zelbridge from Python.

Zelbridge is loaded from the library given to :func:`load` (or to System and
Family as `bridge`), else from $ZELBRIDGE_LIBRARY, else from beside this
package, else through the system's own search. Every failure a call reports
is raised: :class:`ZelbridgeError` with the driver's code and text.
:func:`connect` drives a Zelbridge that `zelbridge serve` serves, in another
process (a 32-bit one) or on another machine, with the same API.
"""
from ._bridge import LIBRARY_FILE, LIBRARY_VARIABLE, Bridge, load
from ._answers import ANSWER_BOUND, GIVE_UP_FACTOR, SHORTEST_GIVE_UP, is_query
from ._controller import DEFAULT_TIMEOUT, Controller
from .errors import (FUNCTION_NOT_AVAILABLE, AnswersOutOfStep, AnswerTimeout, DriverNotLoaded, FunctionNotAvailable, LibraryLoadError,
                     ZelbridgeError)
from .family import FAMILIES, Family
from .remote import connect
from .system import System

__version__ = "1.0.0"

__all__ = [
    "ANSWER_BOUND", "AnswersOutOfStep", "AnswerTimeout", "Bridge", "Controller", "DEFAULT_TIMEOUT", "DriverNotLoaded",
    "FAMILIES", "FUNCTION_NOT_AVAILABLE", "Family", "FunctionNotAvailable", "GIVE_UP_FACTOR", "LIBRARY_FILE",
    "LIBRARY_VARIABLE", "LibraryLoadError", "SHORTEST_GIVE_UP", "System", "ZelbridgeError", "connect", "is_query", "load",
]
