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
REFUSED_EARLY = lambda result: result[0] == "MemoryError" and result[1] < 64 << 20  # noqa: E731


@pytest.mark.parametrize("check, holds", [
    *[(check, lambda late: late < 0.2) for check in ("query", "query_radius", "normals")],
    ("rotate", lambda every_element_turned_once: every_element_turned_once is True),
    pytest.param("query memory", REFUSED_EARLY, marks=pytest.mark.limits_address_space),
    pytest.param("query_radius memory", REFUSED_EARLY, marks=pytest.mark.limits_address_space),
])
def test_batches_stop_early(check, holds):
    proc = subprocess.run([sys.executable, CHILD, check], capture_output=True, text=True, timeout=300)
    assert proc.returncode == 0, proc.stderr[-2000:]
    result = json.loads(proc.stdout)
    assert result is not None and holds(result), result
