"""Each way of failing raises its documented exception, with a text that says why."""
import errno
import os
import subprocess
import sys

import pytest

import zelbridge

MISSING = "/nonexistent/libNothing.so"


@pytest.fixture
def thirty_two_bit_library(tmp_path):
    path = tmp_path / "lib32.so"
    path.write_bytes(b"\x7fELF\x01\x01\x01" + bytes(57))
    return str(path)


def answers(f):
    return zelbridge.System(f.simulator, "SIM_").connect_usb(f.answers)


# (case, action, exception, its code (errno for an OSError), a fragment of its text)
CASES = [
    ("missing Zelbridge", lambda f: zelbridge.load(MISSING), zelbridge.LibraryLoadError, errno.ENOENT, "not found"),
    ("32-bit Zelbridge", lambda f: zelbridge.load(f.lib32), zelbridge.LibraryLoadError, None,
     "32-bit library and this Python is 64-bit"),
    ("missing driver", lambda f: zelbridge.System(MISSING, "SIM_"), zelbridge.DriverNotLoaded, -1, "not found"),
    ("32-bit driver", lambda f: zelbridge.System(f.lib32, "SIM_"), zelbridge.DriverNotLoaded, -1, "32-bit library"),
    ("wrong prefix", lambda f: zelbridge.System(f.simulator, "SIMX_").connect_usb(f.answers),
     zelbridge.FunctionNotAvailable, -1034, "does not export SIMX_ConnectUSB; is the prefix right?"),
    ("call the family lacks", lambda f: zelbridge.Family("M329").connect_gpib(0, 4), NotImplementedError, None,
     "connects with ConnectRS232"),
    ("no such family", lambda f: zelbridge.Family("M330"), ValueError, None, "M317, M317_VB"),
    ("USB connect no family has", lambda f: zelbridge.Family("M329").connect_usb("stage"), NotImplementedError, None,
     "the M329 family has no ConnectUSB; it connects with ConnectRS232"),
    ("a driver for Zelbridge", lambda f: zelbridge.load(f.simulator), zelbridge.LibraryLoadError, None,
     "does not export DefineSystem: it is not a Zelbridge library"),
    ("command refused", lambda f: answers(f).command("FLY"), zelbridge.ZelbridgeError, -301,
     "ZelCommandset('FLY'): error -301: unknown command"),
    ("bytes refused", lambda f: answers(f).command(b"\xff\xfe"), zelbridge.ZelbridgeError, -301,
     "ZelCommandset('\ufffd\ufffd'): error -301: unknown command"),
    ("unknown command", lambda f: answers(f).command("FLY"), zelbridge.ZelbridgeError, -301, "unknown command"),
    ("command not a text", lambda f: answers(f).query(12), TypeError, None, "a command is a str (or bytes), not int"),
    ("zero character", lambda f: answers(f).command("SHORT?\0 MOVE X 80"), ValueError, None, "zero character"),
    ("negative timeout", lambda f: answers(f).query("SHORT?", timeout=-1), ValueError, None, "0 or more seconds"),
    ("long command", lambda f: answers(f).command("FLY " + "9" * 100000), zelbridge.ZelbridgeError, -310,
     "FLY " + "9" * 56 + "... (100004 bytes)"),
]


@pytest.mark.parametrize("case, action, exception, code, text", CASES, ids=[case[0] for case in CASES])
def test_a_failure_raises_its_exception(case, action, exception, code, text, simulator, answers_file,
                                        thirty_two_bit_library):
    fixtures = type("Fixtures", (), {"simulator": simulator, "answers": answers_file, "lib32": thirty_two_bit_library})
    with pytest.raises(exception) as raised:
        action(fixtures)
    assert getattr(raised.value, "code", getattr(raised.value, "errno", None)) == code
    assert text in str(raised.value)
    assert len(str(raised.value)) < 1000


def test_a_family_whose_library_is_missing_is_not_available_and_raises_function_not_available(tmp_path):
    # Zelbridge reads the install path once a process: this one gets an empty folder.
    script = ("import zelbridge\n"
              "family = zelbridge.Family('M329')\n"
              "print(family.available)\n"
              "try:\n"
              "    family.connect_rs232(1, 9600)\n"
              "except zelbridge.FunctionNotAvailable as error:\n"
              "    print(error.code, error.text)\n")
    package = os.path.dirname(os.path.dirname(zelbridge.__file__))
    environment = dict(os.environ, ZELBRIDGE_PATH=str(tmp_path), PYTHONPATH=package)
    lines = subprocess.run([sys.executable, "-c", script], env=environment, capture_output=True, text=True,
                           check=True).stdout.splitlines()
    assert lines[0] == "False"
    assert lines[1].startswith("-1034 the M329 family library M329_ZEL_DLL.DLL cannot be used")
    assert "`zelbridge check --family M329`" in lines[1]


def test_a_family_connection_has_no_identifier_once_a_reconnect_fails(monkeypatch):
    family = zelbridge.Family("M329")
    assert family.connection_id is None
    family.connect_rs232(1, 115200)
    assert family.connection_id is not None
    # The simulator reads the file named by ZELBRIDGE_SIM at each connect.
    monkeypatch.setenv("ZELBRIDGE_SIM", MISSING)
    with pytest.raises(zelbridge.ZelbridgeError):
        family.connect_rs232(1, 115200)
    assert family.connection_id is None
