# The module across a process's life: fork(), a restarted interpreter, interrupts during conversions.

import os
import shutil
import subprocess
import sysconfig

import pytest

import lumeric_py
from helpers import Callback, run_child
from lumeric_py import Vec3d, VecList

FORK_CHILD = """
import os, signal, warnings
warnings.simplefilter("ignore", DeprecationWarning)  # forking a process that has threads
from lumeric_py import Vec3d, VecList
lst = VecList([Vec3d(k % 7 - 3, k % 11 * 0.5, 1) for k in range(70000)])
p = Vec3d(0.25, -1, 2)
before = repr({batch})  # large enough to start the pool
for level in range({forks}):
    pid = os.fork()
    if pid:
        os._exit(os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1]) & 0xFF)
    signal.alarm(60)  # a batch that hangs ends the child
    {setup}
    if repr({batch}) != before:
        os._exit(1)
with open("/proc/self/status") as status:
    threads = int(next(line for line in status if line.startswith("Threads:")).split()[1])
os._exit(0 if threads == 1 + {workers} else 2)
"""
DEFAULT = len(os.sched_getaffinity(0))


# The child finds the parent's workers gone: it must make a pool of its own, sized anew.
@pytest.mark.no_leak_check
@pytest.mark.parametrize(
    "batch, forks, setup, workers",
    [
        ("lst.normalize()", 1, "", DEFAULT),
        ("lst", 1, "os.sched_setaffinity(0, {min(os.sched_getaffinity(0))})", 1),
        ("lst.minimum_distance_to(p, 1)", 1, "os.environ['RAYON_NUM_THREADS'] = '3'", 3),
        ("lst.normalize()", 2, "", DEFAULT),  # a child of a child that made its own pool
    ],
)
def test_forked_child_runs_split_batches(batch, forks, setup, workers):
    code = FORK_CHILD.format(batch=batch, forks=forks, setup=setup, workers=workers)
    run_child(code, RAYON_NUM_THREADS=None, RAYON_RS_NUM_CPUS=None)  # exit status 1: a wrong result, 2: workers


@pytest.fixture
def restart_program(tmp_path):
    config = shutil.which(f"python{sysconfig.get_config_var('LDVERSION')}-config")
    compiler = shutil.which("cc") or shutil.which("gcc")
    if config is None or compiler is None:
        pytest.skip("no C compiler or python-config to build the embedding program")
    cflags, ldflags = (subprocess.check_output([config, f"--{kind}", "--embed"], text=True).split() for kind in ("cflags", "ldflags"))
    source = os.path.join(os.path.dirname(__file__), "embed", "restart.c")
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}  # not the sanitizer runtime for the compiler
    subprocess.run([compiler, *cflags, source, *ldflags, "-o", tmp_path / "restart"], env=env, check=True)
    return tmp_path / "restart"


@pytest.mark.no_leak_check
def test_restarted_interpreter_gets_fresh_working_classes(restart_program):
    env = dict(os.environ, PYTHONPATH=os.path.dirname(lumeric_py.__file__))  # the module under test
    proc = subprocess.run([restart_program], env=env, capture_output=True, text=True, timeout=180)
    assert proc.returncode == 0 and proc.stdout.splitlines() == [f"round {k}: worked" for k in (1, 2, 3)], proc


# An interrupt raised by a conversion reaches the caller as it is; an ordinary failure is discarded,
# giving what any unconvertible operand gives.
@pytest.mark.parametrize("kind", [KeyboardInterrupt, SystemExit, ValueError])
@pytest.mark.parametrize("operation, ordinary", [
    (lambda x: Vec3d(1, 2, 3) * x, TypeError),
    (lambda x: x * Vec3d(1, 2, 3), TypeError),
    (lambda x: Vec3d(1, 2, 3) / x, TypeError),
    (lambda x: VecList([Vec3d(1, 2, 3)]) * x, TypeError),
    (lambda x: x * VecList([Vec3d(1, 2, 3)]), TypeError),
    (lambda x: len(VecList(x)), 0),  # the length hint is dropped; iteration finds nothing
])
def test_conversion_failures(operation, ordinary, kind):
    error = kind("from the argument")
    try:
        outcome = operation(Callback(error))
    except TypeError as failure:
        outcome = TypeError if "unsupported operand" in str(failure) else failure
    except BaseException as failure:  # noqa: BLE001 - the interrupts
        outcome = failure
    assert outcome == (ordinary if kind is ValueError else error)
