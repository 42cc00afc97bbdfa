"""lumeric_py.geometry: the submodule's namespace and its intersection functions."""

import math

import numpy as np
import pytest
from hypothesis import given
from hypothesis import strategies as st

import geometry_reference as ref
from helpers import finite_float, same_bits
from lumeric_py import Vec3d, geometry

Circle, Plane = geometry.Circle, geometry.Plane
plane_line, circle_point = geometry.plane_line, geometry.circle_point
circle_point_unchecked, circle_circle = geometry.circle_point_unchecked, geometry.circle_circle

vectors = st.tuples(finite_float, finite_float, finite_float)


def V(t):
    return Vec3d(*t)


def unit(center=(0, 0, 0), normal=(0, 0, 1), radius=1):
    return Circle(V(center), radius, V(normal))


def arrays(points):
    return tuple(tuple(p.to_array()) for p in points)


# -- The submodule --


def test_namespace():
    assert geometry.__all__ == ["Circle", "circle_circle", "circle_point", "circle_point_unchecked", "plane_line", "Plane"]
    assert all(getattr(geometry, name) is not None for name in geometry.__all__)
    for name in ("plane_line", "circle_point", "circle_point_unchecked", "circle_circle"):
        function = getattr(geometry, name)
        assert function.__name__ == name and function.__self__ is geometry
        assert function.__module__ == "lumeric_py.geometry"


@pytest.mark.parametrize(
    "function, signature",
    [
        (plane_line, "(plane, a, b)"),
        (circle_point, "(circle, point, inner)"),
        (circle_point_unchecked, "(circle, point, inner)"),
        (circle_circle, "(circle1, circle2)"),
    ],
)
def test_text_signatures(function, signature):
    assert function.__text_signature__ == signature


# -- plane_line --


@pytest.mark.parametrize(
    "plane, a, b, expected",
    [
        (Plane.xy(), (1, 2, -1), (1, 2, 3), (1.0, 2.0, 0.0)),
        (Plane(Vec3d(0, 0, 1), 5), (0, 0, 0), (0, 0, 10), (0.0, 0.0, 5.0)),
        (Plane.xz(), (3, -1, 4), (3, 1, 4), (3.0, 0.0, 4.0)),
        (Plane.yz(), (-2, 5, 6), (2, 5, 6), (0.0, 5.0, 6.0)),
        # The line is infinite: the point need not lie between a and b.
        (Plane.xy(), (0, 0, 1), (0, 0, 2), (0.0, 0.0, 0.0)),
    ],
)
def test_plane_line(plane, a, b, expected):
    point = plane_line(plane, V(a), V(b))
    assert point.to_array() == list(expected)
    assert plane.contains_point(point)


def test_plane_line_parallel_gives_nan_or_inf_not_error():
    parallel = plane_line(Plane.xy(), Vec3d(0, 0, 1), Vec3d(1, 0, 1))
    assert math.isinf(parallel.x) and math.isnan(parallel.y)
    inside = plane_line(Plane.xy(), Vec3d(0, 0, 0), Vec3d(1, 0, 0))
    assert all(math.isnan(c) for c in inside.to_array())


def test_plane_line_keywords():
    by_keyword = plane_line(b=Vec3d(1, 2, 3), plane=Plane.xy(), a=Vec3d(1, 2, -1))
    assert by_keyword.to_array() == plane_line(Plane.xy(), Vec3d(1, 2, -1), Vec3d(1, 2, 3)).to_array()


# -- circle_point and circle_point_unchecked --


@pytest.mark.parametrize(
    "point, inner, on, unchecked",
    [
        ((1, 0, 0), False, True, True),
        ((0.5, 0, 0), True, True, True),
        ((0.5, 0, 0), False, False, False),  # Contained
        ((2, 0, 0), True, False, False),  # TooFarApart
        ((1, 0, 0.001), True, False, False),  # OutOfPlane
        ((0, 0, 1), False, False, True),  # off the plane, but at distance 1 from the centre
    ],
)
def test_circle_point(point, inner, on, unchecked):
    c = unit()
    assert circle_point(c, V(point), inner) is on
    assert circle_point_unchecked(c, V(point), inner) is unchecked
    assert circle_point(inner=inner, point=V(point), circle=c) is on
    assert circle_point_unchecked(circle=c, point=V(point), inner=inner) is unchecked


@pytest.mark.parametrize("function", [circle_point, circle_point_unchecked])
def test_inner_accepts_only_bools(function):
    c, p = unit(), Vec3d(0.5, 0, 0)
    assert function(c, p, np.True_) is True and function(c, p, np.False_) is False
    for value, type_name in [(1, "int"), (0, "int"), (None, None), (1.0, "float"), (np.int64(1), "int64")]:
        with pytest.raises(TypeError) as info:
            function(c, p, value)
        expected = (
            "argument 'inner': 'None' is not an instance of 'bool'"
            if value is None
            else f"argument 'inner': '{type_name}' object is not an instance of 'bool'"
        )
        assert str(info.value) == expected


# -- circle_circle --


def test_circle_circle_two_points():
    first, second = circle_circle(unit(), unit(center=(1, 0, 0)))
    assert first.to_array() == [0.5, -0.8660254037844386, 0.0]
    assert second.to_array() == [0.5, 0.8660254037844386, 0.0]
    assert repr((first, second)) == "(Vec3d(0.5, -0.8660254037844386, 0), Vec3d(0.5, 0.8660254037844386, 0))"


def test_circle_circle_touching():
    first, second = circle_circle(circle2=unit(center=(2, 0, 0)), circle1=unit())
    assert first.to_array() == second.to_array() == [1.0, 0.0, 0.0]


def test_circle_circle_opposite_normals_in_one_plane():
    # Coplanar circles away from the origin whose normals point opposite ways.
    a = unit(center=(0, 0, 1), normal=(0, 0, 1))
    b = unit(center=(1, 0, 1), normal=(0, 0, -1))
    first, second = circle_circle(a, b)
    # The chord direction follows the second circle's normal, so the order flips.
    assert first.to_array() == [0.5, 0.8660254037844386, 1.0]
    assert second.to_array() == [0.5, -0.8660254037844386, 1.0]


@pytest.mark.parametrize(
    "a, b, message",
    [
        (unit(), unit(), ref.IDENTICAL),
        (unit(normal=(0, 0, 1)), unit(normal=(0, 0, -1)), ref.IDENTICAL),
        (unit(), unit(center=(3, 0, 0)), ref.TOO_FAR),
        (unit(radius=3), unit(center=(1, 0, 0)), ref.CONTAINED),
        (unit(radius=3), unit(radius=1), ref.CONTAINED),  # same centre, different radii
        (unit(), unit(center=(1, 0, 0), normal=(0, 1, 0)), ref.OUT_OF_PLANE),
        (unit(), unit(center=(1, 0, 1)), ref.OUT_OF_PLANE),
        (unit(center=(0, 0, 1)), unit(center=(1, 0, -1), normal=(0, 0, -1)), ref.OUT_OF_PLANE),
        (Circle.none(), unit(), ref.OUT_OF_PLANE),
    ],
)
def test_circle_circle_errors(a, b, message):
    with pytest.raises(ValueError) as info:
        circle_circle(a, b)
    assert str(info.value) == message
    assert type(info.value) is ValueError


def test_circle_circle_nan_radius_gives_nan_points():
    a = unit()
    a.radius = math.nan
    points = arrays(circle_circle(a, unit(center=(1, 0, 0))))
    assert all(math.isnan(c) for c in points[0] + points[1])


# -- Argument errors --


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: plane_line(), "plane_line() missing 3 required positional arguments: 'plane', 'a', and 'b'"),
        (lambda: plane_line(unit(), Vec3d(0, 0, 0), Vec3d(0, 0, 1)), "argument 'plane': 'Circle' object is not an instance of 'Plane'"),
        (lambda: circle_point(unit(), Vec3d(0, 0, 0)), "circle_point() missing 1 required positional argument: 'inner'"),
        (
            lambda: circle_point_unchecked(unit(), Vec3d(0, 0, 0), True, True),
            "circle_point_unchecked() takes 3 positional arguments but 4 were given",
        ),
        (lambda: circle_circle(unit(), circle1=unit()), "circle_circle() got multiple values for argument 'circle1'"),
        (lambda: circle_circle(unit(), Plane.xy()), "argument 'circle2': 'Plane' object is not an instance of 'Circle'"),
        # Arguments convert in order: the first bad one is reported.
        (lambda: circle_point(None, 1, 1), "argument 'circle': 'None' is not an instance of 'Circle'"),
    ],
)
def test_argument_errors(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


# -- Bit-exact agreement with the formulas --


def fields(c):
    return (tuple(c.center.to_array()), c.radius, tuple(c.normal.to_array()))


@given(vectors, finite_float, vectors, vectors)
def test_plane_line_matches_formula(normal, d, a, b):
    plane = Plane(V(normal), d)
    expected = ref.plane_line((tuple(plane.normal.to_array()), plane.distance), a, b)
    assert same_bits(plane_line(plane, V(a), V(b)).to_array(), expected)


@given(vectors, finite_float, vectors, vectors, st.booleans())
def test_circle_point_matches_formula(center, radius, normal, point, inner):
    c = Circle(V(center), radius, V(normal))
    expected = ref.circle_point(fields(c), point, inner)
    assert circle_point(c, V(point), inner) is (expected is True)
    assert circle_point_unchecked(c, V(point), inner) is ref.circle_point_unchecked(fields(c), point, inner)


# Coplanar pairs turn up often: normals along z (either way) with centres at one height.
z_normals = st.sampled_from([(0.0, 0.0, 1.0), (0.0, 0.0, -1.0), (0.0, 0.0, 3.0)])
small = st.floats(min_value=-10, max_value=10, allow_nan=False)
radii = st.floats(min_value=0, max_value=10, allow_nan=False)


@given(small, small, small, small, small, radii, radii, z_normals, z_normals)
def test_circle_circle_matches_formula_coplanar(x1, y1, x2, y2, z, r1, r2, n1, n2):
    a = Circle(V((x1, y1, z)), r1, V(n1))
    b = Circle(V((x2, y2, z)), r2, V(n2))
    check_circle_circle(a, b)


@given(vectors, finite_float, vectors, vectors, finite_float, vectors)
def test_circle_circle_matches_formula_any(c1, r1, n1, c2, r2, n2):
    check_circle_circle(Circle(V(c1), r1, V(n1)), Circle(V(c2), r2, V(n2)))


def check_circle_circle(a, b):
    expected = ref.circle_circle(fields(a), fields(b))
    if isinstance(expected, str):
        with pytest.raises(ValueError) as info:
            circle_circle(a, b)
        assert str(info.value) == expected
    else:
        got = arrays(circle_circle(a, b))
        assert same_bits(got[0], expected[0]) and same_bits(got[1], expected[1])
