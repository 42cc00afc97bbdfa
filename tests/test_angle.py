"""AngleRadians, AngleDegrees and Vec3d.angle_to: results, comparisons, texts and errors."""

import math
import operator

import pytest
from hypothesis import given
from hypothesis import strategies as st

from helpers import RaisingFloat, any_float, bits, finite_float, ieee_div, libm, same_bits, same_or_nan
from lumeric_py import AngleDegrees, AngleRadians, Vec3d

R, D = AngleRadians, AngleDegrees
PI = 3.141592653589793


# -- Values, bit for bit against the same formulas in Python floats --


@given(any_float)
def test_angle_is_stored_unchanged_and_setter_replaces_it(x):
    for cls in (R, D):
        a = cls(x)
        assert same_bits(a.angle, x)
        a.angle = -x
        assert same_bits(a.angle, -x)
        assert same_bits((-cls(x)).angle, -x)


@given(any_float)
def test_conversions_and_trigonometry(x):
    a = R(x)
    assert same_bits(a.to_degrees().angle, (x * 180.0) / PI)
    assert same_bits(D(x).to_radians().angle, (x * PI) / 180.0)
    for name, f in (("sin", math.sin), ("cos", math.cos), ("tan", math.tan)):
        assert same_or_nan(getattr(a, name)(), libm(f, x))
    for name, f in (("sec", math.cos), ("csc", math.sin), ("cot", math.tan)):
        assert same_or_nan(getattr(a, name)(), ieee_div(1.0, libm(f, x)))


@given(any_float, any_float)
def test_arithmetic(x, y):
    a, b = R(x), R(y)
    # Between two NaN operands the one passed on is not part of the result's contract.
    assert same_or_nan((a + b).angle, x + y)
    assert same_or_nan((a - b).angle, x - y)
    assert same_or_nan((a * y).angle, x * y)
    assert same_or_nan((a / y).angle, ieee_div(x, y))


@given(any_float, any_float)
def test_comparisons_are_exact(x, y):
    for cls in (R, D):
        a, b = cls(x), cls(y)
        for op in (operator.lt, operator.le, operator.eq, operator.ne, operator.gt, operator.ge):
            assert op(a, b) is op(x, y)


@pytest.mark.parametrize(
    "angle, degrees",
    [(R.pi(), 180.0), (R.half_pi(), 90.0), (R.quarter_pi(), 45.0), (R.third_pi(), 59.99999999999999),
     (R.sixth_pi(), 29.999999999999996), (R(0.1), 5.729577951308232)],
)
def test_to_degrees_multiplies_before_dividing(angle, degrees):
    assert same_bits(angle.to_degrees().angle, degrees)


@pytest.mark.parametrize(
    "name, pattern",
    [("zero", "0000000000000000"), ("pi", "400921FB54442D18"), ("two_pi", "401921FB54442D18"),
     ("half_pi", "3FF921FB54442D18"), ("quarter_pi", "3FE921FB54442D18"),
     ("third_pi", "3FF0C152382D7365"), ("sixth_pi", "3FE0C152382D7365")],
)
def test_constants_are_fresh_objects_with_exact_bits(name, pattern):
    make = getattr(R, name)
    first, second = make(), make()
    assert bits(first.angle) == bytes.fromhex(pattern)[::-1]
    assert first is not second and first == second
    first.angle = 7.0
    assert bits(make().angle) == bytes.fromhex(pattern)[::-1]


def test_edge_values():
    assert same_bits(R.quarter_pi().tan(), 0.9999999999999999)
    assert same_bits(R.quarter_pi().cot(), 1.0000000000000002)
    assert same_bits(R.half_pi().sec(), 1.633123935319537e16)
    assert R.zero().csc() == math.inf and (-R.zero()).csc() == -math.inf
    assert math.isnan((R(0) / 0.0).angle) and (R(1) / 0).angle == math.inf
    assert same_bits((R.two_pi() + R.pi()).angle, 9.42477796076938)
    assert D(720).angle == 720.0
    assert R(True).angle == 1.0 and R(angle=2.5).angle == 2.5


# -- Vec3d.angle_to: the cosine is clamped before acos --


def reference_angle_to(a, b):
    c = (a[0] * b[0] + a[1] * b[1]) + a[2] * b[2]
    ma = math.sqrt((a[0] * a[0] + a[1] * a[1]) + a[2] * a[2])
    mb = math.sqrt((b[0] * b[0] + b[1] * b[1]) + b[2] * b[2])
    cosine = ieee_div(c, ma * mb)
    if cosine > 1.0:
        cosine = 1.0
    elif cosine < -1.0:
        cosine = -1.0
    return libm(math.acos, cosine)


@given(st.tuples(any_float, any_float, any_float), st.tuples(any_float, any_float, any_float))
def test_angle_to_matches_reference(a, b):
    result = Vec3d(*a).angle_to(Vec3d(*b))
    assert type(result) is R
    assert same_or_nan(result.angle, reference_angle_to(a, b))


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
    assert same_or_nan(Vec3d(*a).angle_to(Vec3d(*b)).angle, expected)


# -- Comparison and operator fall-backs --


class EqualToAll:
    def __eq__(self, other):
        return True

    __hash__ = None


class Raising:
    def __eq__(self, other):
        raise ValueError("no equality")


def test_not_equal_is_the_negated_host_equality():
    nan = R(math.nan)
    assert nan != nan and not (nan == nan)
    assert R(0.0) == R(-0.0) and not (R(0.0) != R(-0.0))
    assert R(1) != R(1.0000000000000002)
    assert R(1) != D(1) and not (R(1) == D(1))
    assert R(1) != 1.0 and D(1) != None  # noqa: E711
    assert not (R(1) != EqualToAll())  # the reflected == answers
    with pytest.raises(ValueError, match="no equality"):
        R(1) != Raising()  # noqa: B015


@pytest.mark.parametrize(
    "expression",
    [lambda: R(1) + 1.0, lambda: R(1) + D(1), lambda: R(1) * R(1), lambda: 2 * R(1), lambda: R(1) - 1,
     lambda: 1 / R(1), lambda: R(1) / R(1), lambda: D(1) + D(1), lambda: D(1) * 2, lambda: R(1) < D(1),
     lambda: R(1) < 2, lambda: D(1) >= 1.0, lambda: abs(R(1)), lambda: +R(1), lambda: R(1) * RaisingFloat()],
)
def test_foreign_operands_end_in_host_type_error(expression):
    with pytest.raises(TypeError):
        expression()


def test_slots_answer_not_implemented():
    assert R(1).__add__(1.0) is NotImplemented
    assert R(1).__mul__("2") is NotImplemented
    assert R(1).__eq__(D(1)) is NotImplemented
    assert D(1).__lt__(1) is NotImplemented


def test_augmented_assignment_rebinds():
    a = R(1)
    b = a
    a += R(1)
    a *= 3
    assert a.angle == 6.0 and b.angle == 1.0


def test_unhashable():
    for a in (R(1), D(1)):
        assert type(a).__hash__ is None
        with pytest.raises(TypeError, match="unhashable"):
            hash(a)
        with pytest.raises(TypeError):
            {a}  # noqa: B018


# -- Texts --


@pytest.mark.parametrize(
    "angle, text",
    [(R.pi(), "3.141592653589793 radians"), (R(1.0), "1 radians"), (R(3), "3 radians"),
     (-R.zero(), "-0 radians"), (R(math.nan), "NaN radians"), (R(1e-7), "0.0000001 radians"),
     (D(90.0), "90°"), (D(-45.5), "-45.5°"), (D(math.inf), "inf°"), (-D(0), "-0°"),
     (R.pi().to_degrees(), "180°")],
)
def test_text_forms(angle, text):
    assert repr(angle) == str(angle) == format(angle, "") == f"{angle}" == text


def test_no_format_specifications():
    with pytest.raises(TypeError):
        format(R.pi(), ".2f")


@pytest.mark.parametrize(
    "owner, signature",
    [(R, "(angle)"), (D, "(angle)"), (R.pi, "()"), (R.zero, "()"), (R.sin, "($self)"),
     (R.to_degrees, "($self)"), (D.to_radians, "($self)"), (Vec3d.angle_to, "($self, other)")],
)
def test_text_signatures(owner, signature):
    assert owner.__text_signature__ == signature
    assert not owner.__doc__


# -- Errors --


@pytest.mark.parametrize(
    "call, message",
    [(lambda: R(), "AngleRadians.__new__() missing 1 required positional argument: 'angle'"),
     (lambda: D(1, 2), "AngleDegrees.__new__() takes 1 positional arguments but 2 were given"),
     (lambda: R(degrees=1), "AngleRadians.__new__() got an unexpected keyword argument 'degrees'"),
     (lambda: R(1, angle=1), "AngleRadians.__new__() got multiple values for argument 'angle'"),
     (lambda: Vec3d(1, 0, 0).angle_to(1.0), "argument 'other': 'float' object is not an instance of 'Vec3d'"),
     (lambda: Vec3d(1, 0, 0).angle_to(None), "argument 'other': 'None' is not an instance of 'Vec3d'")],
)
def test_argument_errors(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


@pytest.mark.parametrize("cls", [R, D])
def test_conversion_errors_name_their_argument(cls):
    with pytest.raises(TypeError, match=r"^argument 'angle': ") as info:
        cls("1")
    assert isinstance(info.value.__cause__, TypeError)
    with pytest.raises(ValueError, match="no float here"):
        cls(RaisingFloat())  # other exception types pass through unwrapped
    a = cls(5.0)
    with pytest.raises(TypeError, match=r"^argument 'value': "):
        a.angle = "x"
    with pytest.raises(AttributeError, match="^property has no deleter$"):
        del a.angle
    assert a.angle == 5.0


def test_foreign_receiver_is_refused():
    with pytest.raises(TypeError):
        R.sin(5)
    with pytest.raises(TypeError):
        D.to_radians(R(1))


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
