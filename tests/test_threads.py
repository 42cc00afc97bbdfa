# Python threads sharing module objects, in child processes sized by RAYON_NUM_THREADS. A call holds
# its borrows while its arguments convert, and a conversion may switch threads: other threads must
# meet the borrow error, never a torn object, while batches over the shared lists run on the pool.

import pytest

from helpers import run_child

STORM = """
import random, sys, threading, time
from lumeric_py import KDTree, Quat, Vec3d, VecList
sys.setswitchinterval(1e-6)
P, BIG = Vec3d(1, 2, 3), 70_000  # batches over BIG elements are cut up for the pool
vector, quat, big, small = Vec3d(1, 2, 3), Quat(1, 0, 0, 0), VecList([P] * BIG), VecList([P] * 5)
tree = KDTree(VecList([Vec3d(k % 7, k % 5, 0) for k in range(9000)]))  # Vec3d(1, 2, 0) at 22, 57, ...
grown, borrow_errors, failures = [], [], []

class Yielding:  # a number whose conversion lets other threads run while the call holds its borrows
    def __init__(self, value):
        self.value = value
    def __float__(self):
        return time.sleep(0) or float(self.value)
    def __index__(self):
        return time.sleep(0) or self.value

STEPS = [
    lambda: setattr(vector, "x", Yielding(1)), lambda: vector[Yielding(2)] == 3.0,
    lambda: vector.normalize() == P.normalize() and vector.dot(P) == 14.0,
    lambda: setattr(quat, "w", Yielding(1)) or quat.rotate(P) == P,
    lambda: big.append(P) or grown.append(1), lambda: big.extend(small) or grown.append(5),
    lambda: big.rotate(quat),  # the identity: every element stays (1, 2, 3)
    lambda: set(big.dot(P)) == {14.0}, lambda: big.minimum_distance_to(P, Yielding(1000)) == (0, 0.0),
    lambda: (big * Yielding(2))[BIG - 1] == P * 2, lambda: big.collapse(Yielding(1))[BIG - 1] != P,
    lambda: list(small) == [P] * 5 and next(iter(big)) == P,
    lambda: tree.query(small, Yielding(2))[1].tolist() == [[22, 57]] * 5 and tree.query(P) == (3.0, 22),
    lambda: tree.query_radius(small, Yielding(3))[1].tolist()[-1] == 5 * len(tree.query_radius(P, 3)),
]

def run(me):
    rng = random.Random(me)
    for _ in range(300):
        step = rng.randrange(len(STEPS))
        try:
            if STEPS[step]() is False:
                failures.append(step)
        except RuntimeError as error:
            borrow_errors.append(str(error))

threads = [threading.Thread(target=run, args=(k,)) for k in range(6)]
for t in threads:
    t.start()
for t in threads:
    t.join()
assert len(big) == BIG + sum(grown) and big.to_array() == [[1.0, 2.0, 3.0]] * len(big)
assert small.to_array() == [[1.0, 2.0, 3.0]] * 5 and vector == P
print(failures, set(borrow_errors) <= {"Already borrowed", "Already mutably borrowed"}, len(borrow_errors) > 0)
"""


@pytest.mark.no_leak_check  # a child process, which the leak hunter cannot see into
@pytest.mark.parametrize("workers", ["1", "2", "8"])
def test_threads_sharing_objects(workers):
    assert run_child(STORM, RAYON_NUM_THREADS=workers) == ["[]", "True", "True"]
