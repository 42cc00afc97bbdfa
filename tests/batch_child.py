# Run as a child process by test_batch_limits.py: batches stopped by a signal, and results too large
# for memory refused before they take it. Prints one JSON object.

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


def sphere(n):  # a query from the centre of a sphere visits every leaf
    p = np.random.default_rng(1).standard_normal((n, 3))
    return p / np.linalg.norm(p, axis=1)[:, None]


def interrupted(call, after=0.3):  # SIGINT `after` seconds into call(): seconds to the KeyboardInterrupt
    killer = subprocess.Popen(["sh", "-c", f"sleep {after}; kill -INT {os.getpid()}"])
    start = time.monotonic()
    try:
        try:
            call()
        finally:
            late = time.monotonic() - start - after
            killer.wait()
    except KeyboardInterrupt:
        return late
    return None


def rotated_while_interrupted():  # Ctrl-C 5 ms into a rotation in place that takes far longer
    lst = VecList.from_array(np.ones((6_000_000, 3)))
    signal.signal(signal.SIGALRM, signal.default_int_handler)
    signal.setitimer(signal.ITIMER_REAL, 0.005)
    try:
        lst.rotate(Quat(0.5 ** 0.5, 0, 0, 0.5 ** 0.5))
        time.sleep(1)  # where the interrupt is raised, the rotation done
        raised = False
    except KeyboardInterrupt:
        raised = True
    a = np.asarray(lst)
    return raised, bool((a == a[0]).all() and (a[0] != 1).any())  # every element turned, once


def peak_growth(tree, call, headroom):  # (what call(tree) raised, growth of the peak address space) under a limit
    def peak():
        with open("/proc/self/status") as status:
            return next(int(line.split()[1]) * 1024 for line in status if line.startswith("VmPeak"))
    tree.query_radius([[0, 0, 0]] * 200, 0.5)  # the pool's threads and their heaps are up
    before = peak()
    resource.setrlimit(resource.RLIMIT_AS, (before + headroom, resource.RLIM_INFINITY))
    try:
        call(tree)
        raised = None
    except MemoryError:
        raised = "MemoryError"
    return raised, peak() - before


CHECKS = {
    "query": lambda: interrupted(lambda: KDTree(sphere(100_000)).query(np.zeros((30_000, 3)), 8), 1.0),
    "query_radius": lambda: interrupted(lambda: KDTree(sphere(100_000)).query_radius(np.zeros((3_000, 3)), 0.9999),
                                        1.0),
    "normals": lambda: interrupted(lambda: KDTree(sphere(100_000)).normals(5_000), 1.0),  # each point a long search
    "rotate": rotated_while_interrupted,
    # Each of the two result arrays fits alone, both do not: no room is taken for the first.
    "query memory": lambda: peak_growth(KDTree([[0, 0, 0]]), lambda t: t.query([[0, 0, 0]], int(0.6 * LIMIT / 8)),
                                        int(0.8 * LIMIT)),
    # Every point in every ball: refused before a ball is gathered.
    "query_radius memory": lambda: peak_growth(
        KDTree(sphere(20_000)), lambda t: t.query_radius(np.zeros((LIMIT // 8 // 20_000 + 1, 3)), 2.0), 1 << 30),
}

if __name__ == "__main__":
    signal.signal(signal.SIGINT, signal.default_int_handler)
    print(json.dumps(CHECKS[sys.argv[1]]()))
