"""Data in and out of VecList, copies and pickles, against numpy, PyGLM and Open3D in one run.

Each row times ours and the peers' statements interleaved (see common.py) and prints median
times, ratios ours / peer (below 1.0: we are faster) and whether the goal holds:

  from_array(a)          C-order float64 (n, 3):  <= 1.0 x numpy's a.copy()
  np.asarray(lst)        under 2 us, at every n
  pickle round trip      VecList, protocol 5:     <= 1.0 x numpy's, same rows
  Vec3d pickle / copy    round trip and copy.copy: <= 0.5 x PyGLM's dvec3

The indented row shows our `__copy__` called alone: the rest of copy.copy(Vec3d) is the copy
module's own checks, which every class pays.

  python3 bench/bench_interop.py            (with lumeric_py importable; about a minute)
"""

import copy
import pickle
import sys

import glm
import numpy as np

try:  # a point-cloud peer: its Vector3dVector holds (n, 3) doubles as a VecList does
    import open3d as o3d
except ImportError:
    o3d = None

from common import per_call_ns
from lumeric_py import Vec3d, VecList

N = 2_000_000
SMALL = 1_000
RUNS = 7


def namespace(n):
    rng = np.random.default_rng(n)
    a = rng.uniform(-100.0, 100.0, (n, 3))
    return {
        "np": np, "pickle": pickle, "copy": copy, "glm": glm, "VecList": VecList, "a": a, "o3d": o3d,
        "ov": o3d.utility.Vector3dVector(a) if o3d else None,
        "lst": VecList.from_array(a), "ga": glm.array(a), "v": Vec3d(1.5, -2.0, 3.25), "g": glm.dvec3(1.5, -2.0, 3.25),
    }


def round_trip(name):
    return f"pickle.loads(pickle.dumps({name}, protocol=5))"


# (operation, n, {"ours", "numpy", "PyGLM"}, goal: (peer, highest ratio) or ("absolute", highest ns)).
ROWS = [
    ("from_array(a)", N, {"ours": "VecList.from_array(a)", "numpy": "a.copy()", "PyGLM": "glm.array(a)",
                          "Open3D": "o3d.utility.Vector3dVector(a)"}, ("numpy", 1.0)),
    ("from_array(a.tolist())", SMALL, {"ours": "VecList.from_array(rows)", "numpy": "np.array(rows)"}, None),
    ("np.asarray(lst)", N, {"ours": "np.asarray(lst)", "PyGLM": "np.asarray(ga)", "Open3D": "np.asarray(ov)"},
     ("absolute", 2000.0)),
    ("np.asarray(lst)", SMALL, {"ours": "np.asarray(lst)", "PyGLM": "np.asarray(ga)"}, ("absolute", 2000.0)),
    ("pickle round trip (5)", N, {"ours": round_trip("lst"), "numpy": round_trip("a")}, ("numpy", 1.0)),
    ("copy.deepcopy(lst)", N, {"ours": "copy.deepcopy(lst)", "numpy": "copy.deepcopy(a)",
                               "Open3D": "copy.deepcopy(ov)"}, None),
    ("Vec3d pickle round trip", 1, {"ours": round_trip("v"), "PyGLM": round_trip("g")}, ("PyGLM", 0.5)),
    ("copy.copy(Vec3d)", 1, {"ours": "copy.copy(v)", "PyGLM": "copy.copy(g)"}, ("PyGLM", 0.5)),
    ("  v.__copy__() alone", 1, {"ours": "v.__copy__()"}, None),
    ("copy.deepcopy(Vec3d)", 1, {"ours": "copy.deepcopy(v)", "PyGLM": "copy.deepcopy(g)"}, None),
]
PEERS = ["numpy", "PyGLM"] + ["Open3D"] * (o3d is not None)


def fmt(ns):
    if ns < 1e4:
        return f"{ns:.0f} ns"
    if ns < 1e7:
        return f"{ns / 1e3:.1f} us"
    return f"{ns / 1e6:.2f} ms"


def check_peers(ns):
    """Ours and the peers produce the same data, so the comparison is fair."""
    assert np.array_equal(np.asarray(ns["lst"]), ns["a"])
    assert np.array_equal(np.asarray(VecList.from_array(ns["a"])), ns["a"].copy())
    assert np.array_equal(np.asarray(pickle.loads(pickle.dumps(ns["lst"], protocol=5))), ns["a"])
    assert pickle.loads(pickle.dumps(ns["v"], protocol=5)) == ns["v"]


def main():
    spaces = {n: namespace(n) for n in (N, SMALL, 1)}
    spaces[SMALL]["rows"] = spaces[SMALL]["a"].tolist()
    check_peers(spaces[SMALL])
    print(f"Interop (Python {sys.version.split()[0]}; median of {RUNS} interleaved runs; ratio = ours / peer)")
    header = f"{'operation':<26}{'n':>10}{'ours':>11}" + "".join(f"{p:>11}{'ratio':>7}" for p in PEERS) + "  goal"
    print(header + "\n" + "-" * (len(header) + 18))
    missed = 0
    for name, n, stmts, goal in ROWS:
        times = per_call_ns([stmts["ours"]] + [stmts.get(p) for p in PEERS], spaces[n], number=None, runs=RUNS)
        ours, peers = times[0], dict(zip(PEERS, times[1:]))
        line = f"{name:<26}{n:>10,}{fmt(ours):>11}"
        for peer in PEERS:
            t = peers[peer]
            line += f"{fmt(t):>11}{ours / t:>7.2f}" if t else f"{'-':>11}{'-':>7}"
        if goal:
            target, limit = goal
            met = ours <= limit if target == "absolute" else ours / peers[target] <= limit
            missed += not met
            what = f"< {fmt(limit)}" if target == "absolute" else f"<= {limit} x {target}"
            line += f"  {what}: {'met' if met else 'MISSED'}"
        print(line, flush=True)
    print(f"\n{missed} goal(s) missed" if missed else "\nall goals met")


if __name__ == "__main__":
    main()
