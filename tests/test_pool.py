"""The worker pool as seen from Python: its size from the environment, its creation by the first
batch, identical results for any worker count, failure to start, and no work while idle.

The pool is created once per process, so each case that depends on the environment runs in a child
interpreter."""

import os
import subprocess
import sys
import textwrap

import pytest

# Everything here happens in child processes, which the leak hunter cannot see into.
pytestmark = pytest.mark.no_leak_check

DEFAULT = len(os.sched_getaffinity(0))  # the number of processors this process may run on

CHILD_HEADER = """
import math, os, random, sys
from lumeric_py import Vec3d, VecList

def threads():
    with open("/proc/self/status") as status:
        return int(next(line for line in status if line.startswith("Threads:")).split()[1])
"""


def run_child(body, num_threads=None, rs_num_cpus=None):
    env = {k: v for k, v in os.environ.items() if k not in ("RAYON_NUM_THREADS", "RAYON_RS_NUM_CPUS")}
    for name, value in (("RAYON_NUM_THREADS", num_threads), ("RAYON_RS_NUM_CPUS", rs_num_cpus)):
        if value is not None:
            env[name] = value
    code = CHILD_HEADER + textwrap.dedent(body)
    proc = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True, timeout=120)
    assert proc.returncode == 0, proc.stderr
    return proc.stdout.split()


# The variables' parsing is table-tested in the pool's own suite; these show that the module reads
# them, that the first batch step of any kind starts the workers, and that later changes are ignored.
@pytest.mark.parametrize(
    "num_threads, rs_num_cpus, batch, workers",
    [
        ("+4", None, "VecList([])", 4),
        ("0", "3", "VecList.empty().dot(p)", DEFAULT),  # a valid 0 means the default
        (" 4", "3", "repr(VecList.empty())", 3),
        ("18446744073709551616", "3", "VecList.empty() + p", 3),  # does not fit in 64 bits
        (None, "2", "VecList([p]).minimum_distance_to(p, 1)", 2),
        ("abc", None, "VecList([p]) * 2", DEFAULT),
        (None, None, "VecList.empty().to_array()", DEFAULT),
    ],
)
def test_first_batch_creates_the_pool_from_the_environment(num_threads, rs_num_cpus, batch, workers):
    out = run_child(
        f"""
        p = Vec3d(1, 2, 3)
        lst = VecList.empty()
        lst.append(p)
        lst.extend(VecList.empty())
        _ = (len(lst), lst[0], list(lst), lst.list, repr(p), p.dot(p))  # no batch among these
        before = threads()
        {batch}
        after = threads()
        os.environ["RAYON_NUM_THREADS"] = "5"
        VecList([p] * 100).normalize()
        print(before, after, threads())
        """,
        num_threads,
        rs_num_cpus,
    )
    assert list(map(int, out)) == [1, 1 + workers, 1 + workers]


@pytest.mark.limits_address_space
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
        """.replace("PREFIX", repr("The global thread pool has not been initialized.")),
        num_threads="100000",
    )
    assert out == ["PanicException", "True"] * 3 + ["1", "1.0"]


DIGEST = """
import hashlib
rng = random.Random(11)
specials = [0.0, -0.0, math.inf, -math.inf, math.nan, 1e-320, 1e300]
coordinate = lambda: rng.choice(specials) if rng.random() < 0.1 else rng.uniform(-100, 100)
lst = VecList([Vec3d(coordinate(), coordinate(), coordinate()) for _ in range(50_000)])
p = Vec3d(1.5, -2.5, 3.25)
results = [lst.dot(p), lst.magnitude(), lst.distance_to(p), lst.distance_squared(p), lst.is_unit(), lst.to_array(),
           lst.cross(p), lst.normalize(), lst + p, lst - p, lst * 0.3, 0.3 * lst, lst / 0.3, lst.collapse(0),
           lst.collapse(2), lst, [lst.minimum_distance_to(p, stride) for stride in (1, 2, 7, 1000, 10**9)]]
print(hashlib.sha256(repr(results).encode()).hexdigest())
"""


def test_results_do_not_depend_on_the_worker_count():
    digests = {workers: run_child(DIGEST, num_threads=workers) for workers in ("1", "2", "5", "16")}
    assert len(set(map(tuple, digests.values()))) == 1, digests


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
