# Every refusal of the module (tests/refusals.py): the exception and its exact text, a wrapped
# argument error chained to the conversion's own, the internal failure outside Exception, and
# afterwards every receiver as it was and no borrow left.

import pickle

import pytest

from helpers import touch_exclusive
from refusals import RECEIVERS, REFUSALS


def label(row):
    return f"{row[2].format(*row[3]) if row[2] else row[1].__name__}"[:70]


@pytest.mark.parametrize("call, error, template, values", [
    pytest.param(*row, id=label(row), marks=[pytest.mark.no_leak_check] if getattr(row[0], "numpy", False) else [])
    for row in REFUSALS])
def test_refusal(call, error, template, values):
    before = [pickle.dumps(r) for r in RECEIVERS]
    with pytest.raises(BaseException) as info:
        call()
    got = info.value
    if error == "PanicException":  # the internal failure is no Exception, so `except Exception` lets it through
        assert (type(got).__name__, type(got).__module__, type(got).__bases__) == (error, "pyo3_runtime", (BaseException,))
    else:
        assert type(got) is error
    assert template is None or str(got) == template.format(*values)
    # A conversion's TypeError, prefixed with the argument or row it was about, keeps the original as its cause.
    assert type(got.__cause__) is TypeError or not str(got).startswith("argument '")
    assert got.__cause__ is None or str(got).endswith(str(got.__cause__))
    assert [pickle.dumps(r) for r in RECEIVERS] == before
    for receiver in RECEIVERS:
        touch_exclusive(receiver)
