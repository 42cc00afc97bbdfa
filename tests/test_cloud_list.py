# VecList.voxel_down_sample and VecList.take against references written from their definitions:
# the grid corner min - size/2, floor((p - ref) / size) per axis, coordinates summed from 0.0 in
# ascending index, voxels in (ix, iy, iz) order, -1 in the inverse for a point left out; take's
# rows in the order of the indices. Their refusals are rows of tests/refusals.py.

import math

import numpy as np
import pytest

from helpers import import_oracle
from lumeric_py import VecList

NAN, INF = math.nan, math.inf


def voxel_reference(rows, size):  # (means as rows, inverse), from the definition, one float at a time
    kept = [i for i, p in enumerate(rows) if all(map(math.isfinite, p))]
    if not kept:
        return [], [-1] * len(rows)
    ref = [min(rows[i][a] for i in kept) - size * 0.5 for a in range(3)]
    voxel = {i: tuple(math.floor((rows[i][a] - ref[a]) / size) for a in range(3)) for i in kept}
    order = sorted(set(voxel.values()))
    row_of = {v: k for k, v in enumerate(order)}
    sums = [[0.0, 0.0, 0.0, 0] for _ in order]
    for i in kept:  # ascending index
        s = sums[row_of[voxel[i]]]
        s[0], s[1], s[2], s[3] = s[0] + rows[i][0], s[1] + rows[i][1], s[2] + rows[i][2], s[3] + 1
    means = [[s[0] / s[3], s[1] / s[3], s[2] / s[3]] for s in sums]
    return means, [row_of[voxel[i]] if i in voxel else -1 for i in range(len(rows))]


def grid_cloud(n, seed):  # points on and between voxel faces, duplicates, and sums whose order shows
    rng = np.random.default_rng(seed)
    rows = rng.integers(-6, 6, (n, 3)) * 0.25 + rng.choice([0.0, 0.1, 1 / 3], (n, 3)) * rng.uniform(0, 1, (n, 3))
    return [tuple(map(float, r)) for r in rows]


CLOUDS = [  # (name, rows, size)
    ("single point", [(1.5, -2.0, 7.25)], 0.3),
    ("negative zero", [(-0.0, 0.0, -0.0), (0.0, -0.0, 0.0)], 1.0),
    ("ties on faces", [(x, y, z) for x in (0.0, 0.5, 1.0) for y in (0.0, 0.25) for z in (0.0, 1.0, 1.0)], 0.5),
    ("NaN and inf left out", [(0.0, 0.0, 0.0), (NAN, 1.0, 1.0), (1.0, INF, 0.0), (0.3, 0.4, 0.5), (2.0, 2.0, -INF)], 0.5),
    ("nothing finite", [(NAN, 0.0, 0.0), (INF, INF, INF)], 1.0),
    ("empty", [], 1.0),
    ("huge extent", [(-1e300, 0.0, 0.0), (1e300, 1.0, 2.0), (5e299, 1.0, 2.0)], 1e298),
    ("indices near 2**62", [(0.0, 0.0, 0.0), (3.0, 1.0, -1.0), (1.5, 0.5, 0.0)], 3.0 / 2**62 * 1.01),
    ("sparse, 41-bit keys, four passes", grid_cloud(2000, 3) + [(2e4, -1e4, 1e4)] * 3, 1.0),
    ("many per voxel", grid_cloud(3000, 1), 0.5),
    ("cut into pieces", grid_cloud(70_000, 2), 0.25),
]


def as_rows(lst):
    return [tuple(r) for r in lst.to_array()]


def bit_rows(rows):
    return np.array(rows, dtype=np.float64).reshape(-1, 3).tobytes()


@pytest.mark.no_leak_check  # numpy
@pytest.mark.parametrize("name, rows, size", CLOUDS, ids=[c[0] for c in CLOUDS])
def test_voxel_down_sample_is_the_definition(name, rows, size):
    cloud = VecList.from_array(rows) if rows else VecList.empty()
    means, inverse = voxel_reference(rows, size)
    alone = cloud.voxel_down_sample(size)
    down, got_inverse = cloud.voxel_down_sample(size, return_inverse=True)
    assert bit_rows(as_rows(alone)) == bit_rows(as_rows(down)) == bit_rows(means)
    assert got_inverse.format == "q" and got_inverse.readonly and got_inverse.tolist() == inverse


@pytest.mark.no_leak_check  # numpy, open3d
def test_voxel_points_are_open3ds_once_sorted():
    o3d = import_oracle("open3d")
    points = np.random.default_rng(5).uniform(-3, 7, (200_000, 3))
    peer = o3d.geometry.PointCloud(o3d.utility.Vector3dVector(points)).voxel_down_sample(0.37)
    theirs = np.asarray(peer.points)
    ours = np.asarray(VecList.from_array(points).voxel_down_sample(0.37))
    assert len(ours) > 10_000
    ordered = [a[np.lexsort(a.T[::-1])] for a in (ours, theirs)]
    assert ordered[0].tobytes() == ordered[1].tobytes()


# -- take --

BASE = [(float(k), -0.5 * k, k / 3) for k in range(50)]
INDEX_FORMS = [  # the same indices as a sequence and as buffers of every integer width, sign and stride
    lambda idx: idx, lambda idx: tuple(idx), lambda idx: np.array(idx, dtype=np.int64),
    lambda idx: memoryview(np.array(idx, dtype=np.int64)),
    lambda idx: np.array(idx, dtype=np.uint8), lambda idx: np.array(idx, dtype=np.int16),
    lambda idx: np.array(idx, dtype=np.uint32), lambda idx: np.array(idx, dtype=np.uint64),
    lambda idx: np.repeat(np.array(idx, dtype=np.int64), 2)[::2], lambda idx: np.array(idx[::-1], dtype=np.int32)[::-1],
]


@pytest.mark.no_leak_check  # numpy
@pytest.mark.parametrize("form", range(len(INDEX_FORMS)))
def test_take_is_fancy_indexing(form):
    cloud = VecList.from_array(BASE)
    for idx in ([], [7], [49, 0, 3, 3, 49, 12], list(range(50))[::-1] * 3):
        got = cloud.take(INDEX_FORMS[form](idx))
        assert type(got) is VecList and got is not cloud
        assert np.asarray(got).tobytes() == np.array(BASE)[np.array(idx, dtype=np.int64)].tobytes()
    assert bit_rows(as_rows(cloud)) == bit_rows(BASE)


@pytest.mark.no_leak_check  # numpy
def test_take_on_the_pool_keeps_the_inliers():
    rows = np.random.default_rng(3).uniform(-1, 1, (300_000, 3))
    cloud = VecList.from_array(rows)
    _, inverse = cloud.voxel_down_sample(0.1, return_inverse=True)
    keep = np.flatnonzero(np.asarray(inverse) % 3 == 0)
    assert np.asarray(cloud.take(memoryview(keep))).tobytes() == rows[keep].tobytes()
