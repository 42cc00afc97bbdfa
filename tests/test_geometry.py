# lumeric_py.geometry through the module: documented values, with arguments that would give
# another answer if the bindings passed them in another order or read the wrong field, and each
# intersection failure mapped to its message. The formulas themselves are the core's own tests.

import math

import numpy as np
import pytest

from helpers import fields, same_fields
from lumeric_py import Vec3d, geometry

Circle, Plane = geometry.Circle, geometry.Plane
UNIT = Circle(Vec3d(0, 0, 0), 1, Vec3d(0, 0, 1))
H = 0.8660254037844386


def assigned(value, **changes):  # the setters store what they are given, unchanged
    for name, new in changes.items():
        setattr(value, name, new)
    return value


@pytest.mark.parametrize("call, expected", [
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


@pytest.mark.parametrize("other, message", [
    (UNIT, "The given geometries are identical."),
    (Circle(Vec3d(3, 0, 0), 1, Vec3d(0, 0, 1)), "The given geometries are too far apart and do not intersect at all."),
    (Circle(Vec3d(0.5, 0, 0), 3, Vec3d(0, 0, 1)),
     "One of the given geometries is contained entirely within the other. The surfaces do not intersect."),
    (Circle(Vec3d(1, 0, 0), 1, Vec3d(0, 1, 0)), "The given geometries are out of plane from each other"),
])
def test_intersection_failures_raise_their_messages(other, message):
    with pytest.raises(ValueError) as info:
        geometry.circle_circle(UNIT, other)
    assert type(info.value) is ValueError and info.value.args == (message,)
