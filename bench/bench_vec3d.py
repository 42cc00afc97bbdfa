"""Per-call cost of Vec3d against PyGLM's dvec3 and a plain Python class with __slots__."""

import math

import glm

from common import report
from lumeric_py import Vec3d


class PyVec:
    __slots__ = ("x", "y", "z")

    def __init__(self, x, y, z):
        self.x, self.y, self.z = x, y, z

    def __add__(self, o):
        return PyVec(self.x + o.x, self.y + o.y, self.z + o.z)

    def __sub__(self, o):
        return PyVec(self.x - o.x, self.y - o.y, self.z - o.z)

    def __mul__(self, s):
        return PyVec(self.x * s, self.y * s, self.z * s)

    def __eq__(self, o):
        return abs(self.x - o.x) < 2**-52 and abs(self.y - o.y) < 2**-52 and abs(self.z - o.z) < 2**-52

    def __hash__(self):
        return hash((self.x, self.y, self.z))

    def __repr__(self):
        return f"PyVec({self.x!r}, {self.y!r}, {self.z!r})"

    def dot(self, o):
        return (self.x * o.x + self.y * o.y) + self.z * o.z

    def cross(self, o):
        return PyVec(self.y * o.z - self.z * o.y, self.z * o.x - self.x * o.z, self.x * o.y - self.y * o.x)

    def magnitude(self):
        return math.sqrt((self.x * self.x + self.y * self.y) + self.z * self.z)

    def normalize(self):
        m = self.magnitude()
        return PyVec(self.x / m, self.y / m, self.z / m)

    def distance_to(self, o):
        dx, dy, dz = self.x - o.x, self.y - o.y, self.z - o.z
        return math.sqrt((dx * dx + dy * dy) + dz * dz)


ns = {
    "Vec3d": Vec3d, "glm": glm, "PyVec": PyVec,
    "a": Vec3d(1.5, -2.25, 3.0), "b": Vec3d(0.5, 4.0, -1.0),
    "ga": glm.dvec3(1.5, -2.25, 3.0), "gb": glm.dvec3(0.5, 4.0, -1.0),
    "pa": PyVec(1.5, -2.25, 3.0), "pb": PyVec(0.5, 4.0, -1.0),
}

rows = [
    ("construct", {"ours": "Vec3d(1.0, 2.0, 3.0)", "PyGLM": "glm.dvec3(1.0, 2.0, 3.0)", "Python": "PyVec(1.0, 2.0, 3.0)"}),
    ("a + b", {"ours": "a + b", "PyGLM": "ga + gb", "Python": "pa + pb"}),
    ("a - b", {"ours": "a - b", "PyGLM": "ga - gb", "Python": "pa - pb"}),
    ("a * 2.0", {"ours": "a * 2.0", "PyGLM": "ga * 2.0", "Python": "pa * 2.0"}),
    ("dot", {"ours": "a.dot(b)", "PyGLM": "glm.dot(ga, gb)", "Python": "pa.dot(pb)"}),
    ("cross", {"ours": "a.cross(b)", "PyGLM": "glm.cross(ga, gb)", "Python": "pa.cross(pb)"}),
    ("normalize", {"ours": "a.normalize()", "PyGLM": "glm.normalize(ga)", "Python": "pa.normalize()"}),
    ("magnitude", {"ours": "a.magnitude()", "PyGLM": "glm.length(ga)", "Python": "pa.magnitude()"}),
    ("distance_to", {"ours": "a.distance_to(b)", "PyGLM": "glm.distance(ga, gb)", "Python": "pa.distance_to(pb)"}),
    (".x read", {"ours": "a.x", "PyGLM": "ga.x", "Python": "pa.x"}),
    (".x write", {"ours": "a.x = 1.5", "PyGLM": "ga.x = 1.5", "Python": "pa.x = 1.5"}),
    ("==", {"ours": "a == b", "PyGLM": "ga == gb", "Python": "pa == pb"}),
    ("hash", {"ours": "hash(a)", "PyGLM": "hash(ga)", "Python": "hash(pa)"}),
    ("repr", {"ours": "repr(a)", "PyGLM": "repr(ga)", "Python": "repr(pa)"}),
]

if __name__ == "__main__":
    report("Vec3d per call", [(name, stmts, ns) for name, stmts in rows], ["PyGLM", "Python"])
