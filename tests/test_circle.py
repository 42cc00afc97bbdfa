"""lumeric_py.geometry.Circle: construction, measurements, properties and equality."""

import math

import pytest
from hypothesis import given
from hypothesis import strategies as st

import geometry_reference as ref
from helpers import EqualToAll, RaisingEquality, any_float, finite_float, same_bits
from lumeric_py import Vec3d, geometry

Circle, Plane = geometry.Circle, geometry.Plane

vectors = st.tuples(finite_float, finite_float, finite_float)
# Normals that are often equal or opposite, so the plane tests see both outcomes.
normals = st.one_of(st.sampled_from([(0.0, 0.0, 1.0), (0.0, 0.0, -1.0), (0.0, 1.0, 0.0)]), vectors)


def fields(c):
    return (tuple(c.center.to_array()), c.radius, tuple(c.normal.to_array()))


def stored(center, radius, normal):
    """A circle holding exactly these fields (the setters store values unchanged)."""
    c = Circle.none()
    c.center, c.radius, c.normal = Vec3d(*center), radius, Vec3d(*normal)
    return c


def unit(center=(0, 0, 0), normal=(0, 0, 1), radius=1):
    return Circle(Vec3d(*center), radius, Vec3d(*normal))


@given(vectors, any_float, vectors)
def test_new_matches_formula(center, radius, normal):
    c = Circle(Vec3d(*center), radius, Vec3d(*normal))
    expected = ref.circle_new(center, radius, normal)
    assert all(same_bits(got, want) for got, want in zip(fields(c), expected))
    assert same_bits(c.area, ref.area(expected))


@given(vectors, finite_float, normals, vectors, finite_float, normals, st.booleans())
def test_comparisons_match_formula(c1, r1, n1, c2, r2, n2, share_z):
    if share_z:  # put both centres at one height, so same-plane answers turn up
        c2 = (c2[0], c2[1], c1[2])
    a, b = stored(c1, r1, n1), stored(c2, r2, n2)
    assert a.in_same_plane(b) is ref.in_same_plane((c1, r1, n1), (c2, r2, n2))
    assert (a == b) is ref.circles_equal((c1, r1, n1), (c2, r2, n2))
    assert (a != b) is not ref.circles_equal((c1, r1, n1), (c2, r2, n2))
    normal, distance = ref.plane_from_point(n1, c1)
    assert same_bits((*a.get_plane().normal.to_array(), a.get_plane().distance), (*normal, distance))


def test_documented_circles():
    c = Circle(normal=Vec3d(0, 0, 5), radius=-2, center=Vec3d(0, 0, 0))
    assert fields(c) == ((0.0, 0.0, 0.0), 2.0, (0.0, 0.0, 1.0)) and c.area == 12.566370614359172
    p = Circle(Vec3d(7, 8, 3), 1, Vec3d(0, 0, 2)).get_plane()
    assert type(p) is Plane and p.normal.to_array() == [0.0, 0.0, 1.0] and p.distance == -3.0
    none = Circle.none()
    assert none.center.to_array() == [0.0, 0.0, 0.0] and none.radius == 0.0 and none.is_degenerate()
    plane = none.get_plane()
    assert all(math.isnan(x) for x in [*none.normal.to_array(), *plane.normal.to_array(), plane.distance])


def test_is_degenerate_only_for_a_zero_radius():
    radii = [0.0, -0.0, 5e-324, -3.0, math.nan]
    assert [stored((0, 0, 0), r, (0, 0, 1)).is_degenerate() for r in radii] == [True, True, False, False, False]


@pytest.mark.parametrize(
    "a, b, same",
    [
        # Opposite normals of one plane: the offsets 1 and -1 describe the same plane z = 1.
        (unit((0, 0, 1)), unit((5, 0, 1)), True), (unit((0, 0, 1)), unit((5, 0, 1), (0, 0, -1)), True),
        (unit((0, 0, 1)), unit((5, 0, 1), (0, 1, 0)), False), (unit((0, 0, 1)), unit((0, 0, -1)), False),
        (unit((0, 0, 1)), unit((0, 0, -1), (0, 0, -1)), False),
    ],
)
def test_in_same_plane(a, b, same):
    assert a.in_same_plane(b) is same and b.in_same_plane(other=a) is same


@pytest.mark.parametrize(
    "a, b, equal",
    [
        (unit(), unit(normal=(0, 0, -1)), True), (unit(), unit(center=(2**-53, 0, 0)), True),
        (unit(), unit(center=(2**-52, 0, 0)), False), (unit(), unit(normal=(0, 1, 0)), False),
        (unit(radius=0.5), unit(radius=0.5 + 2**-53), False),  # radii compare exactly
        (Circle.none(), Circle.none(), False),  # NaN normal
    ],
)
def test_equality(a, b, equal):
    assert (a == b) is equal and (b == a) is equal and (a != b) is (not equal)


def test_other_types_and_host_not_equal():
    c = unit()
    assert (c == "x") is False and (c != "x") is True and (5 != c) is True and (c == Plane.xy()) is False
    # `c != x` asks the host for `c == x` (which reaches x.__eq__) and negates it.
    assert (c != EqualToAll()) is False
    with pytest.raises(ValueError, match="no equality"):
        c != RaisingEquality()
    for refused in (lambda: hash(c), lambda: c < c, lambda: c >= c):
        with pytest.raises(TypeError):
            refused()


def test_properties_are_copies_stored_as_given():
    c = unit(center=(1, 2, 3))
    c.radius = -3
    assert c.radius == -3.0 and not c.is_degenerate()
    for name in ("center", "normal"):
        getattr(c, name).x = 9
        given_vector = Vec3d(4, 5, 6)
        setattr(c, name, given_vector)
        given_vector.x = 9
        assert getattr(c, name).to_array() == [4.0, 5.0, 6.0]
    for refused in (lambda: delattr(c, "area"), lambda: setattr(c, "area", 1.0)):
        with pytest.raises(AttributeError):
            refused()
    with pytest.raises(TypeError, match="^argument 'value': 'Plane' object is not an instance of 'Vec3d'$"):
        c.normal = Plane.xy()
    assert fields(c) == ((4.0, 5.0, 6.0), -3.0, (4.0, 5.0, 6.0))


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: Circle(), "Circle.__new__() missing 3 required positional arguments: 'center', 'radius', and 'normal'"),
        (lambda: Circle(Vec3d(0, 0, 0), 1, None), "argument 'normal': 'None' is not an instance of 'Vec3d'"),
        (lambda: unit().in_same_plane(Vec3d(0, 0, 1)), "argument 'other': 'Vec3d' object is not an instance of 'Circle'"),
    ],
)
def test_argument_errors(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


def test_class_surface():
    owners = (Circle, Circle.none, Circle.get_plane, Circle.in_same_plane)
    assert [o.__text_signature__ for o in owners] == ["(center, radius, normal)", "()", "($self)", "($self, other)"]
    assert Circle.__qualname__ == "Circle" and repr(unit()).startswith("<builtins.Circle object at 0x")
