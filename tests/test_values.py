# The value classes and lumeric_py.geometry through the module: documented values, with operands
# that would give another answer if the bindings passed them in another order, read the wrong field
# or reached the wrong core function; each intersection failure mapped to its message; the hash,
# its check values and canonical patterns; and the rules that live in the module rather than in the
# core (fresh objects, setters, in-place operators, the sequence protocol). The formulas
# themselves are the core's own tests.

import math
import operator

import numpy as np
import pytest

from helpers import fields, from_bits, same_fields
from lumeric_py import AngleDegrees, AngleRadians, Quat, Vec3d, geometry

R, D = AngleRadians, AngleDegrees
A, B, Z = Vec3d(1, 2, 3), Vec3d(4, -5, 6), Vec3d(0, 0, 1)
QUARTER_TURN_Z = Quat.from_axis_angle(angle=R.half_pi(), axis=Vec3d(0, 0, 1))
ORDERS = (operator.lt, operator.le, operator.eq, operator.ne, operator.gt, operator.ge)
Circle, Plane = geometry.Circle, geometry.Plane
UNIT = Circle(Vec3d(0, 0, 0), 1, Vec3d(0, 0, 1))
H = 0.8660254037844386


def assigned(value, **changes):  # the setters store what they are given, unchanged
    for name, new in changes.items():
        setattr(value, name, new)
    return value


@pytest.mark.parametrize("call, expected", [
    (lambda: (A + B, A - B, -A, A * 2, 2 * A, A / 2), [5, -3, 9, -3, 7, -3, -1, -2, -3, 2, 4, 6, 2, 4, 6, 0.5, 1, 1.5]),
    (lambda: (A.cross(B), Vec3d.new_from_to(to=B, **{"from": A}), Vec3d(3, 0, 4).normalize()),
     [27, 6, -13, 3, -7, 3, 0.6, 0, 0.8]),
    (lambda: (A.project_onto_plane(Z), Vec3d(5, 1, 0).project_onto_line(line_q=Vec3d(1, 0, 0), line_r=Vec3d(2, 0, 0))),
     [1, 2, 0, 5, 0, 0]),
    (lambda: (A.dot(B), A.scalar_triple_product(B, Z), A.distance_squared(B), A.distance_to(B), A.magnitude()),
     [12, -13, 67, 8.18535277187245, 3.7416573867739413]),
    (lambda: (Vec3d(5, 1, 0).distance_to_line(Vec3d.zero(), Vec3d(1, 0, 0)), Vec3d(0.6, 0.8, 0).is_unit(), A.is_unit()),
     [1, True, False]),
    (lambda: (A[0], A[1], A[2], A.x, A.y, A.z, *A, Vec3d.i(), Vec3d.j(), Vec3d.k(), Vec3d.zero()),
     [1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0]),
    (lambda: (Vec3d(1, 0, 0).angle_to(Vec3d(0, 1, 0)), A.to_quat()), [R, 1.5707963267948966, Quat, 0, 1, 2, 3]),
    (lambda: (R.pi(), R.two_pi(), R.half_pi(), R.quarter_pi(), R.third_pi(), R.sixth_pi(), R.zero()),
     [R, math.pi, R, 6.283185307179586, R, 1.5707963267948966, R, 0.7853981633974483, R, 1.0471975511965976,
      R, 0.5235987755982988, R, 0]),
    (lambda: (R.sixth_pi().sin(), R.half_pi().cos(), R.quarter_pi().tan(), R.half_pi().sec(), R(0).csc(), R(1).cot()),
     [0.49999999999999994, 6.123233995736766e-17, 0.9999999999999999, 1.633123935319537e16, math.inf,
      0.6420926159343306]),
    (lambda: (R.pi().to_degrees(), D(60).to_radians(), R(1) - R(3), R(1) + R(3), -R(1), R(1.5) * -2, R(3) / 2),
     [D, 180, R, 1.0471975511965976, R, -2, R, 4, R, -1, R, -3, R, 1.5]),
    (lambda: -D(1), [D, -1]),
    (lambda: [op(cls(1), cls(2)) for cls in (R, D) for op in ORDERS] + [R(math.nan) == R(math.nan), R(0.0) == R(-0.0)],
     [True, True, False, True, False, False] * 2 + [False, True]),
    (lambda: (Quat(1, 2, 3, 4), Quat.identity(), Quat(1, 2, 3, 4).conjugate(), Quat(1, 1, 1, 1).normalize()),
     [Quat, 1, 2, 3, 4, Quat, 1, 0, 0, 0, Quat, 1, -2, -3, -4, Quat, 0.5, 0.5, 0.5, 0.5]),
    (lambda: (Quat(1, 2, 3, 4).magnitude(), Quat(1, 2, 3, 4).to_vec3d(), Quat(1, 2, 3, 4).rotate(Vec3d(1, 0, 0)),
              Quat(1, 2, 3, 4).is_unit(), Quat(0, 0, 0, 1).is_unit()),
     [5.477225575051661, 2, 3, 4, -20, 4, 22, False, True]),
    (lambda: Quat(1, 2, 3, 4).to_rotation_matrix(), [-49, 4, 22, 20, -39, 20, 10, 28, -25]),
    (lambda: (QUARTER_TURN_Z, QUARTER_TURN_Z.to_axis_angle()),
     [Quat, 0.7071067811865476, -0.0, -0.0, -0.7071067811865475, -0.0, -0.0, -1, R, 1.5707963267948966]),
    (lambda: Plane(Vec3d(0, 0, 2), 4), [0, 0, 1, -4]),
    (lambda: Plane.xy(), [0, 0, 1, -0.0]),
    (lambda: Plane.from_point(point=Vec3d(7, 8, 3), normal=Vec3d(0, 0, 2)), [0, 0, 1, -3]),
    (lambda: Plane.from_points(Vec3d(0, 0, 1), Vec3d(1, 0, 1), Vec3d(0, 1, 1)), [0, 0, 1, -1]),
    (lambda: Plane.from_points(Vec3d(0, 0, 1), Vec3d(0, 1, 1), Vec3d(1, 0, 1)), [0, 0, -1, 1]),
    (lambda: Plane(Vec3d(0, 0, 1), 5).distance_to_point(Vec3d(0, 0, 0)), [5.0]),
    (lambda: assigned(Plane.xy(), normal=Vec3d(0, 0, 2), distance=4).distance_to_point(Vec3d(0, 0, 1)), [6.0]),
    (lambda: Plane(Vec3d(0, 0, 1), 5).contains_point(Vec3d(1, 2, 5)), [True]),
    (lambda: Plane.xy().contains_point(point=Vec3d(0, 0, 1e-15)), [False]),
    (lambda: geometry.plane_line(b=Vec3d(0, 0, 10), plane=Plane(Vec3d(0, 0, 1), 5), a=Vec3d(0, 0, 0)), [0, 0, 5]),
    (lambda: Circle(normal=Vec3d(0, 0, 5), radius=-2, center=Vec3d(1, 2, 3)), [1, 2, 3, 2, 0, 0, 1]),
    (lambda: assigned(Circle.none(), center=Vec3d(1, 2, 3), radius=-3, normal=Vec3d(0, 0, 5)), [1, 2, 3, -3, 0, 0, 5]),
    (lambda: Circle.none(), [0, 0, 0, 0, math.nan, math.nan, math.nan]),
    (lambda: Circle(Vec3d(1, 2, 3), -2, Vec3d(0, 0, 5)).area, [12.566370614359172]),
    (lambda: Circle(Vec3d(1, 2, 3), 1, Vec3d(0, 0, 2)).get_plane(), [0, 0, 1, -3]),
    (lambda: UNIT.in_same_plane(other=Circle(Vec3d(5, 0, 0), 1, Vec3d(0, 0, 1))), [True]),
    (lambda: UNIT.in_same_plane(Circle(Vec3d(5, 0, 2), 1, Vec3d(0, 0, 1))), [False]),
    (lambda: (Circle.none().is_degenerate(), assigned(Circle.none(), radius=-3).is_degenerate()), [True, False]),
    (lambda: Circle(Vec3d(0, 0, 0), 1, Vec3d(0, 0, -1)) == UNIT, [True]),
    (lambda: geometry.circle_point(inner=True, point=Vec3d(0.5, 0, 0), circle=UNIT), [True]),
    (lambda: geometry.circle_point(UNIT, Vec3d(0.5, 0, 0), False), [False]),
    (lambda: geometry.circle_point(UNIT, Vec3d(0, 0, 1), False), [False]),
    (lambda: geometry.circle_point_unchecked(UNIT, Vec3d(0, 0, 1), False), [True]),
    # numpy, built for the release interpreter, keeps no reference total (see tools/leak_hunter.py).
    pytest.param(lambda: tuple(f(UNIT, Vec3d(0.5, 0, 0), inner) for inner in (np.True_, np.False_)
                               for f in (geometry.circle_point, geometry.circle_point_unchecked)),
                 [True, True, False, False], marks=pytest.mark.no_leak_check),
    (lambda: geometry.circle_circle(UNIT, Circle(Vec3d(1, 0, 0), 1, Vec3d(0, 0, 1))), [0.5, -H, 0, 0.5, H, 0]),
    (lambda: geometry.circle_circle(circle2=UNIT, circle1=Circle(Vec3d(1, 0, 0), 1, Vec3d(0, 0, 1))),
     [0.5, H, 0, 0.5, -H, 0]),
])
def test_documented_values(call, expected):
    got = fields(call())
    assert same_fields(got, expected), got


def test_constructors_make_new_objects_and_setters_write_their_own_field():
    for make in (Vec3d.zero, Vec3d.i, Quat.identity, R.pi, R.zero):
        assert make() is not make() and make() == make()
    first, v, q = R.pi(), Vec3d.zero(), Quat(1, 2, 3, 4)
    first.angle, (v.x, v.y, v.z), (q.w, q.i, q.j, q.k) = 7.0, (5, True, -0.0), (-1, -2, -3, -4)
    assert same_fields(fields((first, R.pi(), v, Vec3d.zero(), q)),
                       [R, 7, R, math.pi, 5, 1, -0.0, 0, 0, 0, Quat, -1, -2, -3, -4])
    a = b = R(1)
    a += R(1)
    a *= 3
    assert a.angle == 6.0 and b.angle == 1.0 and 2.0 in Vec3d(1, 2, 3) and 4.0 not in Vec3d(1, 2, 3)


NAN, NEGATIVE_ZERO, INFINITY = 0x7FF8_0000_0000_0000, 0x8000_0000_0000_0000, 0x7FF0_0000_0000_0000
SAME = [(NEGATIVE_ZERO, 0), (INFINITY + 1, NAN), (0xFFFF_FFFF_FFFF_FFFF, NAN), (0xFFF0_0000_0000_0001, NAN)]
DIFFERENT = [(INFINITY, NAN), (INFINITY, 0), (INFINITY | NEGATIVE_ZERO, 0), (NEGATIVE_ZERO + 1, 0), (1, 0)]


def with_component(position: int, word: int) -> Vec3d:
    components = [1.5, -2.25, 3.0]
    components[position] = from_bits(word)
    return Vec3d(*components)


@pytest.mark.parametrize("position", range(3))
@pytest.mark.parametrize("word, twin", SAME + DIFFERENT)
def test_each_component_hashes_by_its_canonical_pattern(position, word, twin):
    same = hash(with_component(position, word)) == hash(with_component(position, twin))
    assert same == ((word, twin) in SAME)


# The hash of (0, 0, 0) and (1, 2, 3) is checked where it is compiled; these reach it through the module.
@pytest.mark.parametrize("vector, expected", [((0.5, 0, 0), -3483901450573570688),
                                              ((0.5 + 2**-53, 0, 0), 7757659051346302374)])
def test_check_values(vector, expected):
    assert hash(Vec3d(*vector)) == expected
