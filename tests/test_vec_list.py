"""VecList as a container: construction, sequence protocol, snapshot iteration, conversions, text."""

import math

import pytest

import lumeric_py
from helpers import same_bits
from lumeric_py import Vec3d, VecList

a, b, c = Vec3d(1, 2, 3), Vec3d(4.5, 5, 6), Vec3d(-0.0, math.inf, math.nan)


def flat(lst):
    return [x for row in lst.to_array() for x in row]


class Seq:
    """A user-defined sequence: only __len__ and __getitem__, either of which may fail."""

    def __init__(self, items, length_error=None, item_error=None):
        self.items, self.length_error, self.item_error = items, length_error, item_error

    def __len__(self):
        if self.length_error:
            raise self.length_error
        return len(self.items)

    def __getitem__(self, i):
        if self.item_error and i == 1:
            raise self.item_error
        return self.items[i]


@pytest.mark.parametrize(
    "source",
    [[a, b, c], (a, b, c), Seq([a, b, c]), Seq([a, b, c], length_error=ValueError)],
    ids=["list", "tuple", "user sequence", "length fails"],
)
def test_construction_from_any_sequence(source):
    lst = VecList(list=source)
    assert same_bits(flat(lst), a.to_array() + b.to_array() + c.to_array())
    assert all(type(v) is Vec3d for v in lst.list) and all(type(row) is list for row in lst.to_array())


def test_empty_lists_and_independent_copies():
    assert len(VecList([])) == len(VecList(())) == len(VecList.empty()) == 0
    assert VecList.empty() is not VecList.empty() and VecList.empty().to_array() == [] == VecList.empty().list
    original = VecList([a, b])
    copy = VecList(original)
    copy.append(c)
    assert len(original) == 2 and len(copy) == 3 and flat(copy)[:6] == flat(original)


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda: VecList("abc"), TypeError, "argument 'list': Can't extract `str` to `Vec`"),
        (lambda: VecList(""), TypeError, "argument 'list': Can't extract `str` to `Vec`"),
        (lambda: VecList(5), TypeError, "argument 'list': 'int' object is not an instance of 'Sequence'"),
        (lambda: VecList({1: a}), TypeError, "argument 'list': 'dict' object is not an instance of 'Sequence'"),
        (lambda: VecList([a, 1]), TypeError, "argument 'list': 'int' object is not an instance of 'Vec3d'"),
        (lambda: VecList(Seq([a, b], item_error=ValueError("broken"))), ValueError, "broken"),  # passed on unchanged
        (lambda: VecList(Seq([a, b], item_error=TypeError("broken"))), TypeError, "argument 'list': broken"),
        (lambda: VecList(), TypeError, "VecList.__new__() missing 1 required positional argument: 'list'"),
        (lambda: VecList.empty().append(), TypeError, "VecList.append() missing 1 required positional argument: 'vec'"),
        (lambda: VecList.empty().extend(a), TypeError, "argument 'other': 'Vec3d' object is not an instance of 'VecList'"),
        (lambda: VecList([a])[3], IndexError, "Index out of bounds"),
        (lambda: VecList([a])[1.0], TypeError, "argument 'index': 'float' object cannot be interpreted as an integer"),
    ],
)
def test_errors(call, error, message):
    with pytest.raises(error) as info:
        call()
    assert str(info.value) == message


def test_elements_go_in_and_out_by_copy():
    v = Vec3d(1, 2, 3)
    lst = VecList([v])
    lst.append(v)
    v.x = 100
    lst.list[0].x = 9.0
    lst[0].x = 9.0
    assert flat(lst) == [1.0, 2.0, 3.0] * 2 and lst[0] is not lst[0]


def test_append_and_extend():
    lst = VecList([a])
    assert lst.append(b) is None and lst.extend(other=VecList([c, a])) is None
    assert same_bits(flat(lst), sum((v.to_array() for v in (a, b, c, a)), []))
    lst.extend(VecList(lst.list))
    lst.extend(VecList.empty())
    assert len(lst) == 8
    with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
        lst.extend(lst)
    lst.append(c)  # every borrow was released
    assert len(lst) == 9


def test_sequence_protocol_and_refused_changes():
    lst = VecList([a, b, c])
    assert same_bits(lst[2].to_array(), c.to_array()) and lst[True].to_array() == b.to_array()
    assert [v.x for v in reversed(VecList([a, b, Vec3d(7, 8, 9)]))] == [7.0, 4.5, 1.0]
    assert Vec3d(4.5, 5, 6 + 1e-16) in lst and Vec3d(4.5, 5, 7) not in lst
    first, _, last = lst
    assert (first.x, last.x) == (1.0, -0.0) and bool(VecList.empty()) is False and bool(lst) is True
    for index in (-1, 2**64):
        with pytest.raises(OverflowError) as info:
            lst[index]
        assert not str(info.value).startswith("argument")
    for refused, error in [("lst[0] = b", TypeError), ("del lst[0]", TypeError),
                           ("lst.list = []", AttributeError), ("del lst.list", AttributeError)]:
        with pytest.raises(error):
            exec(refused)


def test_iteration_is_over_a_snapshot():
    lst = VecList([a, b])
    it = iter(lst)
    assert iter(it) is it
    lst.append(c)
    first = next(it)
    first.x = 50  # a new object, not a view of the snapshot
    assert first is not lst[0] and next(it).to_array() == b.to_array()
    for _ in range(3):
        with pytest.raises(StopIteration):
            next(it)
    assert len(list(lst)) == 3 and list(iter(VecList.empty())) == []
    it_type = type(it)
    assert it_type.__name__ == "VecListIterator" and it_type.__module__ == "builtins"
    assert not hasattr(lumeric_py, "VecListIterator") and "VecListIterator" not in lumeric_py.__all__
    for refused in (lambda: it_type(), lambda: type("Sub", (it_type,), {})):
        with pytest.raises(TypeError):
            refused()


@pytest.mark.parametrize(
    "items, text",
    [
        ([], "[]"),
        ([a], "[Vec3d(1, 2, 3)]"),
        ([a, b], "[Vec3d(1, 2, 3)\nVec3d(4.5, 5, 6)]"),
        ([c, Vec3d(1e21, 1e-7, -math.inf)], "[Vec3d(-0, inf, NaN)\nVec3d(1000000000000000000000, 0.0000001, -inf)]"),
        ([Vec3d(k, k / 7, -k * 0.1) for k in range(20_000)],
         "[" + "\n".join(repr(Vec3d(k, k / 7, -k * 0.1)) for k in range(20_000)) + "]"),
    ],
    ids=["empty", "one", "two", "specials", "long"],
)
def test_repr(items, text):
    lst = VecList(items)
    assert repr(lst) == text and str(lst) == text


def test_class_properties():
    assert lumeric_py.__all__.index("VecList") == lumeric_py.__all__.index("Vec3d") - 1
    assert VecList.__module__ == "builtins" and VecList.__qualname__ == "VecList"
    owners = (VecList, VecList.extend, VecList.empty, VecList.minimum_distance_to)
    assert [o.__text_signature__ for o in owners] == ["(list)", "($self, other)", "()", "($self, other, stride)"]
