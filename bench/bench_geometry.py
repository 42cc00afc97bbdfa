"""Per-call cost of circle_circle, plane_line and Plane.from_points.

Each operation is timed three ways on the same inputs: through lumeric_py, as the same
formulas in plain Python floats (tuples), and composed from PyGLM's dvec3 arithmetic.
One run: every candidate is timed in `REPEATS` batches of `LOOPS` calls, and the
median batch gives the nanoseconds per call (the timeit loop is included in all three).

    python bench/bench_geometry.py [--quick]
"""

import math
import statistics
import sys
import timeit

import glm

from lumeric_py import Vec3d, geometry

Circle, Plane = geometry.Circle, geometry.Plane

QUICK = "--quick" in sys.argv[1:]
LOOPS = 2_000 if QUICK else 50_000
REPEATS = 5 if QUICK else 15
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
C1 = ((0.0, 0.0, 1.0), 1.0, (0.0, 0.0, 1.0))
C2 = ((1.0, 0.5, 1.0), 1.25, (0.0, 0.0, -1.0))


def lumeric_inputs():
    p1, p2, p3 = Vec3d(*P1), Vec3d(*P2), Vec3d(*P3)
    plane = Plane.from_points(p1, p2, p3)
    circle1 = Circle(Vec3d(*C1[0]), C1[1], Vec3d(*C1[2]))
    circle2 = Circle(Vec3d(*C2[0]), C2[1], Vec3d(*C2[2]))
    return dict(from_points=Plane.from_points, plane_line=geometry.plane_line,
                circle_circle=geometry.circle_circle, p1=p1, p2=p2, p3=p3, plane=plane,
                a=Vec3d(*A), b=Vec3d(*B), circle1=circle1, circle2=circle2)


def python_inputs():
    return dict(from_points=py_from_points, plane_line=py_plane_line, circle_circle=py_circle_circle,
                p1=P1, p2=P2, p3=P3, plane=py_from_points(P1, P2, P3), a=A, b=B, circle1=C1, circle2=C2)


def glm_inputs():
    v = glm.dvec3
    return dict(from_points=glm_from_points, plane_line=glm_plane_line, circle_circle=glm_circle_circle,
                p1=v(P1), p2=v(P2), p3=v(P3), plane=glm_from_points(v(P1), v(P2), v(P3)), a=v(A), b=v(B),
                circle1=(v(C1[0]), C1[1], v(C1[2])), circle2=(v(C2[0]), C2[1], v(C2[2])))


CALLS = [
    ("circle_circle", "circle_circle(circle1, circle2)"),
    ("plane_line", "plane_line(plane, a, b)"),
    ("Plane.from_points", "from_points(p1, p2, p3)"),
]


def ns_per_call(statement, names):
    batches = timeit.repeat(statement, globals=names, number=LOOPS, repeat=REPEATS)
    return statistics.median(batches) / LOOPS * 1e9


def check_same_results(lum, py):
    """The plain Python formulas are the module's, so their results agree bit for bit."""
    def flat(x):
        return [x] if isinstance(x, float) else [f for item in x for f in flat(item)]
    got = geometry.circle_circle(lum["circle1"], lum["circle2"])
    assert flat([p.to_array() for p in got]) == flat(py["circle_circle"](C1, C2))
    got = geometry.plane_line(lum["plane"], lum["a"], lum["b"]).to_array()
    assert flat(got) == flat(py["plane_line"](py["plane"], A, B))
    plane = lum["plane"]
    assert flat([plane.normal.to_array(), plane.distance]) == flat(py["plane"])


def main():
    lum, py, gl = lumeric_inputs(), python_inputs(), glm_inputs()
    check_same_results(lum, py)
    print(f"geometry per call: median of {REPEATS} batches x {LOOPS} calls, ns/call "
          f"(Python {sys.version.split()[0]}, PyGLM {glm.__version__})")
    print(f"{'operation':<20}{'lumeric_py':>12}{'python':>12}{'pyglm':>12}{'python/lum':>12}{'pyglm/lum':>12}")
    for label, statement in CALLS:
        t_lum = ns_per_call(statement, lum)
        t_py = ns_per_call(statement, py)
        t_glm = ns_per_call(statement, gl)
        print(f"{label:<20}{t_lum:>12.1f}{t_py:>12.1f}{t_glm:>12.1f}{t_py / t_lum:>11.2f}x{t_glm / t_lum:>11.2f}x")


if __name__ == "__main__":
    main()
