# Running out of memory, everywhere: every entry point the interface records list (methods,
# operators, properties, constructors, copies, module functions), and pickling and buffer views of
# every class that has them, is called in a child process under an address-space limit, over a sweep
# of headroom values. Each call must end as it ends without the limit or with MemoryError; the
# receiver keeps its value unless a mutator succeeded, and no borrow is left behind. One child per
# owner (class or module), so that a crash names its owner and new classes join by their records.

import os
import subprocess
import sys

import pytest

from helpers import ENTRIES, RESULT_TUPLES

pytestmark = [pytest.mark.no_leak_check, pytest.mark.limits_address_space]  # child processes


@pytest.mark.parametrize("owner", sorted({e.owner for e in ENTRIES} - RESULT_TUPLES))  # a named tuple allocates nothing of ours
def test_running_out_of_memory_raises_memory_error_and_changes_nothing(owner):
    tests = os.path.dirname(os.path.abspath(__file__))
    # Large blocks always mapped anew, never carved from memory the heap keeps: the limit then bites.
    env = {**os.environ, "GLIBC_TUNABLES": "glibc.malloc.mmap_threshold=131072"}
    proc = subprocess.run([sys.executable, os.path.join(tests, "memory_sweep.py"), owner], capture_output=True,
                          text=True, timeout=600, env=env)
    lines = proc.stdout.splitlines()
    assert proc.returncode == 0, f"died after {lines[-1:]}: {proc.stderr[-2000:]}"
    assert not [line for line in lines if line.startswith("FAIL")], "\n".join(lines)
    entries = [line.split() for line in lines if line.startswith("ENTRY")]
    assert len(entries) >= len([e for e in ENTRIES if e.owner == owner]), lines
    # The sweep reaches both ends: memory runs out somewhere, and the largest headroom is enough for all.
    assert any("MemoryError" in e for e in entries), lines
    assert all(e[-1] != "MemoryError" for e in entries), lines
