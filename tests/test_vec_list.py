"""VecList as a container: construction, sequence protocol, snapshot iteration, conversions, text."""

import math

import pytest

import lumeric_py
from helpers import RaisingIndex, same_bits
from lumeric_py import Vec3d, VecList

a, b, c = Vec3d(1, 2, 3), Vec3d(4.5, 5, 6), Vec3d(-0.0, math.inf, math.nan)


def coords(lst):
    return [v.to_array() for v in lst.list]


class Seq:
    """A user-defined sequence: only __len__ and __getitem__."""

    def __init__(self, items, length_error=None):
        self.items, self.length_error = items, length_error

    def __len__(self):
        if self.length_error:
            raise self.length_error
        return len(self.items)

    def __getitem__(self, i):
        return self.items[i]


class FailingSeq(Seq):
    def __init__(self, error):
        super().__init__([a, b])
        self.error = error

    def __getitem__(self, i):
        if i == 1:
            raise self.error
        return self.items[i]


# -- Construction --


@pytest.mark.parametrize(
    "source",
    [[a, b, c], (a, b, c), Seq([a, b, c]), Seq([a, b, c], length_error=ValueError("no length"))],
    ids=["list", "tuple", "user sequence", "length fails"],
)
def test_construction_from_any_sequence(source):
    assert same_bits(sum(coords(VecList(source)), []), a.to_array() + b.to_array() + c.to_array())


def test_construction_by_keyword_and_empty():
    assert len(VecList(list=[a])) == 1
    assert len(VecList([])) == len(VecList(())) == len(VecList.empty()) == 0
    assert VecList.empty() is not VecList.empty()


def test_copy_of_a_vec_list_is_independent():
    original = VecList([a, b])
    copy = VecList(original)
    copy.append(c)
    assert len(original) == 2 and len(copy) == 3
    assert coords(copy)[:2] == coords(original)


@pytest.mark.parametrize(
    "source, error, message",
    [
        ("abc", TypeError, "argument 'list': Can't extract `str` to `Vec`"),
        ("", TypeError, "argument 'list': Can't extract `str` to `Vec`"),
        (5, TypeError, "argument 'list': 'int' object is not an instance of 'Sequence'"),
        (None, TypeError, "argument 'list': 'None' is not an instance of 'Sequence'"),
        ({1: a}, TypeError, "argument 'list': 'dict' object is not an instance of 'Sequence'"),
        ([a, 1], TypeError, "argument 'list': 'int' object is not an instance of 'Vec3d'"),
        ([a, None], TypeError, "argument 'list': 'None' is not an instance of 'Vec3d'"),
        ((a, (1, 2, 3)), TypeError, "argument 'list': 'tuple' object is not an instance of 'Vec3d'"),
        (FailingSeq(ValueError("broken")), ValueError, "broken"),  # passed on unchanged
        (FailingSeq(TypeError("broken")), TypeError, "argument 'list': broken"),
    ],
)
def test_construction_errors(source, error, message):
    with pytest.raises(error) as info:
        VecList(source)
    assert str(info.value) == message


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: VecList(), "VecList.__new__() missing 1 required positional argument: 'list'"),
        (lambda: VecList([], []), "VecList.__new__() takes 1 positional arguments but 2 were given"),
        (lambda: VecList(items=[]), "VecList.__new__() got an unexpected keyword argument 'items'"),
        (lambda: VecList.empty().append(), "VecList.append() missing 1 required positional argument: 'vec'"),
        (lambda: VecList.empty().append(v=a), "VecList.append() got an unexpected keyword argument 'v'"),
        (lambda: VecList.empty().append(3), "argument 'vec': 'int' object is not an instance of 'Vec3d'"),
        (lambda: VecList.empty().extend([a]), "argument 'other': 'list' object is not an instance of 'VecList'"),
        (lambda: VecList.empty().extend(a), "argument 'other': 'Vec3d' object is not an instance of 'VecList'"),
    ],
)
def test_argument_errors(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


# -- Values go in and out by copy --


def test_elements_are_copies():
    v = Vec3d(1, 2, 3)
    lst = VecList([v])
    lst.append(v)
    v.x = 100
    assert coords(lst) == [[1.0, 2.0, 3.0]] * 2
    lst.list[0].x = 9.0
    lst[0].x = 9.0
    assert lst[0].x == 1.0
    assert lst[0] is not lst[0]


# -- append / extend --


def test_append_and_extend():
    lst = VecList([a])
    assert lst.append(b) is None
    assert lst.extend(VecList([c, a])) is None
    assert len(lst) == 4
    assert same_bits(sum(coords(lst), []), sum((v.to_array() for v in (a, b, c, a)), []))
    lst.extend(VecList(lst.list))
    assert len(lst) == 8
    lst.extend(VecList.empty())
    assert len(lst) == 8


def test_extend_with_itself_is_a_borrow_error():
    lst = VecList([a, b])
    with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
        lst.extend(lst)
    assert len(lst) == 2
    lst.append(c)  # every borrow was released
    assert len(lst) == 3


# -- Indexing --


def test_indexing():
    lst = VecList([a, b, c])
    assert lst[2].to_array()[0] == 0.0 and math.copysign(1, lst[2].x) == -1
    assert lst[True].to_array() == b.to_array()
    with pytest.raises(IndexError, match="^Index out of bounds$"):
        lst[3]
    with pytest.raises(IndexError, match="^Index out of bounds$"):
        VecList.empty()[0]
    with pytest.raises(OverflowError) as info:
        lst[-1]
    assert not str(info.value).startswith("argument")
    with pytest.raises(OverflowError):
        lst[2**64]
    with pytest.raises(TypeError, match="^argument 'index': "):
        lst[1.0]
    with pytest.raises(TypeError, match="^argument 'index': "):
        lst[0:2]
    with pytest.raises(ValueError, match="no index here"):
        lst[RaisingIndex()]


def test_no_assignment_or_deletion():
    lst = VecList([a])
    with pytest.raises(TypeError):
        lst[0] = b
    with pytest.raises(TypeError):
        del lst[0]
    with pytest.raises(AttributeError):
        lst.list = []
    with pytest.raises(AttributeError):
        del lst.list


# -- Iteration --


def test_iteration_is_over_a_snapshot():
    lst = VecList([a, b])
    it = iter(lst)
    lst.append(c)
    assert [v.to_array() for v in it] == [a.to_array(), b.to_array()]
    for _ in range(3):
        with pytest.raises(StopIteration):
            next(it)
    assert len(list(lst)) == 3


def test_iterator_protocol():
    lst = VecList([a, b])
    it = iter(lst)
    assert iter(it) is it
    first = next(it)
    assert first.to_array() == a.to_array()
    first.x = 50  # a new object, not a view of the snapshot
    assert next(it).to_array() == b.to_array()
    assert [v.to_array() for v in iter(VecList.empty())] == []


def test_iterator_class():
    it_type = type(iter(VecList.empty()))
    assert it_type.__name__ == "VecListIterator" and it_type.__module__ == "builtins"
    assert not hasattr(lumeric_py, "VecListIterator")
    assert "VecListIterator" not in lumeric_py.__all__
    with pytest.raises(TypeError):
        it_type()
    with pytest.raises(TypeError):
        type("Sub", (it_type,), {})


def test_reversed_membership_unpacking():
    lst = VecList([a, b, Vec3d(7, 8, 9)])
    assert [v.x for v in reversed(lst)] == [7.0, 4.5, 1.0]
    assert Vec3d(4.5, 5, 6 + 1e-16) in lst
    assert Vec3d(4.5, 5, 7) not in lst
    first, _, last = lst
    assert (first.x, last.x) == (1.0, 7.0)
    assert len(lst) == 3 and bool(VecList.empty()) is False and bool(lst) is True


# -- Conversions and text --


def test_to_array_and_list():
    assert VecList.empty().to_array() == [] and VecList.empty().list == []
    assert VecList([a]).to_array() == [[1.0, 2.0, 3.0]]
    lst = VecList([a, b, c])
    rows = lst.to_array()
    assert same_bits(sum(rows, []), a.to_array() + b.to_array() + c.to_array())
    assert all(type(row) is list and len(row) == 3 for row in rows)
    assert all(type(v) is Vec3d for v in lst.list)


@pytest.mark.parametrize(
    "items, text",
    [
        ([], "[]"),
        ([a], "[Vec3d(1, 2, 3)]"),
        ([a, b], "[Vec3d(1, 2, 3)\nVec3d(4.5, 5, 6)]"),
        ([c, Vec3d(1e21, 1e-7, -math.inf)], "[Vec3d(-0, inf, NaN)\nVec3d(1000000000000000000000, 0.0000001, -inf)]"),
    ],
)
def test_repr(items, text):
    lst = VecList(items)
    assert repr(lst) == text and str(lst) == text


def test_repr_of_a_long_list_keeps_the_order():
    vs = [Vec3d(k, k / 7, -k * 0.1) for k in range(20_000)]
    assert repr(VecList(vs)) == "[" + "\n".join(repr(v) for v in vs) + "]"


# -- The class object --


def test_class_properties():
    assert lumeric_py.__all__.index("VecList") == lumeric_py.__all__.index("Vec3d") - 1
    assert VecList.__module__ == "builtins" and VecList.__qualname__ == "VecList"
    assert VecList.__text_signature__ == "(list)"
    assert VecList.extend.__text_signature__ == "($self, other)"
    assert VecList.minimum_distance_to.__text_signature__ == "($self, other, stride)"
    assert VecList.empty.__text_signature__ == "()"
    with pytest.raises(TypeError):
        type("Sub", (VecList,), {})
    with pytest.raises(AttributeError):
        VecList.empty().__dict__
