# Batches that must stop early, each in a child process (batch_child.py): Ctrl-C during a batch that
# makes a new result raises KeyboardInterrupt within 0.2 s, while a batch changing a list in place
# runs to the end first; and a result too large for memory is refused before any of it is taken.

import json
import os
import subprocess
import sys

import pytest

pytestmark = pytest.mark.no_leak_check  # child processes

CHILD = os.path.join(os.path.dirname(os.path.abspath(__file__)), "batch_child.py")


def child(check):
    proc = subprocess.run([sys.executable, CHILD, check], capture_output=True, text=True, timeout=300)
    assert proc.returncode == 0, proc.stderr[-2000:]
    return json.loads(proc.stdout)


@pytest.mark.parametrize("batch", ["query", "query_radius", "normals"])
def test_ctrl_c_stops_a_batch_within_a_fifth_of_a_second(batch):
    late = child(batch)
    assert late is not None and late < 0.2, late


def test_ctrl_c_lets_an_in_place_batch_finish():
    raised, every_element_turned_once = child("rotate")
    assert raised and every_element_turned_once


@pytest.mark.limits_address_space
@pytest.mark.parametrize("batch", ["query memory", "query_radius memory"])
def test_a_result_too_large_is_refused_before_it_is_allocated(batch):
    raised, growth = child(batch)
    assert raised == "MemoryError" and growth < 64 << 20, growth
