# The worker pool as seen from Python: its size from the environment, its creation by the first
# batch step, results that do not depend on the worker count, and a pool that cannot start. The
# pool is made once per process, so each case runs in a child interpreter.

import os

import pytest

from helpers import run_child

pytestmark = pytest.mark.no_leak_check  # child processes, which the leak hunter cannot see into
DEFAULT = len(os.sched_getaffinity(0))  # the number of processors this process may run on
THREADS = """
from lumeric_py import Vec3d, VecList
def threads():
    with open("/proc/self/status") as status:
        return int(next(line for line in status if line.startswith("Threads:")).split()[1])
"""


# The variables' parsing, and a pool made once whatever the environment says later, are tested in
# the pool's own suite; these show that the module reads them and that the first batch step of any
# kind starts the workers.
@pytest.mark.parametrize("num_threads, rs_num_cpus, batch, workers", [
    ("+4", None, "VecList([])", 4),
    ("0", "3", "VecList.empty().dot(p)", DEFAULT),  # a valid 0 means the default
    (" 4", "3", "repr(VecList.empty())", 3),
    (None, "2", "VecList([p]).minimum_distance_to(p, 1)", 2),
    ("abc", None, "VecList.empty().to_array()", DEFAULT),
])
def test_first_batch_creates_the_pool_from_the_environment(num_threads, rs_num_cpus, batch, workers):
    out = run_child(THREADS + f"""
p, lst = Vec3d(1, 2, 3), VecList.empty()
lst.append(p)
lst.extend(VecList.empty())
_ = (len(lst), lst[0], list(lst), lst.list, repr(p), p.dot(p))  # no batch among these
before = threads()
{batch}
print(before, threads())
""", RAYON_NUM_THREADS=num_threads, RAYON_RS_NUM_CPUS=rs_num_cpus)
    assert list(map(int, out)) == [1, 1 + workers]


@pytest.mark.limits_address_space
def test_a_pool_that_cannot_start_fails_every_batch():
    # 100000 asks for 65535 workers; with a small address space they cannot all be started, and
    # every batch then fails the same way. Steps that are not batches still work.
    out = run_child(THREADS + """
import resource
resource.setrlimit(resource.RLIMIT_AS, (1 << 30, 1 << 30))
lst = VecList.empty()
lst.append(Vec3d(1, 2, 3))
for batch in (lambda: lst.magnitude(), lambda: VecList([Vec3d(0, 0, 0)]), lambda: repr(lst)):
    try:
        batch()
    except Exception:
        print("caught-as-Exception")
    except BaseException as error:
        print(type(error).__name__, str(error).startswith("The global thread pool has not been initialized."))
print(len(lst), lst[0].x)
""", RAYON_NUM_THREADS="100000")
    assert out == ["PanicException", "True"] * 3 + ["1", "1.0"]


# Every kind of batch step (the list's kernels, voxels and take, the tree's searches and cloud steps,
# alignment and ICP), long enough to be cut up, hashed at several worker counts.
DIGEST = """
import hashlib, math, random
import numpy as np
from lumeric_py import KDTree, Transform, Vec3d, VecList
rng = random.Random(11)
lst = VecList([Vec3d(*(rng.choice([0.0, -0.0, math.inf, math.nan, 1e-320, rng.uniform(-9, 9)]) for _ in "xyz"))
               for _ in range(70_000)])
p = Vec3d(1.5, -2.5, 3.25)
results = [lst.dot(p), lst.magnitude(), lst.distance_to(p), lst.is_unit(), lst.to_array(), lst.cross(p),
           lst.normalize(), lst - p, lst / 0.3, lst.collapse(2), [lst.minimum_distance_to(p, s) for s in (1, 7, 10**9)]]
rng = np.random.default_rng(5)
cloud = np.concatenate([rng.uniform(-1, 1, (20_000, 3)), np.repeat(rng.uniform(-1, 1, (50, 3)), 8, 0),
                        [[np.nan, 0, 0], [np.inf, 0, 0]]])
tree = KDTree(cloud)
parts = [tree.query(cloud[:5000], 8, 0.05), tree.count_radius(cloud, 0.04), tree.normals(12, toward=Vec3d(0, 0, 5)),
         tree.normals(20, max_distance=0.05), tree.statistical_inliers(10, 1.0), tree.radius_inliers(0.03, 3)]
results += [np.asarray(a).tobytes() for part in parts for a in (part if isinstance(part, tuple) else [part])]
xy = rng.uniform(0, 4, (20000, 2))
target = np.column_stack([xy, np.sin(2 * xy[:, 0]) * np.cos(3 * xy[:, 1])])
normals = np.column_stack([-2 * np.cos(2 * xy[:, 0]) * np.cos(3 * xy[:, 1]),
                           3 * np.sin(2 * xy[:, 0]) * np.sin(3 * xy[:, 1]), np.ones(len(xy))])
source = target[::2] + rng.normal(0, 0.01, target[::2].shape) + 0.02
tree = KDTree(target)
# repr prints the shortest digits that read back as the same bits
results += [tree.icp(source, 0.2), tree.icp(source, 0.2, normals=normals), Transform.align(source, target[::2])]
rows = rng.uniform(-50, 50, (400_000, 3))
rows[::97] = np.nan
cloud = VecList.from_array(np.vstack([rows, rows[:1000]]))
down, inverse = cloud.voxel_down_sample(1.5, return_inverse=True)
results += [bytes(memoryview(down)), bytes(inverse), bytes(memoryview(cloud.take(rng.integers(0, len(cloud), 300_000))))]
print(hashlib.sha256(repr(results).encode()).hexdigest())
"""


def test_results_do_not_depend_on_the_worker_count():
    digests = {workers: run_child(DIGEST, RAYON_NUM_THREADS=workers)[0] for workers in ("1", "2", "5", "16")}
    assert len(set(digests.values())) == 1, digests
