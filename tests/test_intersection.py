"""lumeric_py.geometry: the submodule's namespace and its intersection functions."""

import math

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import geometry_reference as ref
from helpers import finite_float, same_bits
from lumeric_py import Vec3d, geometry

Circle, Plane = geometry.Circle, geometry.Plane
plane_line, circle_point = geometry.plane_line, geometry.circle_point
circle_point_unchecked, circle_circle = geometry.circle_point_unchecked, geometry.circle_circle

vectors = st.tuples(finite_float, finite_float, finite_float)
HALF_ROOT3 = 0.8660254037844386


def unit(center=(0, 0, 0), normal=(0, 0, 1), radius=1):
    return Circle(Vec3d(*center), radius, Vec3d(*normal))


def fields(c):
    return (tuple(c.center.to_array()), c.radius, tuple(c.normal.to_array()))


def test_namespace_and_text_signatures():
    assert geometry.__all__ == ["Circle", "circle_circle", "circle_point", "circle_point_unchecked", "plane_line", "Plane"]
    functions = (plane_line, circle_point, circle_point_unchecked, circle_circle)
    for function in functions:
        assert getattr(geometry, function.__name__) is function and function.__self__ is geometry
        assert function.__module__ == "lumeric_py.geometry"
    assert [f.__text_signature__ for f in functions] == [
        "(plane, a, b)", "(circle, point, inner)", "(circle, point, inner)", "(circle1, circle2)"]


@pytest.mark.parametrize(
    "plane, a, b, expected",
    [
        (Plane.xy(), (1, 2, -1), (1, 2, 3), "Vec3d(1, 2, 0)"),
        (Plane(Vec3d(0, 0, 1), 5), (0, 0, 0), (0, 0, 10), "Vec3d(0, 0, 5)"),
        (Plane.xz(), (3, -1, 4), (3, 1, 4), "Vec3d(3, 0, 4)"),
        (Plane.yz(), (-2, 5, 6), (2, 5, 6), "Vec3d(0, 5, 6)"),
        (Plane.xy(), (0, 0, 1), (0, 0, 2), "Vec3d(0, 0, 0)"),  # the line extends past a and b
        (Plane.xy(), (0, 0, 1), (1, 0, 1), "Vec3d(-inf, NaN, NaN)"),  # parallel: no error
        (Plane.xy(), (0, 0, 0), (1, 0, 0), "Vec3d(NaN, NaN, NaN)"),  # in the plane
    ],
)
def test_plane_line(plane, a, b, expected):
    point = plane_line(b=Vec3d(*b), plane=plane, a=Vec3d(*a))
    assert repr(point) == expected and (plane.contains_point(point) or "NaN" in expected)


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
    assert circle_point(inner=inner, point=Vec3d(*point), circle=c) is on
    assert circle_point_unchecked(c, Vec3d(*point), inner) is unchecked


# numpy, built for the release interpreter, keeps no reference total (see leak_hunter.py).
@pytest.mark.no_leak_check
@pytest.mark.parametrize("function", [circle_point, circle_point_unchecked])
def test_inner_accepts_only_bools(function):
    c, p = unit(), Vec3d(0.5, 0, 0)
    assert function(c, p, np.True_) is True and function(c, p, np.False_) is False
    for value, kind in [(1, "'int' object is"), (None, "'None' is"), (1.0, "'float' object is"),
                        (np.int64(1), "'int64' object is")]:
        with pytest.raises(TypeError) as info:
            function(c, p, value)
        assert str(info.value) == f"argument 'inner': {kind} not an instance of 'bool'"


def points(*coordinates):
    return "(Vec3d(%s, %s, %s), Vec3d(%s, %s, %s))" % coordinates


@pytest.mark.parametrize(
    "a, b, expected",
    [
        (unit(), unit((1, 0, 0)), points(0.5, -HALF_ROOT3, 0, 0.5, HALF_ROOT3, 0)),
        (unit(), unit((2, 0, 0)), points(1, 0, 0, 1, 0, 0)),
        # Coplanar circles away from the origin whose normals point opposite ways: the chord
        # direction follows the second circle's normal, so the order flips.
        (unit((0, 0, 1)), unit((1, 0, 1), (0, 0, -1)), points(0.5, HALF_ROOT3, 1, 0.5, -HALF_ROOT3, 1)),
        (unit(radius=math.nan), unit((1, 0, 0)), points(*["NaN"] * 6)),
        (unit(), unit(), ref.IDENTICAL),
        (unit(normal=(0, 0, 1)), unit(normal=(0, 0, -1)), ref.IDENTICAL),
        (unit(), unit((3, 0, 0)), ref.TOO_FAR),
        (unit(radius=3), unit((1, 0, 0)), ref.CONTAINED),
        (unit(radius=3), unit(radius=1), ref.CONTAINED),  # same centre, different radii
        (unit(), unit((1, 0, 0), (0, 1, 0)), ref.OUT_OF_PLANE),
        (unit(), unit((1, 0, 1)), ref.OUT_OF_PLANE),
        (unit((0, 0, 1)), unit((1, 0, -1), (0, 0, -1)), ref.OUT_OF_PLANE),
    ],
)
def test_circle_circle(a, b, expected):
    try:
        result = repr(circle_circle(circle2=b, circle1=a))
    except ValueError as error:
        assert type(error) is ValueError
        result = str(error)
    assert result == expected


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: plane_line(), "plane_line() missing 3 required positional arguments: 'plane', 'a', and 'b'"),
        (lambda: plane_line(unit(), Vec3d(0, 0, 0), Vec3d(0, 0, 1)),
         "argument 'plane': 'Circle' object is not an instance of 'Plane'"),
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


@given(vectors, finite_float, vectors, vectors, st.booleans())
def test_plane_line_and_circle_point_match_formula(v1, r, v2, point, inner):
    plane = Plane(Vec3d(*v1), r)
    expected = ref.plane_line((tuple(plane.normal.to_array()), plane.distance), v2, point)
    assert same_bits(plane_line(plane, Vec3d(*v2), Vec3d(*point)).to_array(), expected)
    c = Circle(Vec3d(*v1), r, Vec3d(*v2))
    assert circle_point(c, Vec3d(*point), inner) is (ref.circle_point(fields(c), point, inner) is True)
    assert circle_point_unchecked(c, Vec3d(*point), inner) is ref.circle_point_unchecked(fields(c), point, inner)


# Coplanar pairs turn up often: normals along z (either way) with centres at one height.
z_normals = st.sampled_from([(0.0, 0.0, 1.0), (0.0, 0.0, -1.0), (0.0, 0.0, 3.0)])
small = st.floats(min_value=-10, max_value=10, allow_nan=False)
radii = st.floats(min_value=0, max_value=10, allow_nan=False)
coplanar = st.tuples(small, small, small, small, small, radii, radii, z_normals, z_normals).map(
    lambda t: (((t[0], t[1], t[4]), t[5], t[7]), ((t[2], t[3], t[4]), t[6], t[8])))
anywhere = st.tuples(st.tuples(vectors, finite_float, vectors), st.tuples(vectors, finite_float, vectors))


@settings(max_examples=200, deadline=None)
@given(st.one_of(coplanar, anywhere))
def test_circle_circle_matches_formula(pair):
    a, b = (Circle(Vec3d(*c), r, Vec3d(*n)) for c, r, n in pair)
    expected = ref.circle_circle(fields(a), fields(b))
    if isinstance(expected, str):
        with pytest.raises(ValueError) as info:
            circle_circle(a, b)
        assert str(info.value) == expected
    else:
        got = [tuple(p.to_array()) for p in circle_circle(a, b)]
        assert same_bits(got[0], expected[0]) and same_bits(got[1], expected[1])
