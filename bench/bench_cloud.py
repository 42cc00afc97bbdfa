"""Point-cloud steps against Open3D, scipy's cKDTree (workers=-1) and numpy, on two clouds of
1,000,000 points: uniform in a cube, and a scan-like surface (a noisy bumpy torus sampled along
rings, with exact duplicates). Every peer uses both cores where it can (Open3D's OpenMP, cKDTree's
workers=-1); numpy's fancy indexing is one thread.

Prints median ms per call over ROUNDS interleaved rounds (a fast call repeated for RUN_SECONDS in
each) and the ratio ours / peer (below 1.0: we are faster), both clouds side by side. Open3D's
outlier removals and normals build their own tree inside the call, so ours are timed with the KDTree
built in the same statement. A row whose method is not in this build of lumeric_py is skipped. Writes build/bench/bench_cloud.json for bench/plot.py.

Goals (each ratio, on both clouds):
  normals(k=30)                  <= 0.5 x Open3D estimate_normals(KDTreeSearchParamKNN(30))
  statistical_inliers(20, 2.0)   <= 0.5 x Open3D remove_statistical_outlier(20, 2.0)
  radius_inliers(r, 5)           <= 0.5 x Open3D remove_radius_outlier(5, r), about 10 points a ball
  voxel_down_sample (~10% kept)  <= 0.5 x Open3D voxel_down_sample
  query(X, 8, max_distance=r)    <= 0.5 x cKDTree.query(k=8, distance_upper_bound=r, workers=-1)
  count_radius(X, r)             <= 0.5 x cKDTree.query_ball_point(return_length=True, workers=-1)
  take (10% of the rows)         <= 0.5 x numpy a[idx]

  python3 bench/bench_cloud.py [N] [--quick]   (N points and N queries; --quick: 50,000)
"""

import argparse
import sys

import numpy as np

from common import OtherLoad, per_call_ns, save
from lumeric_py import KDTree, VecList

ROUNDS = 3
RUN_SECONDS = 0.3  # a run repeats a fast call for about this long (one call at least)
NEIGHBOURS = 10  # points in a ball of the radius rows
KEEP = 0.1  # the share of points voxel_down_sample keeps


def uniform(n, seed):
    return np.random.default_rng(seed).uniform(0.0, 1.0, (n, 3))


def torus(n, seed):
    """A scan of a bumpy torus: rings of samples around the tube, noise along the normal, and 5% of
    the points repeated exactly (as overlapping scans give)."""
    rng = np.random.default_rng(seed)
    unique = n - n // 20
    rings = int(np.sqrt(unique * 4))
    per_ring = unique // rings + 1
    theta = np.repeat(np.linspace(0, 2 * np.pi, rings, endpoint=False), per_ring)[:unique]
    phi = np.tile(np.linspace(0, 2 * np.pi, per_ring, endpoint=False), rings)[:unique]
    phi = phi + rng.uniform(0, 2 * np.pi / per_ring, unique)
    tube = 0.3 * (1 + 0.15 * np.sin(5 * theta) * np.cos(3 * phi)) + rng.normal(0, 0.002, unique)
    points = np.stack([(1 + tube * np.cos(phi)) * np.cos(theta), (1 + tube * np.cos(phi)) * np.sin(theta),
                       tube * np.sin(phi)], axis=1)
    return np.vstack([points, points[rng.integers(0, unique, n - unique)]])


def radius_for(points, ck):
    """The radius whose ball holds about NEIGHBOURS other points: the median distance to the
    (NEIGHBOURS + 1)-th nearest (the point itself first) over a sample."""
    sample = points[:: max(1, len(points) // 2000)]
    distances, _ = ck.query(sample, NEIGHBOURS + 1, workers=-1)
    return float(np.median(distances[:, -1]))


def voxel_size_for(cloud, n):
    """The voxel side keeping about KEEP of the points (bisection on the count)."""
    low, high = 1e-6, 10.0
    for _ in range(40):
        size = (low * high) ** 0.5
        kept = len(cloud.voxel_down_sample(size)) / n
        if abs(kept - KEEP) < 0.005:
            break
        low, high = (size, high) if kept > KEEP else (low, size)
    return size


def has(method, probe):
    try:
        probe()
        return True
    except (AttributeError, TypeError):
        print(f"  (skipped: {method} is not in this build)")
        return False


def rows_for(ns):
    """(operation, peer, ours, theirs) for each row this build can run."""
    o3d = ns.get("o3d")
    knn = "o3d.geometry.KDTreeSearchParamKNN(30)"
    tree = ns["tree"]
    rows = []
    if o3d and has("KDTree.normals", lambda: tree.normals):
        rows.append(("normals(k=30)", "Open3D", "KDTree(P).normals(30)",
                     f"pcd.normals.clear(); pcd.estimate_normals({knn})"))
    if o3d and has("KDTree.statistical_inliers", lambda: tree.statistical_inliers):
        rows.append(("statistical_inliers", "Open3D", "KDTree(P).statistical_inliers(20, 2.0)",
                     "pcd.remove_statistical_outlier(20, 2.0)"))
    if o3d and has("KDTree.radius_inliers", lambda: tree.radius_inliers):
        rows.append(("radius_inliers", "Open3D", "KDTree(P).radius_inliers(r, 5)", "pcd.remove_radius_outlier(5, r)"))
    if o3d:
        rows.append(("voxel_down_sample", "Open3D", "cloud.voxel_down_sample(size)", "pcd.voxel_down_sample(size)"))
    if has("KDTree.query(max_distance=)", lambda: tree.query(ns["X"][:2], 8, max_distance=ns["r"])):
        rows.append(("query k=8, bounded", "cKDTree", "tree.query(X, 8, max_distance=r)",
                     "ck.query(X, 8, distance_upper_bound=r, workers=-1)"))
    if has("KDTree.count_radius", lambda: tree.count_radius):
        rows.append(("count_radius", "cKDTree", "tree.count_radius(X, r)",
                     "ck.query_ball_point(X, r, return_length=True, workers=-1)"))
    rows.append(("take 10%", "numpy", "cloud.take(idx)", "P[idx]"))
    return rows


def namespace(points, queries):
    from scipy.spatial import cKDTree

    n = len(points)
    ck = cKDTree(points)
    cloud = VecList.from_array(points)
    ns = {"np": np, "KDTree": KDTree, "P": points, "X": queries, "ck": ck, "tree": KDTree(points), "cloud": cloud,
          "r": radius_for(points, ck), "size": voxel_size_for(cloud, n),
          "idx": np.random.default_rng(4).integers(0, n, n // 10)}
    try:
        import open3d

        ns.update(o3d=open3d, pcd=open3d.geometry.PointCloud(open3d.utility.Vector3dVector(points)))
    except ImportError:
        print("  (Open3D is not installed: its rows are skipped)")
    return ns


def check(ns):
    """The peers keep what we keep, where both ran: voxel points bit for bit once sorted, the rows taken."""
    if ns.get("o3d"):
        theirs = np.asarray(ns["pcd"].voxel_down_sample(ns["size"]).points)
        ours = np.asarray(ns["cloud"].voxel_down_sample(ns["size"]))
        assert np.array_equal(*(a[np.lexsort(a.T[::-1])] for a in (ours, theirs))), "voxel points"
    assert np.array_equal(np.asarray(ns["cloud"].take(ns["idx"])), ns["P"][ns["idx"]]), "take"


def measure(name, points, queries):
    ns = namespace(points, queries)
    check(ns)
    print(f"\n{name}: {len(points):,} points, {len(queries):,} queries; radius {ns['r']:.4g} (about {NEIGHBOURS} "
          f"a ball), voxel side {ns['size']:.4g} (keeps {len(ns['cloud'].voxel_down_sample(ns['size'])):,})")
    header = f"{'operation':<22}{'peer':>9}{'ours ms':>10}{'peer ms':>10}{'ratio':>8}"
    print(header + "\n" + "-" * len(header))
    saved = []
    for operation, peer, ours, theirs in rows_for(ns):
        mine, other = per_call_ns([ours, theirs], ns, number=None, runs=ROUNDS, run_seconds=RUN_SECONDS)
        saved.append({"operation": operation, "peer": peer, "ours": mine, "theirs": other})
        print(f"{operation:<22}{peer:>9}{mine / 1e6:>10.1f}{other / 1e6:>10.1f}{mine / other:>8.2f}", flush=True)
    return saved


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("n", nargs="?", type=int, default=1_000_000)
    parser.add_argument("--quick", action="store_true")
    args = parser.parse_args()
    n = 50_000 if args.quick else args.n
    load = OtherLoad()
    print(f"Point-cloud steps (Python {sys.version.split()[0]}; median of {ROUNDS} interleaved rounds; "
          "ratio = ours / peer, goal <= 0.5)")
    clouds = {"uniform": (uniform(n, 1), uniform(n, 2)), "torus scan": (torus(n, 1), torus(n, 2))}
    results = {name: measure(name, *data) for name, data in clouds.items()}
    print(f"\n{load.text()}")
    missed = [f"{name}: {r['operation']} {r['ours'] / r['theirs']:.2f}" for name, rows in results.items()
              for r in rows if r["ours"] > 0.5 * r["theirs"]]
    print("Goals: " + ("all met" if not missed else "MISSED " + "; ".join(missed)))
    save("n", n)
    save("clouds", results)


if __name__ == "__main__":
    main()
