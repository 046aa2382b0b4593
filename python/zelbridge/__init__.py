"""Drive motion and instrument controllers through Zelbridge from Python.

Zelbridge is loaded from the library given to :func:`load` (or to System and
Family as `bridge`), else from $ZELBRIDGE_LIBRARY, else from beside this
package, else through the system's own search. Every failure a call reports
is raised: :class:`ZelbridgeError` with the driver's code and text.
:func:`connect` drives a Zelbridge that `zelbridge serve` serves, in another
process (a 32-bit one) or on another machine, with the same API.
"""
from ._bridge import LIBRARY_FILE, LIBRARY_VARIABLE, Bridge, load
from ._controller import DEFAULT_TIMEOUT, Controller, is_query
from .errors import (FUNCTION_NOT_AVAILABLE, AnswerTimeout, DriverNotLoaded, FunctionNotAvailable, LibraryLoadError,
                     ZelbridgeError)
from .family import FAMILIES, Family
from .remote import connect
from .system import System

__version__ = "1.0.0"

__all__ = [
    "AnswerTimeout", "Bridge", "Controller", "DEFAULT_TIMEOUT", "DriverNotLoaded", "FAMILIES", "FUNCTION_NOT_AVAILABLE",
    "Family", "FunctionNotAvailable", "LIBRARY_FILE", "LIBRARY_VARIABLE", "LibraryLoadError", "System",
    "ZelbridgeError", "connect", "is_query", "load",
]
