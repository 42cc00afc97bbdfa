# The vector, plane, circle and intersection formulas in Python floats, in the same order of
# operations as the module, so results can be compared bit for bit.
#
# Vectors are 3-tuples. Division and square root follow IEEE 754 (infinities and NaN
# instead of Python's exceptions), as the module does.


import math

from helpers import ieee_div as fdiv

EPS = 2.220446049250313e-16

TOO_FAR = "The given geometries are too far apart and do not intersect at all."
CONTAINED = "One of the given geometries is contained entirely within the other. The surfaces do not intersect."
IDENTICAL = "The given geometries are identical."
OUT_OF_PLANE = "The given geometries are out of plane from each other"


def fsqrt(x):
    return math.nan if x < 0.0 else math.sqrt(x)


# -- Vectors --


def add(a, b):
    return (a[0] + b[0], a[1] + b[1], a[2] + b[2])


def sub(a, b):
    return (a[0] - b[0], a[1] - b[1], a[2] - b[2])


def scale(a, s):
    return (a[0] * s, a[1] * s, a[2] * s)


def dot(a, b):
    return (a[0] * b[0] + a[1] * b[1]) + a[2] * b[2]


def cross(a, b):
    return (a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0])


def magnitude(a):
    return fsqrt(dot(a, a))


def normalize(a):
    m = magnitude(a)
    return (fdiv(a[0], m), fdiv(a[1], m), fdiv(a[2], m))


def distance_squared(a, b):
    d = sub(a, b)
    return dot(d, d)


def distance(a, b):
    return fsqrt(distance_squared(a, b))


def distance_to_line(p, a, b):
    d = sub(b, a)
    t = fdiv(dot(d, sub(p, a)), dot(d, d))
    return distance(p, add(a, scale(d, t)))


def project_onto_line(p, r, q):
    u = sub(r, q)
    t = fdiv(dot(u, sub(q, p)), dot(u, u))
    return sub(q, scale(u, t))


def project_onto_plane(p, n):
    return sub(p, scale(n, dot(p, n)))


def vectors_equal(a, b):
    return all(abs(x - y) < EPS for x, y in zip(a, b))


# -- Plane: (normal, distance) --


def plane_new(normal, d):
    return (normalize(normal), -d)


def plane_from_point(normal, point):
    n = normalize(normal)
    return (n, -dot(point, n))


def plane_from_points(p1, p2, p3):
    n = normalize(cross(sub(p2, p1), sub(p3, p1)))
    return (n, -dot(p1, n))


def distance_to_point(plane, point):
    normal, d = plane
    return abs(dot(normal, point) + d)


def contains_point(plane, point):
    normal, d = plane
    return abs(d + dot(normal, point)) < EPS


# -- Circle: (center, radius, normal) --


def circle_new(center, radius, normal):
    return (center, abs(radius), normalize(normal))


def opposite(a, b):
    return all(abs(x + y) < EPS for x, y in zip(a, b))


def same_plane(n1, s, n2, o):
    # Opposite normals flip the sign of the offset, so those offsets are summed.
    if vectors_equal(n1, n2):
        return abs(o - s) < EPS
    return opposite(n1, n2) and abs(o + s) < EPS


def in_same_plane(c1, c2):
    return same_plane(c1[2], dot(c1[2], c1[0]), c2[2], dot(c2[2], c2[0]))


def circles_equal(c1, c2):
    return vectors_equal(c1[0], c2[0]) and c1[1] == c2[1] and (vectors_equal(c1[2], c2[2]) or opposite(c1[2], c2[2]))


def area(circle):
    return (circle[1] * circle[1]) * math.pi


# -- Intersections --


def plane_line(plane, a, b):
    normal, dist = plane
    d = sub(b, a)
    t = fdiv(-(dot(normal, a) + dist), dot(d, normal))
    return add(a, scale(d, t))


def circle_point(circle, point, inner):
    """True on success, else the error message."""
    c, r, normal = circle
    n = normalize(normal)
    if not abs(dot(n, point) - dot(c, n)) < EPS:
        return OUT_OF_PLANE
    dist = distance(point, c)
    if abs(r - dist) < EPS:
        return True
    if r - dist > EPS:
        return True if inner else CONTAINED
    return TOO_FAR


def circle_point_unchecked(circle, point, inner):
    e = circle[1] - distance(point, circle[0])
    return abs(e) < EPS or (inner and e > EPS)


def circle_circle(circle1, circle2):
    """The pair of points, or the error message."""
    c1, r1, m1 = circle1
    c2, r2, m2 = circle2
    if circles_equal(circle1, circle2):
        return IDENTICAL
    if not same_plane(m1, dot(c1, m1), m2, dot(c2, m2)):
        return OUT_OF_PLANE
    d = distance(c1, c2)
    if d > r1 + r2:
        return TOO_FAR
    if d < abs(r1 - r2):
        return CONTAINED
    a = fdiv(r1 * r1 - r2 * r2, d * d + d * d) + 0.5
    h = fsqrt(r1 * r1 - (d * d) * (a * a))
    delta = sub(c2, c1)
    p = add(c1, scale(delta, a))
    wh = scale(normalize(cross(delta, m2)), h)
    return (add(p, wh), sub(p, wh))
