"""A session on the simulator's example stage, through a system and through a family."""
import pytest
from conftest import EXAMPLE_STAGE

import zelbridge

# What the example stage answers.
IDENTITY = "QX Motion,ST-200,SIM-0001,2.1.0"
# X runs at 5 mm/s: 12.5 mm take 2.5 s of the simulator's clock.
AXIS, INSIDE, OUTSIDE = "X", 12.5, 80
LIMIT_ERROR = (7, "Position out of limits")


def position(value: float) -> str:
    return f"{value:.3f} mm"


@pytest.fixture
def clock(tmp_path, monkeypatch):
    """The simulator's clock, stopped at 0 ms until the test moves it on."""
    file = tmp_path / "clock"

    def set_ms(milliseconds: int) -> None:
        file.write_text(f"{milliseconds}\n")

    set_ms(0)
    monkeypatch.setenv("ZELBRIDGE_SIM_CLOCK", str(file))
    return set_ms


@pytest.fixture(params=["System", "Family"])
def stage(request, simulator, clock):
    if request.param == "System":
        controller = zelbridge.System(simulator, "SIM_").connect_usb(EXAMPLE_STAGE)
    else:
        controller = zelbridge.Family("M329").connect_rs232(1, 115200)
    with controller:
        assert controller.connected
        yield controller
    assert not controller.connected


def test_a_session_moves_queries_and_raises_the_limit_error_with_its_text(stage, clock):
    assert stage.query("*IDN?") == IDENTITY
    stage.command(f"MOVE {AXIS} {INSIDE}")
    assert stage.query(f"ONT? {AXIS}") == "0"
    clock(1000)
    assert stage.query(f"POS? {AXIS}") == position(5)
    clock(2500)
    assert stage.query(f"ONT? {AXIS}") == "1"
    assert stage.query(f"POS? {AXIS}") == position(INSIDE)
    with pytest.raises(zelbridge.ZelbridgeError) as raised:
        stage.command(f"MOVE {AXIS} {OUTSIDE}")
    assert (raised.value.code, raised.value.text) == LIMIT_ERROR
    assert f"MOVE {AXIS} {OUTSIDE}" in str(raised.value)
    assert stage.error() == 0, "the error is reported once"
    assert stage.query(f"POS? {AXIS}") == position(INSIDE)


@pytest.mark.parametrize("connect, arguments, link", [
    ("connect_rs232", (3, 19200), "rs232 port 3, 19200 baud"),
    ("connect_tcpip", ("stage.lab", 5000), "tcp stage.lab port 5000"),
    ("connect_gpib", (1, 4), "gpib board 1, device 4"),
    ("connect_usb", ("LOOPBACK",), "usb LOOPBACK"),
    ("connect_pci", (2,), "pci board 2"),
    ("connect_dialog", (), "setup dialog, rs232 port 1, 9600 baud"),
])
def test_each_connect_reaches_the_driver_with_its_arguments(connect, arguments, link, loopback):
    with getattr(zelbridge.System(loopback, "LOOP_"), connect)(*arguments) as system:
        assert system.query("LINK?") == link
