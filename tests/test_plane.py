"""lumeric_py.geometry.Plane: construction, measurements, properties and identity."""

import math

import pytest
from hypothesis import given
from hypothesis import strategies as st

import geometry_reference as ref
from helpers import any_float, bits, finite_float, same_bits
from lumeric_py import Vec3d, geometry

Plane = geometry.Plane

vectors = st.tuples(finite_float, finite_float, finite_float)
any_vectors = st.tuples(any_float, any_float, any_float)


def V(t):
    return Vec3d(*t)


def as_tuple(plane):
    return (tuple(plane.normal.to_array()), plane.distance)


def same_plane_bits(plane, expected):
    normal, distance = expected
    return same_bits(plane.normal.to_array(), normal) and same_bits(plane.distance, distance)


# -- Constructors --


def test_new_normalises_and_negates():
    p = Plane(Vec3d(0, 0, 2), 4)
    assert repr(p.normal) == "Vec3d(0, 0, 1)"
    assert same_bits(p.distance, -4.0)


@pytest.mark.parametrize(
    "make, normal",
    [(Plane.xy, (0.0, 0.0, 1.0)), (Plane.xz, (0.0, 1.0, 0.0)), (Plane.yz, (1.0, 0.0, 0.0))],
)
def test_coordinate_planes(make, normal):
    # xz is the plane y = 0 and yz the plane x = 0 (each with its own normal).
    p = make()
    assert same_bits(p.normal.to_array(), normal)
    assert same_bits(p.distance, -0.0)
    assert make() is not make()


@pytest.mark.parametrize(
    "make, inside, outside",
    [
        (Plane.xy, (3, 4, 0), (0, 0, 1e-15)),
        (Plane.xz, (3, 0, 4), (0, 1e-15, 0)),
        (Plane.yz, (0, 3, 4), (1e-15, 0, 0)),
    ],
)
def test_coordinate_planes_contain_their_points(make, inside, outside):
    assert make().contains_point(V(inside))
    assert not make().contains_point(V(outside))


def test_from_point():
    p = Plane.from_point(Vec3d(0, 0, 2), Vec3d(7, 8, 3))
    assert same_plane_bits(p, ((0.0, 0.0, 1.0), -3.0))


def test_from_points_orientation_and_degenerate():
    o, x, y = Vec3d(0, 0, 0), Vec3d(1, 0, 0), Vec3d(0, 1, 0)
    assert same_plane_bits(Plane.from_points(o, x, y), ((0.0, 0.0, 1.0), -0.0))
    assert Plane.from_points(o, y, x).normal.to_array() == [0.0, 0.0, -1.0]
    collinear = Plane.from_points(o, x, Vec3d(2, 0, 0))
    assert all(math.isnan(c) for c in [*collinear.normal.to_array(), collinear.distance])


def test_zero_normal_gives_nan_not_error():
    p = Plane(Vec3d(0, 0, 0), 1)
    assert all(math.isnan(c) for c in p.normal.to_array())


def test_keyword_calls():
    a = Plane(distance=5, normal=Vec3d(0, 0, 1))
    assert as_tuple(a) == ((0.0, 0.0, 1.0), -5.0)
    b = Plane.from_point(point=Vec3d(7, 8, 3), normal=Vec3d(0, 0, 2))
    assert as_tuple(b) == ((0.0, 0.0, 1.0), -3.0)
    c = Plane.from_points(point3=Vec3d(0, 1, 0), point2=Vec3d(1, 0, 0), point1=Vec3d(0, 0, 0))
    assert c.normal.to_array() == [0.0, 0.0, 1.0]
    assert a.distance_to_point(point=Vec3d(0, 0, 0)) == 5.0
    assert a.contains_point(point=Vec3d(1, 2, 5))


# -- Measurements --


def test_distance_and_containment():
    p = Plane(Vec3d(0, 0, 1), 5)
    assert p.contains_point(Vec3d(1, 2, 5))
    assert p.distance_to_point(Vec3d(0, 0, 0)) == 5.0
    assert p.distance_to_point(Vec3d(0, 0, 8)) == 3.0  # unsigned


def test_unnormalised_normal_is_used_as_stored():
    p = Plane.xy()
    p.normal = Vec3d(0, 0, 2)
    p.distance = 0
    assert p.distance_to_point(Vec3d(0, 0, 1)) == 2.0


# -- Properties --


def test_properties_are_copies():
    p = Plane(Vec3d(0, 0, 1), 5)
    n = p.normal
    n.x = 9
    assert p.normal.to_array() == [0.0, 0.0, 1.0]
    assert p.normal is not p.normal
    given_normal = Vec3d(0, 3, 4)
    p.normal = given_normal
    given_normal.y = 100
    assert p.normal.to_array() == [0.0, 3.0, 4.0]  # stored unchanged, not normalised


def test_distance_setter_stores_unchanged():
    p = Plane(Vec3d(0, 0, 2), 4)
    p.distance = 4
    assert same_bits(p.distance, 4.0)
    assert p.contains_point(Vec3d(0, 0, -4))


@pytest.mark.parametrize("name", ["normal", "distance"])
def test_properties_have_no_deleter(name):
    p = Plane.xy()
    with pytest.raises(AttributeError, match="^property has no deleter$"):
        delattr(p, name)


@pytest.mark.parametrize(
    "name, value, message",
    [
        ("normal", None, "argument 'value': 'None' is not an instance of 'Vec3d'"),
        ("distance", "x", "argument 'value': must be real number, not str"),
    ],
)
def test_setter_type_errors_leave_plane_unchanged(name, value, message):
    p = Plane(Vec3d(0, 0, 1), 5)
    with pytest.raises(TypeError) as info:
        setattr(p, name, value)
    assert str(info.value) == message
    assert as_tuple(p) == ((0.0, 0.0, 1.0), -5.0)


# -- Argument errors: each operation's name in the messages --


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: Plane(Vec3d(0, 0, 1)), "Plane.__new__() missing 1 required positional argument: 'distance'"),
        (lambda: Plane.from_point(Vec3d(0, 0, 1)), "Plane.from_point() missing 1 required positional argument: 'point'"),
        (
            lambda: Plane.from_points(),
            "Plane.from_points() missing 3 required positional arguments: 'point1', 'point2', and 'point3'",
        ),
        (lambda: Plane.xy().distance_to_point(p=1), "Plane.distance_to_point() got an unexpected keyword argument 'p'"),
        (
            lambda: Plane.xy().contains_point(Vec3d(0, 0, 0), Vec3d(0, 0, 0)),
            "Plane.contains_point() takes 1 positional arguments but 2 were given",
        ),
        (lambda: Plane(1, 2), "argument 'normal': 'int' object is not an instance of 'Vec3d'"),
        (lambda: Plane(Vec3d(0, 0, 1), "5"), "argument 'distance': must be real number, not str"),
    ],
)
def test_argument_errors(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


# -- Class surface --


def test_identity_comparison_and_hash():
    a, b = Plane.xy(), Plane.xy()
    assert a == a and a != b and not (a == b)
    assert hash(a) == hash(a)
    assert len({a, b}) == 2
    with pytest.raises(TypeError):
        a < b


def test_class_surface():
    assert Plane.__qualname__ == "Plane" and Plane.__text_signature__ == "(normal, distance)"
    assert repr(Plane.xy()).startswith("<builtins.Plane object at 0x")


@pytest.mark.parametrize(
    "method, signature",
    [
        (Plane.xy, "()"),
        (Plane.xz, "()"),
        (Plane.yz, "()"),
        (Plane.from_point, "(normal, point)"),
        (Plane.from_points, "(point1, point2, point3)"),
        (Plane.distance_to_point, "($self, point)"),
        (Plane.contains_point, "($self, point)"),
    ],
)
def test_text_signatures(method, signature):
    assert method.__text_signature__ == signature


# -- Bit-exact agreement with the formulas --


@given(vectors, any_float)
def test_new_matches_formula(normal, d):
    assert same_plane_bits(Plane(V(normal), d), ref.plane_new(normal, d))


@given(vectors, vectors)
def test_from_point_matches_formula(normal, point):
    assert same_plane_bits(Plane.from_point(V(normal), V(point)), ref.plane_from_point(normal, point))


@given(vectors, vectors, vectors)
def test_from_points_matches_formula(p1, p2, p3):
    assert same_plane_bits(Plane.from_points(V(p1), V(p2), V(p3)), ref.plane_from_points(p1, p2, p3))


@given(any_vectors, any_float, any_vectors)
def test_measurements_match_formula(normal, d, point):
    # Set directly: any normal and distance, stored as given.
    p = Plane.xy()
    p.normal = V(normal)
    p.distance = d
    assert same_plane_bits(p, (normal, d))
    assert bits(p.distance_to_point(V(point))) == bits(ref.distance_to_point((normal, d), point))
    assert p.contains_point(V(point)) == ref.contains_point((normal, d), point)
