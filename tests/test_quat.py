"""Quat and Vec3d.to_quat: results, tolerant equality, texts and errors."""

import math

import pytest
from hypothesis import given
from hypothesis import strategies as st

from helpers import RaisingFloat, any_float, finite_float, ieee_div, libm, same_bits, same_or_nan
from lumeric_py import AngleDegrees, AngleRadians, Quat, Vec3d

EPS = 2.0**-52
quads = st.tuples(any_float, any_float, any_float, any_float)
triples = st.tuples(any_float, any_float, any_float)


def fields(q):
    return (q.w, q.i, q.j, q.k)


# Computed results are compared bit for bit except between NaNs: which of two NaN operands
# an operation passes on depends on the operand order the compiler picks for commutative
# operations, and the text form does not show it either. Stored values must match exactly.


# -- The formulas, written in Python floats in the same order --


def product(a, b):
    aw, ai, aj, ak = a
    bw, bi, bj, bk = b
    return (aw * bw - ai * bi - aj * bj - ak * bk,
            aw * bi + ai * bw + aj * bk - ak * bj,
            aw * bj + aj * bw + ak * bi - ai * bk,
            aw * bk + ak * bw + ai * bj - aj * bi)


def rotate(q, v):
    w, i, j, k = q
    t = product(product((w, -i, -j, -k), (0.0, *v)), q)
    return t[1:]


def magnitude(q):
    w, i, j, k = q
    return math.sqrt(((w * w + i * i) + j * j) + k * k)


def to_axis_angle(q):
    w, i, j, k = q
    if abs(w - 1.0) < EPS:
        return (1.0, 0.0, 0.0), 0.0
    a = libm(math.acos, w)
    angle = a + a
    s = libm(math.sin, angle * 0.5)
    return (ieee_div(i, s), ieee_div(j, s), ieee_div(k, s)), angle


def matrix(q):
    w, i, j, k = q
    return [[1.0 - 2.0 * (j * j + k * k), 2.0 * (i * j - w * k), 2.0 * (i * k + w * j)],
            [2.0 * (i * j + w * k), 1.0 - 2.0 * (i * i + k * k), 2.0 * (j * k - w * i)],
            [2.0 * (i * k - w * j), 2.0 * (j * k + w * i), 1.0 - 2.0 * (i * i + j * j)]]


@given(quads, triples)
def test_results_match_the_formulas(q, v):
    quat = Quat(*q)
    assert same_bits(fields(quat), q)
    assert same_or_nan(quat.rotate(Vec3d(*v)).to_array(), rotate(q, v))
    assert same_bits(fields(quat.conjugate()), (q[0], -q[1], -q[2], -q[3]))
    m = magnitude(q)
    assert same_or_nan(quat.magnitude(), m)
    assert same_or_nan(fields(quat.normalize()), [ieee_div(x, m) for x in q])
    assert quat.is_unit() is (abs(m + -1.0) < EPS)
    assert type(quat.to_vec3d()) is tuple and same_bits(quat.to_vec3d(), q[1:])
    rows = quat.to_rotation_matrix()
    assert type(rows) is list and all(type(row) is list for row in rows)
    assert same_or_nan(sum(rows, []), sum(matrix(q), []))
    axis, angle = quat.to_axis_angle()
    expected_axis, expected_angle = to_axis_angle(q)
    assert type(axis) is Vec3d and type(angle) is AngleRadians
    assert same_or_nan(axis.to_array(), expected_axis) and same_or_nan(angle.angle, expected_angle)


@given(triples, any_float)
def test_from_axis_angle_matches_the_formula(axis, theta):
    h = theta * -0.5
    s, c = libm(math.sin, h), libm(math.cos, h)
    q = Quat.from_axis_angle(Vec3d(*axis), AngleRadians(theta))
    assert same_or_nan(fields(q), (c, s * axis[0], s * axis[1], s * axis[2]))


@given(quads, quads)
def test_equality_is_per_field_within_epsilon(a, b):
    equal = all(abs(x - y) < EPS for x, y in zip(a, b))
    assert (Quat(*a) == Quat(*b)) is equal
    assert (Quat(*a) != Quat(*b)) is (not equal)


@given(triples)
def test_vec3d_to_quat(v):
    q = Vec3d(*v).to_quat()
    assert type(q) is Quat and same_bits(fields(q), (0.0, *v))


@given(st.tuples(finite_float, finite_float, finite_float))
def test_methods_do_not_touch_their_operands(v):
    q, vec = Quat(0.5, -1.5, 2.0, 3.0), Vec3d(*v)
    results = [q.conjugate(), q.normalize(), q.rotate(vec), Quat.identity()]
    assert fields(q) == (0.5, -1.5, 2.0, 3.0) and same_bits(vec.to_array(), v)
    assert all(r is not q and r is not vec for r in results)


# -- Edge cases --


def test_quarter_turn_about_z():
    q = Quat.from_axis_angle(Vec3d(0, 0, 1), AngleRadians.half_pi())
    assert repr(q) == "Quat(0.7071067811865476, -0, -0, -0.7071067811865475)"
    assert same_bits(q.rotate(Vec3d(1, 0, 0)).to_array(), (2.220446049250313e-16, 1.0, 0.0))
    assert repr(q.rotate(Vec3d(1, 0, 0))) == "Vec3d(0.0000000000000002220446049250313, 1, 0)"
    axis, angle = q.to_axis_angle()
    assert same_bits(axis.to_array(), (-0.0, -0.0, -1.0)) and angle.angle == 1.5707963267948966


def test_identity():
    q = Quat.identity()
    assert repr(q) == "Quat(1, 0, 0, 0)" and q is not Quat.identity()
    axis, angle = q.to_axis_angle()
    assert axis == Vec3d(1, 0, 0) and same_bits(angle.angle, 0.0)
    assert q.to_rotation_matrix() == [[1.0, 0.0, 0.0], [0.0, 1.0, 0.0], [0.0, 0.0, 1.0]]
    assert same_bits(q.rotate(Vec3d(-0.0, 5, 5)).to_array(), (0.0, 5.0, 5.0))
    assert all(math.isnan(x) for x in q.rotate(Vec3d(math.inf, 0, 0)).to_array())


@pytest.mark.parametrize(
    "q, axis, angle",
    [((1, 5, 5, 5), (1, 0, 0), 0.0), ((1 - EPS, 0, 0, 0), (0, 0, 0), 4.2146848510894035e-08),
     ((0, 0, 0, 0), (0, 0, 0), math.pi), ((2, 0, 0, 0), (math.nan,) * 3, math.nan)],
)
def test_to_axis_angle_edges(q, axis, angle):
    got_axis, got_angle = Quat(*q).to_axis_angle()
    assert same_or_nan(got_axis.to_array(), axis) and same_or_nan(got_angle.angle, angle)


def test_lengths_and_units():
    assert Quat(1, 2, 2, 0).magnitude() == 3.0
    assert fields(Quat(1, 1, 1, 1).normalize()) == (0.5, 0.5, 0.5, 0.5)
    assert not Quat(1, -2, -1, 1).normalize().is_unit()
    assert repr(Quat(0, 0, 0, 0).normalize()) == "Quat(NaN, NaN, NaN, NaN)"
    assert Quat(2, 0, 0, 0).rotate(Vec3d(1, 2, 3)).to_array() == [4.0, 8.0, 12.0]
    assert repr(Vec3d(1, 2, 3).to_quat()) == "Quat(0, 1, 2, 3)"
    assert Quat(1, 2, 3, 4).to_vec3d() == (2.0, 3.0, 4.0)


@pytest.mark.parametrize(
    "a, b, equal",
    [((1, 0, 0, 0), (1, 1e-16, 0, 0), True), ((1, 0, 0, 0), (1.0000000000000002, 0, 0, 0), False),
     ((0.5, 0, 0, 0), (0.5000000000000001, 0, 0, 0), True), ((math.nan, 0, 0, 0), (math.nan, 0, 0, 0), False)],
)
def test_tolerant_equality(a, b, equal):
    assert (Quat(*a) == Quat(*b)) is equal and (Quat(*a) != Quat(*b)) is (not equal)


# -- Properties --


@pytest.mark.parametrize("name", ["w", "i", "j", "k"])
def test_each_setter_writes_one_field(name):
    q = Quat(1, 2, 3, 4)
    setattr(q, name, 2 if name == "w" else -0.0)
    expected = {"w": 1.0, "i": 2.0, "j": 3.0, "k": 4.0, name: 2.0 if name == "w" else -0.0}
    assert same_bits(fields(q), [expected[n] for n in "wijk"])
    with pytest.raises(TypeError, match=r"^argument 'value': "):
        setattr(q, name, "x")
    with pytest.raises(AttributeError, match="^property has no deleter$"):
        delattr(q, name)
    assert same_bits(fields(q), [expected[n] for n in "wijk"])


def test_setter_converts_before_borrowing():
    q = Quat(1, 0, 0, 0)

    class ReadsQ:
        def __float__(self):
            return q.w + 1.0  # reading the receiver is allowed during the conversion

    q.w = ReadsQ()
    assert q.w == 2.0 and q.magnitude() == 2.0


# -- Comparison fall-backs, hashing and texts --


class NotEqualSentinel:
    def __ne__(self, other):
        return "reflected"


def test_comparison_fall_backs():
    q = Quat(1, 0, 0, 0)
    assert not (q == (1, 0, 0, 0)) and q != (1, 0, 0, 0)
    assert q.__eq__(Vec3d(1, 0, 0)) is NotImplemented and q.__lt__(q) is NotImplemented
    assert (q != NotEqualSentinel()) == "reflected"  # `!=` is the class's own, not derived
    for compare in (lambda: q < q, lambda: q >= Quat(0, 0, 0, 0), lambda: q + q, lambda: q * q, lambda: -q):
        with pytest.raises(TypeError):
            compare()


def test_unhashable():
    assert Quat.__hash__ is None
    with pytest.raises(TypeError, match="unhashable"):
        hash(Quat.identity())


def test_str_is_repr():
    q = Quat(-0.0, 1e21, math.inf, 0.1)
    assert str(q) == repr(q) == f"{q}" == "Quat(-0, 1000000000000000000000, inf, 0.1)"


@pytest.mark.parametrize(
    "owner, signature",
    [(Quat, "(w, i, j, k)"), (Quat.identity, "()"), (Quat.from_axis_angle, "(axis, angle)"),
     (Quat.rotate, "($self, v)"), (Quat.to_rotation_matrix, "($self)"), (Quat.conjugate, "($self)"),
     (Vec3d.to_quat, "($self)")],
)
def test_text_signatures(owner, signature):
    assert owner.__text_signature__ == signature
    assert not owner.__doc__


# -- Errors --

axis, angle = Vec3d(0, 0, 1), AngleRadians(1.0)


@pytest.mark.parametrize(
    "call, message",
    [(lambda: Quat(1, 2, 3), "Quat.__new__() missing 1 required positional argument: 'k'"),
     (lambda: Quat(), "Quat.__new__() missing 4 required positional arguments: 'w', 'i', 'j', and 'k'"),
     (lambda: Quat(1, 2, 3, 4, 5), "Quat.__new__() takes 4 positional arguments but 5 were given"),
     (lambda: Quat(1, 2, 3, k=4, x=0), "Quat.__new__() got an unexpected keyword argument 'x'"),
     (lambda: Quat.from_axis_angle(axis, 1.0),
      "argument 'angle': 'float' object is not an instance of 'AngleRadians'"),
     (lambda: Quat.from_axis_angle(axis, AngleDegrees(1)),
      "argument 'angle': 'AngleDegrees' object is not an instance of 'AngleRadians'"),
     (lambda: Quat.from_axis_angle(1.0, 1.0), "argument 'axis': 'float' object is not an instance of 'Vec3d'"),
     (lambda: Quat.from_axis_angle(angle=angle), "Quat.from_axis_angle() missing 1 required positional "
                                                 "argument: 'axis'"),
     (lambda: Quat.identity().rotate(None), "argument 'v': 'None' is not an instance of 'Vec3d'"),
     (lambda: Quat.identity().rotate(v=Quat.identity()), "argument 'v': 'Quat' object is not an instance of 'Vec3d'")],
)
def test_argument_errors(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


def test_first_failing_float_argument_is_named():
    with pytest.raises(TypeError, match=r"^argument 'i': "):
        Quat(1, "a", "b", 4)
    with pytest.raises(TypeError, match=r"^argument 'w': "):
        Quat(k="a", j=0, i=0, w=None)
    with pytest.raises(ValueError, match="no float here"):
        Quat(1, 2, RaisingFloat(), 4)
    assert fields(Quat(k=4, j=3, i=2, w=1)) == (1.0, 2.0, 3.0, 4.0)
    assert fields(Quat.from_axis_angle(angle=AngleRadians(0.0), axis=axis)) == (1.0, -0.0, -0.0, -0.0)


def test_foreign_receiver_is_refused():
    with pytest.raises(TypeError):
        Quat.magnitude(Vec3d(1, 2, 3))
    with pytest.raises(TypeError):
        Vec3d.to_quat(Quat.identity())
