"""Per-call cost of circle_circle, plane_line and Plane.from_points against the same
formulas in plain Python floats (tuples) and composed from PyGLM's dvec3 arithmetic.

The plain Python versions follow the module's order of operations, so their results
are checked to agree bit for bit before timing; PyGLM's normalize may round differently.
"""

import math

import glm

from common import report
from lumeric_py import Vec3d, geometry

Circle, Plane = geometry.Circle, geometry.Plane

EPS = 2.220446049250313e-16


# -- Plain Python: vectors are 3-tuples, written for speed but in the module's order --


def py_from_points(p1, p2, p3):
    ux, uy, uz = p2[0] - p1[0], p2[1] - p1[1], p2[2] - p1[2]
    vx, vy, vz = p3[0] - p1[0], p3[1] - p1[1], p3[2] - p1[2]
    cx, cy, cz = uy * vz - uz * vy, uz * vx - ux * vz, ux * vy - uy * vx
    m = math.sqrt((cx * cx + cy * cy) + cz * cz)
    n = (cx / m, cy / m, cz / m)
    return (n, -((p1[0] * n[0] + p1[1] * n[1]) + p1[2] * n[2]))


def py_plane_line(plane, a, b):
    (nx, ny, nz), dist = plane
    dx, dy, dz = b[0] - a[0], b[1] - a[1], b[2] - a[2]
    t = -((nx * a[0] + ny * a[1]) + nz * a[2] + dist) / ((dx * nx + dy * ny) + dz * nz)
    return (a[0] + dx * t, a[1] + dy * t, a[2] + dz * t)


def py_aligned(a, b):
    if abs(a[0] - b[0]) < EPS and abs(a[1] - b[1]) < EPS and abs(a[2] - b[2]) < EPS:
        return 1
    if abs(a[0] + b[0]) < EPS and abs(a[1] + b[1]) < EPS and abs(a[2] + b[2]) < EPS:
        return -1
    return 0


def py_circle_circle(circle1, circle2):
    c1, r1, m1 = circle1
    c2, r2, m2 = circle2
    side = py_aligned(m1, m2)
    if (
        abs(c1[0] - c2[0]) < EPS and abs(c1[1] - c2[1]) < EPS and abs(c1[2] - c2[2]) < EPS
        and r1 == r2 and side != 0
    ):
        raise ValueError("The given geometries are identical.")
    s = (c1[0] * m1[0] + c1[1] * m1[1]) + c1[2] * m1[2]
    o = (c2[0] * m2[0] + c2[1] * m2[1]) + c2[2] * m2[2]
    if side == 0 or not abs(o - s if side == 1 else o + s) < EPS:
        raise ValueError("The given geometries are out of plane from each other")
    ex, ey, ez = c1[0] - c2[0], c1[1] - c2[1], c1[2] - c2[2]
    d = math.sqrt((ex * ex + ey * ey) + ez * ez)
    if d > r1 + r2:
        raise ValueError("The given geometries are too far apart and do not intersect at all.")
    if d < abs(r1 - r2):
        raise ValueError("One of the given geometries is contained entirely within the other. "
                         "The surfaces do not intersect.")
    a = (r1 * r1 - r2 * r2) / (d * d + d * d) + 0.5
    h = math.sqrt(r1 * r1 - (d * d) * (a * a))
    dx, dy, dz = c2[0] - c1[0], c2[1] - c1[1], c2[2] - c1[2]
    wx, wy, wz = dy * m2[2] - dz * m2[1], dz * m2[0] - dx * m2[2], dx * m2[1] - dy * m2[0]
    m = math.sqrt((wx * wx + wy * wy) + wz * wz)
    wx, wy, wz = wx / m * h, wy / m * h, wz / m * h
    px, py, pz = c1[0] + dx * a, c1[1] + dy * a, c1[2] + dz * a
    return ((px + wx, py + wy, pz + wz), (px - wx, py - wy, pz - wz))


# -- PyGLM: the same steps composed from dvec3 operations --


def glm_from_points(p1, p2, p3):
    n = glm.normalize(glm.cross(p2 - p1, p3 - p1))
    return (n, -glm.dot(p1, n))


def glm_plane_line(plane, a, b):
    normal, dist = plane
    d = b - a
    t = -(glm.dot(normal, a) + dist) / glm.dot(d, normal)
    return a + d * t


def glm_circle_circle(circle1, circle2):
    c1, r1, m1 = circle1
    c2, r2, m2 = circle2
    same = glm.all(glm.lessThan(glm.abs(m1 - m2), glm.dvec3(EPS)))
    opposite = not same and glm.all(glm.lessThan(glm.abs(m1 + m2), glm.dvec3(EPS)))
    if glm.all(glm.lessThan(glm.abs(c1 - c2), glm.dvec3(EPS))) and r1 == r2 and (same or opposite):
        raise ValueError("The given geometries are identical.")
    s, o = glm.dot(c1, m1), glm.dot(c2, m2)
    if not (same and abs(o - s) < EPS or opposite and abs(o + s) < EPS):
        raise ValueError("The given geometries are out of plane from each other")
    d = glm.distance(c1, c2)
    if d > r1 + r2:
        raise ValueError("The given geometries are too far apart and do not intersect at all.")
    if d < abs(r1 - r2):
        raise ValueError("One of the given geometries is contained entirely within the other. "
                         "The surfaces do not intersect.")
    a = (r1 * r1 - r2 * r2) / (d * d + d * d) + 0.5
    h = math.sqrt(r1 * r1 - (d * d) * (a * a))
    delta = c2 - c1
    wh = glm.normalize(glm.cross(delta, m2)) * h
    p = c1 + delta * a
    return (p + wh, p - wh)


# -- Inputs: the same numbers for all three --

P1, P2, P3 = (0.25, -1.5, 2.0), (3.0, 0.5, -1.25), (-2.0, 4.0, 0.75)
A, B = (1.0, 2.0, -3.0), (-0.5, 1.25, 4.0)
# Coplanar at z = 1 with opposite normals; they cross in two points.
C1 = ((0.0, 0.0, 1.0), 1.0, (0.0, 0.0, 1.0))
C2 = ((1.0, 0.5, 1.0), 1.25, (0.0, 0.0, -1.0))

v = glm.dvec3
ns = {
    "geometry": geometry, "Plane": Plane,
    "py_circle_circle": py_circle_circle, "py_plane_line": py_plane_line, "py_from_points": py_from_points,
    "glm_circle_circle": glm_circle_circle, "glm_plane_line": glm_plane_line, "glm_from_points": glm_from_points,
    # lumeric_py
    "p1": Vec3d(*P1), "p2": Vec3d(*P2), "p3": Vec3d(*P3), "a": Vec3d(*A), "b": Vec3d(*B),
    "plane": Plane.from_points(Vec3d(*P1), Vec3d(*P2), Vec3d(*P3)),
    "c1": Circle(Vec3d(*C1[0]), C1[1], Vec3d(*C1[2])), "c2": Circle(Vec3d(*C2[0]), C2[1], Vec3d(*C2[2])),
    # plain Python
    "tp1": P1, "tp2": P2, "tp3": P3, "ta": A, "tb": B, "tplane": py_from_points(P1, P2, P3), "tc1": C1, "tc2": C2,
    # PyGLM
    "gp1": v(P1), "gp2": v(P2), "gp3": v(P3), "ga": v(A), "gb": v(B),
    "gplane": glm_from_points(v(P1), v(P2), v(P3)),
    "gc1": (v(C1[0]), C1[1], v(C1[2])), "gc2": (v(C2[0]), C2[1], v(C2[2])),
}


def flat(x):
    return [x] if isinstance(x, float) else [f for item in x for f in flat(item)]


# The plain Python formulas are the module's: identical results, bit for bit.
assert flat([p.to_array() for p in geometry.circle_circle(ns["c1"], ns["c2"])]) == flat(py_circle_circle(C1, C2))
assert flat(geometry.plane_line(ns["plane"], ns["a"], ns["b"]).to_array()) == flat(py_plane_line(ns["tplane"], A, B))
assert flat([ns["plane"].normal.to_array(), ns["plane"].distance]) == flat(ns["tplane"])

rows = [
    ("circle_circle", {"ours": "geometry.circle_circle(c1, c2)", "pyglm": "glm_circle_circle(gc1, gc2)",
                       "python": "py_circle_circle(tc1, tc2)"}, ns),
    ("plane_line", {"ours": "geometry.plane_line(plane, a, b)", "pyglm": "glm_plane_line(gplane, ga, gb)",
                    "python": "py_plane_line(tplane, ta, tb)"}, ns),
    ("Plane.from_points", {"ours": "Plane.from_points(p1, p2, p3)", "pyglm": "glm_from_points(gp1, gp2, gp3)",
                           "python": "py_from_points(tp1, tp2, tp3)"}, ns),
]

report("Geometry", rows, ["pyglm", "python"])
