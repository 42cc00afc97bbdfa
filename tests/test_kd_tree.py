# KDTree against brute force. Every answer is defined by ranking all points by
# points[i].distance_squared(x), every NaN after every number and equal keys by index; distances are
# bit for bit points[i].distance_to(x), missing places (inf, n), and a ball holds the points whose
# distance_to is at most r. Clouds of small integers make exact ties, duplicates and -0.0 common.

import math
import pickle
import sys

import numpy as np
import pytest
from hypothesis import given
from hypothesis import strategies as st

from helpers import bits
from lumeric_py import KDTree, Vec3d, VecList

INF, NAN = math.inf, math.nan
COORDINATE = st.sampled_from([-1.0, -0.0, 0.0, 1.0, 2.0, 2.5, INF, -INF, NAN])
ROW = st.tuples(COORDINATE, COORDINATE, COORDINATE)


def exact(d):  # the bit pattern; a NaN's sign and payload depend on the processor, not on the formula
    return "NaN" if math.isnan(d) else bits(d)


def nearest(rows, x, k):  # the defining ranking: (distances, indices) of the first k, padded
    keys = VecList.from_array(rows).distance_squared(x) if rows else []
    order = sorted(range(len(rows)), key=lambda i: (math.isnan(keys[i]), 0.0 if math.isnan(keys[i]) else keys[i], i))
    found = [(Vec3d(*rows[i]).distance_to(x), i) for i in order[:k]]
    found += [(INF, len(rows))] * (k - len(found))
    return [exact(d) for d, _ in found], [i for _, i in found]


def ball(rows, x, r):
    return [i for i, p in enumerate(rows) if Vec3d(*p).distance_to(x) <= r]


def answer(result):  # one query's (distances, indices) with distances as bit patterns
    distances, indices = result
    return [exact(d) for d in distances], list(indices)


@given(st.lists(ROW, max_size=40), st.lists(ROW, min_size=1, max_size=3), st.integers(1, 6), st.data())
def test_nearest_and_balls_equal_brute_force(rows, queries, k, data):
    tree, xs = KDTree(rows), [Vec3d(*q) for q in queries]
    assert len(tree) == len(rows)
    k = data.draw(st.sampled_from([k, len(rows) + 2]))  # more places than points: padded
    for x in xs:
        expected = nearest(rows, x, k)
        assert answer(tree.query(x, k) if k > 1 else [[d] for d in tree.query(x)]) == expected
        radii = [0.0, 1.0, math.sqrt(2.0), 2.5, INF] + [Vec3d(*p).distance_to(x) for p in rows[:3]]
        for r in (r for r in radii if not math.isnan(r)):
            assert tree.query_radius(x, r) == ball(rows, x, r)
    # Batches (a VecList, or rows) answer each query as it would be answered alone.
    distances, indices = tree.query(VecList(xs), k)
    rows_of = (lambda v: [[x] for x in v.tolist()]) if k == 1 else (lambda v: v.tolist())
    assert [answer(pair) for pair in zip(rows_of(distances), rows_of(indices))] == [nearest(rows, x, k) for x in xs]
    found, offsets = tree.query_radius([x.to_array() for x in xs], 1.5)
    found, offsets = found.tolist(), offsets.tolist()
    assert [found[offsets[j]:offsets[j + 1]] for j in range(len(xs))] == [ball(rows, x, 1.5) for x in xs]


@pytest.mark.no_leak_check  # numpy
def test_a_deep_tree_of_duplicates_and_ties():
    # Beyond 70,000 points the build runs in parallel, and 5,000 queries are answered along a curve.
    grid = np.stack(np.meshgrid(*[np.arange(-17.0, 17.0)] * 3, indexing="ij"), -1).reshape(-1, 3)
    cloud = np.concatenate([grid, grid[::-1], [[NAN, 0.0, 0.0]]])  # each point twice, one NaN: 78,609
    queries = np.random.default_rng(3).integers(-19, 19, (5_000, 3)) / 2.0
    tree = KDTree(cloud)
    (d1, i1), (d5, i5) = [map(np.asarray, tree.query(queries, k)) for k in (1, 5)]
    assert d1.shape == i1.shape == (5_000,) and d5.shape == i5.shape == (5_000, 5)
    squares = (cloud**2).sum(1)
    for block in range(0, len(queries), 500):
        q = queries[block:block + 500]
        # Exact: every term is a multiple of 1/4 below 2**53. NaN last, after inf; no inf key exists here.
        keys = np.nan_to_num(squares[None] - 2 * q @ cloud.T + (q**2).sum(1)[:, None], nan=INF)
        kth = np.partition(keys, 4, axis=1)[:, 4]
        for row, (key, limit) in enumerate(zip(keys, kth)):  # the first five by (key, index) among those at most kth
            near = np.flatnonzero(key <= limit)
            expected = near[np.lexsort((near, key[near]))][:5]
            assert (i5[block + row] == expected).all() and i1[block + row] == expected[0]
            assert (d5[block + row] == np.sqrt(key[expected])).all() and d1[block + row] == d5[block + row, 0]


@pytest.mark.no_leak_check  # numpy
def test_batched_results_are_read_only_views_numpy_takes_without_a_copy():
    tree = KDTree(np.arange(30.0).reshape(10, 3))
    for m, k, shape in [(4, 1, (4,)), (4, 3, (4, 3)), (0, 1, (0,)), (0, 2, (0, 2))]:
        distances, indices = tree.query(np.zeros((m, 3)), k)
        assert (distances.format, indices.format, distances.shape, indices.shape) == ("d", "q", shape, shape)
        assert distances.readonly and indices.readonly
        view = np.asarray(indices)
        assert view.dtype == np.int64 and not view.flags.writeable
        assert m == 0 or np.shares_memory(view, np.asarray(indices))  # both views of the same numbers
    found, offsets = tree.query_radius(np.zeros((2, 3)), 5.0)
    assert (found.format, offsets.format, found.tolist(), offsets.tolist()) == ("q", "q", [0, 0], [0, 1, 2])
    assert KDTree([]).query(np.ones((2, 3)), 2)[1].tolist() == [[0, 0], [0, 0]]
    assert KDTree([]).query_radius(Vec3d(0, 0, 0), INF) == []


def test_the_tree_owns_its_points_and_is_rebuilt_from_them_on_load():  # copies: test_interop.py's table
    rows = [[float(k % 4), -0.0, NAN if k == 3 else k / 3] for k in range(50)]
    source = VecList.from_array(rows)
    state = bytes(memoryview(source))  # the points in their order, 24 bytes each
    tree = KDTree(source)
    source.append(Vec3d(0, 0, 0))  # the source is no longer borrowed, and changing it changes nothing
    assert tree.__reduce__()[1] == ("KDTree", state)
    loaded, x = pickle.loads(pickle.dumps(tree)), Vec3d(1, 0, 0.5)
    assert (repr(loaded), answer(loaded.query(x, 60))) == ("KDTree(n=50)", nearest(rows, x, 60))


@pytest.mark.no_leak_check  # numpy
@pytest.mark.parametrize("make, per_point", [(VecList.from_array, 24), (KDTree, 28)])  # a tree: a point and its index
def test_getsizeof_counts_the_memory_the_points_take(make, per_point):
    small, large = (sys.getsizeof(make(np.zeros((n, 3)))) for n in (10, 10_010))
    assert large - small >= 10_000 * per_point
