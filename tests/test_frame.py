"""The call frame: argument placement, conversions, error wrapping and the float text form."""

import math
import struct

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from helpers import RaisingFloat, RaisingIndex
from lumeric_py import Vec3d

v = Vec3d(1, 2, 3)


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: Vec3d(1, 2), "Vec3d.__new__() missing 1 required positional argument: 'z'"),
        (lambda: Vec3d(1), "Vec3d.__new__() missing 2 required positional arguments: 'y' and 'z'"),
        (lambda: Vec3d(), "Vec3d.__new__() missing 3 required positional arguments: 'x', 'y', and 'z'"),
        (lambda: Vec3d(1, 2, 3, 4), "Vec3d.__new__() takes 3 positional arguments but 4 were given"),
        (lambda: v.dot(v, v), "Vec3d.dot() takes 1 positional arguments but 2 were given"),
        (lambda: v.dot(), "Vec3d.dot() missing 1 required positional argument: 'other'"),
        (lambda: Vec3d(1, 2, 3, w=1), "Vec3d.__new__() got an unexpected keyword argument 'w'"),
        (lambda: Vec3d(1, y=2, x=3, z=0), "Vec3d.__new__() got multiple values for argument 'x'"),
        (lambda: v.dot(v, other=v), "Vec3d.dot() got multiple values for argument 'other'"),
        (lambda: v.distance_to_line(b=v), "Vec3d.distance_to_line() missing 1 required positional argument: 'a'"),
        (lambda: Vec3d.new_from_to(v), "Vec3d.new_from_to() missing 1 required positional argument: 'to'"),
        (lambda: v.dot(other=v, extra=1), "Vec3d.dot() got an unexpected keyword argument 'extra'"),
    ],
)
def test_argument_placement_errors(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


def test_keywords_work_like_positions():
    a, b, p = Vec3d(0, 0, 0), Vec3d(1, 0, 0), Vec3d(3, 4, 0)
    assert p.distance_to_line(b=b, a=a) == p.distance_to_line(a, b)
    assert Vec3d(z=3, x=1, y=2).to_array() == [1.0, 2.0, 3.0]
    assert Vec3d.new_from_to(**{"from": a, "to": b}).to_array() == [1.0, 0.0, 0.0]


@pytest.mark.parametrize(
    "call, prefix, cause_type",
    [
        (lambda: Vec3d(1, 2, "3"), "argument 'z': must be real number, not str", TypeError),
        (lambda: Vec3d(None, 2, 3), "argument 'x': must be real number, not NoneType", TypeError),
        (lambda: v.dot(3), "argument 'other': 'int' object is not an instance of 'Vec3d'", TypeError),
        (lambda: v.dot(None), "argument 'other': 'None' is not an instance of 'Vec3d'", TypeError),
        (lambda: v.cross([1, 2, 3]), "argument 'other': 'list' object is not an instance of 'Vec3d'", TypeError),
        (lambda: v[1.0], "argument 'index': 'float' object cannot be interpreted as an integer", TypeError),
    ],
)
def test_conversion_errors_are_wrapped_with_cause(call, prefix, cause_type):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == prefix
    assert isinstance(info.value.__cause__, cause_type)
    assert prefix.endswith(str(info.value.__cause__))


@pytest.mark.parametrize(
    "call, error",
    [
        (lambda: Vec3d(RaisingFloat(), 0, 0), ValueError),  # not a TypeError: passes through unwrapped
        (lambda: v[RaisingIndex()], ValueError),
        (lambda: v[-1], OverflowError),
        (lambda: v[2**64], OverflowError),
        (lambda: Vec3d(10**400, 0, 0), OverflowError),
    ],
)
def test_non_type_errors_pass_through_unwrapped(call, error):
    with pytest.raises(error) as info:
        call()
    assert not str(info.value).startswith("argument")


def test_float_conversion_accepts_numbers():
    class Floaty:
        def __float__(self):
            return 2.5

    class Indexy:
        def __index__(self):
            return 7

    assert Vec3d(True, Floaty(), Indexy()).to_array() == [1.0, 2.5, 7.0]
    assert Vec3d(float("nan"), float("inf"), -0.0).to_array()[1:] == [math.inf, -0.0]
    assert v[True] == 2.0


@pytest.mark.parametrize(
    "value, text",
    [
        (1.0, "1"),
        (-0.0, "-0"),
        (0.0, "0"),
        (0.1, "0.1"),
        (1e-7, "0.0000001"),
        (1e21, "1000000000000000000000"),
        (123.456, "123.456"),
        (0.30000000000000004, "0.30000000000000004"),
        (float("nan"), "NaN"),
        (-float("nan"), "NaN"),
        (float("inf"), "inf"),
        (-float("inf"), "-inf"),
        (5e-324, "0." + "0" * 323 + "5"),
        (1.7976931348623157e308, "17976931348623157" + "0" * 292),
    ],
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
    assert struct.pack("<d", float(text)) == struct.pack("<d", x)
    # No more significant digits than Python's own shortest repr.
    mantissa = repr(abs(x)).split("e")[0]
    assert _digits(text) <= max(_digits(mantissa), 1)
