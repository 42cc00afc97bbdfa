# Run as a child process by test_batch_limits.py: batches stopped by a signal, and results too large
# for memory refused before they take it. Prints one JSON value.

import json
import os
import resource
import signal
import subprocess
import sys
import time

import numpy as np

from lumeric_py import KDTree, Quat, VecList

LIMIT = os.sysconf("SC_PHYS_PAGES") // 2 * os.sysconf("SC_PAGE_SIZE")  # what a result may take
P = np.random.default_rng(1).standard_normal((100_000, 3))
SPHERE = KDTree(P / np.linalg.norm(P, axis=1)[:, None])  # a query from its centre visits every leaf


def interrupted(call):  # seconds from a SIGINT sent 0.3 s into call() to its KeyboardInterrupt
    killer = subprocess.Popen(["sh", "-c", f"sleep 0.3; kill -INT {os.getpid()}"])
    start = time.monotonic()
    try:
        try:
            call()
        finally:
            late = time.monotonic() - start - 0.3
            killer.wait()
    except KeyboardInterrupt:
        return late


def rotated_while_interrupted():  # Ctrl-C 5 ms into one rotation in place that takes far longer
    lst = VecList.from_array(np.ones((6_000_000, 3)))
    signal.signal(signal.SIGALRM, signal.default_int_handler)
    signal.setitimer(signal.ITIMER_REAL, 0.005)
    try:
        lst.rotate(Quat(0.5 ** 0.5, 0, 0, 0.5 ** 0.5))
        time.sleep(1)  # where the interrupt is raised, the rotation done
    except KeyboardInterrupt:
        a = np.asarray(lst)
        return bool((a == a[0]).all() and (a[0] != 1).any())  # every element turned, once


def peak_growth(call, headroom):  # (what call() raised, growth of the peak address space) under a limit
    def peak():
        with open("/proc/self/status") as status:
            return next(int(line.split()[1]) << 10 for line in status if line.startswith("VmPeak"))
    before = peak()
    resource.setrlimit(resource.RLIMIT_AS, (before + headroom, resource.RLIM_INFINITY))
    try:
        call()
    except MemoryError as error:
        return type(error).__name__, peak() - before
    return None, peak() - before


CHECKS = {
    "query": lambda: interrupted(lambda: SPHERE.query(np.zeros((30_000, 3)), 8)),
    "query_radius": lambda: interrupted(lambda: SPHERE.query_radius(np.zeros((3_000, 3)), 0.9999)),
    "normals": lambda: interrupted(lambda: SPHERE.normals(5_000)),  # each point a long search
    "rotate": rotated_while_interrupted,
    # Each of the two result arrays fits alone, both do not: no room is taken for the first.
    "query memory": lambda: peak_growth(lambda: SPHERE.query([[0, 0, 0]], int(0.6 * LIMIT / 8)), int(0.8 * LIMIT)),
    # Every point in every ball: refused before the balls are gathered.
    "query_radius memory": lambda: peak_growth(
        lambda: SPHERE.query_radius(np.zeros((LIMIT // 800_000 + 1, 3)), 2.0), 1 << 30),
}

if __name__ == "__main__":
    signal.signal(signal.SIGINT, signal.default_int_handler)
    print(json.dumps(CHECKS[sys.argv[1]]()))
