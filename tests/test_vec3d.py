"""Vec3d: every operation bit for bit against the same formula in Python floats, the documented
edge values, the sequence protocol, properties and argument errors."""

import math
import struct

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import geometry_reference as ref
from helpers import RaisingFloat, any_float, ieee_div, same_bits
from lumeric_py import Vec3d

vectors = st.tuples(any_float, any_float, any_float)


@settings(max_examples=500, deadline=None)
@given(vectors, vectors, vectors, any_float)
def test_operations_match_reference_bits(a, b, c, s):
    va, vb, vc = Vec3d(*a), Vec3d(*b), Vec3d(*c)
    vector_results = [
        (va + vb, ref.add(a, b)), (va - vb, ref.sub(a, b)), (-va, [-x for x in a]),
        (va * s, ref.scale(a, s)), (s * va, ref.scale(a, s)), (va / s, [ieee_div(x, s) for x in a]),
        (va.cross(vb), ref.cross(a, b)), (va.normalize(), ref.normalize(a)),
        (Vec3d.new_from_to(va, vb), ref.sub(b, a)), (va.project_onto_plane(vb), ref.project_onto_plane(a, b)),
        (va.project_onto_line(vb, vc), ref.project_onto_line(a, b, c)),
    ]
    for got, expected in vector_results:
        assert same_bits(got.to_array(), expected)
    assert same_bits(va.dot(vb), ref.dot(a, b))
    assert same_bits(va.scalar_triple_product(vb, vc), ref.dot(a, ref.cross(b, c)))
    assert same_bits(va.distance_squared(vb), ref.distance_squared(a, b))
    assert same_bits(va.distance_to(vb), ref.distance(a, b))
    assert same_bits(va.magnitude(), ref.magnitude(a))
    assert same_bits(va.distance_to_line(vb, vc), ref.distance_to_line(a, b, c))
    assert va.is_unit() is (abs(ref.magnitude(a) - 1.0) < ref.EPS)
    assert (va == vb) is ref.vectors_equal(a, b) and (va != vb) is not ref.vectors_equal(a, b)


@pytest.mark.parametrize(
    "result, expected",
    [
        (lambda: Vec3d(0, 0, 0).normalize(), "Vec3d(NaN, NaN, NaN)"),
        (lambda: Vec3d(3, 0, 4).normalize(), "Vec3d(0.6, 0, 0.8)"),
        (lambda: Vec3d(1e200, 0, 0).normalize(), "Vec3d(0, 0, 0)"),
        (lambda: Vec3d(1e-200, 0, 0).normalize(), "Vec3d(inf, NaN, NaN)"),
        (lambda: -Vec3d.zero(), "Vec3d(-0, -0, -0)"),
        (lambda: Vec3d(1, -1, 0) / 0, "Vec3d(inf, -inf, NaN)"),
        (lambda: 2 * Vec3d(1, 2, 3), "Vec3d(2, 4, 6)"),
        (lambda: Vec3d(1, 1, 1).project_onto_plane(Vec3d(0, 0, 2)), "Vec3d(1, 1, -3)"),
        (lambda: Vec3d(1, 1, 1).distance_to_line(Vec3d(0, 0, 0), Vec3d(0, 0, 0)), math.nan),
        (lambda: Vec3d(5, 1, 0).distance_to_line(Vec3d(0, 0, 0), Vec3d(1, 0, 0)), 1.0),
        (lambda: Vec3d.i().scalar_triple_product(Vec3d.j(), Vec3d.k()), 1.0),
        (lambda: Vec3d.i().scalar_triple_product(Vec3d.k(), Vec3d.j()), -1.0),
        (lambda: Vec3d(1e200, 0, 0).magnitude(), math.inf),
        (lambda: [Vec3d(*v).is_unit() for v in [(1, 0, 0), (0.6, 0.8, 0), Vec3d(1, 1, 1).normalize()]], [True] * 3),
        (lambda: [Vec3d(*v).is_unit() for v in [(1 + 2**-52, 0, 0), (0, 0, 0), (math.nan, 0, 0)]], [False] * 3),
    ],
)
def test_documented_values(result, expected):
    got = result()
    assert repr(got) == expected if isinstance(expected, str) else same_bits(got, expected)


def test_named_vectors_are_new_objects_with_positive_zeros():
    for make, expected in [(Vec3d.zero, [0.0] * 3), (Vec3d.i, [1, 0, 0]), (Vec3d.j, [0, 1, 0]), (Vec3d.k, [0, 0, 1])]:
        assert same_bits(make().to_array(), map(float, expected)) and make() is not make()


@pytest.mark.parametrize(
    "a, b, equal",
    [((0.5, 0, 0), (0.5 + 2**-53, 0, 0), True), ((0, 0, 0), (0, 0, 1e-16), True),
     ((1, 0, 0), (1 + 2**-52, 0, 0), False), ((math.nan, 0, 0), (math.nan, 0, 0), False)],
)
def test_equality_within_epsilon(a, b, equal):
    assert (Vec3d(*a) == Vec3d(*b)) is equal and (Vec3d(*a) != Vec3d(*b)) is (not equal)


def test_comparison_with_other_types():
    v = Vec3d(0, 0, 0)
    assert (v == (0, 0, 0)) is False and (v != None) is True  # noqa: E711
    assert v.__eq__(1) is NotImplemented and v.__lt__(v) is NotImplemented


# Equal vectors may hash differently: the hash is over exact, canonical bit patterns.
PAYLOAD_NAN = struct.unpack("<d", struct.pack("<Q", 0xFFF0_0000_0000_1234))[0]


@pytest.mark.parametrize(
    "vector, expected",
    [((0, 0, 0), -504348149136077492), ((-0.0, 0, -0.0), -504348149136077492), ((1, 2, 3), 3511550596308926913),
     ((0.5, 0, 0), -3483901450573570688), ((0.5 + 2**-53, 0, 0), 7757659051346302374)],
)
def test_hash_check_values(vector, expected):
    assert hash(Vec3d(*vector)) == expected
    assert hash(Vec3d(math.nan, 0, 0)) == hash(Vec3d(-math.nan, 0, 0)) == hash(Vec3d(PAYLOAD_NAN, 0, 0))


def test_indexing_and_sequence_protocol():
    v = Vec3d(1, 2, 3)
    assert [v[0], v[1], v[2], v[True]] == [1.0, 2.0, 3.0, 2.0] and list(v) == [1.0, 2.0, 3.0]
    assert 2.0 in v and 4.0 not in v and bool(Vec3d.zero()) is True and str(v) == repr(v)
    with pytest.raises(IndexError, match="^Index out of bounds$"):
        v[3]
    with pytest.raises(TypeError):
        len(v)


def test_properties_and_setters():
    v = Vec3d(1, 2, 3)
    v.x, v.y, v.z = 5, True, -0.0
    assert same_bits(v.to_array(), [5.0, 1.0, -0.0])
    for name in "xyz":
        with pytest.raises(AttributeError, match="^property has no deleter$"):
            delattr(v, name)
    with pytest.raises(TypeError, match="^argument 'value': must be real number, not str$"):
        v.y = "1"
    assert same_bits(v.to_array(), [5.0, 1.0, -0.0])


@pytest.mark.parametrize(
    "expression", ["v + 1", "1 + v", "v - 1", "1 / v", "v / v", "v * v", "v @ v", "v // 2", "v * None", "'a' * v",
                   "v / RaisingFloat()", "v < v"],
)
def test_unsupported_operators_raise_host_type_error(expression):
    v = Vec3d(1, 2, 3)
    with pytest.raises(TypeError):
        eval(expression)


def test_text_signatures():
    methods = (Vec3d.zero, Vec3d.new_from_to, Vec3d.magnitude, Vec3d.scalar_triple_product)
    assert [m.__text_signature__ for m in methods] == ["()", "(from, to)", "($self)", "($self, b, c)"]
    assert all(m.__doc__ is None for m in methods)


VECTOR_METHODS = [
    ("dot", ["other"]), ("cross", ["other"]), ("distance_to", ["other"]), ("distance_squared", ["other"]),
    ("scalar_triple_product", ["b", "c"]), ("distance_to_line", ["a", "b"]),
    ("project_onto_plane", ["normal"]), ("project_onto_line", ["line_r", "line_q"]),
]


@pytest.mark.parametrize("method, params", VECTOR_METHODS)
@pytest.mark.parametrize("bad", [None, 1.5, (1, 2, 3)], ids=lambda b: type(b).__name__)
def test_bad_vector_arguments_name_the_argument(method, params, bad):
    v, good = Vec3d(1, 2, 3), Vec3d(4, 5, 6)
    for position, name in enumerate(params):
        args = [good] * len(params)
        args[position] = bad
        with pytest.raises(TypeError) as info:
            getattr(v, method)(*args)
        kind = "'None' is" if bad is None else f"'{type(bad).__name__}' object is"
        assert str(info.value) == f"argument '{name}': {kind} not an instance of 'Vec3d'"
    assert v.to_array() == [1.0, 2.0, 3.0]
