# VecList: every batch result bit for bit as the Vec3d operation on each element, short lists and
# lists long enough to be cut into pieces for the pool; the nearest-element search with its window,
# ties and NaN ranking; the asserts and refusals; construction, copies and the sequence protocol.

import gc
import math
import random

import pytest

from helpers import Sequence, same_fields
from lumeric_py import AngleRadians, Quat, Vec3d, VecList

SPECIALS = [0.0, -0.0, math.inf, -math.inf, math.nan, 1.0, -1.0, 5e-324, 1.7976931348623157e308, 1e-160, 1e160]


def special_vectors(n, seed):
    """Random vectors where about one coordinate in eight is a special value."""
    rng = random.Random(seed)

    def coordinate():
        return rng.choice(SPECIALS) if rng.random() < 0.125 else rng.uniform(-1e3, 1e3)

    return [Vec3d(coordinate(), coordinate(), coordinate()) for _ in range(n)]


def flat(rows):
    return [x for row in rows for x in row]


# Each batch operation, and the Vec3d operation it applies to every element when that differs.
FLOAT_RESULTS = [lambda x, o, s: x.dot(o), lambda x, o, s: x.magnitude(), lambda x, o, s: x.distance_to(o),
                 lambda x, o, s: x.distance_squared(o), lambda x, o, s: x.is_unit()]
VECTOR_RESULTS = [
    (lambda x, o, s: x.cross(o), None), (lambda x, o, s: x.normalize(), None),
    *[(lambda x, o, s, a=a: x.collapse(a), lambda e, o, s, a=a: Vec3d(*[0.0 if k == a else c for k, c in enumerate(e)]))
      for a in range(3)],
    (lambda x, o, s: x + o, None), (lambda x, o, s: x - o, None), (lambda x, o, s: x * s, None),
    (lambda x, o, s: s * x, None), (lambda x, o, s: x / s, None),
]


def check_all(elements, other, scalar, quat):
    lst = VecList(elements)
    before = flat(lst.to_array())
    for op in FLOAT_RESULTS:
        result = op(lst, other, scalar)
        assert type(result) is list and same_fields(result, [op(e, other, scalar) for e in elements])
    for op, single in VECTOR_RESULTS:
        result = op(lst, other, scalar)
        assert type(result) is VecList and result is not lst
        assert same_fields(flat(result.to_array()), flat((single or op)(e, other, scalar).to_array() for e in elements))
    assert same_fields(flat(lst.to_array()), before) and same_fields(flat(v.to_array() for v in lst.list), before)
    assert lst.rotate(quat) is None
    assert same_fields(flat(lst.to_array()), flat(quat.rotate(e).to_array() for e in elements))


# Lengths: none, short enough to stay whole, and cut into pieces for the pool (the cheapest kernels
# from 65,536 elements on). Every value of every lane is the kernels' own suite; these show each
# method reaches its kernel with its operands.
@pytest.mark.parametrize("n", [0, 7, 65_537])
def test_every_element_matches_vec3d(n):
    quat = Quat.from_axis_angle(Vec3d(0, 0, 1), AngleRadians(0.3))
    check_all(special_vectors(n, seed=n), Vec3d(10, -20, 30), 0.1, quat)


def test_large_arrays_reused_blocks_and_tracked_lists():
    # Element arrays of 4 MiB and more take their own memory paths (huge pages, freed blocks kept
    # for reuse), and results of 16 MiB and more are stored around the caches, in chunks of 256
    # elements (an odd last chunk ends in a lone double); none of it may show in the results.
    n, other = 720_001, Vec3d(0.25, -3.5, math.pi)
    elements = special_vectors(n, seed=3)
    lst = VecList(elements)
    picks = random.Random(4).sample(range(n), 300) + [0, 255, 256, n - 1]
    for _ in range(2):
        for index, (batch, single) in enumerate(VECTOR_RESULTS):
            result = batch(lst, other, 0.1)
            assert len(result) == n and same_fields(flat(result[k].to_array() for k in picks), flat(
                (single or batch)(elements[k], other, 0.1).to_array() for k in picks)), index
            del result  # its block goes back for the next result of this size
    distances = lst.distance_to(other)
    assert same_fields([distances[k] for k in picks], [elements[k].distance_to(other) for k in picks])
    for result in (distances, lst.is_unit(), lst.to_array(), lst.list):
        assert gc.is_tracked(result)
    lst.extend(VecList(elements[:1000]))  # growth moves the elements to a block of another size
    assert len(lst) == n + 1000 and same_fields(lst[n + 999].to_array() + lst[n - 1].to_array(),
                                              elements[999].to_array() + elements[n - 1].to_array())


def xs(*values):
    return VecList([Vec3d(x, 0, 0) for x in values])


@pytest.mark.parametrize("lst, stride, expected", [
    # Coarse candidates 0, 3, 6, 9 (keys 100, 100, 9, 25): 6 wins, so only 3..8 are searched and
    # element 4 is found, although element 1 is nearer.
    (xs(10, 0.5, 10, 10, 2, 10, 3, 10, 10, 5), 3, (4, 2.0)),
    (xs(10, 10, 10, 10, 10, 10, 3, 10, 1, 10), 3, (8, 1.0)),  # the window's last element
    (xs(10, 0.5, 10, 10, 2, 10, 3, 10, 10, 5), 10, (1, 0.5)),  # the window covers the list
    (xs(10, 0.5, 10, 10, 2), 2**64 - 1, (1, 0.5)),  # a stride beyond the list: one sample, all in its window
    (xs(5, 1, -1, 1, 7), 1, (1, 1.0)),  # ties go to the lower index
    (xs(2, 9, 2, 9, 9), 2, (0, 2.0)),  # equal coarse candidates: the lower one's window
    (xs(1, -0.0, 0.0), 1, (1, 0.0)),  # -0.0 and +0.0 coordinates give the same key +0.0
    (xs(*[3] * 100_000), 1, (0, 3.0)),  # equal keys in pieces searched by different workers
    (xs(*[5] * 99_999, 4), 1, (99_999, 4.0)),  # the best is the very last element
])
def test_nearest_window_and_ties(lst, stride, expected):
    assert lst.minimum_distance_to(stride=stride, other=Vec3d(0, 0, 0)) == expected


def test_nan_keys_rank_above_every_number():
    # Against p, (inf, 0, 0) gives inf - inf: on x86 a NaN with the sign bit set, which a plain
    # total order would rank below every number.
    p, bad, ordinary = Vec3d(math.inf, 1, 1), Vec3d(math.inf, 0, 0), Vec3d(5, 1, 1)  # keys NaN and +inf
    lists = [([bad, ordinary], 1), ([bad, bad, ordinary], 2), ([bad, ordinary, bad], 2)]
    assert [VecList(items).minimum_distance_to(p, stride) for items, stride in lists] == [(1, math.inf), (2, math.inf),
                                                                                          (1, math.inf)]
    index, distance = VecList([bad, bad]).minimum_distance_to(p, 1)
    assert index == 0 and math.isnan(distance)


@pytest.mark.parametrize("source", [
    lambda a, b: [a, b], lambda a, b: (a, b), lambda a, b: Sequence([a, b], length=ValueError("no length")),
    lambda a, b: Sequence([a, b], length=10**9),
    lambda a, b: VecList([a, b]),
])
def test_construction_copies_and_the_sequence_protocol(source):
    a, b = Vec3d(1, 2, 3), Vec3d(4, 5, 6)
    lst = VecList(list=source(a, b))
    a.x = lst[0].x = lst.list[0].x = 9.0  # elements go in and out by copy
    assert lst.to_array() == [[1.0, 2.0, 3.0], [4.0, 5.0, 6.0]] and lst[0] is not lst[0]
    assert [v.z for v in lst] == [3.0, 6.0] and [v.z for v in reversed(lst)] == [6.0, 3.0]
    assert len(lst) == 2 and bool(lst) and not VecList.empty() and lst[True] == b and Vec3d(4, 5, 6 + 1e-16) in lst
    it = iter(lst)
    lst.append(a)
    lst.extend(other=VecList([b]))
    assert lst.to_array()[2:] == [[9.0, 2.0, 3.0], [4.0, 5.0, 6.0]] and len(list(it)) == 2  # iterated a snapshot
    assert next(it, None) is None and iter(it) is it
