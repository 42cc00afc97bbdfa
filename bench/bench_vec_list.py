"""Batch operations of VecList against numpy (and scipy's Rotation.apply for the rotations) on the same
random vectors, for n = 1e3 to 2e6, in one run. Prints median times, ratios ours / peer
(below 1.0: we are faster) and whether each goal holds.

Each numpy peer is the fastest formulation found of the same mathematical result; where VecList
returns a Python list, the peer includes numpy's `.tolist()` of its array. The plain copy of the
(n, 3) array into fresh memory (`a.copy()`) is the floor for the element-wise operators.

Goals (ratios within one run):
  list     methods returning lists: ours <= numpy + tolist
  memory   + - * / collapse: ours <= numpy and ours <= 2 x plain copy
  compute  cross, normalize, rotate: ours <= numpy / 2 (rotate also <= scipy)
  each     rotate_each (a quaternion per vector): ours <= numpy / 2 and <= scipy / 2
  search   minimum_distance_to(p, 1) <= numpy argmin / 2; with stride s, s times less (<= numpy / 2s)
  build    construction and to_array: ours <= numpy's np.array / tolist
  tiny     a call on a 10-element list <= 2 x the same call on an empty list
  threads  RAYON_NUM_THREADS=1 -> 2 speeds normalize and rotate up >= 1.6x at n = 2e6

  python3 bench/bench_vec_list.py            (with lumeric_py importable; about four minutes)
"""

import json
import os
import statistics
import subprocess
import sys

import numpy as np
from scipy.spatial.transform import Rotation

from common import per_call_ns, save
from lumeric_py import Quat, Vec3d, VecList

SIZES = [1_000, 10_000, 100_000, 1_000_000, 2_000_000]
RUNS = 7
STRIDE = 8
TINY = 10
SPEEDUP_N = 2_000_000
SPEEDUP_ROUNDS = 2
EPS = 2.0**-52


def workload(n):
    """The namespace every statement of one size runs in: the same vectors for everyone."""
    rng = np.random.default_rng(n)
    arr = rng.uniform(-100.0, 100.0, (n, 3))
    rows = arr.tolist()
    vecs = [Vec3d(*r) for r in rows]
    nv = np.array([0.5, -1.5, 2.0])
    x, y, z = nv
    w, i, j, k = 0.9273618495495703, 0.1, 0.2, 0.3  # a unit quaternion
    q = Quat(w, i, j, k)
    quats = rng.normal(size=(n, 4))
    quats /= np.sqrt(np.einsum("ij,ij->i", quats, quats))[:, None]
    return {
        "np": np, "VecList": VecList, "arr": arr, "rows": rows, "vecs": vecs, "lst": VecList(vecs),
        "v": Vec3d(*nv), "nv": nv, "q": q, "STRIDE": STRIDE, "EPS": EPS,
        # rotate() is conj(q) (0, v) q: row vectors times q's rotation matrix, or scipy's
        # rotation by the inverse quaternion (scalar last).
        "R": np.array(q.to_rotation_matrix()),
        "rot": Rotation.from_quat([-i, -j, -k, w]),
        # a x v for row vectors a as a matrix product: numpy's fastest cross with one fixed vector.
        "C": np.array([[0.0, -z, y], [z, 0.0, -x], [-y, x, 0.0]]),
        "sqnorm": lambda a: np.einsum("ij,ij->i", a, a),
        # One rotation per row: rotate_each's quaternions, the same rows scalar last and conjugated for scipy
        # (it turns the other way), and numpy's formula v + 2w(u x v) + 2u x (u x v) for u = -(i, j, k).
        "quats": quats, "Rotation": Rotation, "scipy_quats": np.concatenate([-quats[:, 1:], quats[:, :1]], axis=1),
        "rotated": _rotated,
        "collapse": lambda a: _collapsed(a),
    }


def _rotated(quats, a):
    w, u = quats[:, :1], -quats[:, 1:]
    t = 2.0 * np.cross(u, a)
    return a + w * t + np.cross(u, t)


def _collapsed(a):
    out = a.copy()
    out[:, 1] = 0.0
    return out


# (operation, goal, statements). "sq(arr - nv)" is the row-wise squared distance.
ROWS = [
    ("plain copy a.copy()", "baseline", {"numpy": "arr.copy()"}),
    ("lst + v", "memory", {"ours": "lst + v", "numpy": "arr + nv"}),
    ("lst - v", "memory", {"ours": "lst - v", "numpy": "arr - nv"}),
    ("lst * s", "memory", {"ours": "lst * 2.5", "numpy": "arr * 2.5"}),
    ("lst / s", "memory", {"ours": "lst / 2.5", "numpy": "arr / 2.5"}),
    ("collapse(1)", "memory", {"ours": "lst.collapse(1)", "numpy": "collapse(arr)"}),
    ("cross", "compute", {"ours": "lst.cross(v)", "numpy": "arr @ C"}),
    ("normalize", "compute", {"ours": "lst.normalize()", "numpy": "arr / np.sqrt(sqnorm(arr))[:, None]"}),
    ("rotate", "compute", {"ours": "lst.rotate(q)", "numpy": "arr @ R", "scipy": "rot.apply(arr)"}),
    ("rotate_each", "each", {"ours": "lst.rotate_each(quats)", "numpy": "rotated(quats, arr)",
                             "scipy": "Rotation.from_quat(scipy_quats).apply(arr)"}),
    ("dot", "list", {"ours": "lst.dot(v)", "numpy": "(arr @ nv).tolist()"}),
    ("magnitude", "list", {"ours": "lst.magnitude()", "numpy": "np.sqrt(sqnorm(arr)).tolist()"}),
    ("distance_to", "list", {"ours": "lst.distance_to(v)", "numpy": "np.sqrt(sqnorm(arr - nv)).tolist()"}),
    ("distance_squared", "list", {"ours": "lst.distance_squared(v)", "numpy": "sqnorm(arr - nv).tolist()"}),
    ("is_unit", "list", {"ours": "lst.is_unit()", "numpy": "(np.abs(np.sqrt(sqnorm(arr)) - 1.0) < EPS).tolist()"}),
    ("minimum_distance_to(p, 1)", "search", {"ours": "lst.minimum_distance_to(v, 1)",
                                             "numpy": "int(np.argmin(sqnorm(arr - nv)))"}),
    (f"minimum_distance_to(p, {STRIDE})", "stride", {"ours": "lst.minimum_distance_to(v, STRIDE)",
                                                     "numpy": "int(np.argmin(sqnorm(arr - nv)))"}),
    ("VecList(list of Vec3d)", "build", {"ours": "VecList(vecs)", "numpy": "np.array(rows)"}),
    ("to_array", "build", {"ours": "lst.to_array()", "numpy": "arr.tolist()"}),
    ("repr", "info", {"ours": "repr(lst)"}),
]

# Calls timed on a 10-element list and on an empty one.
TINY_CALLS = ["lst.dot(v)", "lst.normalize()", "lst + v", "lst.rotate(q)", "lst.to_array()", "lst.is_unit()"]


def check_peers():
    """The peers compute the same results as ours (to rounding), so the comparison is fair."""
    ns = workload(1000)
    ours = {
        "lst + v": np.array((ns["lst"] + ns["v"]).to_array()),
        "cross": np.array(ns["lst"].cross(ns["v"]).to_array()),
        "normalize": np.array(ns["lst"].normalize().to_array()),
        "collapse(1)": np.array(ns["lst"].collapse(1).to_array()),
    }
    peers = {
        "lst + v": eval("arr + nv", ns), "cross": eval("arr @ C", ns),
        "normalize": eval("arr / np.sqrt(sqnorm(arr))[:, None]", ns), "collapse(1)": eval("collapse(arr)", ns),
    }
    for name in ours:
        assert np.allclose(ours[name], peers[name], rtol=1e-12, atol=1e-12), name
    rotated = VecList(ns["vecs"])
    rotated.rotate(ns["q"])
    rotated = np.array(rotated.to_array())
    assert np.allclose(rotated, eval("arr @ R", ns), rtol=1e-12, atol=1e-9), "rotate (numpy)"
    assert np.allclose(rotated, eval("rot.apply(arr)", ns), rtol=1e-12, atol=1e-9), "rotate (scipy)"
    each = VecList(ns["vecs"])
    each.rotate_each(ns["quats"])
    each = np.array(each.to_array())
    assert np.allclose(each, eval("rotated(quats, arr)", ns), rtol=1e-12, atol=1e-9), "rotate_each (numpy)"
    assert np.allclose(each, eval("Rotation.from_quat(scipy_quats).apply(arr)", ns), rtol=1e-12, atol=1e-9), \
        "rotate_each (scipy)"
    index, _ = ns["lst"].minimum_distance_to(ns["v"], 1)
    assert index == eval("int(np.argmin(sqnorm(arr - nv)))", ns), "nearest"


class OtherLoad:
    """The share of the processors that other processes kept busy between start and stop: on a
    shared machine a high share explains odd figures (and, above ~50%, lost parallelism)."""

    def __init__(self):
        self.start = self._sample()

    @staticmethod
    def _sample():
        try:
            with open("/proc/stat") as f:
                ticks = [int(x) for x in f.readline().split()[1:9]]
        except OSError:
            return None
        t = os.times()
        return sum(ticks), ticks[3] + ticks[4], ticks[7], t.user + t.system + t.children_user + t.children_system

    def text(self):
        end = self._sample()
        if self.start is None or end is None or end[0] == self.start[0]:
            return "load of other processes: unknown"
        hz = os.sysconf("SC_CLK_TCK")
        total = (end[0] - self.start[0]) / hz
        busy = total - (end[1] - self.start[1]) / hz
        steal = (end[2] - self.start[2]) / hz
        others = max(0.0, busy - steal - (end[3] - self.start[3])) / total
        return (f"other processes kept {others:.0%} of the processors busy meanwhile"
                f" (and the host took {steal / total:.0%})")


def fmt(ns_per_call):
    if ns_per_call < 1e6:
        return f"{ns_per_call / 1e3:.1f} us"
    return f"{ns_per_call / 1e6:.2f} ms"


def verdict(goal, ours, numpy, scipy, copy):
    """(met, text) for one row; met is None where the row has no goal at this size."""
    if goal in ("list", "build"):
        return ours <= numpy, "<= numpy"
    if goal == "memory":
        return ours <= numpy and ours <= 2 * copy, "<= numpy, <= 2x copy"
    if goal == "compute":
        if scipy is not None:
            return ours <= numpy / 2 and ours <= scipy, "<= numpy/2, <= scipy"
        return ours <= numpy / 2, "<= numpy/2"
    if goal == "each":
        return ours <= numpy / 2 and ours <= scipy / 2, "<= numpy/2, <= scipy/2"
    if goal == "search":
        return ours <= numpy / 2, "<= numpy/2"
    if goal == "stride":
        # The stride-1 goal, STRIDE times less. (Against our own stride-1 time the saving is
        # smaller: samples 192 bytes apart still pull in every third cache line.)
        return ours <= numpy / (2 * STRIDE), f"<= numpy/{2 * STRIDE}"
    return None, ""


def table(n, missed):
    """Prints the table for n elements; returns its figures (ns per call) for the charts."""
    ns = workload(n)
    load = OtherLoad()
    print(f"\nn = {n:,}  (median of {RUNS} interleaved runs; ratio = ours / peer; ns/el = ours per element)")
    header = (f"{'operation':<28}{'ours':>10}{'ns/el':>7}{'numpy':>11}{'ratio':>7}{'scipy':>11}{'ratio':>7}"
              f"{'/copy':>7}  goal")
    print(header + "\n" + "-" * (len(header) + 24))
    copy = None
    figures = []
    for name, goal, stmts in ROWS:
        ours, numpy, scipy = per_call_ns([stmts.get("ours"), stmts.get("numpy"), stmts.get("scipy")], ns,
                                         number=None, runs=RUNS)
        figures.append({"operation": name, "ours": ours, "numpy": numpy, "scipy": scipy})
        if goal == "baseline":
            copy = numpy
            print(f"{name:<28}{'-':>10}{'-':>7}{fmt(numpy):>11}", flush=True)
            continue
        line = f"{name:<28}{fmt(ours):>10}{ours / n:>7.1f}"
        line += f"{fmt(numpy):>11}{ours / numpy:>7.2f}" if numpy else f"{'-':>11}{'-':>7}"
        line += f"{fmt(scipy):>11}{ours / scipy:>7.2f}" if scipy else f"{'-':>11}{'-':>7}"
        line += f"{ours / copy:>7.2f}" if goal == "memory" else f"{'-':>7}"
        met, text = verdict(goal, ours, numpy, scipy, copy)
        if met is not None:
            line += f"  {text}: {'met' if met else 'MISSED'}"
            if not met:
                missed.append(f"n = {n:,}: {name} ({text})")
        print(line, flush=True)
    print(load.text())
    return figures


def tiny(missed):
    ns = dict(workload(TINY), empty=VecList.empty())
    load = OtherLoad()
    print(f"\nTiny batches: a call on a {TINY}-element list against the same call on an empty list "
          f"(median ns per call)")
    header = f"{'call':<22}{'10 elements':>12}{'empty':>10}{'ratio':>8}  goal"
    print(header + "\n" + "-" * (len(header) + 16))
    for stmt in TINY_CALLS:
        ten, none = per_call_ns([stmt, stmt.replace("lst", "empty")], ns, number=20_000, runs=RUNS)
        met = ten <= 2 * none
        if not met:
            missed.append(f"tiny: {stmt} ({ten / none:.2f}x the empty call)")
        print(f"{stmt:<22}{ten:>12.0f}{none:>10.0f}{ten / none:>8.2f}  <= 2: {'met' if met else 'MISSED'}",
              flush=True)
    print(load.text())


def child():
    """Times normalize and rotate at SPEEDUP_N with this process's worker count; prints JSON."""
    ns = workload(SPEEDUP_N)
    normalize, rotate = (per_call_ns(["lst.normalize()", "lst.rotate(q)"], ns, number=None, runs=RUNS))
    print(json.dumps({"normalize": normalize, "rotate": rotate}))


def speedup(missed):
    print(f"\nWorkers: RAYON_NUM_THREADS=1 against 2 at n = {SPEEDUP_N:,} (child processes, "
          f"{SPEEDUP_ROUNDS} rounds each, alternating)")
    samples = {1: [], 2: []}
    load = OtherLoad()
    for _ in range(SPEEDUP_ROUNDS):
        for workers in (1, 2):
            env = dict(os.environ, RAYON_NUM_THREADS=str(workers))
            out = subprocess.run([sys.executable, os.path.abspath(__file__), "--child"], env=env, check=True,
                                 capture_output=True, text=True).stdout
            samples[workers].append(json.loads(out.splitlines()[-1]))
    header = f"{'operation':<14}{'1 worker':>11}{'2 workers':>11}{'speed-up':>10}  goal"
    print(header + "\n" + "-" * (len(header) + 16))
    figures = {}
    for op in ("normalize", "rotate"):
        one = statistics.median(s[op] for s in samples[1])
        two = statistics.median(s[op] for s in samples[2])
        figures[op] = {"1": one, "2": two}
        met = one / two >= 1.6
        if not met:
            missed.append(f"threads: {op} speed-up {one / two:.2f}")
        print(f"{op:<14}{fmt(one):>11}{fmt(two):>11}{one / two:>10.2f}  >= 1.6: {'met' if met else 'MISSED'}",
              flush=True)
    print(load.text())
    save("workers", {"n": SPEEDUP_N, **figures})


def main():
    if sys.argv[1:] == ["--child"]:
        child()
        return
    workers = os.environ.get("RAYON_NUM_THREADS", "unset")
    print(f"VecList batch operations (Python {sys.version.split()[0]}, numpy {np.__version__}, "
          f"{len(os.sched_getaffinity(0))} processors, RAYON_NUM_THREADS={workers})")
    check_peers()
    missed = []
    sizes = {}
    for n in SIZES:
        sizes[n] = table(n, missed)
        save("sizes", sizes)
    tiny(missed)
    speedup(missed)
    print("\nGoals missed: " + ("none" if not missed else "\n  " + "\n  ".join(missed)))


if __name__ == "__main__":
    main()
