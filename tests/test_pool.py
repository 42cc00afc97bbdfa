"""The worker pool as seen from Python: its size from the environment, its creation by the first
batch, identical results for any worker count, several callers at once, and no work while idle.

The pool is created once per process, so each case that depends on the environment runs in a child
interpreter."""

import os
import subprocess
import sys
import textwrap
import threading

import pytest

from lumeric_py import Vec3d, VecList

DEFAULT = object()  # the number of processors this process may run on
PREFIX = "The global thread pool has not been initialized."

CHILD_HEADER = """
import math, os, random, struct, sys
from lumeric_py import Vec3d, VecList

def threads():
    with open("/proc/self/status") as status:
        return int(next(line for line in status if line.startswith("Threads:")).split()[1])
"""


def run_child(body, num_threads=None, rs_num_cpus=None):
    env = {k: v for k, v in os.environ.items() if k not in ("RAYON_NUM_THREADS", "RAYON_RS_NUM_CPUS")}
    if num_threads is not None:
        env["RAYON_NUM_THREADS"] = num_threads
    if rs_num_cpus is not None:
        env["RAYON_RS_NUM_CPUS"] = rs_num_cpus
    code = CHILD_HEADER + textwrap.dedent(body)
    proc = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True, timeout=120)
    assert proc.returncode == 0, proc.stderr
    return proc.stdout.split()


def expected_workers(value):
    return len(os.sched_getaffinity(0)) if value is DEFAULT else value


@pytest.mark.parametrize(
    "num_threads, rs_num_cpus, workers",
    [
        ("4", None, 4),
        ("+4", None, 4),
        ("3", "5", 3),
        ("0", None, DEFAULT),
        ("0", "3", DEFAULT),  # a valid 0 means the default; the second variable is not read
        ("abc", None, DEFAULT),
        (" 4", None, DEFAULT),
        ("4 ", None, DEFAULT),
        ("-1", None, DEFAULT),
        ("", None, DEFAULT),
        ("++4", None, DEFAULT),
        (None, "2", 2),
        ("abc", "3", 3),
        (" 4", "3", 3),
        ("-1", "+3", 3),
        ("18446744073709551616", "3", 3),  # does not fit in 64 bits: not a number
        (None, "0", DEFAULT),
        (None, "x", DEFAULT),
        (None, None, DEFAULT),
    ],
)
def test_worker_count_from_the_environment(num_threads, rs_num_cpus, workers):
    before, after = run_child(
        """
        before = threads()
        VecList([Vec3d(1, 2, 3)] * 100).magnitude()
        print(before, threads())
        """,
        num_threads,
        rs_num_cpus,
    )
    assert (int(before), int(after)) == (1, 1 + expected_workers(workers))


def test_too_many_threads_is_an_internal_failure():
    # 100000 asks for 65535 workers; with a small address space the threads cannot all be
    # started, and every batch then fails the same way. Steps that are not batches still work.
    out = run_child(
        """
        import resource
        resource.setrlimit(resource.RLIMIT_AS, (1 << 30, 1 << 30))
        lst = VecList.empty()
        lst.append(Vec3d(1, 2, 3))
        for batch in (lambda: lst.magnitude(), lambda: VecList([Vec3d(0, 0, 0)]), lambda: repr(lst)):
            try:
                batch()
                print("no-error")
            except Exception:
                print("caught-as-Exception")
            except BaseException as error:
                print(type(error).__name__, str(error).startswith(PREFIX))
        print(len(lst), lst[0].x)
        """.replace("PREFIX", repr(PREFIX)),
        num_threads="100000",
    )
    assert out == ["PanicException", "True"] * 3 + ["1", "1.0"]


@pytest.mark.parametrize(
    "batch",
    [
        "VecList([])",
        "VecList([p])",
        "VecList.empty().dot(p)",
        "VecList([p]).magnitude()",
        "VecList.empty() + p",
        "VecList([p]) * 2",
        "repr(VecList.empty())",
        "VecList.empty().to_array()",
        "VecList([p]).minimum_distance_to(p, 1)",
    ],
)
def test_empty_and_single_element_batches_create_the_pool(batch):
    before, after = run_child(
        f"""
        p = Vec3d(1, 2, 3)
        lst = VecList.empty()
        lst.append(p)
        lst.extend(VecList.empty())
        _ = (len(lst), lst[0], list(lst), lst.list, repr(p), p.dot(p))  # no batch among these
        before = threads()
        {batch}
        print(before, threads())
        """,
        num_threads="3",
    )
    assert (before, after) == ("1", "4")


def test_environment_is_read_once():
    out = run_child(
        """
        lst = VecList([Vec3d(1, 2, 3)] * 10)
        lst.normalize()
        first = threads()
        os.environ["RAYON_NUM_THREADS"] = "5"
        lst.normalize()
        print(first, threads())
        """,
        num_threads="2",
    )
    assert out == ["3", "3"]


DIGEST = """
import hashlib
rng = random.Random(11)
specials = [0.0, -0.0, math.inf, -math.inf, math.nan, 1e-320, 1e300]
coordinate = lambda: rng.choice(specials) if rng.random() < 0.1 else rng.uniform(-100, 100)
lst = VecList([Vec3d(coordinate(), coordinate(), coordinate()) for _ in range(50_000)])
p = Vec3d(1.5, -2.5, 3.25)
h = hashlib.sha256()
floats = lambda values: h.update(struct.pack(f"<{len(values)}d", *values))
rows = lambda result: floats([x for row in result.to_array() for x in row])
for values in (lst.dot(p), lst.magnitude(), lst.distance_to(p), lst.distance_squared(p)):
    floats(values)
for result in (lst.cross(p), lst.normalize(), lst + p, lst - p, lst * 0.3, 0.3 * lst, lst / 0.3,
               lst.collapse(0), lst.collapse(2)):
    rows(result)
h.update(bytes(lst.is_unit()))
for stride in (1, 2, 7, 1000, 10**9):
    index, distance = lst.minimum_distance_to(p, stride)
    h.update(struct.pack("<Qd", index, distance))
h.update(repr(lst).encode())
rows(lst)
print(h.hexdigest())
"""


def test_results_do_not_depend_on_the_worker_count():
    digests = {workers: run_child(DIGEST, num_threads=workers) for workers in ("1", "2", "5", "16")}
    assert len(set(map(tuple, digests.values()))) == 1, digests


def test_several_python_threads_at_once():
    lists = [VecList([Vec3d(k * t, -k, 0.5 * t) for k in range(20_000)]) for t in range(1, 7)]
    shared = lists[0]
    p = Vec3d(3, 1, -2)

    def work(lst):
        return (lst.distance_to(p), (lst + p).to_array(), lst.minimum_distance_to(p, 5), shared.dot(p))

    expected = [work(lst) for lst in lists]
    results = [None] * len(lists)
    errors = []
    start = threading.Barrier(len(lists))

    def run(index):
        try:
            start.wait()
            for _ in range(5):
                results[index] = work(lists[index])
                assert results[index] == expected[index]
        except BaseException as error:  # noqa: BLE001 - reported below
            errors.append(error)

    workers = [threading.Thread(target=run, args=(k,)) for k in range(len(lists))]
    for thread in workers:
        thread.start()
    for thread in workers:
        thread.join(timeout=120)
    assert not errors and not any(thread.is_alive() for thread in workers)
    assert results == expected


def test_idle_pool_uses_no_processor_time():
    (spent,) = run_child(
        """
        import time
        lst = VecList([Vec3d(1, 2, 3)] * 200_000)
        for _ in range(20):
            lst.normalize()
        time.sleep(0.2)
        start = time.process_time()
        time.sleep(1.0)
        print(time.process_time() - start)
        """,
        num_threads="4",
    )
    assert float(spent) < 0.05

