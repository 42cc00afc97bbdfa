"""Vec3d: every operation bit for bit against the same formula in Python floats."""

import math

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from helpers import RaisingFloat, RaisingIndex, any_float, finite_float, same_bits
from lumeric_py import Vec3d

vectors = st.tuples(any_float, any_float, any_float)
EPS = 2.0**-52


# -- Reference formulas, in the library's order of operations --
def dot(a, b):
    return (a[0] * b[0] + a[1] * b[1]) + a[2] * b[2]


def cross(a, b):
    return (a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0])


def mag(a):
    return math.sqrt((a[0] * a[0] + a[1] * a[1]) + a[2] * a[2])


def sq(a, b):
    d = [a[i] - b[i] for i in range(3)]
    return (d[0] * d[0] + d[1] * d[1]) + d[2] * d[2]


def safe_div(x, y):
    try:
        return x / y
    except ZeroDivisionError:
        if math.isnan(x) or x == 0:
            return math.nan
        return math.copysign(math.inf, x) * math.copysign(1.0, y)


def normalize(a):
    m = mag(a)
    return tuple(safe_div(c, m) for c in a)


def distance_to_line(p, a, b):
    d = [b[i] - a[i] for i in range(3)]
    t = safe_div((d[0] * (p[0] - a[0]) + d[1] * (p[1] - a[1])) + d[2] * (p[2] - a[2]),
                 (d[0] * d[0] + d[1] * d[1]) + d[2] * d[2])
    c = [a[i] + d[i] * t for i in range(3)]
    return math.sqrt(((p[0] - c[0]) * (p[0] - c[0]) + (p[1] - c[1]) * (p[1] - c[1])) + (p[2] - c[2]) * (p[2] - c[2]))


def project_onto_line(p, r, q):
    u = [r[i] - q[i] for i in range(3)]
    w = [q[i] - p[i] for i in range(3)]
    t = safe_div((u[0] * w[0] + u[1] * w[1]) + u[2] * w[2], (u[0] * u[0] + u[1] * u[1]) + u[2] * u[2])
    return tuple(q[i] - u[i] * t for i in range(3))


def project_onto_plane(p, n):
    s = (p[0] * n[0] + p[1] * n[1]) + p[2] * n[2]
    return tuple(p[i] - n[i] * s for i in range(3))


def sqrt_or_nan(x):
    return math.sqrt(x) if not x < 0 else math.nan


def tol_eq(a, b):
    return all(abs(a[i] - b[i]) < EPS for i in range(3))


def guarded(f, *args):
    """Python raises where IEEE gives NaN (sqrt of a negative NaN-free value cannot occur here)."""
    try:
        return f(*args)
    except ValueError:
        return math.nan


@settings(max_examples=400, deadline=None)
@given(vectors, vectors, vectors)
def test_operations_match_reference_bits(a, b, c):
    va, vb, vc = Vec3d(*a), Vec3d(*b), Vec3d(*c)
    assert same_bits((va + vb).to_array(), [a[i] + b[i] for i in range(3)])
    assert same_bits((va - vb).to_array(), [a[i] - b[i] for i in range(3)])
    assert same_bits((-va).to_array(), [-x for x in a])
    assert same_bits(va.dot(vb), dot(a, b))
    assert same_bits(va.cross(vb).to_array(), cross(a, b))
    assert same_bits(va.scalar_triple_product(vb, vc), dot(a, cross(b, c)))
    assert same_bits(va.distance_squared(vb), sq(a, b))
    assert same_bits(va.distance_to(vb), sqrt_or_nan(sq(a, b)))
    assert same_bits(va.magnitude(), sqrt_or_nan((a[0] * a[0] + a[1] * a[1]) + a[2] * a[2]))
    assert same_bits(Vec3d.new_from_to(va, vb).to_array(), [b[i] - a[i] for i in range(3)])
    assert same_bits(va.project_onto_plane(vb).to_array(), project_onto_plane(a, b))
    assert (va == vb) == tol_eq(a, b) and (va != vb) == (not tol_eq(a, b))


@settings(max_examples=400, deadline=None)
@given(vectors, any_float)
def test_scalar_operations_match_reference_bits(a, s):
    va = Vec3d(*a)
    expected = [x * s for x in a]
    assert same_bits((va * s).to_array(), expected)
    assert same_bits((s * va).to_array(), expected)
    assert same_bits((va / s).to_array(), [safe_div(x, s) for x in a])


@settings(max_examples=400, deadline=None)
@given(st.tuples(finite_float, finite_float, finite_float), st.tuples(finite_float, finite_float, finite_float),
       st.tuples(finite_float, finite_float, finite_float))
def test_line_operations_match_reference_bits(p, a, b):
    vp, va, vb = Vec3d(*p), Vec3d(*a), Vec3d(*b)
    assert same_bits(vp.distance_to_line(va, vb), guarded(distance_to_line, p, a, b))
    assert same_bits(vp.project_onto_line(va, vb).to_array(), project_onto_line(p, a, b))
    assert same_bits(vp.normalize().to_array(), normalize(p))


@pytest.mark.parametrize(
    "vector, expected",
    [
        ((0, 0, 0), "Vec3d(NaN, NaN, NaN)"),
        ((3, 0, 4), "Vec3d(0.6, 0, 0.8)"),
        ((1e200, 0, 0), "Vec3d(0, 0, 0)"),
        ((1e-200, 0, 0), "Vec3d(inf, NaN, NaN)"),
    ],
)
def test_normalize_edges(vector, expected):
    assert repr(Vec3d(*vector).normalize()) == expected


@pytest.mark.parametrize(
    "vector, unit",
    [((1, 0, 0), True), ((0.6, 0.8, 0), True), ((1 + 2**-52, 0, 0), False), ((0, 0, 0), False),
     ((1 - 2**-53, 0, 0), True), ((math.nan, 0, 0), False)],
)
def test_is_unit(vector, unit):
    assert Vec3d(*vector).is_unit() is unit


def test_named_vectors_are_new_objects_with_positive_zeros():
    for make, expected in [(Vec3d.zero, [0.0] * 3), (Vec3d.i, [1.0, 0.0, 0.0]), (Vec3d.j, [0.0, 1.0, 0.0]),
                           (Vec3d.k, [0.0, 0.0, 1.0])]:
        assert same_bits(make().to_array(), expected)
        assert make() is not make()


def test_special_values():
    assert repr(-Vec3d.zero()) == "Vec3d(-0, -0, -0)"
    assert repr(Vec3d(1, -1, 0) / 0) == "Vec3d(inf, -inf, NaN)"
    assert Vec3d(1, 1, 1).project_onto_plane(Vec3d(0, 0, 2)).to_array() == [1.0, 1.0, -3.0]
    assert math.isnan(Vec3d(1, 1, 1).distance_to_line(Vec3d(0, 0, 0), Vec3d(0, 0, 0)))
    assert Vec3d(5, 1, 0).distance_to_line(Vec3d(0, 0, 0), Vec3d(1, 0, 0)) == 1.0
    assert Vec3d.i().scalar_triple_product(Vec3d.j(), Vec3d.k()) == 1.0
    assert Vec3d.i().scalar_triple_product(Vec3d.k(), Vec3d.j()) == -1.0


def test_results_are_new_objects():
    v = Vec3d(1, 2, 3)
    for result in (v * 1, v / 1, v + Vec3d.zero(), v.normalize(), -(-v)):
        assert result is not v
    w = v * 1
    w.x = 9
    assert v.x == 1.0


@pytest.mark.parametrize(
    "a, b, equal",
    [
        ((0.5, 0, 0), (0.5 + 2**-53, 0, 0), True),
        ((0, 0, 0), (0, 0, 1e-16), True),
        ((1, 0, 0), (1 + 2**-52, 0, 0), False),
        ((math.nan, 0, 0), (math.nan, 0, 0), False),
    ],
)
def test_equality_within_epsilon(a, b, equal):
    assert (Vec3d(*a) == Vec3d(*b)) is equal
    assert (Vec3d(*a) != Vec3d(*b)) is (not equal)


def test_comparison_with_other_types():
    v = Vec3d(0, 0, 0)
    assert (v == (0, 0, 0)) is False and (v != None) is True  # noqa: E711
    assert v == v and not (Vec3d(math.nan, 0, 0) == Vec3d(math.nan, 0, 0))
    for op in ("<", "<=", ">", ">="):
        with pytest.raises(TypeError):
            eval(f"v {op} Vec3d(1, 1, 1)")


@pytest.mark.parametrize(
    "vector, expected",
    [
        ((0, 0, 0), -504348149136077492),
        ((-0.0, 0, -0.0), -504348149136077492),
        ((1, 2, 3), 3511550596308926913),
        ((0.5, 0, 0), -3483901450573570688),
        ((0.5 + 2**-53, 0, 0), 7757659051346302374),
    ],
)
def test_hash_check_values(vector, expected):
    assert hash(Vec3d(*vector)) == expected


def test_hash_of_nan_ignores_payload_and_sign():
    payload_nan = float.fromhex("0x1.0000000000001p+1024") if False else math.nan
    assert hash(Vec3d(math.nan, 0, 0)) == hash(Vec3d(-math.nan, 0, 0)) == hash(Vec3d(payload_nan, 0, 0))
    assert len({Vec3d(0.5, 0, 0), Vec3d(0.5 + 2**-53, 0, 0)}) == 2


def test_indexing_and_sequence_protocol():
    v = Vec3d(1, 2, 3)
    assert [v[0], v[1], v[2]] == [1.0, 2.0, 3.0]
    assert list(v) == [1.0, 2.0, 3.0] and tuple(v) == (1.0, 2.0, 3.0)
    x, y, z = v
    assert (x, y, z) == (1.0, 2.0, 3.0) and 2.0 in v and 4.0 not in v
    with pytest.raises(IndexError, match="^Index out of bounds$"):
        v[3]
    with pytest.raises(OverflowError):
        v[-1]
    with pytest.raises(TypeError):
        len(v)
    assert bool(Vec3d.zero()) is True and str(v) == repr(v)


def test_properties_and_setters():
    v = Vec3d(1, 2, 3)
    v.x, v.y, v.z = 5, True, -0.0
    assert same_bits(v.to_array(), [5.0, 1.0, -0.0])
    for name in "xyz":
        with pytest.raises(AttributeError, match="^property has no deleter$"):
            delattr(v, name)
    with pytest.raises(TypeError, match="^argument 'value': must be real number, not str$"):
        v.y = "1"
    assert same_bits(v.to_array(), [5.0, 1.0, -0.0])  # unchanged after the failure


@pytest.mark.parametrize(
    "expression",
    ["v + 1", "1 + v", "v - 1", "1 - v", "1 / v", "v / v", "v * v", "v * 'a'", "v @ v", "v // 2"],
)
def test_unsupported_operators_raise_host_type_error(expression):
    v = Vec3d(1, 2, 3)
    with pytest.raises(TypeError):
        eval(expression)


def test_text_signatures():
    assert Vec3d.zero.__text_signature__ == "()"
    assert Vec3d.new_from_to.__text_signature__ == "(from, to)"
    assert Vec3d.magnitude.__text_signature__ == "($self)"
    assert Vec3d.dot.__text_signature__ == "($self, other)"
    assert Vec3d.scalar_triple_product.__text_signature__ == "($self, b, c)"
    assert Vec3d.project_onto_line.__text_signature__ == "($self, line_r, line_q)"
    assert Vec3d.dot.__doc__ is None


VECTOR_METHODS = [
    ("dot", ["other"]), ("cross", ["other"]), ("distance_to", ["other"]), ("distance_squared", ["other"]),
    ("scalar_triple_product", ["b", "c"]), ("distance_to_line", ["a", "b"]),
    ("project_onto_plane", ["normal"]), ("project_onto_line", ["line_r", "line_q"]),
]
BAD_VALUES = [None, 1, 10**100, 1.5, "x", [1, 2, 3], (1, 2, 3), object()]


@pytest.mark.parametrize("method, params", VECTOR_METHODS)
@pytest.mark.parametrize("bad", BAD_VALUES, ids=lambda b: type(b).__name__)
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


@pytest.mark.parametrize("bad", [None, "1", [1], object(), RaisingFloat(), 10**400])
def test_bad_float_arguments_never_crash(bad):
    v = Vec3d(1, 2, 3)
    for call in (lambda: Vec3d(bad, 0, 0), lambda: Vec3d(0, 0, z=bad), lambda: setattr(v, "z", bad)):
        with pytest.raises((TypeError, ValueError, OverflowError)):
            call()
    for expression in ("v * bad", "bad * v", "v / bad"):
        with pytest.raises(TypeError):
            eval(expression)
    assert v.to_array() == [1.0, 2.0, 3.0]


@pytest.mark.parametrize("bad", [None, "0", 0.0, RaisingIndex(), -1, 2**64, 10**100])
def test_bad_indices_never_crash(bad):
    with pytest.raises((TypeError, ValueError, OverflowError)):
        Vec3d(1, 2, 3)[bad]
