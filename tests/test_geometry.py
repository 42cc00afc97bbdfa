# lumeric_py.geometry through the module: Plane, Circle and the intersection functions bit for bit
# against the formulas, with the failures mapped to their messages.

import math

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import geometry_reference as ref
from helpers import any_float, finite_float, same_bits
from lumeric_py import Vec3d, geometry

Circle, Plane = geometry.Circle, geometry.Plane
vectors = st.tuples(finite_float, finite_float, finite_float)
any_vectors = st.tuples(any_float, any_float, any_float)
# Normals that are often equal or opposite, so the plane tests see both outcomes.
normals = st.one_of(st.sampled_from([(0.0, 0.0, 1.0), (0.0, 0.0, -1.0), (0.0, 1.0, 0.0)]), vectors)


def plane_fields(plane):
    return (*plane.normal.to_array(), plane.distance)


def fields(c):
    return (tuple(c.center.to_array()), c.radius, tuple(c.normal.to_array()))


def stored(center, radius, normal):
    """A circle holding exactly these fields (the setters store values unchanged)."""
    c = Circle.none()
    c.center, c.radius, c.normal = Vec3d(*center), radius, Vec3d(*normal)
    return c


@given(vectors, vectors, vectors, any_float, any_vectors, any_vectors)
def test_plane_matches_the_formulas(a, b, c, d, normal, point):
    for plane, expected in [(Plane(Vec3d(*a), d), ref.plane_new(a, d)),
                            (Plane.from_point(Vec3d(*a), Vec3d(*b)), ref.plane_from_point(a, b)),
                            (Plane.from_points(Vec3d(*a), Vec3d(*b), Vec3d(*c)), ref.plane_from_points(a, b, c))]:
        assert same_bits(plane_fields(plane), (*expected[0], expected[1]))
    plane = Plane.xy()
    plane.normal, plane.distance = Vec3d(*normal), d  # stored as given
    assert same_bits(plane_fields(plane), (*normal, d))
    assert same_bits(plane.distance_to_point(Vec3d(*point)), ref.distance_to_point((normal, d), point))
    assert plane.contains_point(point=Vec3d(*point)) is ref.contains_point((normal, d), point)
    assert same_bits(geometry.plane_line(b=Vec3d(*b), plane=plane, a=Vec3d(*a)).to_array(),
                     ref.plane_line((normal, d), a, b))


@given(vectors, finite_float, normals, vectors, finite_float, normals, st.booleans(), vectors, st.booleans())
def test_circle_matches_the_formulas(c1, r1, n1, c2, r2, n2, share_z, point, inner):
    if share_z:  # put both centres at one height, so same-plane answers turn up
        c2 = (c2[0], c2[1], c1[2])
    made = Circle(normal=Vec3d(*n1), radius=r1, center=Vec3d(*c1))
    assert all(same_bits(got, want) for got, want in zip(fields(made), ref.circle_new(c1, r1, n1)))
    assert same_bits(made.area, ref.area(ref.circle_new(c1, r1, n1)))
    a, b = stored(c1, r1, n1), stored(c2, r2, n2)
    assert a.in_same_plane(other=b) is ref.in_same_plane((c1, r1, n1), (c2, r2, n2))
    equal = ref.circles_equal((c1, r1, n1), (c2, r2, n2))
    assert (a == b) is equal and (a != b) is not equal
    normal, distance = ref.plane_from_point(n1, c1)
    assert same_bits(plane_fields(a.get_plane()), (*normal, distance))
    assert a.is_degenerate() is (r1 == 0.0)
    expected = ref.circle_point(fields(made), point, inner)
    assert geometry.circle_point(inner=inner, point=Vec3d(*point), circle=made) is (expected is True)
    assert geometry.circle_point_unchecked(made, Vec3d(*point), inner) is ref.circle_point_unchecked(
        fields(made), point, inner)


# Coplanar pairs turn up often: normals along z (either way) with centres at one height.
z_normals = st.sampled_from([(0.0, 0.0, 1.0), (0.0, 0.0, -1.0), (0.0, 0.0, 3.0)])
small = st.floats(min_value=-10, max_value=10, allow_nan=False)
radii = st.floats(min_value=0, max_value=10, allow_nan=False)
coplanar = st.tuples(small, small, small, small, small, radii, radii, z_normals, z_normals).map(
    lambda t: (((t[0], t[1], t[4]), t[5], t[7]), ((t[2], t[3], t[4]), t[6], t[8])))
anywhere = st.tuples(st.tuples(vectors, finite_float, vectors), st.tuples(vectors, finite_float, vectors))
same = st.tuples(vectors, finite_float, vectors).map(lambda c: (c, c))


@settings(max_examples=300, deadline=None)
@given(st.one_of(coplanar, anywhere, same))
def test_circle_circle_matches_the_formula(pair):
    a, b = (Circle(Vec3d(*c), r, Vec3d(*n)) for c, r, n in pair)
    expected = ref.circle_circle(fields(a), fields(b))
    if isinstance(expected, str):
        with pytest.raises(ValueError) as info:
            geometry.circle_circle(circle2=b, circle1=a)
        assert type(info.value) is ValueError and str(info.value) == expected
    else:
        got = [tuple(p.to_array()) for p in geometry.circle_circle(a, b)]
        assert same_bits(got[0], expected[0]) and same_bits(got[1], expected[1])


# numpy, built for the release interpreter, keeps no reference total (see tools/leak_hunter.py).
@pytest.mark.no_leak_check
def test_inner_takes_numpy_booleans():
    c, p = Circle(Vec3d(0, 0, 0), 1, Vec3d(0, 0, 1)), Vec3d(0.5, 0, 0)
    for function in (geometry.circle_point, geometry.circle_point_unchecked):
        assert function(c, p, np.True_) is True and function(c, p, np.False_) is False
    with pytest.raises(TypeError, match="^argument 'inner': 'int64' object is not an instance of 'bool'$"):
        geometry.circle_point(c, p, np.int64(1))


def test_planes_compare_and_hash_by_identity():
    a, b = Plane.xy(), Plane.xy()
    assert a == a and a != b and hash(a) == hash(a) and len({a, b}) == 2 and Plane.xy() is not Plane.xy()
    assert math.isnan(Circle.none().normal.x) and Circle.none().is_degenerate()
