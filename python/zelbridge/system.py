"""The generic API: a driver library named at run time, driven by its index."""
from __future__ import annotations

import functools
import os
from typing import Any, Union

from ._bridge import Bridge, PathLike, explain_load_failure, last_os_error, load
from ._controller import Controller, Text
from ._operations import CONNECT_CALLS
from .errors import DriverNotLoaded


class System(Controller):
    """A controller driven through a driver library of its own, whose
    functions are named by `prefix` and the operation ("SIM_ConnectUSB").

    `library` is the driver library: a bare name is looked for in the
    install folder (the registry value, or ZELBRIDGE_PATH on Linux), a name
    with a path is loaded as it is. `bridge` is the Zelbridge library to go
    through, or a :class:`~zelbridge.Bridge` already loaded (see
    :func:`zelbridge.load`). Raises DriverNotLoaded when the driver library
    does not load::

        with System("Simulator.dll", "SIM_").connect_usb("stage.json") as stage:
            stage.command("MOVE X 12.5")
            print(stage.query("POS? X"))
    """

    def __init__(self, library: PathLike, prefix: str,
                 bridge: Union[Bridge, PathLike, None] = None) -> None:
        super().__init__(bridge if isinstance(bridge, Bridge) else load(bridge))
        self.library = os.fspath(library)
        self.prefix = prefix
        self.index = self.bridge.define_system(self.library.encode(self.encoding), prefix.encode(self.encoding))
        if self.index < 0:
            raise self._not_loaded()
        self._bind_connection(self._on_system)
        self._translate_error = self._on_system("TranslateError")

    def connect_tcpip(self, host: str, port: int) -> "System":
        """Connects over TCP/IP to `host` (a name or an address) at `port`."""
        with self._lock:
            return self._connect("ConnectTCPIP", host.encode(self.encoding), port)

    def connect_usb(self, description: Union[Text, PathLike]) -> "System":
        """Connects to the USB device `description` names (for the simulator,
        the path of its description file)."""
        with self._lock:
            text = os.fspath(description)
            return self._connect("ConnectUSB", text.encode(self.encoding) if isinstance(text, str) else text)

    def connect_pci(self, board: int) -> "System":
        """Connects to a PCI board (Connect: the driver's ConnectPciBoard,
        or its Connect where it has none)."""
        with self._lock:
            return self._connect("Connect", board)

    def _connect(self, operation: str, *arguments: Any) -> "System":
        connect = self.bridge.generic(operation)
        self._close_connection()
        result = connect(self.index, *arguments)
        # ConnectUSB gives the driver's own result; the others the index or -1.
        return self._connected_as(result, operation)

    def _on_system(self, operation: str) -> Any:
        return functools.partial(self.bridge.generic(operation), self.index)

    def _translate(self, code: int, buffer: Any, size: int) -> int:
        return self._translate_error(code, buffer, size)

    def _function_missing(self, operation: str) -> str:
        functions = " or ".join(self.prefix + name for name in CONNECT_CALLS) if operation == CONNECT_CALLS[-1] \
            else self.prefix + operation
        return (f"function not available: {self.library} does not export {functions}; is the prefix right? "
                f"`zelbridge check --driver {self.library} --prefix {self.prefix}` lists what it exports")

    def _not_loaded(self) -> DriverNotLoaded:
        os_error = last_os_error()
        text = (f"cannot load the driver library {self.library} (error {os_error}): "
                f"{explain_load_failure(self.library, os_error)}; `zelbridge check --driver {self.library} "
                f"--prefix {self.prefix}` looks for it as the loader does and names what is wrong")
        return DriverNotLoaded("DefineSystem", -1, text, os_error)

    def __repr__(self) -> str:
        return f"<zelbridge.System {self.index}: {self.library!r}, prefix {self.prefix!r}>"

