"""AngleRadians, AngleDegrees and Vec3d.angle_to: results, comparisons, texts and errors."""

import math
import operator

import pytest
from hypothesis import given
from hypothesis import strategies as st

import geometry_reference as ref
from helpers import EqualToAll, RaisingEquality, RaisingFloat, any_float, finite_float, ieee_div, libm, same_bits
from lumeric_py import AngleDegrees, AngleRadians, Vec3d

R, D = AngleRadians, AngleDegrees
PI = 3.141592653589793


# -- Values, bit for bit against the same formulas in Python floats --


@given(any_float, any_float)
def test_values_match_the_formulas(x, y):
    for cls in (R, D):
        a = cls(x)
        assert same_bits(a.angle, x) and same_bits((-a).angle, -x)
        a.angle = y
        assert same_bits(a.angle, y)
        for op in (operator.lt, operator.le, operator.eq, operator.ne, operator.gt, operator.ge):
            assert op(cls(x), cls(y)) is op(x, y)
    a, b = R(x), R(y)
    assert same_bits(a.to_degrees().angle, (x * 180.0) / PI)
    assert same_bits(D(x).to_radians().angle, (x * PI) / 180.0)
    for name, f in (("sin", math.sin), ("cos", math.cos), ("tan", math.tan)):
        assert same_bits(getattr(a, name)(), libm(f, x))
    for name, f in (("sec", math.cos), ("csc", math.sin), ("cot", math.tan)):
        assert same_bits(getattr(a, name)(), ieee_div(1.0, libm(f, x)))
    # Between two NaN operands the one passed on is not part of the result's contract.
    assert same_bits((a + b).angle, x + y) and same_bits((a - b).angle, x - y)
    assert same_bits((a * y).angle, x * y) and same_bits((a / y).angle, ieee_div(x, y))


def test_constants_are_fresh_objects():
    first = R.pi()
    first.angle = 7.0
    assert R.pi() is not R.pi() and R.pi() == R.pi() and R.pi().angle == PI


@pytest.mark.parametrize(
    "result, expected",
    [
        (R.zero, 0.0), (R.pi, PI), (R.two_pi, 6.283185307179586), (R.half_pi, 1.5707963267948966),
        (R.quarter_pi, 0.7853981633974483), (R.third_pi, 1.0471975511965976), (R.sixth_pi, 0.5235987755982988),
        (lambda: R.pi().to_degrees(), 180.0), (lambda: R.half_pi().to_degrees(), 90.0),
        (lambda: R.quarter_pi().to_degrees(), 45.0), (lambda: R.third_pi().to_degrees(), 59.99999999999999),
        (lambda: R.sixth_pi().to_degrees(), 29.999999999999996), (lambda: D(180).to_radians(), PI),
        (lambda: D(90).to_radians(), R.half_pi().angle), (lambda: D(60).to_radians(), R.third_pi().angle),
        (lambda: R.quarter_pi().tan(), 0.9999999999999999), (lambda: R.quarter_pi().cot(), 1.0000000000000002),
        (lambda: R.half_pi().cos(), 6.123233995736766e-17), (lambda: R.half_pi().sec(), 1.633123935319537e16),
        (lambda: R.half_pi().cot(), 6.123233995736766e-17), (lambda: R(1.0).cot(), 0.6420926159343306),
        (lambda: R.zero().csc(), math.inf), (lambda: (-R.zero()).csc(), -math.inf), (lambda: R.zero().cot(), math.inf),
        (lambda: R(0) / 0.0, math.nan), (lambda: R.pi() / 0.0, math.inf), (lambda: R(1) / 0, math.inf),
        (lambda: R.two_pi() + R.pi(), 9.42477796076938), (lambda: R(1) + R(2), 3.0), (lambda: -D(10), -10.0),
        (lambda: R(True), 1.0), (lambda: R(angle=2.5), 2.5),
    ],
)
def test_documented_values(result, expected):
    got = result()
    assert same_bits(got if isinstance(got, float) else got.angle, expected)


# -- Vec3d.angle_to: the cosine is clamped before acos --


def reference_angle_to(a, b):
    c = ieee_div(ref.dot(a, b), ref.magnitude(a) * ref.magnitude(b))
    return libm(math.acos, 1.0 if c > 1.0 else -1.0 if c < -1.0 else c)


@given(st.tuples(any_float, any_float, any_float), st.tuples(any_float, any_float, any_float))
def test_angle_to_matches_reference(a, b):
    result = Vec3d(*a).angle_to(Vec3d(*b))
    assert type(result) is R and same_bits(result.angle, reference_angle_to(a, b))


# Components whose squares neither underflow nor overflow.
ordinary = finite_float.filter(lambda x: x == 0.0 or abs(x) > 1e-100)


@given(st.tuples(ordinary, ordinary, ordinary).filter(any))
def test_parallel_vectors_never_give_nan(v):
    # Unclamped, rounding pushes about a quarter of these cosines past +-1.
    assert abs(Vec3d(*v).angle_to(Vec3d(*v) * 3).angle) < 1e-7
    assert abs(Vec3d(*v).angle_to(-Vec3d(*v)).angle - PI) < 1e-7


@pytest.mark.parametrize(
    "a, b, expected",
    [((1, 1, 1), (1, 1, 1), 0.0), ((1, 1, 1), (-1, -1, -1), PI), ((1, 0, 0), (0, 1, 0), 1.5707963267948966),
     ((1, 0, 0), (-1, 0, 0), PI), ((0, 0, 0), (1, 0, 0), math.nan), ((1, 2, 3), (0, 0, 0), math.nan)],
)
def test_angle_to_edges(a, b, expected):
    assert same_bits(Vec3d(*a).angle_to(Vec3d(*b)).angle, expected)


# -- Comparison and operator fall-backs --


def test_not_equal_is_the_negated_host_equality():
    nan = R(math.nan)
    assert nan != nan and not (nan == nan)
    assert R(0.0) == R(-0.0) and not (R(0.0) != R(-0.0))
    assert R(1) != D(1) and not (R(1) == D(1)) and R(1) != 1.0 and D(1) != None  # noqa: E711
    assert not (R(1) != EqualToAll())  # the reflected == answers
    with pytest.raises(ValueError, match="no equality"):
        R(1) != RaisingEquality()  # noqa: B015
    assert R(1).__add__(1.0) is NotImplemented and R(1).__mul__("2") is NotImplemented
    assert R(1).__eq__(D(1)) is NotImplemented and D(1).__lt__(1) is NotImplemented


@pytest.mark.parametrize(
    "expression",
    [lambda: R(1) + 1.0, lambda: R(1) + D(1), lambda: R(1) * R(1), lambda: 2 * R(1), lambda: 1 / R(1),
     lambda: D(1) + D(1), lambda: D(1) * 2, lambda: R(1) < D(1), lambda: D(1) >= 1.0, lambda: abs(R(1)),
     lambda: R(1) * RaisingFloat(), lambda: hash(R(1)), lambda: hash(D(1)), lambda: R.sin(5),
     lambda: D.to_radians(R(1))],
)
def test_foreign_operands_receivers_and_hash_end_in_host_type_error(expression):
    with pytest.raises(TypeError):
        expression()


def test_augmented_assignment_rebinds():
    a = R(1)
    b = a
    a += R(1)
    a *= 3
    assert a.angle == 6.0 and b.angle == 1.0


# -- Texts --


@pytest.mark.parametrize(
    "angle, text",
    [(R.pi(), "3.141592653589793 radians"), (R(1.0), "1 radians"), (R(3), "3 radians"),
     (-R.zero(), "-0 radians"), (R(math.nan), "NaN radians"), (D(90.0), "90°"), (D(-45.5), "-45.5°"),
     (D(math.inf), "inf°"), (-D(0), "-0°"), (R.pi().to_degrees(), "180°")],
)
def test_text_forms(angle, text):
    assert repr(angle) == str(angle) == format(angle, "") == text
    with pytest.raises(TypeError):
        format(angle, ".2f")


def test_text_signatures():
    owners = (R, D, R.pi, R.sin, D.to_radians, Vec3d.angle_to)
    assert [o.__text_signature__ for o in owners] == ["(angle)", "(angle)", "()", "($self)", "($self)", "($self, other)"]
    assert not any(o.__doc__ for o in owners)


# -- Errors --


@pytest.mark.parametrize(
    "call, message",
    [(lambda: R(), "AngleRadians.__new__() missing 1 required positional argument: 'angle'"),
     (lambda: D("1"), "argument 'angle': must be real number, not str"),
     (lambda: Vec3d(1, 0, 0).angle_to(1.0), "argument 'other': 'float' object is not an instance of 'Vec3d'")],
)
def test_argument_errors(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


def test_borrow_conflict_inside_an_operator_leaves_the_angle_intact():
    a = R(1.0)
    seen = []

    class Sneaky:
        def __float__(self):
            try:
                a.angle = 99.0  # the operator holds a shared borrow of `a` meanwhile
            except RuntimeError as error:
                seen.append(str(error))
            return 2.0

    assert (a * Sneaky()).angle == 2.0
    assert seen == ["Already borrowed"] and a.angle == 1.0
