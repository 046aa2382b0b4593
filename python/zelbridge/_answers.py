"""Which query an answer belongs to: the package's copy of the tool's rule
(tools/zelbridge/cli/answer_ledger.h), both held to tests/data/query_cases.json."""
from __future__ import annotations

import math
from collections import deque
from typing import Deque, Optional, Union

ANSWER_BOUND = 16 * 1024 * 1024
"""Bytes of an answer returned whole; a longer one is read in full and returned
cut to this, with a warning. The tool and the server keep the same bound."""

GIVE_UP_FACTOR = 10.0
SHORTEST_GIVE_UP = 1.0
"""An answer owed for GIVE_UP_FACTOR times its query's timeout, and
SHORTEST_GIVE_UP seconds at least, puts the connection out of step
(AnswersOutOfStep) until clear()."""

MOST_ANSWERS_AT_ONCE = 4096
"""Answers taken in one go (those that came before a query, or clear()'s):
a driver that always has one ready must not hold the caller for ever."""

# What controllers take for blanks between words: ASCII only, as they read
# bytes; a command ends at its first zero character, as the driver sees it.
_BLANKS = " \t\r\n\v\f"


def is_query(command: Union[str, bytes, bytearray]) -> bool:
    """Whether `command` asks for an answer: its first word ends in "?"
    ("*IDN?", "POS? X"). The zelbridge tool keeps the same rule."""
    if isinstance(command, (bytes, bytearray)):
        command = bytes(command).decode("latin-1")
    command = command.split("\0", 1)[0].lstrip(_BLANKS)
    end = next((position for position, character in enumerate(command) if character in _BLANKS), len(command))
    return end > 0 and command[end - 1] == "?"


def trim_answer(answer: str) -> str:
    """An answer as returned: without the line ends controllers end it with."""
    return answer.rstrip("\r\n")


class Owed:
    """A query whose answer has not come yet."""

    __slots__ = ("query", "sent", "timeout", "late")

    def __init__(self, query: str, sent: float, timeout: Optional[float]) -> None:
        self.query = query
        self.sent = sent
        self.timeout = timeout
        # Its own wait ended without it: its answer, when it comes, is late.
        self.late = False

    def give_up_at(self, factor: float) -> float:
        return math.inf if self.timeout is None else self.sent + max(factor * self.timeout, SHORTEST_GIVE_UP)


class AnswerLedger:
    """The queries a connection owes answers to, oldest first. Controllers
    answer in the order they were asked, so an answer that comes belongs to
    the oldest query owed one, however late it is."""

    def __init__(self) -> None:
        self.owed: Deque[Owed] = deque()
        # The query whose answer never came, once the connection is out of step.
        self.missing: Optional[Owed] = None

    def owe(self, query: str, sent: float, timeout: Optional[float]) -> Owed:
        owed = Owed(query, sent, timeout)
        self.owed.append(owed)
        return owed

    def oldest(self) -> Optional[Owed]:
        return self.owed[0] if self.owed else None

    def settle(self) -> Optional[Owed]:
        """An answer has come: the query it answers, no longer owed; None
        when no query is owed one (the answer of another command)."""
        return self.owed.popleft() if self.owed else None

    def check_bound(self, now: float, factor: float) -> bool:
        """Whether the connection is out of step: the oldest answer owed is
        past its bound, so no later answer can be told from it."""
        if self.missing is None and self.owed and now >= self.owed[0].give_up_at(factor):
            self.missing = self.owed[0]
        return self.missing is not None

    def reset(self) -> None:
        """Forgets every answer owed and the out-of-step state."""
        self.owed.clear()
        self.missing = None
