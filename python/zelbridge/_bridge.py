"""Loading Zelbridge into this process and handing out its typed entry points."""
from __future__ import annotations

import ctypes
import errno
import os
import struct
import sys
import threading
from typing import Any, Callable, Dict, Optional, Tuple, Union

from ._operations import FAMILY_CALLS, OPERATIONS
from .errors import LibraryLoadError

PathLike = Union[str, "os.PathLike[str]"]

ON_WINDOWS = sys.platform == "win32"
LIBRARY_FILE = "Zelbridge.dll" if ON_WINDOWS else "libZelbridge.so"
LIBRARY_VARIABLE = "ZELBRIDGE_LIBRARY"
INTERPRETER_BITS = struct.calcsize("P") * 8

# Every entry point takes the Windows standard calling convention on 32-bit
# Windows; WINFUNCTYPE is that convention there and the only one elsewhere.
_FUNCTION_TYPE = ctypes.WINFUNCTYPE if ON_WINDOWS else ctypes.CFUNCTYPE  # type: ignore[attr-defined]
_LIBRARY_TYPE = ctypes.WinDLL if ON_WINDOWS else ctypes.CDLL  # type: ignore[attr-defined]

# ZelWord: an integer or a pointer, one machine word (ptrdiff_t). A text or
# buffer passed as a word has the same size, so it is declared as a pointer.
_WORD = ctypes.c_ssize_t
_TEXT = ctypes.c_char_p
_INT = ctypes.c_int

# The types of the declarations in _operations, which are written from the
# library's own operation table and family catalog.
_TYPES: Dict[Optional[str], Any] = {
    None: None, "int": _INT, "word": _WORD, "text": _TEXT, "int_pointer": ctypes.POINTER(_INT)}


class Bridge:
    """Zelbridge loaded into this process, its entry points declared with the
    header's types. Get one with :func:`load`; systems and families share it."""

    def __init__(self, library: ctypes.CDLL, path: str) -> None:
        self.library = library
        self.path = path
        self._entries: Dict[str, Optional[Callable[..., Any]]] = {}
        self._lock = threading.Lock()
        # Both read the last-error value a failed library load leaves, so
        # ctypes must keep it before anything else can overwrite it.
        define_system = self._declare("DefineSystem", _INT, (_TEXT, _TEXT), keep_os_error=True)
        if define_system is None:
            # A driver library loads as well as Zelbridge does, and has no DefineSystem.
            raise LibraryLoadError(None, f"{path} does not export DefineSystem: it is not a Zelbridge library (a "
                                         f"driver library, perhaps); point {LIBRARY_VARIABLE} or load() at "
                                         f"{LIBRARY_FILE}, and name the driver to System()", path)
        self.define_system = define_system

    def generic(self, operation: str) -> Callable[..., Any]:
        """The generic entry point of `operation`, taking the system index first."""
        result, arguments, _ = OPERATIONS[operation]
        entry = self._entry(operation, _TYPES[result], (_INT,) + tuple(_TYPES[argument] for argument in arguments))
        if entry is None:
            raise LibraryLoadError(None, f"{self.path} does not export {operation}: it is not a Zelbridge library",
                                   self.path)
        return entry

    def family(self, prefix: str, operation: str) -> Optional[Callable[..., Any]]:
        """The family entry point `prefix` + `operation`, or None where the
        family has no such call."""
        declaration = FAMILY_CALLS.get(prefix, {}).get(operation)
        if declaration is None:
            return None
        result, arguments = declaration
        return self._entry(prefix + operation, _TYPES[result], tuple(_TYPES[argument] for argument in arguments))

    def family_available(self, prefix: str) -> Tuple[bool, int]:
        """Whether the family's library can be used, and the system's error
        code from loading it when it cannot."""
        check = self._declare(prefix + "IsDLLAvailable", _INT, (), keep_os_error=True)
        if check is None:
            raise LibraryLoadError(None, f"{self.path} does not export {prefix}IsDLLAvailable", self.path)
        available = check() == 1
        return available, 0 if available else last_os_error()

    def _entry(self, name: str, result: Any, arguments: Tuple[Any, ...]) -> Optional[Callable[..., Any]]:
        with self._lock:
            if name not in self._entries:
                self._entries[name] = self._declare(name, result, arguments)
            return self._entries[name]

    def _declare(self, name: str, result: Any, arguments: Tuple[Any, ...],
                 keep_os_error: bool = False) -> Optional[Callable[..., Any]]:
        flags = {"use_last_error": True} if ON_WINDOWS else {"use_errno": True}
        prototype = _FUNCTION_TYPE(result, *arguments, **(flags if keep_os_error else {}))
        try:
            return prototype((name, self.library))
        except AttributeError:
            return None

    def __repr__(self) -> str:
        return f"<zelbridge.Bridge {self.path!r}>"


def last_os_error() -> int:
    """The last-error value kept by the last call declared to keep it."""
    return ctypes.get_last_error() if ON_WINDOWS else ctypes.get_errno()  # type: ignore[attr-defined]


_loaded: Dict[str, Bridge] = {}
_loading = threading.Lock()


def locate(library: Optional[PathLike] = None) -> str:
    """The file to load: `library`, else $ZELBRIDGE_LIBRARY, else the library
    beside this package, else the bare name for the system's own search."""
    named = os.fspath(library) if library else os.environ.get(LIBRARY_VARIABLE)
    if named:
        # Absolute, so that it names one file whatever the current folder becomes.
        return os.path.abspath(named) if os.path.dirname(named) else named
    beside = os.path.join(os.path.dirname(os.path.abspath(__file__)), LIBRARY_FILE)
    return beside if os.path.isfile(beside) else LIBRARY_FILE


def load(library: Optional[PathLike] = None) -> Bridge:
    """Loads Zelbridge (see :func:`locate` for which file) once per file.

    Raises LibraryLoadError, which keeps the system's error and says what it
    means."""
    path = locate(library)
    with _loading:
        bridge = _loaded.get(path)
        if bridge is None:
            bridge = Bridge(_open(path), path)
            _loaded[path] = bridge
        return bridge


def _open(path: str) -> ctypes.CDLL:
    missing_runtime = _missing_sanitizer_runtime(path)
    if missing_runtime:
        raise LibraryLoadError(None, missing_runtime, path)
    try:
        return _LIBRARY_TYPE(path)
    except OSError as error:
        code = getattr(error, "winerror", None) or error.errno
        # dlopen gives only a message: a missing file is ENOENT all the same.
        if code is None and ((os.path.dirname(path) and not os.path.exists(path))
                             or "No such file" in str(error)):
            code = errno.ENOENT
        raise LibraryLoadError(code,
                               f"cannot load {path}: {error}; {explain_load_failure(path, error)}; "
                               f"`zelbridge check` tells a wrong bitness from a missing library",
                               path) from error


def library_bits(path: str) -> Optional[int]:
    """32 or 64 for a Windows DLL or an ELF library, read from its header;
    None when the file cannot be read or is neither."""
    try:
        with open(path, "rb") as file:
            header = file.read(4096)
    except OSError:
        return None
    if header[:4] == b"\x7fELF":
        return {1: 32, 2: 64}.get(header[4])
    if header[:2] == b"MZ" and len(header) >= 0x40:
        offset = struct.unpack_from("<I", header, 0x3C)[0]
        if offset + 6 <= len(header) and header[offset:offset + 4] == b"PE\0\0":
            machine = struct.unpack_from("<H", header, offset + 4)[0]
            return {0x14C: 32, 0x8664: 64, 0xAA64: 64}.get(machine)
    return None


# What the system's error codes from loading a library mean here; Windows'
# codes and, on other systems, errno.
_LOAD_ERRORS = {
    2: "the file is not found",
    126: "the library or a library it needs is not found (Windows reports both as 126)",
    127: "a library it needs lacks a function it imports",
    193: "it is not a library for this process: most often a DLL of the other bitness",
}


def explain_load_failure(path: str, error: Union[OSError, int]) -> str:
    """What the failure to load `path` means, from its header and the
    system's error (an OSError or an error code)."""
    code = error if isinstance(error, int) else (getattr(error, "winerror", None) or error.errno)
    file_bits = library_bits(path)
    if file_bits and file_bits != INTERPRETER_BITS:
        return (f"it is a {file_bits}-bit library and this Python is {INTERPRETER_BITS}-bit: use a {file_bits}-bit "
                f"Python, or the {INTERPRETER_BITS}-bit build of the library")
    if os.path.dirname(path) and not os.path.exists(path):
        return "the file is not found"
    return _LOAD_ERRORS.get(code or 0, "the system gives no more reason")


def _missing_sanitizer_runtime(path: str) -> Optional[str]:
    """A sanitized host build aborts the process when its runtime is not
    loaded first; saying so beats the abort."""
    if ON_WINDOWS or not os.path.isfile(path):
        return None
    try:
        with open(path, "rb") as file:
            needs_asan = b"libasan.so" in file.read()
        with open("/proc/self/maps", "rb") as maps:
            asan_loaded = b"libasan.so" in maps.read()
    except OSError:
        return None
    if not needs_asan or asan_loaded:
        return None
    return (f"cannot load {path}: it is built with AddressSanitizer, whose runtime must be loaded first: run Python "
            f"with LD_PRELOAD=$(g++ -print-file-name=libasan.so) ASAN_OPTIONS=detect_leaks=0, or use a build "
            f"without sanitizers")
