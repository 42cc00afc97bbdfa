# The call frame as every class meets it: argument placement and conversion messages, the text
# form of floats, and the reprs built on it.

import math

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from helpers import bits
from lumeric_py import AngleDegrees, AngleRadians, Quat, Vec3d, VecList

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
