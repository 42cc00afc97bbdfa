"""Nearest neighbours: KDTree against scipy's cKDTree (1 worker and all), pykdtree and Open3D's
KDTreeFlann, on 1,000,000 uniform points in a cube and 1,000,000 uniform queries, in one run.

Prints median ns per point (build) or per query, and ratios ours / peer (below 1.0: we are
faster). Open3D answers one query per Python call, so its loop runs over every 50th query only
and is scaled to the whole set. pykdtree has no radius search. Then: clouds that trip trees up,
slow clouds (a diagonal line and a scan's rings, 200,000 queries each), the tree's memory, 1
against 2 pool workers (child processes), and lumeric_dask.query on the 2-worker LocalCluster of
bench_dask.py with 10,000,000 points and 1,000,000 queries, with where the time goes. Writes
build/bench/bench_spatial.json for bench/plot.py.

Goals (ratios within one run):
  build    <= 0.25 x cKDTree's build
  query    k = 1 and k = 8: <= 0.5 x cKDTree(workers=-1), and faster than pykdtree
  radius   about 10 neighbours: <= 0.5 x cKDTree.query_ball_point(workers=-1, return_sorted=True)
  hard     one point a million times, a 100^3 grid, a line, tight clusters: build and queries
           each <= 3 x the uniform cloud's
  slow     a diagonal line (uniform queries) and a scan sampled along rings (queries near its
           surface): queries each <= 3 x the uniform cloud's, the same number of queries
  memory   <= 48 bytes per point for the tree, its copy of the points included
  threads  queries on 2 pool workers >= 1.6 x faster than on 1

  python3 bench/bench_spatial.py [N] [--quick]   (N points and N queries; --quick: 20,000 and a
                                                  small dask cloud, for a smoke run; about 6 minutes
                                                  at full size)
  python3 bench/bench_spatial.py --slow          (only the slow clouds, the tree's memory and the
                                                  pool's speed-up)
"""

import argparse
import ctypes
import gc
import json
import os
import statistics
import subprocess
import sys

import numpy as np

from common import OtherLoad, per_call_ns, save
from lumeric_py import KDTree

NEIGHBOURS = 10  # the radius search's target count per query
ROUNDS = 3
O3D_EVERY = 50  # Open3D's loop runs over every 50th query
SPEEDUP_ROUNDS = 2
HARD_EVERY = 500  # the hard clouds answer every 500th query


def cube(n, seed):
    return np.random.default_rng(seed).uniform(0.0, 1.0, (n, 3))


def radius_for(n):
    """The radius whose ball holds NEIGHBOURS points of a uniform unit cube on average."""
    return (NEIGHBOURS * 3 / (4 * np.pi * n)) ** (1 / 3)


def peers(points):
    """Each peer's tree over the points, where it is installed."""
    from pykdtree.kdtree import KDTree as PyKDTree
    from scipy.spatial import cKDTree

    found = {"cKDTree": cKDTree(points), "pykdtree": PyKDTree(points)}
    try:
        import open3d

        cloud = open3d.geometry.PointCloud(open3d.utility.Vector3dVector(points))
        found["Open3D"] = open3d.geometry.KDTreeFlann(cloud)
        found["Open3D cloud"] = cloud
    except ImportError:
        pass
    return found


def check_peers(ns):
    """The peers answer what we answer, on a sample (random floats leave no ties to tell apart)."""
    sample = ns["X"][:2000]
    _, ours = ns["tree"].query(sample, 8)
    _, scipy = ns["ck"].query(sample, 8)
    assert np.array_equal(np.asarray(ours), scipy), "k = 8 (cKDTree)"
    _, pyk = ns["pk"].query(sample, k=8)
    assert np.array_equal(np.asarray(ours), pyk), "k = 8 (pykdtree)"
    indices, offsets = ns["tree"].query_radius(sample, ns["r"])
    balls = ns["ck"].query_ball_point(sample, ns["r"], return_sorted=True)
    assert np.asarray(indices).tolist() == [i for ball in balls for i in ball], "radius"
    assert np.asarray(offsets)[-1] == sum(len(b) for b in balls)
    if ns.get("o3d"):
        _, idx, _ = ns["o3d"].search_knn_vector_3d(sample[0], 8)
        assert list(idx) == np.asarray(ours)[0].tolist(), "k = 8 (Open3D)"


def namespace(n, m):
    points, queries = cube(n, 1), cube(m, 2)
    found = peers(points)
    ns = {"np": np, "KDTree": KDTree, "P": points, "X": queries, "tree": KDTree(points), "ck": found["cKDTree"],
          "pk": found["pykdtree"], "o3d": found.get("Open3D"), "XO": list(queries[::O3D_EVERY]), "r": radius_for(n),
          "cKDTree": type(found["cKDTree"]), "PyKDTree": type(found["pykdtree"])}
    if "Open3D" in found:
        import open3d

        ns.update(open3d=open3d, pcd=found["Open3D cloud"])
    return ns


def timed(statements, ns):
    """Median ns of one run of each statement (None: not measured), interleaved round by round."""
    return per_call_ns(statements, ns, number=None, runs=ROUNDS, run_seconds=0.0)


def o3d_loop(call):
    return f"for q in XO: o3d.{call}" if call else None


def table(ns, n, m, missed):
    """The uniform cloud against every peer; returns the saved rows."""
    scale_o3d = len(ns["XO"])
    contenders = ["ours", "cKDTree, 1 worker", "cKDTree, all workers", "pykdtree", "Open3D loop"]
    rows = [
        ("build", n, ["KDTree(P)", "cKDTree(P)", None, "PyKDTree(P)",
                      "open3d.geometry.KDTreeFlann(pcd)" if ns["o3d"] else None]),
        ("query k=1", m, ["tree.query(X, 1)", "ck.query(X, 1, workers=1)", "ck.query(X, 1, workers=-1)",
                          "pk.query(X, k=1)", o3d_loop("search_knn_vector_3d(q, 1)") if ns["o3d"] else None]),
        ("query k=8", m, ["tree.query(X, 8)", "ck.query(X, 8, workers=1)", "ck.query(X, 8, workers=-1)",
                          "pk.query(X, k=8)", o3d_loop("search_knn_vector_3d(q, 8)") if ns["o3d"] else None]),
        ("query_radius", m, ["tree.query_radius(X, r)", "ck.query_ball_point(X, r, workers=1, return_sorted=True)",
                             "ck.query_ball_point(X, r, workers=-1, return_sorted=True)", None,
                             o3d_loop("search_radius_vector_3d(q, r)") if ns["o3d"] else None]),
    ]
    header = f"{'operation':<14}" + "".join(f"{c:>22}" for c in contenders)
    print(f"\nns per point (build) or per query; (ratio ours / peer)\n{header}\n" + "-" * len(header))
    saved = []
    for name, count, statements in rows:
        runs = timed(statements, ns)
        # Open3D's loop answers only its sample of the queries.
        per = [None if s is None else s / (scale_o3d if c == "Open3D loop" and name != "build" else count)
               for c, s in zip(contenders, runs)]
        saved.append({"operation": name, **{c: p for c, p in zip(contenders, per) if p is not None}})
        line = f"{name:<14}{per[0]:>22.1f}"
        for p in per[1:]:
            line += f"{'-':>22}" if p is None else f"{p:>13.1f} ({per[0] / p:5.2f})"
        print(line, flush=True)
    goals(saved, missed)
    return saved


def goals(rows, missed):
    by = {r["operation"]: r for r in rows}

    def need(what, ratio, limit):
        met = ratio <= limit
        print(f"  {what}: {ratio:.2f} (goal <= {limit}): {'met' if met else 'MISSED'}")
        if not met:
            missed.append(f"{what} {ratio:.2f}")

    print("Goals:")
    need("build / cKDTree", by["build"]["ours"] / by["build"]["cKDTree, 1 worker"], 0.25)
    for op in ("query k=1", "query k=8"):
        need(f"{op} / cKDTree(workers=-1)", by[op]["ours"] / by[op]["cKDTree, all workers"], 0.5)
        need(f"{op} / pykdtree", by[op]["ours"] / by[op]["pykdtree"], 0.999)
    need("query_radius / query_ball_point(workers=-1)",
         by["query_radius"]["ours"] / by["query_radius"]["cKDTree, all workers"], 0.5)


def hard_clouds(n):
    """Clouds that defeat naive splitting rules, n points each (the grid: the nearest cube)."""
    rng = np.random.default_rng(3)
    side = round(n ** (1 / 3))
    axis = (np.arange(side) + 0.5) / side
    grid = np.stack(np.meshgrid(axis, axis, axis, indexing="ij"), axis=-1).reshape(-1, 3)
    centres = rng.uniform(0.2, 0.8, (5, 3))
    return {
        "one point": np.full((n, 3), 0.5),
        f"grid {side}^3": grid,
        "line": rng.uniform(0.0, 1.0, (n, 1)) * np.array([1.0, 0.5, 0.25]),
        "5 tight clusters": centres[rng.integers(0, 5, n)] + rng.normal(0.0, 1e-6, (n, 3)),
    }


def hard(ns, n, missed):
    """Build and queries on each hard cloud against the same on the uniform cloud. The queries are
    every HARD_EVERY-th of the uniform ones: a tree that degrades to a scan on such a cloud would
    otherwise take hours."""
    local = dict(ns, XH=ns["X"][::HARD_EVERY])
    print(f"\nHard clouds (ours; ns per point or per query on {len(local['XH']):,} of the queries, and the "
          "ratio to the uniform cloud's; goal <= 3)")
    header = f"{'cloud':<18}" + "".join(f"{op:>22}" for op in ("build", "query k=1", "query k=8"))
    print(header + "\n" + "-" * len(header))
    saved, base = {}, None
    for name, points in {"uniform": ns["P"], **hard_clouds(n)}.items():
        local.update(H=points, tree_h=KDTree(points))
        runs = timed(["KDTree(H)", "tree_h.query(XH, 1)", "tree_h.query(XH, 8)"], local)
        figures = {"build": runs[0] / len(points), "query k=1": runs[1] / len(local["XH"]),
                   "query k=8": runs[2] / len(local["XH"])}
        base = base or figures
        saved[name] = figures
        print(f"{name:<18}" + "".join(f"{v:>13.1f} ({v / base[op]:5.2f})" for op, v in figures.items()), flush=True)
        for op, v in figures.items():
            if v > 3 * base[op]:
                missed.append(f"hard cloud {name}: {op} {v / base[op]:.2f} x uniform")
    return saved


SLOW_QUERIES = 200_000


def scan(n, seed):
    """A spinning scanner's n points: 16 rings of elevation, each swept in azimuth, hitting the
    ground 1.7 below it or a round wall 20 away, without noise."""
    rng = np.random.default_rng(seed)
    elevation = np.linspace(-0.4, 0.05, 16)[rng.integers(0, 16, n)]
    azimuth = rng.uniform(0.0, 2 * np.pi, n)
    ray = np.stack([np.cos(elevation) * np.cos(azimuth), np.cos(elevation) * np.sin(azimuth), np.sin(elevation)], 1)
    with np.errstate(divide="ignore"):
        ground = np.where(elevation < 0, 1.7 / -np.sin(elevation), np.inf)
    return ray * np.minimum(ground, 20.0 / np.cos(elevation))[:, None]


def slow(ns, n, missed):
    """Queries on a diagonal line (uniform queries) and on a scan (queries 5 cm about its points)
    against the same number of uniform queries on the uniform cloud."""
    m = min(SLOW_QUERIES, len(ns["X"]))
    points = scan(n, 5)
    near = points[np.random.default_rng(6).integers(0, n, m)] + np.random.default_rng(7).normal(0.0, 0.05, (m, 3))
    line = np.random.default_rng(3).uniform(0.0, 1.0, (n, 1)) * np.array([1.0, 0.5, 0.25])
    local = dict(ns, XU=ns["X"][:m], XS=near, tree_l=KDTree(line), tree_s=KDTree(points))
    print(f"\nSlow clouds (ours; ns per query, {m:,} queries, and the ratio to the uniform cloud's; goal <= 3)")
    header = f"{'cloud':<18}{'query k=1':>22}{'query k=8':>22}"
    print(header + "\n" + "-" * len(header))
    runs = timed([f"{t}.query({x}, {k})" for t, x in (("tree", "XU"), ("tree_l", "XU"), ("tree_s", "XS"))
                  for k in (1, 8)], local)
    saved = {}
    for c, name in enumerate(("uniform", "diagonal line", "scan rings")):
        figures = {"query k=1": runs[2 * c] / m, "query k=8": runs[2 * c + 1] / m}
        saved[name] = figures
        ratios = {op: v / saved["uniform"][op] for op, v in figures.items()}
        print(f"{name:<18}" + "".join(f"{v:>13.1f} ({ratios[op]:5.2f})" for op, v in figures.items()), flush=True)
        missed.extend(f"slow cloud {name}: {op} {r:.2f} x uniform" for op, r in ratios.items() if r > 3)
    return saved


class _MallInfo2(ctypes.Structure):
    _fields_ = [(name, ctypes.c_size_t) for name in
                ("arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks", "fordblks",
                 "keepcost")]


def heap_in_use():
    """Bytes the C heap has handed out and not taken back (glibc), mapped blocks included."""
    libc = ctypes.CDLL(None)
    libc.mallinfo2.restype = _MallInfo2
    info = libc.mallinfo2()
    return info.uordblks + info.hblkhd


def resident():
    """Bytes of this process in memory: a tree may map its large arrays itself, past the heap."""
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def memory(ns, n):
    """Bytes per point held by each peer's tree, its copy of the points included: the growth of the
    heap or of the resident memory, whichever is larger (so it errs high). Ours is measured in the
    child processes, where it is the first tree."""
    figures = {}
    for name, make in {"cKDTree": lambda: ns["cKDTree"](ns["P"]), "pykdtree": lambda: ns["PyKDTree"](ns["P"])}.items():
        gc.collect()
        heap, pages = heap_in_use(), resident()
        tree = make()
        figures[name] = max(heap_in_use() - heap, resident() - pages) / n
        del tree
    print("\nMemory held by the peers' trees, bytes per point: " + ", ".join(f"{k} {v:.1f}" for k, v in figures.items()))
    return figures


def child(n):
    """Build and query times with this process's pool (RAYON_NUM_THREADS); prints JSON."""
    ns = {"KDTree": KDTree, "P": cube(n, 1), "X": cube(n, 2)}
    heap, pages = heap_in_use(), resident()
    ns["tree"] = KDTree(ns["P"])  # the first tree of a fresh process: its memory is new memory
    size = max(heap_in_use() - heap, resident() - pages) / n
    build, k1, k8 = timed(["KDTree(P)", "tree.query(X, 1)", "tree.query(X, 8)"], ns)
    print(json.dumps({"build": build, "query k=1": k1, "query k=8": k8, "bytes": size}))


def speedup(n, missed):
    print(f"\nPool workers: RAYON_NUM_THREADS=1 against 2 (child processes, {SPEEDUP_ROUNDS} rounds each, alternating)")
    samples = {1: [], 2: []}
    load = OtherLoad()
    for _ in range(SPEEDUP_ROUNDS):
        for workers in (1, 2):
            env = dict(os.environ, RAYON_NUM_THREADS=str(workers))
            out = subprocess.run([sys.executable, os.path.abspath(__file__), str(n), "--child"], env=env,
                                 check=True, capture_output=True, text=True).stdout
            samples[workers].append(json.loads(out.splitlines()[-1]))
    figures = {}
    for op in ("build", "query k=1", "query k=8"):
        one = statistics.median(s[op] for s in samples[1]) / n
        two = statistics.median(s[op] for s in samples[2]) / n
        figures[op] = {"1": one, "2": two}
        goal = "" if op == "build" else f"  goal >= 1.6: {'met' if one / two >= 1.6 else 'MISSED'}"
        if op != "build" and one / two < 1.6:
            missed.append(f"threads: {op} speed-up {one / two:.2f}")
        print(f"  {op:<10} {one:8.1f} ns with 1 worker, {two:8.1f} with 2: {one / two:.2f}x{goal}")
    print("  " + load.text())
    size = statistics.median(s["bytes"] for runs in samples.values() for s in runs)
    met = size <= 48
    if not met:
        missed.append(f"memory {size:.1f} bytes per point")
    print(f"Memory held by our tree, measured first in each child: {size:.1f} bytes per point (goal <= 48: "
          f"{'met' if met else 'MISSED'})")
    return figures, size


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("n", nargs="?", type=int, default=1_000_000, help="points and queries")
    parser.add_argument("--quick", action="store_true", help="a smoke run: 20,000 points, a small dask cloud")
    parser.add_argument("--child", action="store_true", help=argparse.SUPPRESS)
    parser.add_argument("--slow", action="store_true", help="only the slow clouds and the memory (about 2 minutes)")
    args = parser.parse_args()
    n = 20_000 if args.quick else args.n
    if args.child:
        child(n)
        return
    import scipy

    print(f"Nearest neighbours, {n:,} uniform points and {n:,} uniform queries (Python {sys.version.split()[0]}, "
          f"scipy {scipy.__version__}, {len(os.sched_getaffinity(0))} processors, RAYON_NUM_THREADS="
          f"{os.environ.get('RAYON_NUM_THREADS', 'unset')}; median of {ROUNDS} rounds; radius {radius_for(n):.5f})")
    missed = []
    load = OtherLoad()
    if args.slow:
        ns = {"tree": KDTree(cube(n, 1)), "X": cube(min(n, SLOW_QUERIES), 2)}
        save("slow", slow(ns, n, missed))
        print(load.text())
        del ns
        speedup(n, missed)
        print("\nGoals missed: " + ("none" if not missed else "\n  " + "\n  ".join(missed)))
        return
    ns = namespace(n, n)
    check_peers(ns)
    uniform = table(ns, n, n, missed)
    save("n", n)
    save("rows", uniform)
    save("hard", hard(ns, n, missed))
    save("slow", slow(ns, n, missed))
    peers_memory = memory(ns, n)
    print(load.text())
    del ns
    workers, size = speedup(n, missed)
    save("workers", workers)
    save("memory", {"ours": size, **peers_memory})
    import spatial_on_dask

    save("dask", spatial_on_dask.measure(*((200_000, 20_000) if args.quick else (10_000_000, 1_000_000))))
    print("\nGoals missed: " + ("none" if not missed else "\n  " + "\n  ".join(missed)))


if __name__ == "__main__":
    main()
