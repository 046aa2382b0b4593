"""Answers that are late, long, or asked for by several threads at once."""
from concurrent.futures import ThreadPoolExecutor

import pytest

import zelbridge
from zelbridge._controller import _FIRST_BUFFER


@pytest.fixture
def answers(simulator, answers_file):
    with zelbridge.System(simulator, "SIM_").connect_usb(answers_file) as system:
        yield system


def test_a_delayed_answer_is_waited_for_and_a_timeout_leaves_it_to_read(answers):
    assert answers.query("SLOW?") == "done"
    with pytest.raises(zelbridge.AnswerTimeout):
        answers.query("SLOW?", timeout=0.01)
    assert answers.read() == "done"


def test_an_answer_longer_than_the_first_buffer_is_read_whole(answers):
    long = answers.query("LONG?")
    assert len(long) > _FIRST_BUFFER
    assert long.startswith("0123456789abc") and long.endswith("XYZ end")
    assert answers.query("SHORT?") == "ok"


def test_threads_sharing_a_system_each_get_the_answer_to_their_own_command(answers):
    def ask(number):
        return [answers.query(f"ECHO {number}") for _ in range(200)]

    with ThreadPoolExecutor(4) as pool:
        for number, replies in enumerate(pool.map(ask, range(4))):
            assert set(replies) == {str(number)}
