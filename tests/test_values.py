# Vec3d, the angles and Quat through the module: documented values, with operands that would give
# another answer if the bindings passed them in another order or reached the wrong core function;
# the hash check values; and the rules that live in the module rather than in the core (fresh
# objects, setters, in-place operators, the sequence protocol). The formulas are the core's tests.

import math
import operator

import pytest

from helpers import fields, same_fields
from lumeric_py import AngleDegrees, AngleRadians, Quat, Vec3d

R, D = AngleRadians, AngleDegrees
A, B, Z = Vec3d(1, 2, 3), Vec3d(4, -5, 6), Vec3d(0, 0, 1)
QUARTER_TURN_Z = Quat.from_axis_angle(angle=R.half_pi(), axis=Vec3d(0, 0, 1))
ORDERS = (operator.lt, operator.le, operator.eq, operator.ne, operator.gt, operator.ge)


@pytest.mark.parametrize("call, expected", [
    (lambda: (A + B, A - B, -A, A * 2, 2 * A, A / 2), [5, -3, 9, -3, 7, -3, -1, -2, -3, 2, 4, 6, 2, 4, 6, 0.5, 1, 1.5]),
    (lambda: (A.cross(B), Vec3d.new_from_to(to=B, **{"from": A}), Vec3d(3, 0, 4).normalize()),
     [27, 6, -13, 3, -7, 3, 0.6, 0, 0.8]),
    (lambda: (A.project_onto_plane(Z), Vec3d(5, 1, 0).project_onto_line(line_q=Vec3d(1, 0, 0), line_r=Vec3d(2, 0, 0))),
     [1, 2, 0, 5, 0, 0]),
    (lambda: (A.dot(B), A.scalar_triple_product(B, Z), A.distance_squared(B), A.distance_to(B), Vec3d(3, 0, 4).magnitude()),
     [12, -13, 67, 8.18535277187245, 5]),
    (lambda: (Vec3d(5, 1, 0).distance_to_line(Vec3d(0, 0, 0), Vec3d(1, 0, 0)), Vec3d(0.6, 0.8, 0).is_unit(), A.is_unit()),
     [1, True, False]),
    (lambda: (A[0], A[1], A[2], A.x, A.y, A.z, *A, Vec3d.i(), Vec3d.j(), Vec3d.k(), Vec3d.zero()),
     [1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0]),
    (lambda: (Vec3d(1, 0, 0).angle_to(Vec3d(0, 1, 0)), A.to_quat()), [R, 1.5707963267948966, Quat, 0, 1, 2, 3]),
    (lambda: (R.pi(), R.two_pi(), R.half_pi(), R.quarter_pi(), R.third_pi(), R.sixth_pi(), R.zero()),
     [R, math.pi, R, 6.283185307179586, R, 1.5707963267948966, R, 0.7853981633974483, R, 1.0471975511965976,
      R, 0.5235987755982988, R, 0]),
    (lambda: (R.sixth_pi().sin(), R.half_pi().cos(), R.quarter_pi().tan(), R.half_pi().sec(), R.zero().csc(), R(1).cot()),
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
