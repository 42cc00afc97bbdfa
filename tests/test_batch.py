"""VecList batch operations: every element bit for bit as the Vec3d operation, the nearest-element
search, the asserts and the error paths."""

import gc
import math
import random
import struct

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import geometry_reference as ref
from helpers import any_float, same_bits
from lumeric_py import AngleRadians, Quat, Vec3d, VecList

vectors = st.tuples(any_float, any_float, any_float)
SPECIALS = [0.0, -0.0, math.inf, -math.inf, math.nan, 1.0, -1.0, 5e-324, 1.7976931348623157e308, 1e-160, 1e160]


def special_vectors(n, seed):
    """Random vectors where about one coordinate in eight is a special value."""
    rng = random.Random(seed)

    def coordinate():
        return rng.choice(SPECIALS) if rng.random() < 0.125 else rng.uniform(-1e3, 1e3)

    return [Vec3d(coordinate(), coordinate(), coordinate()) for _ in range(n)]


def flat(rows):
    return [x for row in rows for x in row]


def collapsed(v, axis):
    out = v.to_array()
    out[axis] = 0.0
    return Vec3d(*out)


def rank(key):
    # Exact order of the keys; every NaN, whatever its sign, above every number.
    if math.isnan(key):
        return (1, 0)
    bits = struct.unpack("<q", struct.pack("<d", key))[0]
    return (0, bits ^ 0x7FFF_FFFF_FFFF_FFFF if bits < 0 else bits)


def reference_nearest(items, p, stride):
    n = len(items)
    best = lambda indices: min(indices, key=lambda k: (rank(ref.distance_squared(items[k], p)), k))  # noqa: E731
    i = best(range(0, n, stride))
    j = best(range(max(i - stride, 0), min(i + stride, n)))
    return j, math.sqrt(ref.distance_squared(items[j], p))


# Each batch operation beside the Vec3d operation it applies to every element.
FLOAT_RESULTS = [
    lambda x, o, s: x.dot(o), lambda x, o, s: x.magnitude(), lambda x, o, s: x.distance_to(o),
    lambda x, o, s: x.distance_squared(o),
]
VECTOR_RESULTS = [
    (lambda x, o, s: x.cross(o), None), (lambda x, o, s: x.normalize(), None),
    *[(lambda x, o, s, a=a: x.collapse(a), lambda e, o, s, a=a: collapsed(e, a)) for a in range(3)],
    (lambda x, o, s: x + o, None), (lambda x, o, s: x - o, None), (lambda x, o, s: x * s, None),
    (lambda x, o, s: s * x, None), (lambda x, o, s: x / s, None),
]


def check_all(elements, other, scalar, quat, stride):
    lst = VecList(elements)
    before = flat(lst.to_array())
    for op in FLOAT_RESULTS:
        result = op(lst, other, scalar)
        assert type(result) is list and same_bits(result, [op(e, other, scalar) for e in elements])
    for op, single in VECTOR_RESULTS:
        result = op(lst, other, scalar)
        expected = [(single or op)(e, other, scalar) for e in elements]
        assert type(result) is VecList and result is not lst
        assert same_bits(flat(result.to_array()), flat(v.to_array() for v in expected))
    assert lst.is_unit() == [e.is_unit() for e in elements] and all(type(f) is bool for f in lst.is_unit())
    assert same_bits(flat(lst.to_array()), before)
    if elements:
        index, distance = lst.minimum_distance_to(other, stride)
        expected_index, expected_distance = reference_nearest([e.to_array() for e in elements], other.to_array(), stride)
        assert index == expected_index and same_bits(distance, expected_distance)
    assert lst.rotate(quat) is None
    assert same_bits(flat(lst.to_array()), flat(quat.rotate(e).to_array() for e in elements))


@settings(max_examples=400, deadline=None)
@given(st.lists(vectors, max_size=40), vectors, any_float, st.tuples(any_float, any_float, any_float, any_float),
       st.integers(min_value=1, max_value=50))
def test_every_element_matches_vec3d(items, other, scalar, q, stride):
    check_all([Vec3d(*t) for t in items], Vec3d(*other), scalar, Quat(*q), stride)


@pytest.mark.parametrize("n, stride", [(0, 1), (3, 2), (20_011, 3), (30_000, 1), (5_000, 1000), (5_000, 2**64 - 1)])
def test_long_lists_match_vec3d(n, stride):
    # Long enough for the pool to cut the work into many pieces.
    quat = Quat.from_axis_angle(Vec3d(0, 0, 1), AngleRadians(0.3))
    check_all(special_vectors(n, seed=n + stride % 1000), Vec3d(10, -20, 30), 0.1, quat, stride)


def test_list_results_are_ordinary_tracked_lists():
    lst = VecList(special_vectors(50, seed=2))
    results = [batch(lst, Vec3d(1, 2, 3), 2.0) for batch in FLOAT_RESULTS] + [lst.is_unit(), lst.to_array()]
    for result in results:
        assert type(result) is list and len(result) == 50 and gc.is_tracked(result)
        result.append(result)  # a cycle the collector must be able to see and free
    del result, results
    gc.collect()


def test_large_arrays_and_reused_blocks():
    # Element arrays of 4 MiB and more, and list results of that size, take their own memory
    # paths (huge pages, and freed blocks kept for reuse); the results must not notice.
    n = 600_000
    elements = special_vectors(n, seed=3)
    lst = VecList(elements)
    other = Vec3d(0.25, -3.5, math.pi)
    picks = random.Random(4).sample(range(n), 300) + [0, n - 1]
    for _ in range(2):
        for index, (batch, single) in enumerate(VECTOR_RESULTS):
            result = batch(lst, other, 0.1)
            assert len(result) == n, index
            assert same_bits(flat(result[k].to_array() for k in picks),
                             flat((single or batch)(elements[k], other, 0.1).to_array() for k in picks)), index
            del result  # its block goes back for the next result of this size
    distances = lst.distance_to(other)
    assert gc.is_tracked(distances) and len(distances) == n
    assert same_bits([distances[k] for k in picks], [elements[k].distance_to(other) for k in picks])
    # Growth moves the elements to a block of another size; the old one is kept or freed.
    lst.extend(VecList(elements[:1000]))
    assert len(lst) == n + 1000 and same_bits(lst[n + 999].to_array(), elements[999].to_array())
    assert same_bits(lst[n - 1].to_array(), elements[n - 1].to_array())


def test_documented_examples():
    lst, v = VecList([Vec3d(1, 2, 3), Vec3d(4, 5, 6)]), Vec3d(0, 1, 0)
    assert repr(lst.cross(v)) == "[Vec3d(-3, 0, 1)\nVec3d(-6, 0, 4)]"  # lst[k].cross(v), not v.cross(lst[k])
    assert repr(lst - v) == "[Vec3d(1, 1, 3)\nVec3d(4, 4, 6)]" and repr(lst.collapse(1))[:16] == "[Vec3d(1, 0, 3)\n"
    assert repr(VecList([Vec3d(0, 0, 0)]).normalize()) == "[Vec3d(NaN, NaN, NaN)]"
    assert repr(VecList([Vec3d(1, -1, 0)]) / 0.0) == "[Vec3d(inf, -inf, NaN)]"
    assert repr(2 * lst) == repr(lst * 2) == "[Vec3d(2, 4, 6)\nVec3d(8, 10, 12)]"


# -- Errors --


class Meddler:
    """An index or float whose conversion tries to change the list being read."""

    def __init__(self, lst):
        self.lst = lst

    def __index__(self):
        self.lst.append(Vec3d(0, 0, 0))
        return 0

    def __float__(self):
        self.lst.append(Vec3d(0, 0, 0))
        return 1.0


O = Vec3d(0, 0, 0)


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda lst: lst.dot(3), TypeError, "argument 'other': 'int' object is not an instance of 'Vec3d'"),
        (lambda lst: lst.collapse("1"), TypeError, "argument 'axis': 'str' object cannot be interpreted as an integer"),
        (lambda lst: lst.collapse(-1), OverflowError, None),
        (lambda lst: lst.minimum_distance_to(O, 1.5), TypeError,
         "argument 'stride': 'float' object cannot be interpreted as an integer"),
        (lambda lst: lst.minimum_distance_to(O), TypeError,
         "VecList.minimum_distance_to() missing 1 required positional argument: 'stride'"),
        (lambda lst: lst.rotate(O), TypeError, "argument 'quat': 'Vec3d' object is not an instance of 'Quat'"),
        (lambda lst: lst.collapse(Meddler(lst)), RuntimeError, "Already borrowed"),
        (lambda lst: lst.minimum_distance_to(O, Meddler(lst)), RuntimeError, "Already borrowed"),
        (lambda lst: lst * Meddler(lst), TypeError, None),
        (lambda lst: VecList.empty().minimum_distance_to(O, 1), ValueError, "minimum_distance_to() on an empty VecList"),
        (lambda lst: VecList.empty().minimum_distance_to(O, 2**64 - 1), ValueError,
         "minimum_distance_to() on an empty VecList"),
    ],
)
def test_errors_leave_the_list_unchanged(call, error, message):
    lst = VecList([Vec3d(1, 2, 3), Vec3d(4, 5, 6)])
    with pytest.raises(error) as info:
        call(lst)
    assert str(info.value) == message if message else not str(info.value).startswith("argument ")
    assert lst.to_array() == [[1.0, 2.0, 3.0], [4.0, 5.0, 6.0]]


@pytest.mark.parametrize(
    "expression", ["lst * lst", "v + lst", "v - lst", "1 / lst", "lst + 1", "lst - (1, 2, 3)", "lst * v", "v * lst",
                   "lst / v", "lst * 'a'", "lst @ v", "-lst"],
)
def test_unsupported_operands(expression):
    lst, v = VecList([Vec3d(1, 2, 3)]), Vec3d(1, 1, 1)
    with pytest.raises(TypeError):
        eval(expression)


def test_asserts_raise_the_internal_failure_which_escapes_except_exception():
    lst = VecList([Vec3d(1, 2, 3)])
    for call, message in [(lambda: lst.collapse(3), "assertion failed: axis <= 2"),
                          (lambda: lst.collapse(2**64 - 1), "assertion failed: axis <= 2"),
                          (lambda: lst.minimum_distance_to(O, 0), "assertion failed: stride != 0"),
                          (lambda: VecList.empty().minimum_distance_to(O, 0), "assertion failed: stride != 0")]:
        with pytest.raises(BaseException) as info:
            try:
                call()
            except Exception:  # noqa: BLE001 - must not catch it
                pytest.fail("the internal-failure exception was caught as an Exception")
        kind = type(info.value)
        assert (kind.__module__, kind.__name__, kind.__bases__) == ("pyo3_runtime", "PanicException", (BaseException,))
        assert info.value.args == (message,) and str(info.value) == message
    assert lst.to_array() == [[1.0, 2.0, 3.0]]


def xs(*values):
    return VecList([Vec3d(x, 0, 0) for x in values])


@pytest.mark.parametrize(
    "lst, stride, expected",
    [
        # Coarse candidates 0, 3, 6, 9 (keys 100, 100, 9, 25): 6 wins, so only 3..8 are searched
        # and element 4 is found, although element 1 is nearer.
        (xs(10, 0.5, 10, 10, 2, 10, 3, 10, 10, 5), 3, (4, 2.0)),
        (xs(10, 0.5, 10, 10, 2, 10, 3, 10, 10, 5), 1, (1, 0.5)),
        (xs(10, 0.5, 10, 10, 2, 10, 3, 10, 10, 5), 10, (1, 0.5)),  # the window covers the list
        (xs(5, 1, -1, 1, 7), 1, (1, 1.0)),  # ties go to the lower index
        (xs(2, 9, 2, 9, 9), 2, (0, 2.0)),  # equal coarse candidates: the lower one's window
        (xs(1, -0.0, 0.0), 1, (1, 0.0)),  # -0.0 and +0.0 coordinates give the same key +0.0
        (xs(*[3] * 100_000), 2, (0, 3.0)),  # equal keys in pieces searched by different workers
    ],
)
def test_nearest_window_and_ties(lst, stride, expected):
    assert lst.minimum_distance_to(stride=stride, other=Vec3d(0, 0, 0)) == expected


@pytest.mark.parametrize(
    "bad", [Vec3d(math.nan, 0, 0), Vec3d(-math.nan, 0, 0), Vec3d(math.inf, 0, 0)],
    ids=["NaN", "NaN with the sign bit", "inf - inf"],
)
def test_nan_keys_rank_above_every_number(bad):
    # Against p, (inf, 0, 0) gives inf - inf: on x86 a NaN with the sign bit set, which a
    # plain total order would rank below every number.
    p, ordinary = Vec3d(math.inf, 1, 1), Vec3d(5, 1, 1)  # key +inf
    assert VecList([bad, ordinary]).minimum_distance_to(p, 1) == (1, math.inf)
    assert VecList([bad, bad, ordinary]).minimum_distance_to(p, 2) == (2, math.inf)
    assert VecList([bad, ordinary, bad]).minimum_distance_to(p, 2) == (1, math.inf)
    index, distance = VecList([bad, bad]).minimum_distance_to(p, 1)
    assert index == 0 and math.isnan(distance)
