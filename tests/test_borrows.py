# Python code running while a call holds its borrows: an argument's __float__ or __index__ that
# reads or writes the object being called. Reading is fine; writing meets the borrow error (or, in
# an operator, NotImplemented), the object keeps its value and every borrow is released afterwards.
# Setters convert their value before they borrow, so a conversion that writes the object succeeds.

import pytest

from helpers import CLASSES, ENTRIES, Callback, entries, sample, snapshot, touch_exclusive

NUMBERS = ("float", "int")
# __buffer__'s flags are converted by the host before the slot borrows anything, as a setter's value is.
# A class with no way to write it (KDTree) has no borrow to meet.
CALLS = [e for e in ENTRIES if e.kind == "method" and e.owner in CLASSES and any(t in NUMBERS for _, t in e.params)
         and e.name != "__buffer__" and (entries(e.owner, "setter") or hasattr(CLASSES[e.owner], "extend"))]
SETTERS = [e for e in ENTRIES if e.kind == "setter" and e.params[0][1] in NUMBERS]


def arguments(e, action):
    return [Callback(action) if t in NUMBERS else sample(t) for _, t in e.params]


@pytest.mark.parametrize("e", CALLS, ids=lambda e: f"{e.owner}.{e.name}")
def test_writing_the_receiver_during_a_call(e):
    value = sample(e.owner)
    before = snapshot(value)
    call = getattr(value, e.name)
    if e.name in ("__mul__", "__rmul__", "__truediv__"):
        assert call(*arguments(e, lambda: touch_exclusive(value))) is NotImplemented
    else:
        with pytest.raises(RuntimeError, match="^Already borrowed$"):
            call(*arguments(e, lambda: touch_exclusive(value)))
    assert snapshot(value) == before
    touch_exclusive(value)  # nothing is left borrowed
    assert call(*arguments(e, lambda: snapshot(value))) is not NotImplemented  # reading is allowed


@pytest.mark.parametrize("e", SETTERS, ids=lambda e: f"{e.owner}.{e.name}")
def test_setters_convert_before_they_borrow(e):
    value = sample(e.owner)
    setattr(value, e.name, Callback(lambda: setattr(value, e.name, 7.0), 5))
    assert getattr(value, e.name) == 5.0
