"""Objects shared between Python threads, and Python code running while a call holds a borrow.

A call holds its borrows while it converts its arguments, and converting may run Python code (an
argument's __float__ or __index__). That code can touch the object being called, on the same thread
or, after a thread switch, on another one; it must meet the borrow error, never a torn object.
"""

import os
import subprocess
import sys
import textwrap

import pytest

from lumeric_py import AngleRadians, Quat, Vec3d, VecList

BORROW_ERRORS = ("Already borrowed", "Already mutably borrowed")


class Callback:
    """A number whose conversion first runs `action`."""

    def __init__(self, action, value=1):
        self.action, self.value = action, value

    def __float__(self):
        self.action()
        return float(self.value)

    def __index__(self):
        self.action()
        return int(self.value)


def vectors(lst):
    return lst.to_array()


@pytest.mark.parametrize(
    "call",
    [
        lambda lst, v: lst.collapse(Callback(lambda: lst.append(v))),
        lambda lst, v: lst.minimum_distance_to(v, Callback(lambda: lst.extend(VecList.empty()))),
        lambda lst, v: lst.minimum_distance_to(v, Callback(lambda: lst.rotate(Quat(1, 0, 0, 0)))),
    ],
)
def test_writing_to_a_list_while_a_call_reads_it_is_a_borrow_error(call):
    v = Vec3d(1, 2, 3)
    lst = VecList([v, Vec3d(4, 5, 6)])
    before = vectors(lst)
    with pytest.raises(RuntimeError, match="^Already borrowed$"):
        call(lst, v)
    assert vectors(lst) == before
    lst.append(v)  # the borrows are all released
    assert len(lst) == 3


def test_writing_to_a_vector_while_a_call_reads_it_is_a_borrow_error():
    v = Vec3d(1, 2, 3)

    def write():
        v.x = 9

    with pytest.raises(RuntimeError, match="^Already borrowed$"):
        v[Callback(write)]
    # Operators answer NotImplemented for an operand that fails to convert; the host's TypeError follows.
    with pytest.raises(TypeError):
        v * Callback(write)
    angle = AngleRadians(1)
    with pytest.raises(TypeError):
        angle / Callback(lambda: setattr(angle, "angle", 2))
    assert v.to_array() == [1.0, 2.0, 3.0] and angle.angle == 1.0


def test_setters_convert_before_they_borrow():
    v, q = Vec3d(1, 2, 3), Quat(1, 2, 3, 4)
    v.x = Callback(lambda: setattr(v, "y", 7), 5)
    q.w = Callback(lambda: setattr(q, "w", 8), 6)
    assert v.to_array() == [5.0, 7.0, 3.0] and q.w == 6.0


def test_reading_while_a_call_reads_is_fine():
    v = Vec3d(1, 2, 3)
    lst = VecList([v] * 3)
    seen = []
    assert lst.collapse(Callback(lambda: seen.append((lst.magnitude(), v.dot(v), list(lst))), 2)).to_array() == [
        [1.0, 2.0, 0.0]
    ] * 3
    assert seen == [([v.magnitude()] * 3, 14.0, [v] * 3)]


def test_changing_a_list_while_iterating_it():
    v = Vec3d(1, 2, 3)
    lst = VecList([v] * 3)
    for item in lst:  # the iterator works on its own copy
        lst.append(item * 2)
    assert vectors(lst) == [[1.0, 2.0, 3.0]] * 3 + [[2.0, 4.0, 6.0]] * 3


# -- Threads, in child processes sized by RAYON_NUM_THREADS --

STORM = """
import random, sys, threading, time
from lumeric_py import Quat, Vec3d, VecList

sys.setswitchinterval(1e-6)
THREADS, ROUNDS = 6, 300
P = Vec3d(1, 2, 3)
BIG = 70_000  # above twice the largest minimum piece: batches over it are cut up for the pool
shared_vector, shared_quat = Vec3d(1, 2, 3), Quat(1, 0, 0, 0)
big, small = VecList([P] * BIG), VecList([P] * 5)
grown = [0] * THREADS  # elements each thread added to `big`
borrow_errors = [0] * THREADS
failures = []

class Yielding:
    # A number whose conversion lets other threads run while the call holds its borrows.
    def __init__(self, value):
        self.value = value
    def __float__(self):
        time.sleep(0)
        return float(self.value)
    def __index__(self):
        time.sleep(0)
        return self.value

def check(condition, what):
    if not condition:
        failures.append(what)

def run(me):
    rng = random.Random(me)
    for _ in range(ROUNDS):
        step = rng.randrange(12)
        try:
            if step == 0:
                shared_vector.x = Yielding(1)
            elif step == 1:
                check(shared_vector[Yielding(2)] == 3.0, "vector item")
            elif step == 2:
                check(shared_vector.normalize() == P.normalize() and shared_vector.dot(P) == 14.0, "vector maths")
            elif step == 3:
                shared_quat.w = Yielding(1)
                check(shared_quat.rotate(P) == P, "quaternion")
            elif step == 4:
                big.append(P)
                grown[me] += 1
            elif step == 5:
                big.extend(small)
                grown[me] += 5
            elif step == 6:
                big.rotate(shared_quat)  # the identity: every element stays (1, 2, 3)
            elif step == 7:
                values = big.dot(P)
                check(len(values) >= BIG and set(values) == {14.0}, "dot")
            elif step == 8:
                check(big.minimum_distance_to(P, Yielding(1000)) == (0, 0.0), "nearest")
            elif step == 9:
                scaled = big * Yielding(2)
                check(len(scaled) >= BIG and scaled[len(scaled) - 1] == P * 2, "scale")
            elif step == 10:
                check(big.collapse(Yielding(rng.randrange(3)))[BIG - 1] != P, "collapse")
            else:
                check(list(small) == [P] * 5 and next(iter(big)) == P, "iteration")
        except RuntimeError as error:
            check(str(error) in ("Already borrowed", "Already mutably borrowed"), repr(error))
            borrow_errors[me] += 1

threads = [threading.Thread(target=run, args=(k,)) for k in range(THREADS)]
for t in threads:
    t.start()
for t in threads:
    t.join()
check(len(big) == BIG + sum(grown), "length")
check(big.to_array() == [[1.0, 2.0, 3.0]] * len(big), "contents")
check(small.to_array() == [[1.0, 2.0, 3.0]] * 5 and shared_vector == P, "small objects")
print(failures[:5], sum(borrow_errors))
"""


@pytest.mark.no_leak_check  # a child process
@pytest.mark.parametrize("workers", ["1", "2", "8"])
def test_threads_sharing_objects(workers):
    env = dict(os.environ, RAYON_NUM_THREADS=workers)
    proc = subprocess.run([sys.executable, "-c", STORM], env=env, capture_output=True, text=True, timeout=300)
    assert proc.returncode == 0, proc.stderr
    failures, borrow_errors = proc.stdout.rsplit("]", 1)
    assert failures == "[", failures
    assert int(borrow_errors) > 0  # the threads did meet each other inside calls


BATCHES = """
import sys, threading
from lumeric_py import Vec3d, VecList

sys.setswitchinterval(1e-6)
# Long enough for every kind of batch to be cut into pieces for the workers.
lists = [VecList([Vec3d(k, k + 1, k + 2)] * (70_000 + 1000 * k)) for k in range(8)]

def batches(lst):
    return lst.dot(Vec3d(1, 1, 1)), repr(lst * 3), lst.normalize().magnitude(), lst.minimum_distance_to(Vec3d(0, 0, 0), 7)

expected = [batches(lst) for lst in lists]
wrong = []

def run(k):
    for _ in range(10):
        got = batches(lists[k])
        if got != expected[k]:
            wrong.append(k)

threads = [threading.Thread(target=run, args=(k,)) for k in range(8)]
for t in threads:
    t.start()
for t in threads:
    t.join()
print(wrong)
"""


@pytest.mark.no_leak_check  # a child process
@pytest.mark.parametrize("workers", ["1", "2", "8"])
def test_threads_submitting_batches_get_their_own_results(workers):
    env = dict(os.environ, RAYON_NUM_THREADS=workers)
    proc = subprocess.run([sys.executable, "-c", BATCHES], env=env, capture_output=True, text=True, timeout=300)
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout.split() == ["[]"]
