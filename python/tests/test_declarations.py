"""The package's declarations against the module definition file: every
name, and the bytes of arguments a 32-bit caller pushes, as the library
exports them; and every export of a family known to its Family."""
import os
import re

import pytest
from conftest import REPOSITORY

import zelbridge
from zelbridge._operations import FAMILY_CALLS, OPERATIONS

with open(os.path.join(REPOSITORY, "src", "module", "Zelbridge.def")) as _file:
    # exported name -> argument bytes
    EXPORTS = {name: int(size) for name, size in re.findall(r"^\s+(\S+) = \w+@(\d+) @\d+", _file.read(), re.M)}


def test_every_declaration_is_an_export_with_as_many_arguments():
    declared = {("_ConnectPciBoard@8" if name == "ConnectPciBoard" else name): 4 * (1 + len(arguments))
                for name, (_, arguments, _) in OPERATIONS.items()}
    declared.update({prefix + name: 4 * len(arguments)
                     for prefix, calls in FAMILY_CALLS.items() for name, (_, arguments) in calls.items()})
    assert {name: EXPORTS.get(name) for name in declared} == declared


@pytest.mark.parametrize("prefix", sorted(FAMILY_CALLS))
def test_a_family_has_every_export_of_its_own_and_none_of_another(prefix):
    family = zelbridge.Family(prefix)
    own = {name[len(prefix):] for name in EXPORTS
           if name.startswith(prefix) and not (prefix == "M317_" and name.startswith("M317_VB_"))}
    assert own and all(family.has(name) for name in own)
    assert not any(family.has(name) for name in set(OPERATIONS) - own)
