"""The call frame: argument placement, conversions, error wrapping and the float text form."""

import math

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from helpers import RaisingFloat, RaisingIndex, bits
from lumeric_py import Vec3d

v = Vec3d(1, 2, 3)


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda: Vec3d(1, 2), TypeError, "Vec3d.__new__() missing 1 required positional argument: 'z'"),
        (lambda: Vec3d(1), TypeError, "Vec3d.__new__() missing 2 required positional arguments: 'y' and 'z'"),
        (lambda: Vec3d(), TypeError, "Vec3d.__new__() missing 3 required positional arguments: 'x', 'y', and 'z'"),
        (lambda: Vec3d(1, 2, 3, 4), TypeError, "Vec3d.__new__() takes 3 positional arguments but 4 were given"),
        (lambda: v.dot(v, v), TypeError, "Vec3d.dot() takes 1 positional arguments but 2 were given"),
        (lambda: Vec3d(1, 2, 3, w=1), TypeError, "Vec3d.__new__() got an unexpected keyword argument 'w'"),
        (lambda: Vec3d(1, y=2, x=3, z=0), TypeError, "Vec3d.__new__() got multiple values for argument 'x'"),
        (lambda: v.dot(v, other=v), TypeError, "Vec3d.dot() got multiple values for argument 'other'"),
        (lambda: v.distance_to_line(b=v), TypeError,
         "Vec3d.distance_to_line() missing 1 required positional argument: 'a'"),
        (lambda: Vec3d.new_from_to(v), TypeError, "Vec3d.new_from_to() missing 1 required positional argument: 'to'"),
        # A TypeError from a conversion is wrapped with the argument's name; others pass through.
        (lambda: Vec3d(1, 2, "3"), TypeError, "argument 'z': must be real number, not str"),
        (lambda: v.dot(3), TypeError, "argument 'other': 'int' object is not an instance of 'Vec3d'"),
        (lambda: v.dot(None), TypeError, "argument 'other': 'None' is not an instance of 'Vec3d'"),
        (lambda: v[1.0], TypeError, "argument 'index': 'float' object cannot be interpreted as an integer"),
        (lambda: Vec3d(RaisingFloat(), 0, 0), ValueError, "no float here"),
        (lambda: v[RaisingIndex()], ValueError, "no index here"),
        (lambda: v[-1], OverflowError, None),
        (lambda: v[2**64], OverflowError, None),
        (lambda: Vec3d(10**400, 0, 0), OverflowError, None),
    ],
)
def test_argument_errors(call, error, message):
    with pytest.raises(error) as info:
        call()
    assert message is None or str(info.value) == message
    if str(info.value).startswith("argument "):
        assert type(info.value.__cause__) is TypeError and message.endswith(str(info.value.__cause__))
    else:
        assert info.value.__cause__ is None


def test_keywords_work_like_positions():
    a, b, p = Vec3d(0, 0, 0), Vec3d(1, 0, 0), Vec3d(3, 4, 0)
    assert p.distance_to_line(b=b, a=a) == p.distance_to_line(a, b)
    assert Vec3d(z=3, x=1, y=2).to_array() == [1.0, 2.0, 3.0]
    assert Vec3d.new_from_to(**{"from": a, "to": b}).to_array() == [1.0, 0.0, 0.0]


def test_float_conversion_accepts_numbers():
    floaty = type("Floaty", (), {"__float__": lambda self: 2.5})()
    indexy = type("Indexy", (), {"__index__": lambda self: 7})()
    assert Vec3d(True, floaty, indexy).to_array() == [1.0, 2.5, 7.0]


@pytest.mark.parametrize(
    "value, text",
    [(1.0, "1"), (-0.0, "-0"), (0.1, "0.1"), (1e-7, "0.0000001"), (1e21, "1000000000000000000000"),
     (math.nan, "NaN"), (-math.nan, "NaN"), (math.inf, "inf"), (-math.inf, "-inf"),
     (5e-324, "0." + "0" * 323 + "5"), (1.7976931348623157e308, "17976931348623157" + "0" * 292)],
)
def test_float_text_form(value, text):
    assert repr(Vec3d(value, 0, 0)) == f"Vec3d({text}, 0, 0)"


def _digits(text):
    return len(text.replace("-", "").replace(".", "").strip("0"))


@settings(max_examples=3000, deadline=None)
@given(st.floats(allow_nan=False, allow_infinity=False, allow_subnormal=True))
def test_float_text_round_trips_with_shortest_digits(x):
    text = repr(Vec3d(x, 0, 0))[len("Vec3d(") : -len(", 0, 0)")]
    assert "e" not in text and not text.endswith(".0")
    assert bits(float(text)) == bits(x)
    # No more significant digits than Python's own shortest repr.
    mantissa = repr(abs(x)).split("e")[0]
    assert _digits(text) <= max(_digits(mantissa), 1)
