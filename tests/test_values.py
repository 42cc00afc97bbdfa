# Vec3d, the angles and Quat through the module: every result bit for bit against the same formula
# in Python floats, the tolerant and exact comparisons, the hash check values, and the few rules
# that live in the module rather than in the core (fresh objects, copies, sequence protocol).

import math
import operator
import struct

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import geometry_reference as ref
from helpers import any_float, ieee_div, libm, same_bits, triples
from lumeric_py import AngleDegrees, AngleRadians, Quat, Vec3d

R, D = AngleRadians, AngleDegrees
PI, EPS = math.pi, 2.0**-52


@settings(max_examples=500, deadline=None)
@given(triples, triples, triples, any_float)
def test_vec3d_matches_the_formulas(a, b, c, s):
    va, vb, vc = Vec3d(*a), Vec3d(*b), Vec3d(*c)
    for got, expected in [
        (va + vb, ref.add(a, b)), (va - vb, ref.sub(a, b)), (-va, [-x for x in a]), (va * s, ref.scale(a, s)),
        (s * va, ref.scale(a, s)), (va / s, [ieee_div(x, s) for x in a]), (va.cross(vb), ref.cross(a, b)),
        (va.normalize(), ref.normalize(a)), (Vec3d.new_from_to(va, vb), ref.sub(b, a)),
        (va.project_onto_plane(vb), ref.project_onto_plane(a, b)),
        (va.project_onto_line(vb, vc), ref.project_onto_line(a, b, c)),
    ]:
        assert same_bits(got.to_array(), expected)
    for got, expected in [
        (va.dot(vb), ref.dot(a, b)), (va.scalar_triple_product(vb, vc), ref.dot(a, ref.cross(b, c))),
        (va.distance_squared(vb), ref.distance_squared(a, b)), (va.distance_to(vb), ref.distance(a, b)),
        (va.magnitude(), ref.magnitude(a)), (va.distance_to_line(vb, vc), ref.distance_to_line(a, b, c)),
        ([va[0], va[1], va[2], va.x, va.y, va.z], [*a, *a]), (list(va), a),
    ]:
        assert same_bits(got, expected)
    assert va.is_unit() is (abs(ref.magnitude(a) - 1.0) < EPS)
    assert (va == vb) is ref.vectors_equal(a, b) and (va != vb) is not ref.vectors_equal(a, b)
    cos = ieee_div(ref.dot(a, b), ref.magnitude(a) * ref.magnitude(b))
    angle = va.angle_to(vb)  # the cosine is clamped to [-1, 1] before acos
    assert type(angle) is R and same_bits(angle.angle, libm(math.acos, min(max(cos, -1.0), 1.0)))
    assert same_bits([getattr(va.to_quat(), f) for f in "wijk"], (0.0, *a))


@given(any_float, any_float)
def test_angles_match_the_formulas(x, y):
    for cls in (R, D):
        a = cls(x)
        assert same_bits(a.angle, x) and same_bits((-a).angle, -x)
        for op in (operator.lt, operator.le, operator.eq, operator.ne, operator.gt, operator.ge):
            assert op(cls(x), cls(y)) is op(x, y)
    a, b = R(x), R(y)
    assert same_bits(a.to_degrees().angle, (x * 180.0) / PI) and same_bits(D(x).to_radians().angle, (x * PI) / 180.0)
    for name, f in (("sin", math.sin), ("cos", math.cos), ("tan", math.tan)):
        assert same_bits(getattr(a, name)(), libm(f, x))
    for name, f in (("sec", math.cos), ("csc", math.sin), ("cot", math.tan)):
        assert same_bits(getattr(a, name)(), ieee_div(1.0, libm(f, x)))
    assert same_bits((a + b).angle, x + y) and same_bits((a - b).angle, x - y)
    assert same_bits((a * y).angle, x * y) and same_bits((a / y).angle, ieee_div(x, y))


def product(a, b):
    aw, ai, aj, ak = a
    bw, bi, bj, bk = b
    return (aw * bw - ai * bi - aj * bj - ak * bk, aw * bi + ai * bw + aj * bk - ak * bj,
            aw * bj + aj * bw + ak * bi - ai * bk, aw * bk + ak * bw + ai * bj - aj * bi)


@given(st.tuples(any_float, any_float, any_float, any_float), st.tuples(any_float, any_float, any_float, any_float),
       triples, any_float)
def test_quat_matches_the_formulas(q, other, v, theta):
    quat, (w, i, j, k) = Quat(*q), q
    fields = lambda value: (value.w, value.i, value.j, value.k)  # noqa: E731
    assert same_bits(quat.rotate(Vec3d(*v)).to_array(), product(product((w, -i, -j, -k), (0.0, *v)), q)[1:])
    assert same_bits(fields(quat.conjugate()), (w, -i, -j, -k))
    m = math.sqrt(((w * w + i * i) + j * j) + k * k)
    assert same_bits(quat.magnitude(), m) and same_bits(fields(quat.normalize()), [ieee_div(x, m) for x in q])
    assert quat.is_unit() is (abs(m - 1.0) < EPS) and same_bits(quat.to_vec3d(), q[1:])
    assert same_bits(sum(quat.to_rotation_matrix(), []), [
        1.0 - 2.0 * (j * j + k * k), 2.0 * (i * j - w * k), 2.0 * (i * k + w * j),
        2.0 * (i * j + w * k), 1.0 - 2.0 * (i * i + k * k), 2.0 * (j * k - w * i),
        2.0 * (i * k - w * j), 2.0 * (j * k + w * i), 1.0 - 2.0 * (i * i + j * j)])
    axis, angle = quat.to_axis_angle()
    half = libm(math.acos, w)
    s = libm(math.sin, (half + half) * 0.5)
    expected = ((1.0, 0.0, 0.0), 0.0) if abs(w - 1.0) < EPS else ((ieee_div(i, s), ieee_div(j, s), ieee_div(k, s)),
                                                                  half + half)
    assert same_bits(axis.to_array(), expected[0]) and same_bits(angle.angle, expected[1])
    equal = all(abs(x - y) < EPS for x, y in zip(q, other))
    assert (quat == Quat(*other)) is equal and (quat != Quat(*other)) is (not equal)
    s, c = libm(math.sin, theta * -0.5), libm(math.cos, theta * -0.5)
    assert same_bits(fields(Quat.from_axis_angle(Vec3d(*v), R(theta))), (c, s * v[0], s * v[1], s * v[2]))
    assert same_bits(fields(quat), q)  # no method changed its receiver


# Equal vectors may hash differently: the hash is over exact, canonical bit patterns.
PAYLOAD_NAN = struct.unpack("<d", struct.pack("<Q", 0xFFF0_0000_0000_1234))[0]


@pytest.mark.parametrize("vector, expected", [
    ((0, 0, 0), -504348149136077492), ((-0.0, 0, -0.0), -504348149136077492), ((1, 2, 3), 3511550596308926913),
    ((0.5, 0, 0), -3483901450573570688), ((0.5 + 2**-53, 0, 0), 7757659051346302374),
    ((math.nan, 0, 0), None), ((-math.nan, 0, 0), None), ((PAYLOAD_NAN, 0, 0), None),
])
def test_hash_check_values(vector, expected):
    assert hash(Vec3d(*vector)) == (expected or hash(Vec3d(math.nan, 0, 0)))


def test_constructors_make_new_objects_and_setters_write_their_own_field():
    for make in (Vec3d.zero, Vec3d.i, Quat.identity, R.pi, R.zero):
        first = make()
        assert first is not make() and first == make()
    first = R.pi()
    first.angle = 7.0
    assert R.pi().angle == PI
    v = Vec3d.zero()
    v.x, v.y, v.z = 5, True, -0.0
    assert same_bits(v.to_array(), [5.0, 1.0, -0.0]) and same_bits(Vec3d.zero().to_array(), [0.0] * 3)
    q = Quat(1, 2, 3, 4)
    for name in "wijk":
        setattr(q, name, -getattr(q, name))
    assert (q.w, q.i, q.j, q.k) == (-1.0, -2.0, -3.0, -4.0)
    a = R(1)
    b = a
    a += R(1)
    a *= 3
    assert a.angle == 6.0 and b.angle == 1.0 and 2.0 in Vec3d(1, 2, 3) and 4.0 not in Vec3d(1, 2, 3)
