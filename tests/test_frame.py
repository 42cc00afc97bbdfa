# The call frame as every class meets it: argument placement and conversion messages, the text
# form of floats, and the reprs built on it.

import math

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from helpers import Callback, Sequence, bits
from lumeric_py import AngleDegrees, AngleRadians, Quat, Vec3d, VecList, geometry

v, c = Vec3d(1, 2, 3), geometry.Circle(Vec3d(0, 0, 0), 1, Vec3d(0, 0, 1))


@pytest.mark.parametrize("call, error, message", [
    (lambda: Vec3d(1, 2), TypeError, "Vec3d.__new__() missing 1 required positional argument: 'z'"),
    (lambda: Vec3d(1), TypeError, "Vec3d.__new__() missing 2 required positional arguments: 'y' and 'z'"),
    (lambda: Quat(), TypeError, "Quat.__new__() missing 4 required positional arguments: 'w', 'i', 'j', and 'k'"),
    (lambda: Vec3d(1, 2, 3, 4), TypeError, "Vec3d.__new__() takes 3 positional arguments but 4 were given"),
    (lambda: v.dot(v, v), TypeError, "Vec3d.dot() takes 1 positional arguments but 2 were given"),
    (lambda: Vec3d(1, 2, 3, w=1), TypeError, "Vec3d.__new__() got an unexpected keyword argument 'w'"),
    (lambda: v.dot(v, other=v), TypeError, "Vec3d.dot() got multiple values for argument 'other'"),
    (lambda: v.distance_to_line(b=v), TypeError, "Vec3d.distance_to_line() missing 1 required positional argument: 'a'"),
    (lambda: Quat(1, "a", "b", 4), TypeError, "argument 'i': must be real number, not str"),  # the first bad one
    (lambda: v.dot(None), TypeError, "argument 'other': 'None' is not an instance of 'Vec3d'"),
    (lambda: Quat.from_axis_angle(v, AngleDegrees(1)), TypeError,
     "argument 'angle': 'AngleDegrees' object is not an instance of 'AngleRadians'"),
    (lambda: geometry.circle_circle(c, geometry.Plane.xy()), TypeError,
     "argument 'circle2': 'Plane' object is not an instance of 'Circle'"),
    (lambda: geometry.circle_point(c, v, 1), TypeError, "argument 'inner': 'int' object is not an instance of 'bool'"),
    (lambda: v[1.0], TypeError, "argument 'index': 'float' object cannot be interpreted as an integer"),
    (lambda: VecList("abc"), TypeError, "argument 'list': Can't extract `str` to `Vec`"),
    (lambda: VecList(5), TypeError, "argument 'list': 'int' object is not an instance of 'Sequence'"),
    (lambda: VecList([v, 1]), TypeError, "argument 'list': 'int' object is not an instance of 'Vec3d'"),
    (lambda: VecList(Sequence([TypeError("broken")])), TypeError, "argument 'list': broken"),
    (lambda: setattr(v, "y", "1"), TypeError, "argument 'value': must be real number, not str"),
    (lambda: delattr(v, "x"), AttributeError, "property has no deleter"),
    (lambda: v[3], IndexError, "Index out of bounds"),
    (lambda: VecList([v])[1], IndexError, "Index out of bounds"),
    # Errors other than TypeError pass through unwrapped, the host's own included.
    (lambda: VecList(Sequence([ValueError("broken")])), ValueError, "broken"),
    (lambda: AngleRadians(Callback(ValueError("no float"))), ValueError, "no float"),
    (lambda: v[Callback(LookupError("no index"))], LookupError, "no index"),
    (lambda: v[-1], OverflowError, None),
    (lambda: VecList([v]).collapse(2**64), OverflowError, None),
    (lambda: Vec3d(10**400, 0, 0), OverflowError, None),
])
def test_argument_errors(call, error, message):
    with pytest.raises(error) as info:
        call()
    assert type(info.value) is error and message in (None, str(info.value))
    wrapped = str(info.value).startswith("argument ")
    assert (type(info.value.__cause__) is TypeError) == wrapped and not str(info.value).startswith("argument '?")
    assert not wrapped or str(info.value).endswith(str(info.value.__cause__))


R, D = AngleRadians, AngleDegrees
QUARTER_TURN_Z = Quat.from_axis_angle(Vec3d(0, 0, 1), R.half_pi())


@pytest.mark.parametrize("value, text", [
    (Vec3d(1, -0.0, 0.1), "Vec3d(1, -0, 0.1)"),
    (Vec3d(1e-7, 1e21, math.nan), "Vec3d(0.0000001, 1000000000000000000000, NaN)"),
    (Vec3d(-math.nan, math.inf, -math.inf), "Vec3d(NaN, inf, -inf)"),
    (Vec3d(5e-324, 0, 0), "Vec3d(0." + "0" * 323 + "5, 0, 0)"),
    (Vec3d(1.7976931348623157e308, 0, 0), "Vec3d(17976931348623157" + "0" * 292 + ", 0, 0)"),
    (QUARTER_TURN_Z, "Quat(0.7071067811865476, -0, -0, -0.7071067811865475)"),
    (QUARTER_TURN_Z.to_axis_angle(), "(Vec3d(-0, -0, -1), 1.5707963267948966 radians)"),
    (R(3), "3 radians"), (-R.zero(), "-0 radians"), (R(math.nan), "NaN radians"),
    (D(-45.5), "-45.5°"), (D(math.inf), "inf°"), (R.pi().to_degrees(), "180°"),
    (VecList([]), "[]"), (VecList([Vec3d(1, 2, 3)]), "[Vec3d(1, 2, 3)]"),
    (VecList([Vec3d(1, 2, 3), Vec3d(4.5, -0.0, 6)]), "[Vec3d(1, 2, 3)\nVec3d(4.5, -0, 6)]"),
    # Long enough for the text to be made in pieces and joined.
    pytest.param(VecList([Vec3d(k, k / 7, -k * 0.1) for k in range(20_000)]),
                 "[" + "\n".join(repr(Vec3d(k, k / 7, -k * 0.1)) for k in range(20_000)) + "]", id="long list"),
])
def test_reprs(value, text):
    assert repr(value) == str(value) == text
    if isinstance(value, (R, D)):
        assert format(value, "") == text
        with pytest.raises(TypeError):
            format(value, ".2f")


def _digits(text):
    return len(text.replace("-", "").replace(".", "").strip("0"))


@settings(max_examples=3000, deadline=None)
@given(st.floats(allow_nan=False, allow_infinity=False, allow_subnormal=True))
def test_float_text_round_trips_with_shortest_digits(x):
    text = repr(Vec3d(x, 0, 0))[len("Vec3d(") : -len(", 0, 0)")]
    assert "e" not in text and not text.endswith(".0") and bits(float(text)) == bits(x)
    assert _digits(text) <= max(_digits(repr(abs(x)).split("e")[0]), 1)  # no more digits than Python's repr
