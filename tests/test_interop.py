# VecList to and from numpy-style buffers and nested sequences; copy and pickle of every value class.

import copy
import math
import pickle
import subprocess
import sys

import numpy as np
import pytest

import lumeric_py
from helpers import from_bits, snapshot
from refusals import FORMAT
from lumeric_py import AngleDegrees, AngleRadians, KDTree, Quat, Transform, Vec3d, VecList

Circle, Plane = lumeric_py.geometry.Circle, lumeric_py.geometry.Plane


QUIET_NAN, NEGATIVE_NAN, SIGNALLING_NAN = map(from_bits, (0x7FF8000000000123, 0xFFF8000000000456, 0x7FF0000000000001))
SPECIAL = [0.0, -0.0, math.inf, -math.inf, 5e-324, 2.2250738585072014e-308, 1.7976931348623157e308,
           QUIET_NAN, NEGATIVE_NAN, SIGNALLING_NAN, 1.0 / 3.0, -2.5]


def array_bits(a):
    return np.ascontiguousarray(a, dtype=np.float64).view(np.uint64).tolist()


def special_rows(n=8):
    values = (SPECIAL * n)[: 3 * n]
    return np.array(values, dtype=np.float64).reshape(n, 3)


FLOAT32 = np.array([0x7FC00123, 0xFF800000, 0x00000001, 0x80000000, 0x7F7FFFFF, 0x3EAAAAAB], np.uint32).view(np.float32)
INTEGER_EXTREMES = {np.int64: [-(2**63), 2**63 - 1, 2**53 + 1], np.uint64: [0, 2**64 - 1, 2**53 + 3]}

# Random bits, long enough for the copies to be cut into pieces (32,768 rows each, cut only from
# 65,536 rows on), so that a piece read from or written to the wrong place shows.
MANY = np.frombuffer(np.random.default_rng(1).bytes(24 * 300_001), np.float64).reshape(-1, 3)

# (label, input array): every accepted format and layout. The expected values are numpy's own
# conversion to float64, which is exact for float32 and rounds integers as float(int) does.
ACCEPTED = [
    ("float64 C order", special_rows()),
    ("float64 Fortran order", np.asfortranarray(special_rows())),
    ("float64 negative strides", special_rows()[::-1, ::-1]),
    ("float64 reversed columns", special_rows()[:, ::-1]),
    ("float64 many pieces", MANY),
    ("float64 reversed columns, many pieces", MANY[:, ::-1]),
    ("float64 every other row and a column gap", np.hstack([special_rows(12), special_rows(12)])[::2, ::2]),
    ("float64 zero row stride", np.broadcast_to(special_rows(1), (5, 3))),
    ("float64 zero rows", np.zeros((0, 3))),
    ("float32", FLOAT32.reshape(2, 3)),
    ("float32 negative strides", np.tile(FLOAT32, 2).reshape(4, 3)[::-2, ::-1]),
] + [
    (np.dtype(t).name, np.array([[-3, 0, 7], [100, 127, 1]]).astype(t))
    for t in (np.int8, np.uint8, np.int16, np.uint16, np.int32, np.uint32, np.int64, np.uint64)
] + [(f"{np.dtype(t).name} extremes", np.array([values], dtype=t)) for t, values in INTEGER_EXTREMES.items()]


@pytest.mark.no_leak_check
@pytest.mark.parametrize("label, data", ACCEPTED, ids=[a[0] for a in ACCEPTED])
def test_buffers_convert_exactly(label, data):
    lst = VecList.from_array(data)
    assert array_bits(lst) == array_bits(pickle.loads(pickle.dumps(lst, 5))) == array_bits(data.astype(np.float64))


@pytest.mark.no_leak_check
def test_the_list_owns_a_copy_and_shows_it_read_only():
    data = special_rows()
    lst = VecList.from_array(data)
    data[:] = 7.0
    copied = np.array(lst)  # an ordinary copy: no view stays behind
    lst.append(Vec3d(1, 2, 3))
    assert copied.flags.writeable and array_bits(copied) == array_bits(special_rows())
    view = memoryview(VecList.from_array(special_rows()))  # the only reference to the list
    assert (view.readonly, view.format, view.shape, view.strides) == (True, "d", (8, 3), (24, 8))
    assert array_bits(view) == array_bits(VecList.from_array(view)) == array_bits(special_rows())
    with pytest.raises(BufferError):
        view.obj.__buffer__(1)  # PyBUF_WRITABLE
    assert memoryview(VecList.empty()).tolist() == []


# Sequences of rows (no buffer) and what they become, as Vec3d(x, y, z) would convert them.
@pytest.mark.parametrize("rows, expected", [
    ([], []),
    ([[1, 2, 3]], [[1.0, 2.0, 3.0]]),
    (((2**53 + 1, True, -0.0),), [[float(2**53 + 1), 1.0, -0.0]]),
    ([Vec3d(1.5, -2, 3), (4, 5, 6)], [[1.5, -2.0, 3.0], [4.0, 5.0, 6.0]]),
    ([[QUIET_NAN, SIGNALLING_NAN, NEGATIVE_NAN]], [[QUIET_NAN, SIGNALLING_NAN, NEGATIVE_NAN]]),
])
def test_sequences_of_rows(rows, expected):
    lst = VecList.from_array(rows)
    for result in (lst, VecList.from_array(lst.to_array()), VecList.from_array(lst)):  # the last through its buffer
        assert snapshot(result.to_array()) == snapshot(expected)


@pytest.mark.no_leak_check  # numpy
@pytest.mark.parametrize("dtype, code", [(">f8", ">d"), (complex, "Zd"), ("S2", "2s"), (object, "O")])
def test_foreign_elements_are_refused_by_their_format(dtype, code):
    with pytest.raises(TypeError) as info:
        VecList.from_array(np.zeros((2, 3), dtype=dtype))
    assert str(info.value) == FORMAT.format("from_array", code)


@pytest.mark.parametrize("release", [memoryview.release, None], ids=["release", "del"])
@pytest.mark.parametrize("mutate", [
    lambda lst: lst.append(Vec3d(0, 0, 0)), lambda lst: lst.extend(VecList([Vec3d(1, 2, 3)])),
    lambda lst: lst.rotate(Quat(0, 0, 0, 1))], ids=["append", "extend", "rotate"])
def test_views_hold_a_shared_borrow(mutate, release):
    lst = VecList.from_array([[1, 2, 3], [4, 5, 6]])
    views = [memoryview(lst), memoryview(lst)[1:]]
    while views:  # the borrow lasts until the last view is gone
        with pytest.raises(RuntimeError, match=r"^Already borrowed: a memoryview or numpy array of this list is "
                                                r"alive; drop it \(del, \.release\(\)\) first$"):
            mutate(lst)
        assert lst.to_array() == [[1, 2, 3], [4, 5, 6]] and views[0].tolist() == lst.to_array()
        other = VecList.empty()
        other.extend(lst)  # reading goes on as usual
        assert len(other) == 2 and lst.magnitude()[0] == math.sqrt(14)
        view = views.pop()
        release and release(view)
        del view
    mutate(lst)


def values():  # one object of every copyable class, carrying special values
    lst = VecList.from_array([SPECIAL[i : i + 3] for i in range(0, len(SPECIAL), 3)])
    return [
        Vec3d(-0.0, QUIET_NAN, math.inf), AngleRadians(SIGNALLING_NAN), AngleDegrees(-0.0),
        Quat(NEGATIVE_NAN, 5e-324, -1.5, 2.0), lst, VecList.empty(), Plane(Vec3d(0, 0, 1), -0.0),
        Circle(Vec3d(1, QUIET_NAN, 3), -0.0, Vec3d(0, 1, 0)), KDTree(lst), KDTree([]),
        Transform(Quat(NEGATIVE_NAN, 5e-324, -1.5, 2.0), Vec3d(-0.0, QUIET_NAN, math.inf)),
    ]


def out_of_band(obj):
    buffers = []
    data = pickle.dumps(obj, protocol=5, buffer_callback=buffers.append)
    return pickle.loads(data, buffers=buffers)


COPIES = {"copy": copy.copy, "deepcopy": copy.deepcopy, "out-of-band": out_of_band} | {
    f"pickle {p}": (lambda obj, p=p: pickle.loads(pickle.dumps(obj, protocol=p))) for p in range(2, 6)
}


@pytest.mark.parametrize("how", COPIES)
@pytest.mark.parametrize("index", range(len(values())))
def test_copies_are_new_objects_with_the_same_bits(how, index):
    original = values()[index]
    duplicate = COPIES[how](original)
    assert type(duplicate) is type(original) and duplicate is not original
    assert snapshot(duplicate) == snapshot(original)
    if isinstance(original, VecList):  # independent of the original, and pickled as raw doubles
        duplicate.append(Vec3d(1, 2, 3))
        assert len(duplicate) == len(original) + 1
        assert len(pickle.dumps(original, protocol=4)) <= 24 * len(original) + 100


def test_pickles_load_in_a_fresh_interpreter():
    payload = pickle.dumps([pickle.dumps(v, protocol=p) for v in values() for p in range(2, 6)])
    child = "import pickle, sys; sys.stdout.buffer.write(pickle.dumps([pickle.loads(p) for p in pickle.load(sys.stdin.buffer)], protocol=5))"
    run = subprocess.run([sys.executable, "-c", child], input=payload, capture_output=True, check=True)
    loaded = pickle.loads(run.stdout)
    assert [snapshot(v) for v in loaded] == [snapshot(v) for v in values() for _ in range(2, 6)]


MALFORMED = [("VecList", b"x" * 25), ("VecListIterator", b""), (b"Vec3d", b"x" * 24), ("Vec3d",)]


def forged(arguments):  # an object that pickles as a call of the reconstructor with these arguments
    return type("Forged", (), {"__reduce__": lambda self: (lumeric_py._reconstruct, arguments)})()


def test_malformed_state_is_refused_in_a_fresh_interpreter():
    payload = pickle.dumps([pickle.dumps(forged(arguments)) for arguments in MALFORMED])
    child = """if True:
        import pickle, sys
        for blob in pickle.load(sys.stdin.buffer):
            try:
                pickle.loads(blob)
            except Exception as error:
                print(type(error).__name__)"""
    run = subprocess.run([sys.executable, "-c", child], input=payload, capture_output=True, check=True)
    assert run.stdout.decode().split() == ["ValueError", "ValueError", "TypeError", "TypeError"]
