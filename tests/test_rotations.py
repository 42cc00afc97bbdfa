# Combining rotations: the composition, inverse, interpolation and construction rules on documented
# examples, each rule against scipy's Rotation as an independent oracle (scalar last, and turning the
# other way: our rotate(v) is conj(q) v q, scipy applies q v conj(q)), the exact endpoints of slerp,
# the half turns, every refusal, and rotate_each bit for bit as a loop of rotate.

import math
import os
import random
from array import array

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from helpers import bits, same_fields
from lumeric_py import AngleRadians, Quat, Vec3d, VecList

# The oracle's tests skip where scipy cannot serve: the debug interpreter that hunts leaks has no build of it,
# and under LeakSanitizer its imports leave numpy objects behind at exit.
Rotation = Slerp = None
if "libasan" not in os.environ.get("LD_PRELOAD", ""):
    try:
        from scipy.spatial.transform import Rotation, Slerp
    except ImportError:
        pass
with_scipy = pytest.mark.skipif(Rotation is None, reason="scipy is not importable")

EPS = 2.0**-52
R2 = math.sqrt(0.5)


def turn(x, y, z, degrees):
    return Quat.from_axis_angle(Vec3d(x, y, z).normalize(), AngleRadians(math.radians(degrees)))


def oracle(q):  # the scipy rotation that turns vectors as q.rotate does
    return Rotation.from_quat([-q.i, -q.j, -q.k, q.w])


def table(kind, rows, width=4):  # a (rows, width) buffer of this element kind, without numpy
    flat = array(kind, [x for row in rows for x in row])
    return memoryview(flat).cast("B").cast(kind, (len(rows), width))


def close(got, want, tolerance=4 * EPS):  # Quat, Vec3d or nested numbers, field by field
    def flat(x):
        x = x.tolist() if hasattr(x, "tolist") else x
        if isinstance(x, Quat):
            return [x.w, x.i, x.j, x.k]
        if isinstance(x, Vec3d):
            return x.to_array()
        return [y for row in x for y in row] if isinstance(x, list) and isinstance(x[0], list) else (
            x if isinstance(x, list) else [x])
    return all(abs(g - w) <= tolerance for g, w in zip(flat(got), flat(want), strict=True))


Z90, X90, DIAGONAL120 = turn(0, 0, 1, 90), turn(1, 0, 0, 90), turn(1, 1, 1, 120)


# The README's examples: what each operation gives, written out.
@pytest.mark.parametrize("got, want", [
    (lambda: Z90.multiply(X90).rotate(Vec3d(1, 0, 0)), Vec3d(0, 0, 1)),  # z first: x -> y; then x: y -> z
    (lambda: DIAGONAL120.rotate(Vec3d(1, 0, 0)), Vec3d(0, 1, 0)),  # the axes cycle x -> y -> z
    (lambda: Quat.identity().slerp(Z90, 0.5), turn(0, 0, 1, 45)),
    (lambda: Quat.identity().slerp(Z90, -1.0), turn(0, 0, 1, -90)),  # beyond the ends, on the same circle
    (lambda: Quat.from_rotation_matrix([[0, 1, 0], [-1, 0, 0], [0, 0, 1]]), Quat(R2, 0, 0, -R2)),
    (lambda: Quat.from_two_vectors(Vec3d(2, 0, 0), Vec3d(0, 3, 0)), Z90),
    (lambda: Quat.from_rotation_matrix([[1, 0, 0], [0, 1 + 4e-10, 0], [0, 0, 1]]), Quat.identity()),  # within 1e-9
    # Half turns read from buffers of other element kinds (the rule itself: the core's documented values).
    (lambda: Quat.from_rotation_matrix(table("d", [[-1, 0, 0], [0, 1, 0], [0, 0, -1]], 3)), Quat(0, 0, 1, 0)),
    (lambda: Quat.from_rotation_matrix(memoryview(bytes([255, 0, 0, 0, 255, 0, 0, 0, 1])).cast("b", (3, 3))),
     Quat(0, 0, 0, 1)),
    # Euler angles: extrinsic "xyz" turns about x, then y, then z.
    (lambda: Quat.from_euler("xyz", (0.3, -0.4, 1.1)), turn(1, 0, 0, math.degrees(0.3)).multiply(
        turn(0, 1, 0, math.degrees(-0.4))).multiply(turn(0, 0, 1, math.degrees(1.1)))),
    # Near the identity acos(w) loses half the digits; 2·atan2(|(i, j, k)|, w) keeps them.
    (lambda: abs(turn(1, 0, 0, math.degrees(5e-8)).to_axis_angle()[1].angle / 5e-8 - 1) > 0.03, True),
])
def test_documented_examples(got, want):
    assert close(got(), want), got()


component = st.floats(-1, 1)
unit = st.tuples(component, component, component, component).filter(
    lambda c: math.fsum(x * x for x in c) > 0.01).map(lambda c: Quat(*c).normalize())
vector = st.tuples(*[st.floats(-100, 100)] * 3).map(lambda c: Vec3d(*c)).filter(lambda v: v.magnitude() > 1e-3)


@with_scipy
@settings(max_examples=300, deadline=None)
@given(a=unit, b=unit, t=st.floats(-2, 3), v=vector)
def test_rules_against_scipy(a, b, t, v):
    assert close(oracle(a.multiply(b)).as_matrix(), (oracle(b) * oracle(a)).as_matrix(), 16 * EPS)
    assert close(oracle(a.inverse()).as_matrix(), oracle(a).inv().as_matrix(), 8 * EPS)
    assert close(a.multiply(a.inverse()), Quat.identity(), 4 * EPS)
    # scipy's Slerp interpolates only; at a·b = 0 the two arcs are equally short, and the choice is free.
    if 0 <= t <= 1 and abs(((a.w * b.w + a.i * b.i) + a.j * b.j) + a.k * b.k) > 1e-6:
        want = Slerp([0, 1], Rotation.concatenate([oracle(a), oracle(b)]))(t).apply(v.to_array())
        assert close(a.slerp(b, t).rotate(v), want, 1e-12 * v.magnitude())
    back = Quat.from_rotation_matrix(a.to_rotation_matrix())
    either = close(back, a, 8 * EPS) or close(back, Quat(-a.w, -a.i, -a.j, -a.k), 8 * EPS)
    assert either and back.w >= 0 and close(back.magnitude(), 1)
    x, y, z, w = Rotation.from_matrix(a.to_rotation_matrix()).as_quat(canonical=True)
    assert close(back, Quat(w, x, y, z), 1e-15)


# Pairs of directions, a quarter of them within a hair of opposite, where the axis is hardest to find.
pair = st.tuples(vector, vector, st.floats(0.01, 100), st.booleans(), st.tuples(*[st.floats(-1e-9, 1e-9)] * 3)).map(
    lambda p: (p[0], p[0] * -p[2] + Vec3d(*p[4])) if p[3] else (p[0], p[1]))


@with_scipy
@settings(max_examples=300, deadline=None)
@given(pair=pair)
def test_from_two_vectors_against_scipy(pair):
    a, b = pair
    q = Quat.from_two_vectors(a, b)
    assert close(q.rotate(a.normalize()), b.normalize(), 32 * EPS) and close(q.magnitude(), 1, 8 * EPS)
    if np.linalg.norm(np.cross(a.normalize().to_array(), b.normalize().to_array())) > 1e-6:  # a unique axis
        aligned, _ = Rotation.align_vectors([b.to_array()], [a.to_array()])
        assert close(oracle(q).as_matrix(), aligned.as_matrix(), 1e-9)


@settings(max_examples=200, deadline=None)
@given(a=st.tuples(*[st.floats(allow_nan=False)] * 4), b=st.tuples(*[st.floats(allow_nan=False)] * 4))
def test_slerp_ends_are_exact(a, b):
    a, b = Quat(*a), Quat(*b)
    dot = ((a.w * b.w + a.i * b.i) + a.j * b.j) + a.k * b.k
    end = Quat(-b.w, -b.i, -b.j, -b.k) if dot < 0 else b
    for t, want in ((0.0, a), (-0.0, a), (1.0, end)):
        got = a.slerp(b, t)
        assert [bits(getattr(got, f)) for f in "wijk"] == [bits(getattr(want, f)) for f in "wijk"]


SEQUENCES = [a + b + c for a in "xyz" for b in "xyz" for c in "xyz" if a != b != c]
SEQUENCES += [seq.upper() for seq in SEQUENCES]


# scipy's Euler angles for every sequence: random angles, and the middle angle at, inside and just outside the
# gimbal-lock band at each end of its range (where scipy warns and we do not).
@with_scipy
@pytest.mark.filterwarnings("ignore:Gimbal lock")
@pytest.mark.parametrize("seq", SEQUENCES)
def test_euler_against_scipy(seq):
    rng, proper = np.random.default_rng(len(seq) + ord(seq[0]) * 7 + ord(seq[1]) * 3 + ord(seq[2])), seq[0] == seq[2]
    lo, hi = (0, math.pi) if proper else (-math.pi / 2, math.pi / 2)
    middles = [m + d for m in (lo, hi) for d in (0, 5e-8, -5e-8, 2e-7, -2e-7) if lo <= m + d <= hi]
    for angles in [rng.uniform(-math.pi, math.pi, 3) for _ in range(40)] + [(0.3, m, -0.7) for m in middles]:
        q, want = Quat.from_euler(seq, tuple(angles)), Rotation.from_euler(seq, angles)
        v = rng.normal(size=3)
        assert close(q.rotate(Vec3d(*v)), want.apply(v), 1e-14)
        got = q.to_euler(seq)
        band = min(hi - got[1], got[1] - lo)
        # Just outside the band the first and third angles are ill-conditioned: rounding grows by 1/band.
        tolerance = 1e-13 if band > 1e-3 else 1e-8
        assert type(got) is tuple and close(list(got), list(want.as_euler(seq)), tolerance)
        assert close(list(Quat(-q.w, -q.i, -q.j, -q.k).to_euler(seq)), list(got), tolerance)  # the same rotation
        assert all(abs(a) <= math.pi for a in got) and lo <= got[1] <= hi
        if band > 1e-7:  # outside the band: the round trip
            back = Quat.from_euler(seq, got)
            assert close(back, q, 1e-14) or close(back, Quat(-q.w, -q.i, -q.j, -q.k), 1e-14)
        else:
            assert got[2] == 0


# scipy's rotation vectors from a zero turn to a half turn; the round trip keeps a few ulps at every length.
@with_scipy
@pytest.mark.parametrize("length", [0.0, 1e-300, 1e-10, 5e-8, 1e-4, 0.5, 2.0, math.pi - 1e-9, math.pi])
def test_rotation_vectors_against_scipy(length):
    rng = np.random.default_rng(int(length * 1e3) + 1)
    for _ in range(50):
        v = rng.normal(size=3)
        v *= length / np.linalg.norm(v)
        q, want = Quat.from_rotation_vector(Vec3d(*v)), Rotation.from_rotvec(v)
        p = rng.normal(size=3)
        assert close(q.rotate(Vec3d(*p)), want.apply(p), 1e-14) and close(q.magnitude(), 1, 2 * EPS)
        back, tolerance = q.to_rotation_vector().to_array(), 4 * EPS * length
        half_turn = length == math.pi and close(back, list(-v), tolerance)  # v and -v: the same half turn
        assert (close(back, list(v), tolerance) or half_turn) and close(back, oracle(q).as_rotvec(), tolerance)
        assert math.hypot(*back) <= math.pi * (1 + 2 * EPS)


SPECIAL = [0.0, -0.0, math.inf, math.nan, 5e-324, 1e300, -1.0]


# Short (empty too), and cut into pieces for the pool; the quaternions as objects, as a packed float64 table read
# in place, and as tables that must be gathered (float32, a strided numpy slice); special values in every lane.
FORMS = [lambda q: [Quat(*row) for row in q], lambda q: table("d", q), lambda q: table("f", q)]
STRIDED = lambda q: np.repeat(np.array(q).reshape(-1, 4), 2, axis=0)[::2]  # noqa: E731


# numpy, built for the release interpreter, keeps no reference total (see tools/leak_hunter.py).
@pytest.mark.parametrize("n, form", [(0, FORMS[0])] + [(n, form) for n in (7, 20_011) for form in FORMS] + [
    pytest.param(n, STRIDED, marks=pytest.mark.no_leak_check) for n in (7, 20_011)])
def test_rotate_each_is_a_loop_of_rotate(n, form):
    rng = random.Random(n)
    vectors = [[rng.uniform(-1e3, 1e3) if k % 17 else SPECIAL[n % 7] for k in range(3 * e, 3 * e + 3)] for e in range(n)]
    quats = [[rng.uniform(-1, 1) if k % 13 else SPECIAL[(n + 3) % 7] for k in range(4 * e, 4 * e + 4)] for e in range(n)]
    lst, given_quats = VecList.from_array(vectors), form(quats)
    assert lst.rotate_each(given_quats) is None
    exact = quats if isinstance(given_quats, list) else [[float(x) for x in row] for row in given_quats.tolist()]
    want = [Quat(*q).rotate(Vec3d(*v)).to_array() for q, v in zip(exact, vectors)]
    assert same_fields([x for row in lst.to_array() for x in row], [x for row in want for x in row])
