"""Helpers shared by the Python test modules."""

import math
import struct

from hypothesis import strategies as st


def bits(x: float) -> bytes:
    """The exact bit pattern of a float, so that -0.0, NaN payloads and rounding all count."""
    return struct.pack("<d", x)


def _same(x: float, y: float) -> bool:
    # A NaN's sign and payload depend on the processor, not on the formula: any NaN matches any NaN.
    if math.isnan(x) or math.isnan(y):
        return math.isnan(x) and math.isnan(y)
    return bits(x) == bits(y)


def same_bits(a, b) -> bool:
    """Bitwise equality of two floats or of two equally long sequences of floats."""
    if isinstance(a, float) or isinstance(b, float):
        return _same(a, b)
    a, b = list(a), list(b)
    return len(a) == len(b) and all(_same(x, y) for x, y in zip(a, b))


# Every double, NaN, infinities, subnormals and signed zeros included.
any_float = st.floats(allow_nan=True, allow_infinity=True, allow_subnormal=True)
# Moderate finite values, for properties that need ordinary inputs.
finite_float = st.floats(min_value=-1e6, max_value=1e6, allow_nan=False, allow_infinity=False)


class RaisingFloat:
    """An object whose __float__ raises, to probe conversion error paths."""

    def __float__(self):
        raise ValueError("no float here")


class RaisingIndex:
    def __index__(self):
        raise ValueError("no index here")


class EqualToAll:
    """Claims equality and inequality with anything: shows whose answer a comparison took."""

    def __eq__(self, other):
        return True

    def __ne__(self, other):
        return True


class RaisingEquality:
    def __eq__(self, other):
        raise ValueError("no equality")


def ieee_div(a: float, b: float) -> float:
    """a / b with IEEE results where Python would raise ZeroDivisionError."""
    if b != 0.0:
        return a / b
    if a != a or a == 0.0:
        return math.nan
    return math.copysign(math.inf, a) * math.copysign(1.0, b)


def libm(f, x: float) -> float:
    """A math-module function with the C library's NaN where Python raises a domain error."""
    try:
        return f(x)
    except ValueError:
        return math.nan
