"""Quat and Vec3d.to_quat: results, tolerant equality, texts and errors."""

import math

import pytest
from hypothesis import given
from hypothesis import strategies as st

from helpers import any_float, ieee_div, libm, same_bits
from lumeric_py import AngleDegrees, AngleRadians, Quat, Vec3d

EPS = 2.0**-52
quads = st.tuples(any_float, any_float, any_float, any_float)
triples = st.tuples(any_float, any_float, any_float)


def fields(q):
    return (q.w, q.i, q.j, q.k)


# Results are compared bit for bit except between NaNs: which of two NaN operands an operation
# passes on depends on the operand order the compiler picks for commutative operations.


def product(a, b):
    aw, ai, aj, ak = a
    bw, bi, bj, bk = b
    return (aw * bw - ai * bi - aj * bj - ak * bk,
            aw * bi + ai * bw + aj * bk - ak * bj,
            aw * bj + aj * bw + ak * bi - ai * bk,
            aw * bk + ak * bw + ai * bj - aj * bi)


def to_axis_angle(q):
    w, i, j, k = q
    if abs(w - 1.0) < EPS:
        return (1.0, 0.0, 0.0), 0.0
    a = libm(math.acos, w)
    s = libm(math.sin, (a + a) * 0.5)
    return (ieee_div(i, s), ieee_div(j, s), ieee_div(k, s)), a + a


def matrix(q):
    w, i, j, k = q
    return [1.0 - 2.0 * (j * j + k * k), 2.0 * (i * j - w * k), 2.0 * (i * k + w * j),
            2.0 * (i * j + w * k), 1.0 - 2.0 * (i * i + k * k), 2.0 * (j * k - w * i),
            2.0 * (i * k - w * j), 2.0 * (j * k + w * i), 1.0 - 2.0 * (i * i + j * j)]


@given(quads, quads, triples, any_float)
def test_results_match_the_formulas(q, other, v, theta):
    quat = Quat(*q)
    assert same_bits(fields(quat), q)
    w, i, j, k = q
    assert same_bits(quat.rotate(Vec3d(*v)).to_array(), product(product((w, -i, -j, -k), (0.0, *v)), q)[1:])
    assert same_bits(fields(quat.conjugate()), (w, -i, -j, -k))
    m = math.sqrt(((w * w + i * i) + j * j) + k * k)
    assert same_bits(quat.magnitude(), m)
    assert same_bits(fields(quat.normalize()), [ieee_div(x, m) for x in q])
    assert quat.is_unit() is (abs(m - 1.0) < EPS)
    assert type(quat.to_vec3d()) is tuple and same_bits(quat.to_vec3d(), q[1:])
    rows = quat.to_rotation_matrix()
    assert type(rows) is list and all(type(row) is list for row in rows)
    assert same_bits(sum(rows, []), matrix(q))
    axis, angle = quat.to_axis_angle()
    expected_axis, expected_angle = to_axis_angle(q)
    assert type(axis) is Vec3d and type(angle) is AngleRadians
    assert same_bits(axis.to_array(), expected_axis) and same_bits(angle.angle, expected_angle)
    equal = all(abs(x - y) < EPS for x, y in zip(q, other))
    assert (quat == Quat(*other)) is equal and (quat != Quat(*other)) is (not equal)
    assert same_bits(fields(Vec3d(*v).to_quat()), (0.0, *v))
    s, c = libm(math.sin, theta * -0.5), libm(math.cos, theta * -0.5)
    from_axis = Quat.from_axis_angle(Vec3d(*v), AngleRadians(theta))
    assert same_bits(fields(from_axis), (c, s * v[0], s * v[1], s * v[2]))
    assert same_bits(fields(quat), q)  # no method changed its receiver


QUARTER_TURN_Z = Quat.from_axis_angle(Vec3d(0, 0, 1), AngleRadians.half_pi())


@pytest.mark.parametrize(
    "result, expected",
    [
        (lambda: QUARTER_TURN_Z, "Quat(0.7071067811865476, -0, -0, -0.7071067811865475)"),
        (lambda: QUARTER_TURN_Z.rotate(Vec3d(1, 0, 0)), "Vec3d(0.0000000000000002220446049250313, 1, 0)"),
        (lambda: QUARTER_TURN_Z.to_axis_angle(), "(Vec3d(-0, -0, -1), 1.5707963267948966 radians)"),
        (lambda: Quat.identity(), "Quat(1, 0, 0, 0)"),
        (lambda: Quat.identity().to_axis_angle(), "(Vec3d(1, 0, 0), 0 radians)"),
        (lambda: Quat.identity().to_rotation_matrix(), "[[1.0, 0.0, 0.0], [0.0, 1.0, 0.0], [0.0, 0.0, 1.0]]"),
        (lambda: Quat.identity().rotate(Vec3d(-0.0, 5, 5)), "Vec3d(0, 5, 5)"),
        (lambda: Quat.identity().rotate(Vec3d(math.inf, 0, 0)), "Vec3d(NaN, NaN, NaN)"),
        (lambda: Quat(2, 0, 0, 0).rotate(Vec3d(1, 2, 3)), "Vec3d(4, 8, 12)"),
        (lambda: Quat(1, 5, 5, 5).to_axis_angle(), "(Vec3d(1, 0, 0), 0 radians)"),
        (lambda: Quat(1 - EPS, 0, 0, 0).to_axis_angle(), "(Vec3d(0, 0, 0), 0.000000042146848510894035 radians)"),
        (lambda: Quat(0, 0, 0, 0).to_axis_angle(), "(Vec3d(0, 0, 0), 3.141592653589793 radians)"),
        (lambda: Quat(2, 0, 0, 0).to_axis_angle(), "(Vec3d(NaN, NaN, NaN), NaN radians)"),
        (lambda: Quat(1, 2, 2, 0).magnitude(), "3.0"),
        (lambda: Quat(1, 1, 1, 1).normalize(), "Quat(0.5, 0.5, 0.5, 0.5)"),
        (lambda: Quat(1, -2, -1, 1).normalize().magnitude(), "0.9999999999999998"),
        (lambda: Quat(1, -2, -1, 1).normalize().is_unit(), "False"),
        (lambda: Quat(0, 0, 0, 0).normalize(), "Quat(NaN, NaN, NaN, NaN)"),
        (lambda: Vec3d(1, 2, 3).to_quat(), "Quat(0, 1, 2, 3)"),
        (lambda: Quat(1, 2, 3, 4).to_vec3d(), "(2.0, 3.0, 4.0)"),
        (lambda: Quat(-0.0, 1e21, math.inf, 0.1), "Quat(-0, 1000000000000000000000, inf, 0.1)"),
        # Equality allows less than 2^-52 per field.
        (lambda: [Quat(1, 0, 0, 0) == Quat(1, 1e-16, 0, 0), Quat(0.5, 0, 0, 0) == Quat(0.5000000000000001, 0, 0, 0),
                  Quat(1, 0, 0, 0) != Quat(1.0000000000000002, 0, 0, 0), Quat(math.nan, 0, 0, 0) != Quat(math.nan, 0, 0, 0)],
         "[True, True, True, True]"),
    ],
)
def test_documented_values(result, expected):
    value = result()
    assert repr(value) == expected and str(value) == repr(value)


def test_each_setter_writes_its_own_field():
    for name in "wijk":
        q = Quat(1, 2, 3, 4)
        setattr(q, name, -0.0)
        assert same_bits(fields(q), [-0.0 if n == name else v for n, v in zip("wijk", (1.0, 2.0, 3.0, 4.0))])
    q = Quat(1, 0, 0, 0)

    class ReadsQ:
        def __float__(self):
            return q.w + 1.0  # reading the receiver is allowed during the conversion

    q.w = ReadsQ()
    assert q.w == 2.0 and q.magnitude() == 2.0


class NotEqualSentinel:
    def __ne__(self, other):
        return "reflected"


def test_comparison_fall_backs():
    q = Quat(1, 0, 0, 0)
    assert not (q == (1, 0, 0, 0)) and q != (1, 0, 0, 0)
    assert q.__eq__(Vec3d(1, 0, 0)) is NotImplemented and q.__lt__(q) is NotImplemented
    assert (q != NotEqualSentinel()) == "reflected"  # `!=` is the class's own, not derived
    for refused in (lambda: q < q, lambda: q + q, lambda: -q, lambda: hash(q), lambda: Quat.magnitude(Vec3d(1, 2, 3)),
                    lambda: Vec3d.to_quat(q)):
        with pytest.raises(TypeError):
            refused()


def test_text_signatures():
    owners = (Quat, Quat.identity, Quat.from_axis_angle, Quat.rotate, Quat.to_rotation_matrix, Vec3d.to_quat)
    assert [o.__text_signature__ for o in owners] == ["(w, i, j, k)", "()", "(axis, angle)", "($self, v)", "($self)",
                                                      "($self)"]
    assert not any(o.__doc__ for o in owners)


# -- Errors --

axis = Vec3d(0, 0, 1)


@pytest.mark.parametrize(
    "call, message",
    [(lambda: Quat(), "Quat.__new__() missing 4 required positional arguments: 'w', 'i', 'j', and 'k'"),
     (lambda: Quat(1, "a", "b", 4), "argument 'i': must be real number, not str"),  # the first bad one
     (lambda: Quat.from_axis_angle(axis, 1.0), "argument 'angle': 'float' object is not an instance of 'AngleRadians'"),
     (lambda: Quat.from_axis_angle(axis, AngleDegrees(1)),
      "argument 'angle': 'AngleDegrees' object is not an instance of 'AngleRadians'"),
     (lambda: Quat.from_axis_angle(1.0, 1.0), "argument 'axis': 'float' object is not an instance of 'Vec3d'"),
     (lambda: Quat.identity().rotate(v=Quat.identity()), "argument 'v': 'Quat' object is not an instance of 'Vec3d'")],
)
def test_argument_errors(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message
