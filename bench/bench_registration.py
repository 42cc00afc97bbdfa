"""Registration: KDTree.icp against Open3D's registration_icp, Transform.align against the numpy
Kabsch, and VecList.transform against rotate followed by +, in one run.

The clouds are scan-like: two sweeps over a rolling surface that share half their area, the second
turned and shifted a little and noisy, so about half of the source finds a partner within
max_distance. Both ICPs run exactly 30 iterations (thresholds 0) with the same max_distance, from
the identity; point-to-plane takes Open3D's estimated normals of the target (not timed). Prints
median seconds and the ratio ours / peer (below 1.0: we are faster).

Goals (ratios within one run):
  icp        point-to-point and point-to-plane, 100,000 and 1,000,000 points: <= 0.5 x Open3D
  align      1,000,000 pairs: <= 0.5 x the numpy Kabsch (centring, (P - mp).T @ (Q - mq), svd)
  transform  1,000,000 points: <= rotate plus +

  python3 bench/bench_registration.py [--quick]   (--quick: 20,000 points, for a smoke run;
                                                    about 8 minutes at full size)
"""

import argparse
import statistics
import time

import numpy as np
import open3d as o3d

from lumeric_py import AngleRadians, KDTree, Quat, Transform, Vec3d, VecList

MAX_DISTANCE = 0.05
ITERATIONS = 30


def sweep(rng, n, x0):
    """n points of the surface over [x0, x0 + 2] x [0, 2], with scanner noise."""
    xy = rng.uniform(0, 2, (n, 2)) + [x0, 0]
    z = 0.3 * np.sin(2 * xy[:, 0]) * np.cos(3 * xy[:, 1]) + 0.05 * np.sin(9 * xy[:, 0] + 4 * xy[:, 1])
    return np.column_stack([xy, z]) + rng.normal(0, 0.002, (n, 3))


def clouds(n, seed=0):
    rng = np.random.default_rng(seed)
    target = sweep(rng, n, 0.0)
    source = sweep(rng, n, 1.0)  # half of it over the target's area
    motion = Transform(Quat.from_axis_angle(Vec3d(1, 2, 3).normalize(), AngleRadians(0.03)), Vec3d(0.02, -0.01, 0.01))
    moved = VecList.from_array(source)
    moved.transform(motion.inverse())
    return target, np.array(moved)


def median_seconds(run, rounds):
    """The median time of `rounds` calls, and the last call's result."""
    times = []
    for _ in range(rounds):
        start = time.perf_counter()
        result = run()
        times.append(time.perf_counter() - start)
    return statistics.median(times), result


def icp_rows(n, rounds):
    target, source = clouds(n)
    tree = KDTree(target)
    cloud = o3d.geometry.PointCloud(o3d.utility.Vector3dVector(target))
    cloud.estimate_normals(o3d.geometry.KDTreeSearchParamKNN(20))
    normals = np.asarray(cloud.normals).copy()
    moving = o3d.geometry.PointCloud(o3d.utility.Vector3dVector(source))
    reg = o3d.pipelines.registration
    criteria = reg.ICPConvergenceCriteria(0.0, 0.0, ITERATIONS)
    rows = []
    for method, estimation, given in [("point-to-point", reg.TransformationEstimationPointToPoint(), None),
                                      ("point-to-plane", reg.TransformationEstimationPointToPlane(), normals)]:
        ours, result = median_seconds(lambda: tree.icp(source, MAX_DISTANCE, relative_fitness=0.0, relative_rmse=0.0,
                                                       normals=given), rounds)
        theirs, peer = median_seconds(lambda: reg.registration_icp(moving, cloud, MAX_DISTANCE, np.eye(4), estimation,
                                                                   criteria), rounds)
        gap = np.abs(np.array(result.transform.to_matrix()) - peer.transformation).max()
        rows.append((f"icp {method}, {n:,} points", ours, theirs, "Open3D",
                     f"fitness {result.fitness:.3f} / {peer.fitness:.3f}, max |dM| {gap:.1e}"))
    return rows


def kabsch(p, q):
    mp, mq = p.mean(axis=0), q.mean(axis=0)
    u, _, vt = np.linalg.svd((p - mp).T @ (q - mq))
    d = np.sign(np.linalg.det(vt.T @ u.T))
    r = vt.T @ np.diag([1.0, 1.0, d]) @ u.T
    return r, mq - r @ mp


def align_row(n, rounds):
    target, source = clouds(n, seed=1)
    ours_source, ours_target = VecList.from_array(source), VecList.from_array(target)
    ours, found = median_seconds(lambda: Transform.align(ours_source, ours_target), rounds)
    theirs, (r, t) = median_seconds(lambda: kabsch(source, target), rounds)
    m = np.array(found.to_matrix())
    gap = max(np.abs(m[:3, :3] - r).max(), np.abs(m[:3, 3] - t).max())
    return (f"align, {n:,} pairs", ours, theirs, "numpy Kabsch", f"max |dR|, |dt| {gap:.1e}")


def transform_row(n, rounds):
    points = VecList.from_array(np.random.default_rng(2).normal(size=(n, 3)))
    t = Transform(Quat(0.5, 0.5, -0.5, 0.5), Vec3d(1, 2, 3))

    def rotate_then_add():
        points.rotate(t.rotation)
        return points + t.translation

    ours, _ = median_seconds(lambda: points.transform(t), rounds)
    theirs, _ = median_seconds(rotate_then_add, rounds)
    return (f"transform, {n:,} points", ours, theirs, "rotate, then +", "in place against a new list")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true")
    quick = parser.parse_args().quick
    sizes = [20_000] if quick else [100_000, 1_000_000]
    rows = []
    for n in sizes:
        rows += icp_rows(n, 3 if n <= 100_000 else 1)
    big = sizes[-1]
    rows.append(align_row(big, 7))
    rows.append(transform_row(big, 7))
    print(f"{'':<40} {'ours s':>9} {'peer s':>9} {'ratio':>6}  peer; notes")
    for label, ours, theirs, peer, notes in rows:
        print(f"{label:<40} {ours:>9.4f} {theirs:>9.4f} {ours / theirs:>6.2f}  {peer}; {notes}")


if __name__ == "__main__":
    main()
