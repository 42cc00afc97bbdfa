"""Batch operations of VecList against numpy on (n, 3) float64 arrays and against a Python loop of
Vec3d calls, for n = 1e3, 1e5 and 1e6. Prints median times and ratios ours / peer (below 1.0 means
faster).

Methods of VecList that return numbers return Python lists (numpy returns arrays), so for those the
column "numpy+list" adds numpy's `.tolist()`: the fair peer when the caller wants Python floats.
"""

import math
import os
import random
import statistics
import sys
import timeit

import numpy as np

from lumeric_py import Vec3d, VecList

SIZES = [1_000, 100_000, 1_000_000]
PEERS = ["numpy", "numpy+list", "Python"]


def seconds_per_call(stmt, namespace, budget=0.25, repeat=5):
    timer = timeit.Timer(stmt, globals=namespace)
    once = timer.timeit(1)
    number = max(1, int(budget / repeat / max(once, 1e-7)))
    return statistics.median(timer.repeat(repeat=repeat, number=number)) / number


def rows_for(n):
    rng = random.Random(n)
    data = [[rng.uniform(-100, 100) for _ in range(3)] for _ in range(n)]
    vecs = [Vec3d(*r) for r in data]
    ns = {
        "np": np, "Vec3d": Vec3d, "VecList": VecList, "math": math,
        "rows": data, "vecs": vecs, "lst": VecList(vecs), "arr": np.array(data),
        "v": Vec3d(0.5, -1.5, 2.0), "nv": np.array([0.5, -1.5, 2.0]),
    }
    return ns, [
        ("add", {"ours": "lst + v", "numpy": "arr + nv", "Python": "[e + v for e in vecs]"}),
        ("sub", {"ours": "lst - v", "numpy": "arr - nv", "Python": "[e - v for e in vecs]"}),
        ("scale", {"ours": "lst * 2.5", "numpy": "arr * 2.5", "Python": "[e * 2.5 for e in vecs]"}),
        ("cross", {"ours": "lst.cross(v)", "numpy": "np.cross(arr, nv)", "Python": "[e.cross(v) for e in vecs]"}),
        ("normalize", {"ours": "lst.normalize()", "numpy": "arr / np.linalg.norm(arr, axis=1, keepdims=True)",
                       "Python": "[e.normalize() for e in vecs]"}),
        ("dot", {"ours": "lst.dot(v)", "numpy": "arr @ nv", "numpy+list": "(arr @ nv).tolist()",
                 "Python": "[e.dot(v) for e in vecs]"}),
        ("magnitude", {"ours": "lst.magnitude()", "numpy": "np.linalg.norm(arr, axis=1)",
                       "numpy+list": "np.linalg.norm(arr, axis=1).tolist()",
                       "Python": "[e.magnitude() for e in vecs]"}),
        ("distance_to", {"ours": "lst.distance_to(v)", "numpy": "np.linalg.norm(arr - nv, axis=1)",
                         "numpy+list": "np.linalg.norm(arr - nv, axis=1).tolist()",
                         "Python": "[e.distance_to(v) for e in vecs]"}),
        ("nearest (stride 1)", {"ours": "lst.minimum_distance_to(v, 1)",
                                "numpy": "int(np.argmin(((arr - nv) ** 2).sum(axis=1)))",
                                "Python": "min(range(len(vecs)), key=lambda k: vecs[k].distance_squared(v))"}),
        ("to_array", {"ours": "lst.to_array()", "numpy": "arr.tolist()", "Python": "[e.to_array() for e in vecs]"}),
        ("list (Vec3d objects)", {"ours": "lst.list", "Python": "[Vec3d(e.x, e.y, e.z) for e in vecs]"}),
        ("from list of Vec3d", {"ours": "VecList(vecs)", "numpy": "np.array(rows)",
                                "Python": "[Vec3d(e.x, e.y, e.z) for e in vecs]"}),
    ]


def main():
    blas = os.environ.get("OPENBLAS_CORETYPE")
    print(f"VecList batch operations (Python {sys.version.split()[0]}, numpy {np.__version__}, "
          f"{len(os.sched_getaffinity(0))} processors, OPENBLAS_CORETYPE={blas or 'unset'})")
    print("median time per call; ratio = ours / peer; numpy's 'from list' builds from lists of 3 floats")
    for n in SIZES:
        ns, rows = rows_for(n)
        header = f"{'n = ' + format(n, ','):<22}{'ours':>10}" + "".join(f"{p:>12}{'ratio':>7}" for p in PEERS)
        print("\n" + header + "\n" + "-" * len(header))
        for name, stmts in rows:
            ours = seconds_per_call(stmts["ours"], ns)
            line = f"{name:<22}{fmt(ours):>10}"
            for peer in PEERS:
                if peer in stmts:
                    theirs = seconds_per_call(stmts[peer], ns)
                    line += f"{fmt(theirs):>12}{ours / theirs:>7.2f}"
                else:
                    line += f"{'-':>12}{'-':>7}"
            print(line, flush=True)


def fmt(seconds):
    if seconds < 1e-3:
        return f"{seconds * 1e6:.1f} us"
    return f"{seconds * 1e3:.2f} ms"


if __name__ == "__main__":
    main()
