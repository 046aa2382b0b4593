"""Answers that are late, long, or asked for by several threads at once."""
import json
import logging
import os
import subprocess
import sys
import time
from concurrent.futures import ThreadPoolExecutor

import pytest
from conftest import REPOSITORY

import zelbridge
from zelbridge._answers import trim_answer
from zelbridge._controller import _FIRST_BUFFER


LATE_ANSWERS = os.path.join(REPOSITORY, "tests", "data", "late_answers.json")
# Ten queries after a slow one, with their own answers: due after 0.3 s and at once.
TEN_QUERIES = [("MEDIUM?", "medium")] + [(f"NAME? {n}", f"name {n}") for n in range(4)] + \
    [("MEDIUM?", "medium")] + [(f"NAME? {n}", f"name {n}") for n in range(4, 8)]


@pytest.fixture
def answers(simulator, answers_file):
    with zelbridge.System(simulator, "SIM_").connect_usb(answers_file) as system:
        yield system


@pytest.fixture
def late(simulator):
    with zelbridge.System(simulator, "SIM_").connect_usb(LATE_ANSWERS) as system:
        yield system


def test_every_query_gets_its_own_answer_after_a_slow_one_timed_out(late, caplog):
    with pytest.raises(zelbridge.AnswerTimeout):
        late.query("VERYSLOW?", timeout=1.0)
    with caplog.at_level(logging.WARNING, logger="zelbridge"):
        assert [late.query(query) for query, _ in TEN_QUERIES] == [answer for _, answer in TEN_QUERIES]
    assert [record.getMessage() for record in caplog.records] == ["late answer to 'VERYSLOW?': 'too late'"]


def test_an_answer_that_never_comes_puts_the_connection_out_of_step_until_clear(late, caplog):
    with pytest.raises(zelbridge.AnswerTimeout):
        late.query("SILENT?", timeout=0.05)
    time.sleep(max(zelbridge.GIVE_UP_FACTOR * 0.05, zelbridge.SHORTEST_GIVE_UP) + 0.1)
    for _ in range(2):
        with pytest.raises(zelbridge.AnswersOutOfStep) as raised:
            late.query("NAME? 1")
        assert raised.value.query == "SILENT?" and "clear()" in str(raised.value), raised.value
    # A query sent with command() is refused too, and read() cannot say whose answer it would be; a
    # command that is not a query still goes, so that a stage can always be stopped.
    with pytest.raises(zelbridge.AnswersOutOfStep):
        late.command("MEDIUM?")
    late.command("HELLO")
    with pytest.raises(zelbridge.AnswersOutOfStep):
        late.read()
    assert late.clear() == ["hello"]
    assert [late.query(f"NAME? {n}") for n in range(3)] == ["name 0", "name 1", "name 2"]


def test_the_tool_shell_refuses_queries_out_of_step_until_clear(simulator):
    # Fed line by line, with a pause past the bound, as a person types.
    tool = os.environ.get("ZELBRIDGE_TOOL", os.path.join(os.path.dirname(simulator), "zelbridge"))
    shell = subprocess.Popen([tool, "shell", "--driver", simulator, "--prefix", "SIM_", "--usb", LATE_ANSWERS,
                              "--timeout", "50"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True)
    shell.stdin.write("SILENT?\n")
    shell.stdin.flush()
    # Past the bound from the moment SILENT? timed out, however slowly the tool started.
    assert shell.stderr.readline() == "zelbridge: SILENT?: no answer within 50 ms; it is printed as a late answer if " \
                                      "it comes\n"
    time.sleep(1.1)
    shell.stdin.write("NAME? 1\nHELLO\n:clear\nNAME? 2\n")
    out, err = shell.communicate(timeout=30)
    assert shell.returncode == 1
    assert out == "name 2\n"
    assert err.splitlines() == [
        "zelbridge: NAME? 1: not sent: no answer to SILENT? came within 1000 ms (10 times its timeout of 50 ms, "
        "1000 ms at least), so the answers that follow cannot be told apart; type :clear in zelbridge shell to drop "
        "the answers owed (a new zelbridge send starts in step)",
        "zelbridge: dropped by :clear: hello",
        "zelbridge: no answer is owed now"]


def test_the_family_answer_echo_is_in_the_trace_file_when_the_process_dies_right_after(tmp_path):
    trace = tmp_path / "trace.txt"
    script = ("import os, zelbridge\n"
              "print(zelbridge.Family('M329').connect_rs232(1, 115200).query('*IDN?'), flush=True)\n"
              "os._exit(0)\n")
    package = os.path.dirname(os.path.dirname(zelbridge.__file__))
    environment = dict(os.environ, ZELBRIDGE_TRACE=f"file:{trace}", PYTHONPATH=package)
    subprocess.run([sys.executable, "-c", script], env=environment, check=True)
    assert 'M329_ZelGetAnswer(0, ,256) => "QX Motion,ST-200,SIM-0001,2.1.0\\n' in trace.read_text()


def test_a_delayed_answer_is_waited_for_and_a_timeout_leaves_it_to_read(answers):
    assert answers.query("SLOW?") == "done"
    with pytest.raises(zelbridge.AnswerTimeout):
        answers.query("SLOW?", timeout=0.01)
    assert answers.read() == "done"


def test_a_late_answer_is_logged_and_never_returned_for_the_next_query(answers, caplog):
    with pytest.raises(zelbridge.AnswerTimeout) as raised:
        answers.query("SLOW?", timeout=0.01)
    assert "query('SLOW?')" in str(raised.value) and "set aside" in str(raised.value)
    time.sleep(0.3)
    with caplog.at_level(logging.WARNING, logger="zelbridge"):
        assert answers.query("SHORT?") == "ok"
        assert answers.query("ECHO 5") == "5"
    assert [record.getMessage() for record in caplog.records] == ["late answer to 'SLOW?': 'done'"]


def test_the_package_asks_get_error_only_for_a_failure_and_never_with_error_checking_off(simulator, answers_file,
                                                                                         tmp_path):
    # Every GetError that reaches the driver is in the recording.
    script = ("import sys, zelbridge\n"
              "system = zelbridge.System(sys.argv[1], 'SIM_').connect_usb(sys.argv[2])\n"
              "for _ in range(3):\n"
              "    system.query('SHORT?')\n"
              "try:\n"
              "    system.command('FLY')\n"
              "except zelbridge.ZelbridgeError:\n"
              "    pass\n"
              "system.set_error_check(False)\n"
              "system.command('FLY')\n"
              "system.query('SHORT?')\n"
              "system.close()\n")
    recording = tmp_path / "calls.jsonl"
    package = os.path.dirname(os.path.dirname(zelbridge.__file__))
    environment = dict(os.environ, ZELBRIDGE_RECORD=str(recording), PYTHONPATH=package)
    subprocess.run([sys.executable, "-c", script, simulator, answers_file], env=environment, check=True)
    calls = [json.loads(line) for line in recording.read_text().splitlines()]
    errors = [(index, call["result"]) for index, call in enumerate(calls) if call.get("entry") == "GetError"]
    first_fly = next(index for index, call in enumerate(calls) if call.get("args") == ["FLY"])
    # Once, for the command that failed with error checking on.
    assert errors == [(first_fly + 1, -301)], errors


def test_the_package_and_the_tool_agree_on_what_is_a_query_and_how_an_answer_is_returned():
    with open(os.path.join(REPOSITORY, "tests", "data", "query_cases.json")) as file:
        table = json.load(file)
    for case in table["cases"]:
        assert (case["command"], zelbridge.is_query(case["command"])) == (case["command"], case["query"])
        assert zelbridge.is_query(case["command"].encode("utf-8")) == case["query"], case["command"]
    assert [trim_answer(case["answer"]) for case in table["answers"]] == [case["returned"] for case in table["answers"]]


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
