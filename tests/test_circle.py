"""lumeric_py.geometry.Circle: construction, measurements, properties and equality."""

import math

import pytest
from hypothesis import given
from hypothesis import strategies as st

import geometry_reference as ref
from helpers import any_float, bits, finite_float, same_bits
from lumeric_py import Vec3d, geometry

Circle, Plane = geometry.Circle, geometry.Plane

vectors = st.tuples(finite_float, finite_float, finite_float)
# Normals that are often equal or opposite, so the plane tests see both outcomes.
axis_normals = st.sampled_from([(0.0, 0.0, 1.0), (0.0, 0.0, -1.0), (0.0, 1.0, 0.0), (1.0, 0.0, 0.0)])
normals = st.one_of(axis_normals, vectors)


def V(t):
    return Vec3d(*t)


def fields(c):
    return (tuple(c.center.to_array()), c.radius, tuple(c.normal.to_array()))


def stored(center, radius, normal):
    """A circle holding exactly these fields (the setters store values unchanged)."""
    c = Circle.none()
    c.center, c.radius, c.normal = V(center), radius, V(normal)
    return c


def unit(center=(0, 0, 0), normal=(0, 0, 1), radius=1):
    return Circle(V(center), radius, V(normal))


# -- Constructors --


def test_new_makes_radius_positive_and_normal_unit():
    c = Circle(Vec3d(0, 0, 0), -2, Vec3d(0, 0, 5))
    assert fields(c) == ((0.0, 0.0, 0.0), 2.0, (0.0, 0.0, 1.0))
    assert c.area == 12.566370614359172


def test_none():
    c = Circle.none()
    assert c.center.to_array() == [0.0, 0.0, 0.0] and c.radius == 0.0
    assert all(math.isnan(x) for x in c.normal.to_array())
    assert c.is_degenerate()
    plane = c.get_plane()
    assert all(math.isnan(x) for x in [*plane.normal.to_array(), plane.distance])


def test_keyword_constructor():
    c = Circle(normal=Vec3d(0, 0, 2), radius=3, center=Vec3d(1, 2, 3))
    assert fields(c) == ((1.0, 2.0, 3.0), 3.0, (0.0, 0.0, 1.0))


# -- Methods --


def test_get_plane():
    p = Circle(Vec3d(7, 8, 3), 1, Vec3d(0, 0, 2)).get_plane()
    assert type(p) is Plane
    assert p.normal.to_array() == [0.0, 0.0, 1.0] and p.distance == -3.0


@pytest.mark.parametrize("radius, degenerate", [(0.0, True), (-0.0, True), (1e-300, False), (-3.0, False), (math.nan, False)])
def test_is_degenerate(radius, degenerate):
    assert stored((0, 0, 0), radius, (0, 0, 1)).is_degenerate() is degenerate


@pytest.mark.parametrize(
    "n1, n2, same",
    [
        ((0, 0, 1), (0, 0, 1), True),
        # Opposite normals of one plane: the offsets 1 and -1 describe the same plane z = 1.
        ((0, 0, 1), (0, 0, -1), True),
        ((0, 1, 0), (0, 0, 1), False),
    ],
)
def test_in_same_plane_at_z1(n1, n2, same):
    a, b = unit((0, 0, 1), n1), unit((5, 0, 1), n2)
    assert a.in_same_plane(b) is same and b.in_same_plane(other=a) is same


def test_parallel_planes_are_not_the_same_plane():
    assert not unit((0, 0, 1)).in_same_plane(unit((0, 0, -1)))
    assert not unit((0, 0, 1), (0, 0, 1)).in_same_plane(unit((0, 0, -1), (0, 0, -1)))


# -- Properties --


def test_setters_store_values_unchanged():
    c = unit()
    c.radius = -3
    assert c.radius == -3.0 and not c.is_degenerate()
    c.normal = Vec3d(0, 0, 5)
    assert c.normal.to_array() == [0.0, 0.0, 5.0]
    c.center = Vec3d(1, 2, 3)
    assert c.center.to_array() == [1.0, 2.0, 3.0]


@pytest.mark.parametrize("name", ["center", "normal"])
def test_vector_properties_are_copies(name):
    c = unit(center=(1, 2, 3))
    before = getattr(c, name).to_array()
    getattr(c, name).x = 9
    assert getattr(c, name).to_array() == before
    given_vector = Vec3d(4, 5, 6)
    setattr(c, name, given_vector)
    given_vector.x = 9
    assert getattr(c, name).to_array() == [4.0, 5.0, 6.0]


@pytest.mark.parametrize("name", ["center", "radius", "normal"])
def test_properties_have_no_deleter(name):
    with pytest.raises(AttributeError, match="^property has no deleter$"):
        delattr(unit(), name)


def test_area_is_read_only():
    c = unit(radius=2)
    assert c.area == (2.0 * 2.0) * math.pi
    with pytest.raises(AttributeError):
        c.area = 1.0
    with pytest.raises(AttributeError):
        del c.area


@pytest.mark.parametrize(
    "name, value, message",
    [
        ("normal", Plane.xy(), "argument 'value': 'Plane' object is not an instance of 'Vec3d'"),
        ("radius", None, "argument 'value': must be real number, not NoneType"),
    ],
)
def test_setter_type_errors_leave_circle_unchanged(name, value, message):
    c = unit()
    with pytest.raises(TypeError) as info:
        setattr(c, name, value)
    assert str(info.value) == message
    assert fields(c) == ((0.0, 0.0, 0.0), 1.0, (0.0, 0.0, 1.0))


# -- Equality --


@pytest.mark.parametrize(
    "a, b, equal",
    [
        (unit(), unit(), True),
        (unit(normal=(0, 0, 1)), unit(normal=(0, 0, -1)), True),
        (unit(), unit(center=(2**-53, 0, 0)), True),
        (unit(), unit(center=(2**-52, 0, 0)), False),
        (unit(radius=1), unit(radius=1 + 2**-52), False),  # radii compare exactly
        (unit(normal=(0, 0, 1)), unit(normal=(0, 1, 0)), False),
        (Circle.none(), Circle.none(), False),  # NaN normal
    ],
)
def test_equality(a, b, equal):
    assert (a == b) is equal and (b == a) is equal
    assert (a != b) is (not equal)


def test_equality_with_other_types():
    c = unit()
    assert (c == "x") is False and (c != "x") is True
    assert (c == 5) is False and (5 != c) is True
    assert (c == Plane.xy()) is False
    assert c != None  # noqa: E711


def test_not_equal_is_the_hosts_equality_negated():
    class EqualToAll:
        def __eq__(self, other):
            return True

        def __ne__(self, other):
            return True

    class Raises:
        def __eq__(self, other):
            raise KeyError("from __eq__")

    c = unit()
    # `c != x` asks the host for `c == x` (which reaches x.__eq__) and negates it.
    assert (c != EqualToAll()) is False
    with pytest.raises(KeyError, match="from __eq__"):
        c != Raises()


def test_unhashable_and_unordered():
    c = unit()
    with pytest.raises(TypeError, match="unhashable"):
        hash(c)
    assert Circle.__hash__ is None
    for op in ("__lt__", "__le__", "__gt__", "__ge__"):
        assert getattr(c, op)(c) is NotImplemented
    with pytest.raises(TypeError):
        c < c


# -- Argument errors and class surface --


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: Circle(), "Circle.__new__() missing 3 required positional arguments: 'center', 'radius', and 'normal'"),
        (lambda: Circle(Vec3d(0, 0, 0), 1, None), "argument 'normal': 'None' is not an instance of 'Vec3d'"),
        (lambda: unit().in_same_plane(circle=unit()), "Circle.in_same_plane() got an unexpected keyword argument 'circle'"),
        (lambda: unit().in_same_plane(Vec3d(0, 0, 1)), "argument 'other': 'Vec3d' object is not an instance of 'Circle'"),
    ],
)
def test_argument_errors(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


def test_class_surface():
    assert Circle.__qualname__ == "Circle" and Circle.__text_signature__ == "(center, radius, normal)"
    assert repr(unit()).startswith("<builtins.Circle object at 0x")


@pytest.mark.parametrize(
    "method, signature",
    [
        (Circle.none, "()"),
        (Circle.get_plane, "($self)"),
        (Circle.is_degenerate, "($self)"),
        (Circle.in_same_plane, "($self, other)"),
    ],
)
def test_text_signatures(method, signature):
    assert method.__text_signature__ == signature


# -- Bit-exact agreement with the formulas --


@given(vectors, any_float, vectors)
def test_new_matches_formula(center, radius, normal):
    c = Circle(V(center), radius, V(normal))
    expected = ref.circle_new(center, radius, normal)
    assert all(same_bits(got, want) for got, want in zip(fields(c), expected))
    assert bits(c.area) == bits(ref.area(expected))


@given(vectors, finite_float, normals, vectors, finite_float, normals, st.booleans())
def test_comparisons_match_formula(c1, r1, n1, c2, r2, n2, share_z):
    if share_z:  # put both centres at one height, so same-plane answers turn up
        c2 = (c2[0], c2[1], c1[2])
    a, b = stored(c1, r1, n1), stored(c2, r2, n2)
    assert a.in_same_plane(b) is ref.in_same_plane((c1, r1, n1), (c2, r2, n2))
    assert (a == b) is ref.circles_equal((c1, r1, n1), (c2, r2, n2))
    assert (a == stored(c1, r1, n1)) is ref.circles_equal((c1, r1, n1), (c1, r1, n1))
