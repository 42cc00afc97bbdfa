# Rigid maps and registration: Transform's formulas bit for bit as our own operations compose them,
# alignment against a numpy weighted Kabsch, ICP against Open3D's registration_icp for both methods
# (the same bits at any worker count: test_pool.py; the refusals: refusals.py).

import copy
import math
import os

import numpy as np
import pytest
from helpers import fields, same_fields
from lumeric_py import AngleRadians, IcpResult, KDTree, Quat, Transform, Vec3d, VecList

o3d = None
if "libasan" not in os.environ.get("LD_PRELOAD", ""):  # as scipy's oracle: nothing under LeakSanitizer
    try:
        import open3d as o3d
    except ImportError:
        pass
with_open3d = pytest.mark.skipif(o3d is None, reason="open3d is not importable")

A = Transform(Quat(-0.27, 0.64, -0.37, 0.91), Vec3d(0.7, -1.3, 2.9))  # not unit: every product shows
B = Transform(Quat(-1.28, 0.73, -1.74, 0.21), Vec3d(-0.08, -0.91, 2.73))
P = Vec3d(1.39, 1.06, -0.98)
RNG = np.random.default_rng(5)


def rotation_block(t):  # rotate's matrix: the transpose of to_rotation_matrix
    return [list(col) for col in zip(*t.rotation.to_rotation_matrix())]


@pytest.mark.parametrize("got, want", [
    (lambda: A.then(B), lambda: Transform(A.rotation.multiply(B.rotation), B.rotation.rotate(A.translation) + B.translation)),
    (lambda: A.inverse(), lambda: Transform(A.rotation.inverse(), -A.rotation.inverse().rotate(A.translation))),
    (lambda: A.apply(P), lambda: A.rotation.rotate(P) + A.translation),
    (lambda: A.to_matrix(), lambda: [r + [x] for r, x in zip(rotation_block(A), A.translation.to_array())] + [[0, 0, 0, 1]]),
    (lambda: Transform.identity(), lambda: Transform(Quat.identity(), Vec3d.zero())),
], ids=["then", "inverse", "apply", "to_matrix", "identity"])
def test_formulas_bit_for_bit(got, want):
    assert same_fields(fields(got()), fields(want()))


@pytest.mark.no_leak_check  # numpy
def test_transform_in_place_is_apply_per_element():
    rows = RNG.normal(size=(5000, 3))
    lst = VecList.from_array(rows)
    lst.transform(A)
    assert same_fields(fields(lst.list), fields([A.apply(Vec3d(*r)) for r in rows.tolist()]))


@pytest.mark.parametrize("other, equal", [
    (copy.deepcopy(A), True),
    (Transform(A.rotation, Vec3d(0.7, -1.3, 2.9000000000000004)), False),  # one ulp
    (Transform(Quat(1, 0, 0, 0), Vec3d(0, 0, -0.0)), False),  # -0.0 is not 0.0 ...
])
def test_equality_is_by_bits(other, equal):
    assert (other == A) is equal and (other != A) is not equal
    nan = Transform(Quat(math.nan, 0, 0, 0), Vec3d(0, 0, 0))
    assert nan == copy.copy(nan) and Transform.identity() != Transform(Quat(1, 0, 0, 0), Vec3d(0, 0, -0.0))


def kabsch(p, q, w):  # the numpy reference: weighted centroids, covariance, SVD, no reflection
    w = w / w.sum()
    mp, mq = w @ p, w @ q
    u, _, vt = np.linalg.svd(((p - mp) * w[:, None]).T @ (q - mq))
    d = np.sign(np.linalg.det(vt.T @ u.T))
    r = vt.T @ np.diag([1.0, 1.0, d]) @ u.T
    return r, mq - r @ mp


def random_transform(rng):
    q = Quat(*rng.normal(size=4)).normalize()
    return Transform(q, Vec3d(*rng.uniform(-10, 10, 3)))


@pytest.mark.no_leak_check  # numpy
@pytest.mark.parametrize("seed", range(4))
def test_align_agrees_with_kabsch(seed):  # recovering an exact motion: the core's test
    rng = np.random.default_rng(seed)
    truth = random_transform(rng)
    p = rng.uniform(-5, 5, (300, 3))
    q = np.array([truth.apply(Vec3d(*r)).to_array() for r in p.tolist()])
    noisy, w = q + rng.normal(0, 0.05, q.shape), rng.uniform(0, 2, len(p))
    m = np.array(Transform.align(VecList.from_array(p), noisy, w.tolist()).to_matrix())
    r, t = kabsch(p, noisy, w)
    assert np.abs(m[:3, :3] - r).max() < 1e-12 and np.abs(m[:3, 3] - t).max() < 1e-12


# How close the nearest reading comes is the core's test; here the keyword picks the reading.
@pytest.mark.no_leak_check  # numpy
def test_nearest_rotation_reads_matrices_from_files():
    q = Quat(0.3, -0.5, 0.7, 0.1).normalize()
    m = np.round(np.array(q.to_rotation_matrix()), 6)  # six decimals, as read from a file
    assert max(abs(a - b) for a, b in zip(fields(Quat.from_rotation_matrix(m, nearest=True))[1:], fields(q)[1:])) < 1e-6
    with pytest.raises(ValueError, match="not orthonormal"):
        Quat.from_rotation_matrix(m, nearest=False)


TWO = [(0, 0, 0), (1, 0, 0)]
TREE = KDTree(TWO)


@pytest.mark.no_leak_check  # numpy
def test_last_row_compares_to_zero_and_icp_without_pairs_keeps_init():
    unit = Transform(A.rotation.normalize(), A.translation)
    m = np.array(unit.to_matrix())
    m[3, :3] = -0.0
    assert Transform.from_matrix(m) == Transform.from_matrix(unit.to_matrix())
    result = TREE.icp([(50, 50, 50)], 1.0, init=B)
    assert isinstance(result, IcpResult) and tuple(result) == (B, 0.0, 0.0, 0)
    assert TREE.icp([(2, 0, 0)], 1.0, iterations=0).fitness == 1.0  # a pair at max_distance counts


def scan(rng, n):  # a rolling surface seen from above, as one sweep of a scanner gives it
    xy = rng.uniform(0, 4, (n, 2))
    return np.column_stack([xy, 0.3 * np.sin(2 * xy[:, 0]) * np.cos(3 * xy[:, 1]) + 0.1 * xy[:, 0]])


def slopes(points):  # the surface's normals, not normalised
    x, y = points[:, 0], points[:, 1]
    return np.column_stack([-0.6 * np.cos(2 * x) * np.cos(3 * y) - 0.1, 0.9 * np.sin(2 * x) * np.sin(3 * y), np.ones(len(x))])


def scans(seed, n):  # target, source: an overlapping part of it, moved a little and noisy
    rng = np.random.default_rng(seed)
    target = scan(rng, n)
    part = target[target[:, 0] > 1.0][: n // 2]
    back = Transform(Quat.from_axis_angle(Vec3d(1, 2, 3).normalize(), AngleRadians(0.05)), Vec3d(0.03, -0.02, 0.01)).inverse()
    moved = np.array([back.apply(Vec3d(*r)).to_array() for r in part.tolist()])
    return target, moved + rng.normal(0, 0.001, moved.shape)


@pytest.mark.no_leak_check  # numpy
@with_open3d
@pytest.mark.parametrize("plane", [False, True], ids=["point-to-point", "point-to-plane"])
def test_icp_agrees_with_open3d(plane):
    target, source = scans(1, 8000)
    cloud = o3d.geometry.PointCloud(o3d.utility.Vector3dVector(target))
    cloud.estimate_normals(o3d.geometry.KDTreeSearchParamKNN(20))
    reg = o3d.pipelines.registration
    method = reg.TransformationEstimationPointToPlane() if plane else reg.TransformationEstimationPointToPoint()
    theirs = reg.registration_icp(o3d.geometry.PointCloud(o3d.utility.Vector3dVector(source)), cloud, 0.1, np.eye(4),
                                  method, reg.ICPConvergenceCriteria(1e-6, 1e-6, 30))
    ours = KDTree(target).icp(source, 0.1, normals=np.asarray(cloud.normals) if plane else None)
    assert np.abs(np.array(ours.transform.to_matrix()) - theirs.transformation).max() < 1e-9
    assert ours.fitness == theirs.fitness and 1 < ours.iterations < 30


@pytest.mark.no_leak_check  # numpy
def test_pairs_without_a_normal_stay_out_of_the_step_only():
    target, source = scans(2, 4000)
    normals = slopes(target)
    normals[::10] = math.nan  # too small a neighbourhood, as the tree's normals mark it
    result = KDTree(target).icp(source, 0.1, normals=normals)
    truth = Transform(Quat.from_axis_angle(Vec3d(1, 2, 3).normalize(), AngleRadians(0.05)), Vec3d(0.03, -0.02, 0.01))
    assert np.abs(np.array(result.transform.to_matrix()) - truth.to_matrix()).max() < 1e-3 and result.fitness == 1.0
