"""Where the tests find the built libraries: $ZELBRIDGE_LIBRARY, which the
test command sets, or else the host build of this repository."""
import os

import pytest

TESTS = os.path.dirname(os.path.abspath(__file__))
REPOSITORY = os.path.dirname(os.path.dirname(TESTS))
os.environ.setdefault("ZELBRIDGE_LIBRARY", os.path.join(REPOSITORY, "build", "host", "bin", "libZelbridge.so"))
LIBRARIES = os.path.dirname(os.environ["ZELBRIDGE_LIBRARY"])
EXAMPLE_STAGE = os.path.join(REPOSITORY, "drivers", "simulator", "examples", "two_axis_stage.json")
# Zelbridge reads the install path once, at the first family call.
os.environ.setdefault("ZELBRIDGE_PATH", os.path.join(LIBRARIES, "simulated_families"))
# The file the family connects answer from.
os.environ["ZELBRIDGE_SIM"] = EXAMPLE_STAGE


@pytest.fixture
def simulator() -> str:
    return os.path.join(LIBRARIES, "libSimulator.so")


@pytest.fixture
def loopback() -> str:
    return os.path.join(LIBRARIES, "libLoopback.so")


@pytest.fixture
def answers_file() -> str:
    return os.path.join(TESTS, "answers.json")
