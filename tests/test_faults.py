# Faults from the outside: sequences lying about their length under a memory limit, a second
# interpreter. Each case runs in a child interpreter, whose address space it may limit and whose
# module state it may spoil.

import pytest

from helpers import run_child

pytestmark = pytest.mark.no_leak_check  # child processes, which the leak hunter cannot see into
LIMIT = """
import resource
from lumeric_py import Quat, Vec3d, VecList
def limit_address_space(headroom):
    with open("/proc/self/statm") as statm:
        used = int(statm.read().split()[0]) * resource.getpagesize()
    resource.setrlimit(resource.RLIMIT_AS, (used + headroom, resource.getrlimit(resource.RLIMIT_AS)[1]))
"""


@pytest.mark.limits_address_space
def test_a_sequence_lying_about_its_length_is_copied_as_it_iterates():
    out = run_child(LIMIT + """
class Lying:
    def __init__(self, length):
        self.length = length
    def __len__(self):
        if isinstance(self.length, Exception):
            raise self.length
        return self.length
    def __getitem__(self, index):
        return [Vec3d(1, 2, 3), Vec3d(1, 2, 3)][index]
VecList([Vec3d(1, 2, 3)])
limit_address_space(200 << 20)
for length in (0, 10**6 * 20, 2**62, 2**63 - 1, ValueError("no length"), OverflowError()):
    lst = VecList(Lying(length))
    print(len(lst), lst.to_array() == [[1.0, 2.0, 3.0]] * 2)
""")
    assert out == ["2", "True"] * 6


def test_second_interpreter_cannot_import_and_the_first_keeps_working():
    out = run_child("""
import _interpreters
from concurrent import interpreters
import lumeric_py
from lumeric_py import Vec3d, VecList
isolated = interpreters.create()
try:
    isolated.exec("import lumeric_py")
except interpreters.ExecutionFailed as failure:
    print(failure.excinfo.type.__name__)
isolated.close()
# An interpreter sharing the first one's lock gets as far as the module's own check.
legacy = _interpreters.create("legacy")
failure = _interpreters.exec(legacy, "import lumeric_py")
print(failure.type.__name__, "subinterpreters" in failure.msg)
_interpreters.exec(legacy, "import sys; assert 'lumeric_py' not in sys.modules")
_interpreters.destroy(legacy)
circle = lumeric_py.geometry.Circle(Vec3d(0, 0, 0), 1, Vec3d(0, 0, 1))
print(VecList([Vec3d(3, 0, 4)] * 3).magnitude(), lumeric_py.geometry.circle_point(circle, Vec3d(1, 0, 0), False))
""")
    assert out == ["ImportError", "ImportError", "True", "[5.0,", "5.0,", "5.0]", "True"]


def test_first_import_in_a_subinterpreter_keeps_the_module_there():
    out = run_child("""
import _interpreters
legacy = _interpreters.create("legacy")
print(_interpreters.exec(legacy, "import lumeric_py; print(lumeric_py.Vec3d(3, 0, 4).magnitude())"))
_interpreters.destroy(legacy)
try:
    import lumeric_py
except ImportError as error:
    print("ImportError", "subinterpreters" in str(error))
""")
    assert out == ["5.0", "None", "ImportError", "True"]
