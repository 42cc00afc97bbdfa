"""The plane, circle and intersection formulas in Python floats, in the same order of
operations as the module, so results can be compared bit for bit.

Vectors are 3-tuples. Division and square root follow IEEE 754 (infinities and NaN
instead of Python's exceptions), as the module does.
"""

import math

EPS = 2.220446049250313e-16

TOO_FAR = "The given geometries are too far apart and do not intersect at all."
CONTAINED = (
    "One of the given geometries is contained entirely within the other. "
    "The surfaces do not intersect."
)
IDENTICAL = "The given geometries are identical."
OUT_OF_PLANE = "The given geometries are out of plane from each other"


def fdiv(a, b):
    if b != 0.0:  # a NaN divisor included
        return a / b
    if a == 0.0 or math.isnan(a):
        return math.nan
    return math.copysign(math.inf, a) * math.copysign(1.0, b)


def fsqrt(x):
    return math.nan if x < 0.0 else math.sqrt(x)


def sub(a, b):
    return (a[0] - b[0], a[1] - b[1], a[2] - b[2])


def dot(a, b):
    return (a[0] * b[0] + a[1] * b[1]) + a[2] * b[2]


def cross(a, b):
    return (a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0])


def normalize(a):
    m = fsqrt(dot(a, a))
    return (fdiv(a[0], m), fdiv(a[1], m), fdiv(a[2], m))


def distance(a, b):
    dx, dy, dz = a[0] - b[0], a[1] - b[1], a[2] - b[2]
    return fsqrt((dx * dx + dy * dy) + dz * dz)


def close(a, b):
    return abs(a - b) < EPS


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


def alignment(a, b):
    if close(a[0], b[0]) and close(a[1], b[1]) and close(a[2], b[2]):
        return "same"
    if abs(a[0] + b[0]) < EPS and abs(a[1] + b[1]) < EPS and abs(a[2] + b[2]) < EPS:
        return "opposite"
    return None


def same_plane(n1, s, n2, o):
    """Opposite normals flip the sign of the offset, so those offsets are summed."""
    side = alignment(n1, n2)
    if side == "same":
        return abs(o - s) < EPS
    if side == "opposite":
        return abs(o + s) < EPS
    return False


def in_same_plane(c1, c2):
    return same_plane(c1[2], dot(c1[2], c1[0]), c2[2], dot(c2[2], c2[0]))


def circles_equal(c1, c2):
    return (
        all(close(x, y) for x, y in zip(c1[0], c2[0]))
        and c1[1] == c2[1]
        and alignment(c1[2], c2[2]) is not None
    )


def area(circle):
    return (circle[1] * circle[1]) * math.pi


# -- Intersections --


def plane_line(plane, a, b):
    normal, dist = plane
    d = sub(b, a)
    t = fdiv(-(dot(normal, a) + dist), dot(d, normal))
    return (a[0] + d[0] * t, a[1] + d[1] * t, a[2] + d[2] * t)


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
    w = normalize(cross(delta, m2))
    p = (c1[0] + delta[0] * a, c1[1] + delta[1] * a, c1[2] + delta[2] * a)
    wh = (w[0] * h, w[1] * h, w[2] * h)
    return (
        (p[0] + wh[0], p[1] + wh[1], p[2] + wh[2]),
        (p[0] - wh[0], p[1] - wh[1], p[2] - wh[2]),
    )
