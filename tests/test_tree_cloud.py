# The tree's point-cloud steps against numpy brute force: the bounded k nearest and counts,
# normals, statistical and radius inliers, on clouds of ties, duplicates, NaN, a plane, a line and
# a single point (the same bits at any worker count: test_pool.py); Open3D as an oracle where it applies.

import math

import numpy as np
import pytest

from helpers import bits, import_oracle
from lumeric_py import KDTree, Vec3d, VecList

INF, NAN = math.inf, math.nan
GRID = [[float(x), float(y), float(z)] for x in range(-2, 3) for y in range(-1, 2) for z in range(2)]
CLOUDS = {
    "ties": GRID + GRID[:9] + [[NAN, 0.0, 0.0], [INF, 1.0, 0.0], [-0.0, 0.0, -0.0]],
    "plane": [[x / 4, y / 8, x / 8 - y / 16] for x in range(-4, 5) for y in range(-3, 4)],
    "line": [[t / 2, t, -t / 4] for t in range(-6, 7)] * 2,
    "single": [[1.0, 2.0, 3.0]],
    "copies": [[0.5, -1.0, 2.0]] * 6,
}


def keys(rows, x):  # Vec3d.distance_squared of each row to x, grouped as it groups
    with np.errstate(invalid="ignore"):  # inf - inf
        d = np.asarray(rows, dtype=float).reshape(-1, 3) - np.asarray(x, dtype=float)
    return (d[:, 0] * d[:, 0] + d[:, 1] * d[:, 1]) + d[:, 2] * d[:, 2]


def neighbours(rows, x, k, bound=INF):  # the first k of the ranking within the bound: (indices, distances)
    key = keys(rows, x)
    order = np.lexsort((np.arange(len(rows)), np.where(np.isnan(key), INF, key), np.isnan(key)))[:k]
    distances = np.sqrt(key[order])
    kept = (distances <= bound) if bound != INF else np.ones(len(order), bool)
    return order[kept], distances[kept]


def finite(rows):
    return np.isfinite(np.asarray(rows, dtype=float).reshape(-1, 3)).all(1)


@pytest.mark.no_leak_check  # numpy
@pytest.mark.parametrize("name", CLOUDS)
def test_bounded_nearest_and_counts_equal_brute_force(name):
    rows, tree = CLOUDS[name], KDTree(CLOUDS[name])
    xs = [r for r in rows if not math.isnan(sum(r))][:20] + [[0.3, 0.2, 0.1], [INF, 0.0, 0.0]]
    for k in (1, 3, 40):
        for bound in (0.0, 0.5, 1.0, math.sqrt(2.0), INF):
            distances, indices = tree.query(xs, k, max_distance=bound)
            got = zip(np.asarray(distances).reshape(len(xs), k).tolist(), np.asarray(indices).reshape(len(xs), k).tolist())
            for x, (d, i) in zip(xs, got):
                found, near = neighbours(rows, x, k, bound)
                assert i == found.tolist() + [len(rows)] * (k - len(found)), (x, k, bound)
                assert [bits(v) for v in d] == [bits(v) for v in near.tolist() + [INF] * (k - len(found))]
                if k == 3:
                    assert tree.query(Vec3d(*x), k, bound) == (d, i)
            counts = tree.count_radius(xs, bound)
            assert counts.format == "q" and counts.readonly
            assert counts.tolist() == [len(tree.query_radius(Vec3d(*x), bound)) for x in xs]
            assert tree.count_radius(Vec3d(*xs[0]), bound) == counts[0]


def mean_distances(rows, k):  # d_i of each finite point, None for the others
    out = []
    for i, p in enumerate(rows):
        if not finite([p])[0]:
            out.append(None)
            continue
        total, count = 0.0, 0
        for d in neighbours(rows, p, k)[1].tolist():
            if math.isfinite(d):
                total, count = total + d, count + 1
        out.append(total / count)
    return out


def statistical_kept(rows, k, ratio):
    d = [v for v in mean_distances(rows, k) if v is not None]
    mu = sum(d, 0.0) / len(d) if d else 0.0
    squares = 0.0
    for v in d:
        squares += (v - mu) * (v - mu)
    sigma = math.sqrt(squares / (len(d) - 1)) if len(d) > 1 else 0.0
    return [i for i, v in enumerate(mean_distances(rows, k)) if v is not None and v <= mu + ratio * sigma]


@pytest.mark.no_leak_check  # numpy
@pytest.mark.parametrize("name", CLOUDS)
def test_inliers_equal_brute_force(name):
    rows, tree = CLOUDS[name], KDTree(CLOUDS[name])
    for k, ratio in [(1, 0.0), (4, 1.0), (8, -0.5), (30, 2)]:
        kept = tree.statistical_inliers(k, ratio)
        assert (kept.format, kept.readonly) == ("q", True)
        assert kept.tolist() == statistical_kept(rows, k, ratio), (k, ratio)
    for r in (0.0, 0.25, 1.0, math.sqrt(2.0)):
        for least in (0, 1, 3, 10**30):
            expected = [i for i, p in enumerate(rows) if finite([p])[0]
                        and (np.sqrt(keys(rows, p)) <= r).sum() - 1 >= least]
            assert tree.radius_inliers(r, least).tolist() == expected, (r, least)


def check_sign(n, p, toward):
    side = n.dot(toward - p) if toward is not None else 0.0
    if side == 0.0:
        largest = max(range(3), key=lambda a: (abs(n[a]), -a))
        assert n[largest] > 0
    else:
        assert side > 0


@pytest.mark.no_leak_check  # numpy
@pytest.mark.parametrize("name", CLOUDS)
@pytest.mark.parametrize("k, bound, toward", [(30, INF, None), (5, 0.6, Vec3d(0, 0, -10)), (3, INF, Vec3d(1, -2, 3))])
def test_normals_equal_brute_force(name, k, bound, toward):
    rows = CLOUDS[name]
    got = KDTree(rows).normals(k, max_distance=bound, toward=toward)
    assert isinstance(got, VecList) and len(got) == len(rows)
    for i, p in enumerate(rows):
        found = [j for j, d in zip(*neighbours(rows, p, k, bound)) if math.isfinite(d)]
        n = got[i]
        if not finite([p])[0] or len(found) < 3:
            assert all(math.isnan(c) for c in (n.x, n.y, n.z)), i
            continue
        c = [sum((rows[j][a] for j in found), 0.0) / len(found) for a in range(3)]
        dev = np.array([[rows[j][a] - c[a] for a in range(3)] for j in found])
        values, vectors = np.linalg.eigh(dev.T @ dev)
        assert abs(n.magnitude() - 1.0) < 1e-15
        if values[2] == 0:  # all one point
            assert n == Vec3d(0, 0, 1) or (toward is not None and n == Vec3d(0, 0, -1))
        elif values[1] > 1e-6 * values[2]:  # a plane: its normal up to sign
            assert abs(n.dot(Vec3d(*vectors[:, 0]))) >= 1 - 1e-9, i
        else:  # a line: any direction across it
            assert abs(n.dot(Vec3d(*vectors[:, 2]))) <= 1e-9, i
        check_sign(n, Vec3d(*p), toward)


def test_coincident_points_are_kept_and_the_threshold_is_inclusive():
    # Copies of one point have mean distance 0: kept. With k = 1 every mean is 0 = mu + ratio * 0.
    tree = KDTree([[1.0, 1.0, 1.0]] * 5 + [[9.0, 9.0, 9.0], [1.0, 1.0, NAN]])
    assert tree.statistical_inliers(5, 0.0).tolist() == [0, 1, 2, 3, 4]
    assert tree.statistical_inliers(1, -3).tolist() == [0, 1, 2, 3, 4, 5]
    assert tree.radius_inliers(0.0, 4).tolist() == [0, 1, 2, 3, 4]
    assert tree.radius_inliers(math.sqrt(192.0), 5).tolist() == [0, 1, 2, 3, 4, 5]  # 5 others at exactly r
    normals = tree.normals(3)
    assert [normals[i] for i in range(5)] == [Vec3d(0, 0, 1)] * 5 and math.isnan(normals[6].x)
    assert tree.query(Vec3d(1, 1, 1), 7, 0.0) == ([0.0] * 5 + [INF] * 2, [0, 1, 2, 3, 4, 7, 7])
    assert tree.count_radius(Vec3d(1, 1, 1), INF) == 6  # the NaN point is in no ball


@pytest.mark.no_leak_check  # Open3D
def test_open3d_agrees_away_from_thresholds():
    o3d = import_oracle("open3d")
    rng = np.random.default_rng(9)
    surface = rng.standard_normal((4000, 3))
    surface /= np.linalg.norm(surface, axis=1, keepdims=True)  # a sphere: every patch well conditioned
    cloud = np.concatenate([surface, rng.uniform(-3, 3, (100, 3))])
    pcd = o3d.geometry.PointCloud(o3d.utility.Vector3dVector(cloud))
    tree = KDTree(cloud)
    pcd.estimate_normals(o3d.geometry.KDTreeSearchParamKNN(30))
    ours = np.asarray(tree.normals(30).to_array())[:4000]
    assert np.abs((ours * np.asarray(pcd.normals)[:4000]).sum(1)).min() >= 1 - 1e-9
    # statistical: the same set but for points whose mean distance lies within 1e-9 of the threshold
    d = np.array(mean_distances(cloud.tolist(), 20))
    threshold = d.mean() + 2.0 * d.std(ddof=1)
    near = set(np.flatnonzero(np.abs(d - threshold) <= 1e-9 * threshold).tolist())
    _, theirs = pcd.remove_statistical_outlier(20, 2.0)
    assert set(tree.statistical_inliers(20, 2.0).tolist()) - near == set(theirs) - near
    # radius: the same set but for points with a neighbour within 1e-9 of r
    r = 0.12
    ball = np.sqrt(np.array([keys(cloud, p) for p in cloud]))
    near = set(np.flatnonzero((np.abs(ball - r) <= 1e-9).any(1)).tolist())
    _, theirs = pcd.remove_radius_outlier(nb_points=5, radius=r)
    assert set(tree.radius_inliers(r, 5).tolist()) - near == set(theirs) - near
