"""The six controller families, each bound to its own driver library."""
from __future__ import annotations

import functools
from typing import Any, Callable, Optional, Union

from ._bridge import Bridge, PathLike, explain_load_failure, load
from ._controller import Controller
from ._operations import CONNECT_CALLS, FAMILY_CALLS, OPERATIONS

FAMILIES = tuple(prefix.rstrip("_") for prefix in FAMILY_CALLS)
"""The families Zelbridge offers, by name."""


def board_connect(has: Callable[[str], bool]) -> str:
    """The call that connects a family to a board: the first of CONNECT_CALLS
    the family has."""
    return next((name for name in CONNECT_CALLS if has(name)), CONNECT_CALLS[-1])


def family_lacks(name: str, operation: str, has: Callable[[str], bool]) -> str:
    """What NotImplementedError says of a call the family `name` lacks."""
    connects = [connect for connect, (_, _, role) in OPERATIONS.items() if role == "connect" and has(connect)]
    return f"the {name} family has no {operation}; it connects with {', '.join(connects)}"


class Family(Controller):
    """A controller of one family ("M329"), through the family's library
    "<name>_ZEL_DLL.DLL" in the install folder (the registry value, or
    ZELBRIDGE_PATH on Linux).

    It has the methods of the generic System where the family has the call:
    a connect the family lacks raises NotImplementedError, and :meth:`has`
    tells beforehand. `bridge` is as for System::

        with Family("M329").connect_rs232(1, 115200) as stage:
            stage.command("MOVE X 12.5")
    """

    def __init__(self, name: str, bridge: Union[Bridge, PathLike, None] = None) -> None:
        family = name.upper().rstrip("_")
        if family not in FAMILIES:
            raise ValueError(f"no family {name!r}: the families are {', '.join(FAMILIES)}")
        super().__init__(bridge if isinstance(bridge, Bridge) else load(bridge))
        self.name = family
        self.prefix = family + "_"
        self.file = self.prefix + "ZEL_DLL.DLL"
        self._translate_error = self._entry("TranslateError")
        self._bind(-1)

    @property
    def available(self) -> bool:
        """Whether the family's library loads and has every function the
        family needs. A missing library is looked for again on each call."""
        return self.bridge.family_available(self.prefix)[0]

    @property
    def connection_id(self) -> Optional[int]:
        """The driver's identifier of the connection; None when not connected."""
        return self._id if self._connected else None

    def has(self, operation: str) -> bool:
        """Whether the family has the call `operation` ("ConnectNIgpib")."""
        return self.bridge.family(self.prefix, operation) is not None

    def connect_tcpip(self, host: str, port: int) -> "Family":
        """No family connects over TCP/IP: raises NotImplementedError naming
        the connects the family has."""
        with self._lock:
            return self._connect("ConnectTCPIP", host.encode(self.encoding), port)

    def connect_usb(self, description: str) -> "Family":
        """No family connects over USB: raises NotImplementedError naming the
        connects the family has."""
        with self._lock:
            return self._connect("ConnectUSB", description.encode(self.encoding))

    def connect_pci(self, board: int) -> "Family":
        """Connects to a board: ConnectPciBoard, or Connect where the family
        has that instead."""
        with self._lock:
            return self._connect(board_connect(self.has), board)

    def _connect(self, operation: str, *arguments: Any) -> "Family":
        connect = self._entry(operation)
        self._close_connection()
        result = connect(*arguments)
        if result >= 0:
            self._bind(result)
        return self._connected_as(result, operation)

    def _entry(self, operation: str) -> Callable[..., Any]:
        entry = self.bridge.family(self.prefix, operation)
        if entry is None:
            raise NotImplementedError(family_lacks(self.name, operation, self.has))
        return entry

    def _bind(self, connection_id: int) -> None:
        self._id = connection_id

        self._bind_connection(lambda operation: functools.partial(self._entry(operation), connection_id))

    def _translate(self, code: int, buffer: Any, size: int) -> int:
        return self._translate_error(code, buffer, size)

    def _function_missing(self, operation: str) -> str:
        available, os_error = self.bridge.family_available(self.prefix)
        if available:
            return f"function not available: {self.prefix}{operation}"
        return (f"the {self.name} family library {self.file} cannot be used (error {os_error}: "
                f"{explain_load_failure(self.file, os_error)}); `zelbridge check --family {self.name}` says why")

    def __repr__(self) -> str:
        return f"<zelbridge.Family {self.name}, connection {self._id}>"
