"""VecList batch operations: every element bit for bit as the Vec3d operation, the nearest-element
search, the asserts and the error paths."""

import gc
import math
import random
import struct

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import lumeric_py
from helpers import any_float, same_bits
from lumeric_py import Vec3d, VecList

vectors = st.tuples(any_float, any_float, any_float)
vector_lists = st.lists(vectors, max_size=40)
SPECIALS = [0.0, -0.0, math.inf, -math.inf, math.nan, 1.0, -1.0, 5e-324, 1.7976931348623157e308, 1e-160, 1e160]


def special_vectors(n, seed):
    """Random vectors where about one coordinate in eight is a special value."""
    rng = random.Random(seed)

    def coordinate():
        return rng.choice(SPECIALS) if rng.random() < 0.125 else rng.uniform(-1e3, 1e3)

    return [Vec3d(coordinate(), coordinate(), coordinate()) for _ in range(n)]


def flat(rows):
    return [x for row in rows for x in row]


def vec_list_bits(result, expected_vectors):
    return type(result) is VecList and same_bits(flat(result.to_array()), flat(v.to_array() for v in expected_vectors))


def collapsed(v, axis):
    out = v.to_array()
    out[axis] = 0.0
    return Vec3d(*out)


# Each batch operation beside the Vec3d operation it applies to every element.
FLOAT_RESULTS = [
    ("dot", lambda lst, o, s: lst.dot(o), lambda e, o, s: e.dot(o)),
    ("magnitude", lambda lst, o, s: lst.magnitude(), lambda e, o, s: e.magnitude()),
    ("distance_to", lambda lst, o, s: lst.distance_to(o), lambda e, o, s: e.distance_to(o)),
    ("distance_squared", lambda lst, o, s: lst.distance_squared(o), lambda e, o, s: e.distance_squared(o)),
]
VECTOR_RESULTS = [
    ("cross", lambda lst, o, s: lst.cross(o), lambda e, o, s: e.cross(o)),
    ("normalize", lambda lst, o, s: lst.normalize(), lambda e, o, s: e.normalize()),
    ("collapse 0", lambda lst, o, s: lst.collapse(0), lambda e, o, s: collapsed(e, 0)),
    ("collapse 1", lambda lst, o, s: lst.collapse(1), lambda e, o, s: collapsed(e, 1)),
    ("collapse 2", lambda lst, o, s: lst.collapse(2), lambda e, o, s: collapsed(e, 2)),
    ("+", lambda lst, o, s: lst + o, lambda e, o, s: e + o),
    ("-", lambda lst, o, s: lst - o, lambda e, o, s: e - o),
    ("* s", lambda lst, o, s: lst * s, lambda e, o, s: e * s),
    ("s *", lambda lst, o, s: s * lst, lambda e, o, s: s * e),
    ("/", lambda lst, o, s: lst / s, lambda e, o, s: e / s),
]


def check_all(elements, other, scalar):
    lst = VecList(elements)
    for name, batch, single in FLOAT_RESULTS:
        result = batch(lst, other, scalar)
        assert type(result) is list, name
        assert same_bits(result, [single(e, other, scalar) for e in elements]), name
    for name, batch, single in VECTOR_RESULTS:
        assert vec_list_bits(batch(lst, other, scalar), [single(e, other, scalar) for e in elements]), name
    assert lst.is_unit() == [e.is_unit() for e in elements]
    assert all(type(flag) is bool for flag in lst.is_unit())


@settings(max_examples=300, deadline=None)
@given(vector_lists, vectors, any_float)
def test_every_element_matches_vec3d(items, other, scalar):
    check_all([Vec3d(*t) for t in items], Vec3d(*other), scalar)


@pytest.mark.parametrize("n", [2, 3, 1000, 20_011])
def test_long_lists_match_vec3d(n):
    # Long enough for the pool to cut the work into many pieces.
    check_all(special_vectors(n, seed=n), Vec3d(0.25, -3.5, math.pi), 0.1)


def test_results_are_new_lists_and_receiver_unchanged():
    elements = special_vectors(50, seed=1)
    lst = VecList(elements)
    before = lst.to_array()
    results = [batch(lst, Vec3d(1, 2, 3), 2.0) for _, batch, _ in VECTOR_RESULTS]
    assert all(r is not lst for r in results)
    results[0].append(Vec3d(0, 0, 0))
    assert same_bits(flat(lst.to_array()), flat(before)) and len(lst) == 50


def test_empty_lists():
    empty = VecList.empty()
    for name, batch, _ in FLOAT_RESULTS:
        assert batch(empty, Vec3d(1, 2, 3), 2.0) == [], name
    for name, batch, _ in VECTOR_RESULTS:
        result = batch(empty, Vec3d(1, 2, 3), 2.0)
        assert type(result) is VecList and len(result) == 0, name
    assert empty.is_unit() == [] and empty.to_array() == []


def test_list_results_are_ordinary_tracked_lists():
    lst = VecList(special_vectors(50, seed=2))
    results = [batch(lst, Vec3d(1, 2, 3), 2.0) for _, batch, _ in FLOAT_RESULTS] + [lst.is_unit(), lst.to_array()]
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
        for name, batch, single in VECTOR_RESULTS:
            result = batch(lst, other, 0.1)
            assert len(result) == n, name
            assert same_bits(flat(result[k].to_array() for k in picks),
                             flat(single(elements[k], other, 0.1).to_array() for k in picks)), name
            del result  # its block goes back for the next result of this size
    distances = lst.distance_to(other)
    assert gc.is_tracked(distances) and len(distances) == n
    assert same_bits([distances[k] for k in picks], [elements[k].distance_to(other) for k in picks])
    # Growth moves the elements to a block of another size; the old one is kept or freed.
    lst.extend(VecList(elements[:1000]))
    assert len(lst) == n + 1000 and same_bits(lst[n + 999].to_array(), elements[999].to_array())
    assert same_bits(lst[n - 1].to_array(), elements[n - 1].to_array())


def test_documented_examples():
    lst = VecList([Vec3d(1, 2, 3), Vec3d(4, 5, 6)])
    v = Vec3d(0, 1, 0)
    assert lst.cross(v)[0].to_array() == Vec3d(1, 2, 3).cross(v).to_array() != v.cross(Vec3d(1, 2, 3)).to_array()
    assert (lst - v)[1].to_array() == [4.0, 4.0, 6.0]
    assert lst.collapse(1)[0].to_array() == [1.0, 0.0, 3.0]
    assert repr(VecList([Vec3d(0, 0, 0)]).normalize()) == "[Vec3d(NaN, NaN, NaN)]"
    assert repr(VecList([Vec3d(1, -1, 0)]) / 0.0) == "[Vec3d(inf, -inf, NaN)]"
    assert repr(2 * lst) == repr(lst * 2) == "[Vec3d(2, 4, 6)\nVec3d(8, 10, 12)]"
    assert repr(lst * True) == repr(lst)
    assert same_bits(lst.collapse(0).to_array()[0], [0.0, 2.0, 3.0])  # +0.0
    assert same_bits(VecList([Vec3d(-1, -1, -1)]).collapse(2).to_array()[0], [-1.0, -1.0, 0.0])


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


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda lst: lst.dot(3), TypeError, "argument 'other': 'int' object is not an instance of 'Vec3d'"),
        (lambda lst: lst.cross(lst), TypeError, "argument 'other': 'VecList' object is not an instance of 'Vec3d'"),
        (lambda lst: lst.distance_to(None), TypeError, "argument 'other': 'None' is not an instance of 'Vec3d'"),
        (lambda lst: lst.distance_squared([1, 2, 3]), TypeError,
         "argument 'other': 'list' object is not an instance of 'Vec3d'"),
        (lambda lst: lst.collapse("1"), TypeError, None),
        (lambda lst: lst.collapse(1.0), TypeError, None),
        (lambda lst: lst.collapse(-1), OverflowError, None),
        (lambda lst: lst.collapse(2**64), OverflowError, None),
        (lambda lst: lst.minimum_distance_to(1, 1), TypeError,
         "argument 'other': 'int' object is not an instance of 'Vec3d'"),
        (lambda lst: lst.minimum_distance_to(Vec3d(0, 0, 0), 1.5), TypeError, None),
        (lambda lst: lst.minimum_distance_to(Vec3d(0, 0, 0), -1), OverflowError, None),
        (lambda lst: lst.minimum_distance_to(Vec3d(0, 0, 0)), TypeError,
         "VecList.minimum_distance_to() missing 1 required positional argument: 'stride'"),
        (lambda lst: lst.minimum_distance_to(stride=1, other=Vec3d(0, 0, 0), axis=0), TypeError,
         "VecList.minimum_distance_to() got an unexpected keyword argument 'axis'"),
        (lambda lst: lst.dot(Vec3d(0, 0, 0), Vec3d(0, 0, 0)), TypeError,
         "VecList.dot() takes 1 positional arguments but 2 were given"),
        (lambda lst: lst.collapse(Meddler(lst)), RuntimeError, "Already borrowed"),
        (lambda lst: lst.minimum_distance_to(Vec3d(0, 0, 0), Meddler(lst)), RuntimeError, "Already borrowed"),
    ],
)
def test_argument_errors_leave_the_list_unchanged(call, error, message):
    lst = VecList([Vec3d(1, 2, 3), Vec3d(4, 5, 6)])
    with pytest.raises(error) as info:
        call(lst)
    if message is not None:
        assert str(info.value) == message
    elif error is TypeError:
        assert str(info.value).startswith("argument ")
    else:
        assert not str(info.value).startswith("argument ")
    assert lst.to_array() == [[1.0, 2.0, 3.0], [4.0, 5.0, 6.0]]


def test_keyword_arguments():
    lst = VecList([Vec3d(1, 2, 3), Vec3d(0, 0, 1)])
    assert lst.dot(other=Vec3d(1, 1, 1)) == [6.0, 1.0]
    assert lst.collapse(axis=2).to_array() == [[1.0, 2.0, 0.0], [0.0, 0.0, 0.0]]
    assert lst.minimum_distance_to(stride=1, other=Vec3d(0, 0, 0)) == (1, 1.0)


@pytest.mark.parametrize(
    "expression",
    ["lst * lst", "v + lst", "v - lst", "1 / lst", "lst + 1", "lst - (1, 2, 3)", "lst * v", "v * lst",
     "lst / v", "lst * 'a'", "lst * Meddler(lst)", "lst @ v", "-lst"],
)
def test_unsupported_operands(expression):
    lst, v = VecList([Vec3d(1, 2, 3)]), Vec3d(1, 1, 1)
    with pytest.raises(TypeError):
        eval(expression)
    assert lst.to_array() == [[1.0, 2.0, 3.0]]


def panic_of(call):
    """The internal-failure exception raised by call, checked to escape `except Exception`."""
    try:
        try:
            call()
        except Exception:  # noqa: BLE001 - must not catch it
            pytest.fail("the internal-failure exception was caught as an Exception")
    except BaseException as error:  # noqa: BLE001
        return error
    pytest.fail("no exception")


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda lst: lst.collapse(3), "assertion failed: axis <= 2"),
        (lambda lst: lst.collapse(2**64 - 1), "assertion failed: axis <= 2"),
        (lambda lst: lst.minimum_distance_to(Vec3d(0, 0, 0), 0), "assertion failed: stride != 0"),
        (lambda lst: VecList.empty().minimum_distance_to(Vec3d(0, 0, 0), 0), "assertion failed: stride != 0"),
    ],
)
def test_asserts_raise_the_internal_failure(call, message):
    lst = VecList([Vec3d(1, 2, 3)])
    error = panic_of(lambda: call(lst))
    assert type(error).__module__ == "pyo3_runtime" and type(error).__name__ == "PanicException"
    assert type(error).__bases__ == (BaseException,)
    assert error.args == (message,) and str(error) == message
    assert lst.to_array() == [[1.0, 2.0, 3.0]]


@pytest.mark.parametrize("stride", [1, 2, 2**64 - 1])
def test_nearest_in_an_empty_list_is_a_value_error(stride):
    with pytest.raises(ValueError, match=r"^minimum_distance_to\(\) on an empty VecList$"):
        VecList.empty().minimum_distance_to(Vec3d(0, 0, 0), stride)


# -- minimum_distance_to --


def key_of(e, p):
    d = [e[i] - p[i] for i in range(3)]
    return (d[0] * d[0] + d[1] * d[1]) + d[2] * d[2]


def rank(key):
    # Exact order of the keys; every NaN, whatever its sign, above every number.
    if math.isnan(key):
        return (1, 0)
    bits = struct.unpack("<q", struct.pack("<d", key))[0]
    return (0, bits ^ 0x7FFF_FFFF_FFFF_FFFF if bits < 0 else bits)


def reference_nearest(items, p, stride):
    n = len(items)
    best = lambda indices: min(indices, key=lambda k: (rank(key_of(items[k], p)), k))  # noqa: E731
    i = best(range(0, n, stride))
    start = i - stride if i >= stride else 0
    j = best(range(start, min(i + stride, n)))
    return j, math.sqrt(key_of(items[j], p))


def xs(*values):
    return VecList([Vec3d(x, 0, 0) for x in values])


@settings(max_examples=300, deadline=None)
@given(st.lists(vectors, min_size=1, max_size=40), vectors, st.integers(min_value=1, max_value=50))
def test_nearest_matches_reference(items, p, stride):
    index, distance = VecList([Vec3d(*t) for t in items]).minimum_distance_to(Vec3d(*p), stride)
    expected_index, expected_distance = reference_nearest(items, p, stride)
    assert index == expected_index and same_bits(distance, expected_distance)


@pytest.mark.parametrize("stride", [1, 3, 64, 1000, 2**64 - 1])
def test_nearest_in_a_long_list(stride):
    elements = special_vectors(30_000, seed=stride % 1000)
    p = Vec3d(10, -20, 30)
    result = VecList(elements).minimum_distance_to(p, stride)
    expected = reference_nearest([e.to_array() for e in elements], p.to_array(), stride)
    assert result[0] == expected[0] and same_bits(result[1], expected[1])


def test_nearest_window():
    # Coarse candidates 0, 3, 6, 9 (keys 100, 100, 9, 25): 6 wins, so only 3..8 are searched
    # and element 4 is found, although element 1 is nearer.
    lst = xs(10, 0.5, 10, 10, 2, 10, 3, 10, 10, 5)
    assert lst.minimum_distance_to(Vec3d(0, 0, 0), 3) == (4, 2.0)
    assert lst.minimum_distance_to(Vec3d(0, 0, 0), 1) == (1, 0.5)
    assert lst.minimum_distance_to(Vec3d(0, 0, 0), 10) == (1, 0.5)  # window covers the list
    assert lst.minimum_distance_to(Vec3d(0, 0, 0), 2**64 - 1) == (1, 0.5)


def test_nearest_ties_go_to_the_lower_index():
    assert xs(5, 1, -1, 1, 7).minimum_distance_to(Vec3d(0, 0, 0), 1) == (1, 1.0)
    # Equal coarse candidates 0 and 2: the lower wins and its window is searched.
    assert xs(2, 9, 2, 9, 9).minimum_distance_to(Vec3d(0, 0, 0), 2) == (0, 2.0)
    assert xs(3, 3, 3, 3, 3, 3, 3).minimum_distance_to(Vec3d(0, 0, 0), 3) == (0, 3.0)
    # -0.0 and +0.0 coordinates give the same key +0.0.
    assert xs(1, -0.0, 0.0).minimum_distance_to(Vec3d(0, 0, 0), 1) == (1, 0.0)


@pytest.mark.parametrize(
    "bad",
    [Vec3d(math.nan, 0, 0), Vec3d(-math.nan, 0, 0), Vec3d(math.inf, 0, 0)],
    ids=["NaN", "NaN with the sign bit", "inf - inf"],
)
def test_nan_keys_rank_above_every_number(bad):
    # Against p, (inf, 0, 0) gives inf - inf: on x86 a NaN with the sign bit set, which a
    # plain total order would rank below every number.
    p = Vec3d(math.inf, 1, 1)
    ordinary = Vec3d(5, 1, 1)  # key +inf
    assert VecList([bad, ordinary]).minimum_distance_to(p, 1) == (1, math.inf)
    assert VecList([bad, bad, ordinary]).minimum_distance_to(p, 2) == (2, math.inf)
    assert VecList([bad, ordinary, bad]).minimum_distance_to(p, 2) == (1, math.inf)
    index, distance = VecList([bad, bad]).minimum_distance_to(p, 1)
    assert index == 0 and math.isnan(distance)


# -- rotate (needs the Quat class) --

needs_quat = pytest.mark.skipif(not hasattr(lumeric_py, "Quat"), reason="Quat class not built")


@needs_quat
@settings(max_examples=200, deadline=None)
@given(vector_lists, st.tuples(any_float, any_float, any_float, any_float))
def test_rotate_matches_quat_rotate(items, q):
    quat = lumeric_py.Quat(*q)
    elements = [Vec3d(*t) for t in items]
    lst = VecList(elements)
    assert lst.rotate(quat) is None
    assert same_bits(flat(lst.to_array()), flat(quat.rotate(e).to_array() for e in elements))


@needs_quat
def test_rotate_long_list_and_errors():
    quat = lumeric_py.Quat.from_axis_angle(Vec3d(0, 0, 1), lumeric_py.AngleRadians(0.3))
    elements = special_vectors(20_000, seed=7)
    lst = VecList(elements)
    lst.rotate(quat=quat)
    assert same_bits(flat(lst.to_array()), flat(quat.rotate(e).to_array() for e in elements))
    before = lst.to_array()
    with pytest.raises(TypeError, match="^argument 'quat': 'Vec3d' object is not an instance of 'Quat'$"):
        lst.rotate(Vec3d(1, 0, 0))
    assert same_bits(flat(lst.to_array()), flat(before))
    it = iter(lst)
    lst.rotate(quat)  # an iterator holds a snapshot, not a borrow
    assert same_bits(next(it).to_array(), before[0])
