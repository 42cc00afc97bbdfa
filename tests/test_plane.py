"""lumeric_py.geometry.Plane: construction, measurements, properties and identity."""

import math

import pytest
from hypothesis import given
from hypothesis import strategies as st

import geometry_reference as ref
from helpers import any_float, finite_float, same_bits
from lumeric_py import Vec3d, geometry

Plane = geometry.Plane

vectors = st.tuples(finite_float, finite_float, finite_float)
any_vectors = st.tuples(any_float, any_float, any_float)


def fields(plane):
    return (*plane.normal.to_array(), plane.distance)


@given(vectors, vectors, vectors, any_float, any_vectors, any_vectors)
def test_results_match_the_formulas(a, b, c, d, normal, point):
    for plane, expected in [(Plane(Vec3d(*a), d), ref.plane_new(a, d)),
                            (Plane.from_point(Vec3d(*a), Vec3d(*b)), ref.plane_from_point(a, b)),
                            (Plane.from_points(Vec3d(*a), Vec3d(*b), Vec3d(*c)), ref.plane_from_points(a, b, c))]:
        assert same_bits(fields(plane), (*expected[0], expected[1]))
    # Set directly: any normal and distance, stored as given.
    plane = Plane.xy()
    plane.normal, plane.distance = Vec3d(*normal), d
    assert same_bits(fields(plane), (*normal, d))
    assert same_bits(plane.distance_to_point(Vec3d(*point)), ref.distance_to_point((normal, d), point))
    assert plane.contains_point(Vec3d(*point)) is ref.contains_point((normal, d), point)


# xz is the plane y = 0 and yz the plane x = 0, each with its own normal.
@pytest.mark.parametrize(
    "make, expected",
    [
        (Plane.xy, (0.0, 0.0, 1.0, -0.0)),
        (Plane.xz, (0.0, 1.0, 0.0, -0.0)),
        (Plane.yz, (1.0, 0.0, 0.0, -0.0)),
        (lambda: Plane(Vec3d(0, 0, 2), 4), (0.0, 0.0, 1.0, -4.0)),
        (lambda: Plane.from_point(Vec3d(0, 0, 2), Vec3d(7, 8, 3)), (0.0, 0.0, 1.0, -3.0)),
        (lambda: Plane.from_points(Vec3d(0, 0, 0), Vec3d(1, 0, 0), Vec3d(0, 1, 0)), (0.0, 0.0, 1.0, -0.0)),
        (lambda: Plane.from_points(Vec3d(0, 0, 0), Vec3d(0, 1, 0), Vec3d(1, 0, 0)), (0.0, 0.0, -1.0, -0.0)),
        (lambda: Plane.from_points(Vec3d(0, 0, 0), Vec3d(1, 0, 0), Vec3d(2, 0, 0)), (math.nan,) * 4),
        (lambda: Plane(Vec3d(0, 0, 0), 1), (math.nan, math.nan, math.nan, -1.0)),
    ],
)
def test_documented_planes(make, expected):
    assert same_bits(fields(make()), expected) and make() is not make()


def raw(normal, distance):
    plane = Plane.xy()
    plane.normal, plane.distance = Vec3d(*normal), distance
    return plane


@pytest.mark.parametrize(
    "plane, point, distance, contains",
    [
        (Plane.xy(), (3, 4, 0), 0.0, True), (Plane.xy(), (0, 0, 1e-15), 1e-15, False),
        (Plane.xz(), (3, 0, 4), 0.0, True), (Plane.xz(), (0, 1e-15, 0), 1e-15, False),
        (Plane.yz(), (0, 3, 4), 0.0, True), (Plane.yz(), (1e-15, 0, 0), 1e-15, False),
        (Plane(Vec3d(0, 0, 1), 5), (1, 2, 5), 0.0, True), (Plane(Vec3d(0, 0, 1), 5), (0, 0, 0), 5.0, False),
        (Plane(Vec3d(0, 0, 1), 5), (0, 0, 8), 3.0, False),  # unsigned
        (raw((0, 0, 2), 0), (0, 0, 1), 2.0, False),  # the normal is used as stored
        (raw((0, 0, 1), 4), (0, 0, -4), 0.0, True),
    ],
)
def test_distance_and_containment(plane, point, distance, contains):
    assert plane.distance_to_point(Vec3d(*point)) == distance
    assert plane.contains_point(point=Vec3d(*point)) is contains


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: Plane.from_points(),
         "Plane.from_points() missing 3 required positional arguments: 'point1', 'point2', and 'point3'"),
        (lambda: Plane(1, 2), "argument 'normal': 'int' object is not an instance of 'Vec3d'"),
    ],
)
def test_argument_errors(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


def test_identity_comparison_hash_and_surface():
    a, b = Plane.xy(), Plane.xy()
    assert a == a and a != b and not (a == b) and hash(a) == hash(a) and len({a, b}) == 2
    with pytest.raises(TypeError):
        a < b
    assert Plane.__qualname__ == "Plane" and repr(a).startswith("<builtins.Plane object at 0x")


def test_text_signatures():
    owners = (Plane, Plane.xz, Plane.from_point, Plane.from_points, Plane.distance_to_point, Plane.contains_point)
    assert [o.__text_signature__ for o in owners] == [
        "(normal, distance)", "()", "(normal, point)", "(point1, point2, point3)", "($self, point)", "($self, point)"]
