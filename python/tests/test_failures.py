"""Each way of failing raises its documented exception, with a text that says why."""
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


# (case, action, exception, its code, a fragment of its text)
CASES = [
    ("missing Zelbridge", lambda f: zelbridge.load(MISSING), zelbridge.LibraryLoadError, None, "not found"),
    ("32-bit Zelbridge", lambda f: zelbridge.load(f.lib32), zelbridge.LibraryLoadError, None,
     "32-bit library and this Python is 64-bit"),
    ("missing driver", lambda f: zelbridge.System(MISSING, "SIM_"), zelbridge.DriverNotLoaded, -1, "not found"),
    ("32-bit driver", lambda f: zelbridge.System(f.lib32, "SIM_"), zelbridge.DriverNotLoaded, -1, "32-bit library"),
    ("wrong prefix", lambda f: zelbridge.System(f.simulator, "SIMX_").connect_usb(f.answers),
     zelbridge.FunctionNotAvailable, -1034, "does not export SIMX_ConnectUSB; is the prefix right?"),
    ("call the family lacks", lambda f: zelbridge.Family("M329").connect_gpib(0, 4), NotImplementedError, None,
     "connects with ConnectRS232"),
    ("no such family", lambda f: zelbridge.Family("M330"), ValueError, None, "M317, M317_VB"),
    ("unknown command", lambda f: zelbridge.System(f.simulator, "SIM_").connect_usb(f.answers).command("FLY"),
     zelbridge.ZelbridgeError, -301, "unknown command"),
]


@pytest.mark.parametrize("case, action, exception, code, text", CASES, ids=[case[0] for case in CASES])
def test_a_failure_raises_its_exception(case, action, exception, code, text, simulator, answers_file,
                                        thirty_two_bit_library):
    fixtures = type("Fixtures", (), {"simulator": simulator, "answers": answers_file, "lib32": thirty_two_bit_library})
    with pytest.raises(exception) as raised:
        action(fixtures)
    assert getattr(raised.value, "code", None) == code
    assert text in str(raised.value)


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
