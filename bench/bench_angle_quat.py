"""Per-call cost of the angle and quaternion operations, against PyGLM and plain Python.

Timing and the table come from common.py; "-" where PyGLM has nothing comparable. PyGLM
returns plain floats for angles, so the angle rows compare our new objects with its floats.

    python bench/bench_angle_quat.py
"""

import math

import glm

from common import report

from lumeric_py import AngleDegrees, AngleRadians, Quat, Vec3d


# -- The same operations as plain Python classes --


class PyAngle:
    __slots__ = ("angle",)

    def __init__(self, angle):
        self.angle = float(angle)

    @staticmethod
    def pi():
        return PyAngle(math.pi)

    def to_degrees(self):
        return PyDegrees((self.angle * 180.0) / math.pi)

    def sin(self):
        return math.sin(self.angle)

    def __add__(self, other):
        if type(other) is not PyAngle:
            return NotImplemented
        return PyAngle(self.angle + other.angle)

    def __mul__(self, s):
        return PyAngle(self.angle * s)

    def __lt__(self, other):
        if type(other) is not PyAngle:
            return NotImplemented
        return self.angle < other.angle


class PyDegrees:
    __slots__ = ("angle",)

    def __init__(self, angle):
        self.angle = float(angle)

    def to_radians(self):
        return PyAngle((self.angle * math.pi) / 180.0)


class PyVec:
    __slots__ = ("x", "y", "z")

    def __init__(self, x, y, z):
        self.x, self.y, self.z = float(x), float(y), float(z)

    def angle_to(self, b):
        c = (self.x * b.x + self.y * b.y) + self.z * b.z
        ma = math.sqrt((self.x * self.x + self.y * self.y) + self.z * self.z)
        mb = math.sqrt((b.x * b.x + b.y * b.y) + b.z * b.z)
        return PyAngle(math.acos(max(-1.0, min(1.0, c / (ma * mb)))))

    def to_quat(self):
        return PyQuat(0.0, self.x, self.y, self.z)


class PyQuat:
    __slots__ = ("w", "i", "j", "k")

    def __init__(self, w, i, j, k):
        self.w, self.i, self.j, self.k = float(w), float(i), float(j), float(k)

    @staticmethod
    def identity():
        return PyQuat(1.0, 0.0, 0.0, 0.0)

    @staticmethod
    def from_axis_angle(axis, angle):
        h = angle.angle * -0.5
        s = math.sin(h)
        return PyQuat(math.cos(h), s * axis.x, s * axis.y, s * axis.z)

    def conjugate(self):
        return PyQuat(self.w, -self.i, -self.j, -self.k)

    def magnitude(self):
        return math.sqrt(((self.w * self.w + self.i * self.i) + self.j * self.j) + self.k * self.k)

    def normalize(self):
        m = self.magnitude()
        return PyQuat(self.w / m, self.i / m, self.j / m, self.k / m)

    def rotate(self, v):
        w, i, j, k = self.w, self.i, self.j, self.k
        rw = ((w * 0.0 + i * v.x) + j * v.y) + k * v.z
        ri = ((w * v.x - i * 0.0) - j * v.z) + k * v.y
        rj = ((w * v.y - j * 0.0) - k * v.x) + i * v.z
        rk = ((w * v.z - k * 0.0) - i * v.y) + j * v.x
        return PyVec(((rw * i + ri * w) + rj * k) - rk * j,
                     ((rw * j + rj * w) + rk * i) - ri * k,
                     ((rw * k + rk * w) + ri * j) - rj * i)

    def to_axis_angle(self):
        if abs(self.w - 1.0) < 2.0**-52:
            return PyVec(1.0, 0.0, 0.0), PyAngle(0.0)
        a = math.acos(self.w)
        angle = a + a
        s = math.sin(angle * 0.5)
        return PyVec(self.i / s, self.j / s, self.k / s), PyAngle(angle)

    def to_rotation_matrix(self):
        w, i, j, k = self.w, self.i, self.j, self.k
        return [[1.0 - 2.0 * (j * j + k * k), 2.0 * (i * j - w * k), 2.0 * (i * k + w * j)],
                [2.0 * (i * j + w * k), 1.0 - 2.0 * (i * i + k * k), 2.0 * (j * k - w * i)],
                [2.0 * (i * k - w * j), 2.0 * (j * k + w * i), 1.0 - 2.0 * (i * i + j * j)]]

    def __eq__(self, o):
        if type(o) is not PyQuat:
            return NotImplemented
        e = 2.0**-52
        return abs(self.w - o.w) < e and abs(self.i - o.i) < e and abs(self.j - o.j) < e and abs(self.k - o.k) < e


def glm_angle_between(a, b):
    return math.acos(max(-1.0, min(1.0, glm.dot(a, b) / (glm.length(a) * glm.length(b)))))


# -- Operands --

NAMES = dict(
    AngleRadians=AngleRadians, AngleDegrees=AngleDegrees, Quat=Quat, Vec3d=Vec3d,
    PyAngle=PyAngle, PyDegrees=PyDegrees, PyQuat=PyQuat, PyVec=PyVec, glm=glm,
    glm_angle_between=glm_angle_between,
    a=AngleRadians(0.7), b=AngleRadians(0.2), d=AngleDegrees(40.0),
    pa=PyAngle(0.7), pb=PyAngle(0.2), pd=PyDegrees(40.0), x=0.7, deg=40.0,
    v=Vec3d(1.0, 2.0, 3.0), u=Vec3d(-2.0, 0.5, 1.0), axis=Vec3d(0.0, 0.6, 0.8),
    pv=PyVec(1.0, 2.0, 3.0), pu=PyVec(-2.0, 0.5, 1.0), paxis=PyVec(0.0, 0.6, 0.8),
    gv=glm.dvec3(1.0, 2.0, 3.0), gu=glm.dvec3(-2.0, 0.5, 1.0), gaxis=glm.dvec3(0.0, 0.6, 0.8),
    q=Quat(0.5, 0.5, -0.5, 0.5), r=Quat(0.5, 0.5, -0.5, 0.5000000000000001),
    pq=PyQuat(0.5, 0.5, -0.5, 0.5), pr=PyQuat(0.5, 0.5, -0.5, 0.5000000000000001),
    gq=glm.dquat(0.5, 0.5, -0.5, 0.5), gr=glm.dquat(0.5, 0.5, -0.5, 0.5000000000000001),
    s=Quat(0.8, 0.0, 0.6, 0.0), gs=glm.dquat(0.8, 0.0, 0.6, 0.0),
    m=Quat(0.5, 0.5, -0.5, 0.5).to_rotation_matrix(),
    # Euler angles (radians) and the rotation they make, a general one: no angle at an end of its range.
    e=(0.1, -0.2, 1.5), ge=glm.dvec3(0.1, -0.2, 1.5),
    t=Quat.from_euler("xyz", (0.1, -0.2, 1.5)), gt=glm.dquat(glm.dvec3(0.1, -0.2, 1.5)),
    rv=Vec3d(0.1, -0.2, 1.5),
)

# (label, ours, PyGLM or None, plain Python)
CASES = [
    ("AngleRadians(x)", "AngleRadians(x)", None, "PyAngle(x)"),
    ("AngleRadians.pi()", "AngleRadians.pi()", "glm.pi()", "PyAngle.pi()"),
    ("a.angle", "a.angle", None, "pa.angle"),
    ("a.to_degrees()", "a.to_degrees()", "glm.degrees(x)", "pa.to_degrees()"),
    ("d.to_radians()", "d.to_radians()", "glm.radians(deg)", "pd.to_radians()"),
    ("a.sin()", "a.sin()", "glm.sin(x)", "pa.sin()"),
    ("a + b", "a + b", None, "pa + pb"),
    ("a * 2.0", "a * 2.0", None, "pa * 2.0"),
    ("a < b", "a < b", None, "pa < pb"),
    ("v.angle_to(u)", "v.angle_to(u)", "glm_angle_between(gv, gu)", "pv.angle_to(pu)"),
    ("v.to_quat()", "v.to_quat()", "glm.dquat(0.0, gv)", "pv.to_quat()"),
    ("Quat(w, i, j, k)", "Quat(0.5, 0.5, -0.5, 0.5)", "glm.dquat(0.5, 0.5, -0.5, 0.5)",
     "PyQuat(0.5, 0.5, -0.5, 0.5)"),
    ("Quat.identity()", "Quat.identity()", "glm.dquat()", "PyQuat.identity()"),
    ("Quat.from_axis_angle", "Quat.from_axis_angle(axis, a)", "glm.angleAxis(x, gaxis)",
     "PyQuat.from_axis_angle(paxis, pa)"),
    ("q.rotate(v)", "q.rotate(v)", "gq * gv", "pq.rotate(pv)"),
    ("q.conjugate()", "q.conjugate()", "glm.conjugate(gq)", "pq.conjugate()"),
    ("q.magnitude()", "q.magnitude()", "glm.length(gq)", "pq.magnitude()"),
    ("q.normalize()", "q.normalize()", "glm.normalize(gq)", "pq.normalize()"),
    ("q.to_axis_angle()", "q.to_axis_angle()", "(glm.axis(gq), glm.angle(gq))", "pq.to_axis_angle()"),
    ("q.to_rotation_matrix()", "q.to_rotation_matrix()", "glm.mat3_cast(gq)", "pq.to_rotation_matrix()"),
    # Our result is a list of three lists; PyGLM's nearest equivalent builds the same.
    ("  ... as nested lists", "q.to_rotation_matrix()", "glm.mat3_cast(gq).to_list()", "pq.to_rotation_matrix()"),
    ("q == r", "q == r", "gq == gr", "pq == pr"),
    ("q.w", "q.w", "gq.w", "pq.w"),
    ("q.multiply(s)", "q.multiply(s)", "gq * gs", None),
    ("q.inverse()", "q.inverse()", "glm.inverse(gq)", None),
    ("q.slerp(s, 0.3)", "q.slerp(s, 0.3)", "glm.slerp(gq, gs, 0.3)", None),
    # The same nested list for both (PyGLM reads its rows as columns).
    ("Quat.from_rotation_matrix", "Quat.from_rotation_matrix(m)", "glm.quat_cast(glm.dmat3(m))", None),
    ("Quat.from_two_vectors", "Quat.from_two_vectors(v, u)", "glm.dquat(gv, gu)", None),
    # PyGLM's Euler angles are our extrinsic "xyz" (its quaternion is our conjugate).
    ("Quat.from_euler", "Quat.from_euler('xyz', e)", "glm.dquat(ge)", None),
    ("t.to_euler('xyz')", "t.to_euler('xyz')", "glm.eulerAngles(gt)", None),
    ("Quat.from_rotation_vector", "Quat.from_rotation_vector(rv)", None, None),
    ("t.to_rotation_vector()", "t.to_rotation_vector()", None, None),
]


def main():
    rows = [(label, {"ours": ours, "PyGLM": theirs, "Python": python}, NAMES) for label, ours, theirs, python in CASES]
    report("Angles and quaternions per call", rows, ["PyGLM", "Python"])


if __name__ == "__main__":
    main()
