"""Bad input everywhere: every public callable, operator, property and constructor of both modules,
found on the live modules, is called with arbitrary arguments.

Only the exceptions of the module's error table may come out, with their fixed texts; errors raised by
an argument's own conversion methods pass through unchanged; and after a call (failed or not) the
receiver and every argument object hold the values they held before, and no borrow is left behind.
"""

import math
import operator
import os
import re
import struct
import sys
import types
from decimal import Decimal
from fractions import Fraction

import pytest
from hypothesis import HealthCheck, event, given, settings
from hypothesis import strategies as st

import lumeric_py
from lumeric_py import AngleDegrees, AngleRadians, Quat, Vec3d

try:
    import numpy as np
except ImportError:  # pragma: no cover - numpy is part of the toolchain
    np = None

VecList = getattr(lumeric_py, "VecList", None)
geometry = lumeric_py.geometry
Circle, Plane = geometry.Circle, geometry.Plane


# ---------------------------------------------------------------------------------------------
# Hostile arguments


class Hostile(Exception):
    """Raised by the hostile objects below; must reach the caller unchanged."""


class RaisingFloat:
    def __float__(self):
        raise Hostile("__float__")


class NonFloatFloat:
    def __float__(self):
        return "1.5"


class IntFloat:
    def __float__(self):
        return 1


class RaisingIndex:
    def __index__(self):
        raise Hostile("__index__")


class FloatIndex:
    def __index__(self):
        return 1.5


class NegativeIndex:
    def __index__(self):
        return -7


class HugeIndex:
    def __index__(self):
        return 2**80


class Sequence:
    """A sequence whose length and iteration are chosen per instance, including lies and failures."""

    def __init__(self, items, length=None, fail_len=False, fail_iter=False, fail_after=None):
        self.items, self.length = items, length
        self.fail_len, self.fail_iter, self.fail_after = fail_len, fail_iter, fail_after

    def __len__(self):
        if self.fail_len:
            raise Hostile("__len__")
        return len(self.items) if self.length is None else self.length

    def __getitem__(self, index):
        return self.items[index]

    def __iter__(self):
        if self.fail_iter:
            raise Hostile("__iter__")
        return self._generate()

    def _generate(self):
        for k, item in enumerate(self.items):
            if self.fail_after is not None and k == self.fail_after:
                raise Hostile("iteration")
            yield item


class NotAnIterator(Sequence):
    def __iter__(self):
        return 5


class RaisingEq:
    def __eq__(self, other):
        raise Hostile("__eq__")

    __hash__ = None


class Reentrant:
    """Converts like a number, but first uses the call's receiver while the call is running:
    writes the value it already holds (an exclusive borrow) or reads it (a shared borrow)."""

    def __init__(self, exclusive):
        self.exclusive = exclusive
        self.target = None

    def _touch(self):
        if self.target is not None:
            (touch_exclusive if self.exclusive else touch_shared)(self.target)

    def __float__(self):
        self._touch()
        return 1.0

    def __index__(self):
        self._touch()
        return 1

    def __len__(self):
        self._touch()
        return 1

    def __getitem__(self, index):
        self._touch()
        if not isinstance(index, int):
            raise Hostile("__getitem__")
        raise IndexError(index)  # the end of the sequence


# ---------------------------------------------------------------------------------------------
# The module's classes: fresh instances, snapshots of their values, and borrow probes

floats = st.floats(allow_nan=True, allow_infinity=True) | st.sampled_from([0.0, -0.0, 1.0, -1.0, 1e308, 5e-324])
vec3d = st.builds(Vec3d, floats, floats, floats)
quat = st.builds(Quat, floats, floats, floats, floats)
radians = st.builds(AngleRadians, floats)
degrees = st.builds(AngleDegrees, floats)
plane = st.builds(Plane, vec3d, floats) | st.builds(Plane.xy)
circle = st.builds(Circle, vec3d, floats, vec3d) | st.builds(Circle.none)
INSTANCES = {Vec3d: vec3d, Quat: quat, AngleRadians: radians, AngleDegrees: degrees, Plane: plane, Circle: circle}
if VecList is not None:
    VecListIterator = type(iter(VecList.empty()))
    vec_list = st.builds(VecList, st.lists(vec3d, max_size=6))
    INSTANCES[VecList] = vec_list
    INSTANCES[VecListIterator] = vec_list.map(iter)
module_object = st.one_of(list(INSTANCES.values()))


def bits(x):
    return struct.pack("<d", x)


def snapshot(obj):
    """The exact value of a module object (bit patterns, so that NaN and -0.0 count), or None."""
    if isinstance(obj, Vec3d):
        return tuple(bits(c) for c in obj.to_array())
    if isinstance(obj, Quat):
        return tuple(bits(c) for c in (obj.w, obj.i, obj.j, obj.k))
    if isinstance(obj, (AngleRadians, AngleDegrees)):
        return bits(obj.angle)
    if isinstance(obj, Plane):
        return snapshot(obj.normal), bits(obj.distance)
    if isinstance(obj, Circle):
        return snapshot(obj.center), bits(obj.radius), snapshot(obj.normal)
    if VecList is not None and isinstance(obj, VecList):
        return tuple(tuple(bits(c) for c in row) for row in obj.to_array())
    if isinstance(obj, list):
        return tuple(map(id, obj))
    return None


def touch_exclusive(obj):
    """Takes and releases the object's exclusive borrow without changing its value."""
    if isinstance(obj, Vec3d):
        obj.x = obj.x
    elif isinstance(obj, Quat):
        obj.w = obj.w
    elif isinstance(obj, (AngleRadians, AngleDegrees)):
        obj.angle = obj.angle
    elif isinstance(obj, Plane):
        obj.distance = obj.distance
    elif isinstance(obj, Circle):
        obj.radius = obj.radius
    elif VecList is not None and isinstance(obj, VecList):
        obj.extend(VecList.empty())


def touch_shared(obj):
    snapshot(obj)


# ---------------------------------------------------------------------------------------------
# Argument values

PLAIN = [
    None, True, False, 0, 1, 2, 3, -1, 2**31, 2**63 - 1, 2**63, 2**64 - 1, 2**64, -(2**64), 10**400,
    0.5, -0.0, math.nan, math.inf, -math.inf, 1e308, 5e-324, complex(1, 2), Fraction(1, 3), Decimal("1.5"),
    Decimal("sNaN"), Decimal("-inf"), "", "1.5", "abc", b"12", bytearray(b"x"), [], [1.0, 2.0, 3.0], (1, 2, 3),
    {}, {"x": 1}, {1, 2}, range(3), slice(1, 2), object(), type, Vec3d, Quat, lumeric_py, print, ...,
    NotImplemented,
]
NUMPY = []
if np is not None:
    NUMPY = [
        np.float64(math.nan), np.float32(1.5), np.int64(-1), np.int64(2), np.uint64(2**64 - 1), np.bool_(True),
        np.bool_(False), np.zeros(3), np.array(2.0), np.array([]), np.array([1, 2], dtype=np.int8), np.int8(-3),
    ]
if VecList is not None:
    PLAIN += [VecList]

HOSTILE = [
    lambda: RaisingFloat(), lambda: NonFloatFloat(), lambda: IntFloat(), lambda: RaisingIndex(),
    lambda: FloatIndex(), lambda: NegativeIndex(), lambda: HugeIndex(), lambda: RaisingEq(),
    lambda: Sequence([]), lambda: Sequence([Vec3d(1, 2, 3), Vec3d(4, 5, 6)]),
    lambda: Sequence([Vec3d(1, 2, 3)], length=10**18), lambda: Sequence([Vec3d(1, 2, 3)], length=2**62),
    lambda: Sequence([Vec3d(1, 2, 3)], length=-1), lambda: Sequence([Vec3d(1, 2, 3)], fail_len=True),
    lambda: Sequence([Vec3d(1, 2, 3)], fail_iter=True), lambda: Sequence([Vec3d(1, 2, 3), 1.0]),
    lambda: Sequence([Vec3d(1, 2, 3), Vec3d(0, 0, 0)], fail_after=1), lambda: NotAnIterator([]),
    lambda: (x for x in [Vec3d(1, 2, 3)]), lambda: [Vec3d(1, 2, 3), None], lambda: (Vec3d(0, 0, 0),),
    lambda: Reentrant(exclusive=True), lambda: Reentrant(exclusive=False),
]

argument = st.one_of(
    vec3d,
    floats,
    module_object,
    st.sampled_from(PLAIN),
    st.sampled_from(HOSTILE).map(lambda make: make()),
    st.integers(min_value=-(2**70), max_value=2**70),
)
numpy_argument = st.sampled_from(NUMPY) | argument if NUMPY else argument


# ---------------------------------------------------------------------------------------------
# The surface, read from the live modules


# Parameter names and types come from the interface records that the library exports; which
# entry points exist comes from the live classes and modules.
sys.path.insert(0, os.path.join(os.path.dirname(__file__), os.pardir, "tools"))
from records import library_records  # noqa: E402

RECORDS = [record for _, record in library_records(lumeric_py.__file__)]
CLASS_NAMES = {r["id"]: r["name"] for r in RECORDS if r["type"] == "class"}


def annotation_type(expression):
    """'float', 'int', 'bool', 'Sequence' or a class name."""
    if expression["type"] == "id":
        return CLASS_NAMES[expression["id"]]
    if expression["type"] == "subscript":
        return "Sequence"
    return expression["attr"]


def signatures():
    """{(class name or None, callable name, setter?): [(parameter, type), ...]}."""
    table = {}
    for r in RECORDS:
        if r["type"] != "function":
            continue
        setter = any(d.get("attr") == "setter" for d in r.get("decorators", []))
        owner = CLASS_NAMES.get(r.get("parent"))
        params = [(a["name"], annotation_type(a["annotation"])) for a in r["arguments"].get("args", [])]
        table[(owner, r["name"], setter)] = params
    return table


SIGNATURES = signatures()


def public_classes():
    classes = [getattr(m, n) for m in (lumeric_py, geometry) for n in m.__all__]
    classes = [c for c in classes if isinstance(c, type)]
    if VecList is not None:
        classes.append(VecListIterator)
    return classes


def surface():
    """(id, kind, owner, name, [(parameter, type), ...]) for every public entry point."""
    targets = []
    for module in (lumeric_py, geometry):
        for name in module.__all__:
            if isinstance(getattr(module, name), types.BuiltinFunctionType):
                targets.append((name, "function", module, name, SIGNATURES[(None, name, False)]))
    for cls in public_classes():
        owner = cls.__name__

        def params(name, setter=False):
            return SIGNATURES.get((owner, name, setter), [])

        if cls.__text_signature__ is not None:
            targets.append((f"{owner}()", "constructor", cls, "__new__", params("__new__")))
        for name, raw in vars(cls).items():
            label = f"{owner}.{name}"
            if isinstance(raw, staticmethod):
                targets.append((label, "static", cls, name, params(name)))
            elif isinstance(raw, types.MethodDescriptorType):
                targets.append((label, "method", cls, name, params(name)))
            elif isinstance(raw, types.GetSetDescriptorType):
                targets.append((label, "property", cls, name, params(name, True) or [("value", "float")]))
            elif isinstance(raw, types.WrapperDescriptorType) and name != "__init__":
                targets.append((label, "slot", cls, name, params(name)))
        targets.append((f"{owner} operators", "operators", cls, None, [("index", "int")]))
    return targets


TARGETS = surface()

OPERATORS = [
    operator.add, operator.sub, operator.mul, operator.truediv, operator.floordiv, operator.mod, operator.pow,
    operator.matmul, operator.eq, operator.ne, operator.lt, operator.le, operator.gt, operator.ge,
    operator.getitem, operator.contains, operator.iadd, operator.isub, operator.imul, operator.itruediv,
    divmod, lambda a, b: a is b, lambda a, b: [a, b].index(b), lambda a, b: {a: 1}, lambda a, b: a in {b},
]
UNARY = [operator.neg, operator.pos, abs, operator.invert, hash, repr, str, bool, len, iter, list, tuple, format,
         lambda a: f"{a:>10}", lambda a: next(a), reversed, sorted, int, float, complex, round]


# ---------------------------------------------------------------------------------------------
# The error table

PANICS = {
    "assertion failed: axis <= 2",
    "assertion failed: stride != 0",
    "Already mutably borrowed: PyBorrowError",
}
POOL_FAILURE = "The global thread pool has not been initialized."
INTERSECTION_MESSAGES = {
    "The given geometries are too far apart and do not intersect at all.",
    "One of the given geometries is contained entirely within the other. The surfaces do not intersect.",
    "The given geometries are identical.",
    "The given geometries are out of plane from each other",
    "minimum_distance_to() on an empty VecList",
}
BORROW_MESSAGES = {"Already mutably borrowed", "Already borrowed"}
BUFFER_MESSAGES = {"the buffer is read-only: write to the object's methods instead"}
FROM_ARRAY_ERROR = re.compile(r"^from_array\(\) (expects shape \(n, 3\), got \(.*\)|row \d+ has \d+ values, expected 3)$")
FRAME_TYPE_ERROR = re.compile(
    r"^(?P<call>\S+\(\)) (missing \d+ required positional arguments?: |takes \d+ positional arguments but \d+ "
    r"(was|were) given$|got an unexpected keyword argument '|got multiple values for argument ')"
)


# The protocols through which the module (or the host, on its behalf) asks an argument for something.
PROBES = (float, operator.index, len, lambda v: list(iter(v)), lambda v: bool(v == v), lambda v: bool(v == 0.0))


def own_errors(value):
    """(type, message) of each error that the value's own protocol methods raise."""
    found = set()
    for probe in PROBES:
        try:
            probe(value)
        except Exception as error:  # noqa: BLE001 - any error the value raises by itself
            found.add((type(error), str(error)))
    return found


def check_error(error, call_name, names, arguments):
    """Fails unless `error` is one that the call may raise."""
    kind, text = type(error), str(error)
    hostile = [a for a in arguments if isinstance(a, Reentrant)]
    if kind is Hostile:
        return
    if kind.__name__ == "PanicException":
        assert kind.__module__ == "pyo3_runtime" and issubclass(kind, BaseException)
        assert not issubclass(kind, Exception)
        assert text in PANICS or text.startswith(POOL_FAILURE), text
        if text == "Already mutably borrowed: PyBorrowError":
            assert hostile, "a comparison met a busy operand without any re-entrant argument"
        return
    if kind is RuntimeError:
        assert text in BORROW_MESSAGES, text
        assert hostile, f"borrow error without any re-entrant argument: {text}"
        return
    if kind is IndexError:
        assert text == "Index out of bounds" or (type(error), text) in own(arguments), text
        return
    if kind is ValueError:
        assert text in INTERSECTION_MESSAGES or FROM_ARRAY_ERROR.match(text) or (kind, text) in own(arguments), text
        return
    if kind is BufferError:
        assert text in BUFFER_MESSAGES, text
        return
    if kind is OverflowError:
        return  # the host's integer and float conversions
    if kind is MemoryError:
        return
    if kind is AttributeError:
        assert text == "property has no deleter" or "not writable" in text or "has no attribute" in text, text
        return
    if kind is StopIteration:
        return
    if kind is TypeError:
        if text.startswith("argument '"):
            name = text[len("argument '"):].split("'", 1)[0]
            assert name in names, f"{text!r} names none of {names}"
            assert isinstance(error.__cause__, TypeError) and text.endswith(str(error.__cause__))
        match = FRAME_TYPE_ERROR.match(text)
        if match and call_name is not None:
            assert match["call"] == call_name, text
        return
    pytest.fail(f"unexpected {kind.__name__}: {text}")


def own(arguments):
    found = set()
    for a in arguments:
        found |= own_errors(a)
    return found


# ---------------------------------------------------------------------------------------------
# The test


MUTATORS = {"append", "extend", "rotate"}


def call_target(kind, owner, name, receiver, args, kwargs, data, effective):
    if kind == "function":
        return getattr(owner, name)(*args, **kwargs)
    if kind == "constructor":
        how = data.draw(st.sampled_from(["call", "new", "foreign new"]), label="constructor")
        if how == "call":
            return owner(*args, **kwargs)
        if how == "new":
            return owner.__new__(owner, *args, **kwargs)
        return owner.__new__(data.draw(st.sampled_from([int, object, Vec3d, Quat])), *args, **kwargs)
    if kind == "static":
        return getattr(owner, name)(*args, **kwargs)
    if kind in ("method", "slot"):
        if data.draw(st.integers(0, 9), label="foreign receiver") == 0:
            effective["receiver"] = args[0] if args else None  # the descriptor's receiver
            return vars(owner)[name](*args, **kwargs)
        return getattr(receiver, name)(*args, **kwargs)
    if kind == "property":
        action = data.draw(st.sampled_from(["get", "set", "delete"]), label="action")
        if action == "get":
            return getattr(receiver, name)
        if action == "set":
            return setattr(receiver, name, args[0] if args else None)
        return delattr(receiver, name)
    if kind == "operators":
        if data.draw(st.booleans(), label="unary"):
            return data.draw(st.sampled_from(UNARY), label="op")(receiver)
        op = data.draw(st.sampled_from(OPERATORS), label="op")
        other = args[0] if args else receiver
        if data.draw(st.booleans(), label="reflected"):
            return op(other, receiver)
        return op(receiver, other)
    raise AssertionError(kind)


def call_name(kind, owner, name):
    if kind == "function":
        return f"{name}()"
    if kind == "constructor":
        return f"{owner.__name__}.__new__()"
    if kind in ("static", "method"):
        return f"{owner.__name__}.{name}()"
    return None


def valid(type_name):
    """Values of the parameter's own type, most of the time, else anything."""
    if type_name == "float":
        own = floats | st.integers(-(2**70), 2**70) | st.booleans()
    elif type_name == "int":
        own = st.integers(0, 12) | st.integers(0, 2**64 - 1)
    elif type_name == "bool":
        own = st.booleans()
    elif type_name == "memoryview":
        own = argument  # a view of another object; the host refuses it
    elif type_name == "Sequence":
        own = st.lists(vec3d, max_size=5) | st.lists(vec3d, max_size=5).map(tuple)
        if VecList is not None:
            own |= vec_list
    else:
        own = INSTANCES[getattr(lumeric_py, type_name, None) or getattr(geometry, type_name)]
    return own


def exercise(label, kind, owner, name, params, data, argument):
    names = [n for n, _ in params]
    receiver = data.draw(INSTANCES[owner], label="receiver") if isinstance(owner, type) else None
    if data.draw(st.integers(0, 3), label="well-formed call") > 0:
        # Every parameter once, the first `count` by position and the rest by keyword.
        values = [data.draw(valid(t) if data.draw(st.integers(0, 3)) else argument, label=n) for n, t in params]
        count = data.draw(st.integers(0, len(names)), label="positional count")
        args, kwargs = values[:count], dict(zip(names[count:], values[count:]))
    else:
        count = data.draw(st.integers(0, len(names) + 1), label="positional count")
        args = data.draw(st.lists(argument, min_size=count, max_size=count), label="args")
        keyword_names = st.sampled_from(names + ["w", "extra", "self", "list"]) if names else st.just("extra")
        kwargs = data.draw(st.dictionaries(keyword_names, argument, max_size=2), label="kwargs")
    arguments = [receiver, *args, *kwargs.values()]
    for a in arguments:
        if isinstance(a, Reentrant):
            a.target = receiver
    before = [snapshot(a) for a in arguments]
    effective = {"receiver": receiver}

    try:
        call_target(kind, owner, name, receiver, args, kwargs, data, effective)
    except BaseException as error:  # noqa: BLE001 - the point is to see everything that comes out
        check_error(error, call_name(kind, owner, name), names + ["value"], arguments)
        event(f"raised {type(error).__name__}: {str(error)[:40]}")
        failed = True
    else:
        event("returned")
        failed = False

    for a in arguments:
        if isinstance(a, Reentrant):
            a.target = None
    for a, old in zip(arguments, before):
        mutated = a is effective["receiver"] and not failed and (kind == "property" or name in MUTATORS)
        if old is not None and not mutated:
            assert snapshot(a) == old, f"{label}: {'receiver' if a is receiver else 'argument'} changed"
    for a in arguments:  # every borrow taken during the call has been released
        touch_exclusive(a)


TARGET_IDS = [t[0] for t in TARGETS]


@pytest.mark.parametrize("label, kind, owner, name, params", TARGETS, ids=TARGET_IDS)
@settings(max_examples=60, deadline=None, suppress_health_check=list(HealthCheck))
@given(data=st.data())
def test_arbitrary_arguments(label, kind, owner, name, params, data):
    exercise(label, kind, owner, name, params, data, argument)


# numpy, built for the release interpreter, keeps no reference total (see leak_hunter.py).
@pytest.mark.no_leak_check
@pytest.mark.skipif(np is None, reason="numpy is not installed")
@pytest.mark.parametrize("label, kind, owner, name, params", TARGETS, ids=TARGET_IDS)
@settings(max_examples=20, deadline=None, suppress_health_check=list(HealthCheck))
@given(data=st.data())
def test_numpy_arguments(label, kind, owner, name, params, data):
    exercise(label, kind, owner, name, params, data, numpy_argument)
