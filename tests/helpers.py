# Helpers shared by the test modules: exact float comparison, the common strategies, and the
# module's surface as the library's own interface records describe it (so that tables driven by
# it pick up every new class, method, property and operator without being edited).

import functools
import math
import os
import struct
import sys
from collections import namedtuple

import pytest
from hypothesis import strategies as st

import lumeric_py

sys.path.insert(0, os.path.join(os.path.dirname(__file__), os.pardir, "tools"))
from records import library_records  # noqa: E402


def bits(x: float) -> bytes:  # the exact bit pattern of a float, so that -0.0, NaN payloads and rounding all count
    return struct.pack("<d", x)


def _same(x: float, y: float) -> bool:
    # A NaN's sign and payload depend on the processor, not on the formula: any NaN matches any NaN.
    if math.isnan(x) or math.isnan(y):
        return math.isnan(x) and math.isnan(y)
    return bits(x) == bits(y)




def fields(value):  # the numbers a result of the module holds, in field order, behind the class of each value
    if isinstance(value, (list, tuple)):
        return [x for item in value for x in fields(item)]
    if type(value) is lumeric_py.Vec3d:
        return value.to_array()
    if type(value) is lumeric_py.Quat:
        return [lumeric_py.Quat, value.w, value.i, value.j, value.k]
    if type(value) is lumeric_py.Transform:
        return [lumeric_py.Transform, *fields(value.rotation), *fields(value.translation)]
    if type(value) in (lumeric_py.AngleRadians, lumeric_py.AngleDegrees):
        return [type(value), value.angle]
    if type(value) is lumeric_py.geometry.Plane:
        return [*fields(value.normal), value.distance]
    if type(value) is lumeric_py.geometry.Circle:
        return [*fields(value.center), value.radius, *fields(value.normal)]
    return [value]


def same_fields(got, expected) -> bool:  # classes and bools by identity, numbers bit for bit as floats
    got, expected = list(got), list(expected)
    return len(got) == len(expected) and all(g is e if isinstance(e, (type, bool)) else type(g) is float and
                                             _same(g, float(e)) for g, e in zip(got, expected))


def from_bits(word: int) -> float:  # the float with this bit pattern
    return struct.unpack("<d", struct.pack("<Q", word))[0]


class Callback:  # a number (float or index) whose conversion first runs `action`, or raises it if it is an exception
    def __init__(self, action, value=1):
        self.action, self.value = action, value

    def _run(self):
        if isinstance(self.action, BaseException):
            raise self.action
        self.action()

    def __float__(self):
        self._run()
        return float(self.value)

    def __index__(self):
        self._run()
        return int(self.value)

    __len__ = __index__  # as a sequence its length converts the same way, and it has no items

    def __getitem__(self, index):
        raise IndexError(index)


class Sequence:  # a sequence with only __len__ and __getitem__; a length or an item given as an exception raises it
    def __init__(self, items, length=None):
        self.items, self.length = items, length

    def __len__(self):
        if isinstance(self.length, BaseException):
            raise self.length
        return len(self.items) if self.length is None else self.length

    def __getitem__(self, index):
        if isinstance(self.items[index], BaseException):
            raise self.items[index]
        return self.items[index]


# -- The surface, from the interface records and the live modules --

RECORDS = [record for _, record in library_records(lumeric_py.__file__)]
_CLASS_NAMES = {r["id"]: r["name"] for r in RECORDS if r["type"] == "class"}
MODULES = (lumeric_py, lumeric_py.geometry)


def type_name(annotation):  # 'float', 'int', 'bool', 'None', 'Sequence', 'list', 'tuple' or a class name
    kind = annotation["type"]
    if kind == "id":
        return _CLASS_NAMES[annotation["id"]]
    if kind == "subscript":
        return type_name(annotation["value"])
    if kind == "binop":  # one of several types
        return "Union"
    return annotation.get("attr") or annotation.get("id") or "None"


# owner: a class name, or the module's name for a module function; kind: function, constructor,
# static, method, getter or setter; params: ((name, type), ...); returns: a type name.
# defaults: {name: Python source} of the parameters that have one; keywords: the names of the
# keyword-only parameters (after params, each with a default).
Entry = namedtuple("Entry", "owner name kind params returns defaults keywords")


def _entry(r):
    decorators = {d.get("id") or d.get("attr") for d in r.get("decorators", [])}
    kind = ("static" if "staticmethod" in decorators else "getter" if "property" in decorators
            else "setter" if "setter" in decorators else "function" if "parent" not in r
            else "constructor" if r["name"] == "__new__" else "method")
    owner = _CLASS_NAMES.get(r.get("parent")) or next(
        m["name"] for m in RECORDS if m["type"] == "module" and r["id"] in m["members"])
    params = tuple((a["name"], type_name(a["annotation"])) for a in r["arguments"].get("args", []))
    keywords = tuple(a["name"] for a in r["arguments"].get("kwonlyargs", []))
    defaults = {a["name"]: a["default"] for kind in ("args", "kwonlyargs") for a in r["arguments"].get(kind, [])
                if "default" in a}
    return Entry(owner, r["name"], kind, params, type_name(r["returns"]), defaults, keywords)


ENTRIES = [_entry(r) for r in RECORDS if r["type"] == "function"]
CLASSES = {n: getattr(m, n) for m in MODULES for n in m.__all__ if isinstance(getattr(m, n), type)}
# A result that is a named tuple (IcpResult) is a tuple, not a class of ours.
RESULT_TUPLES = {n for n in _CLASS_NAMES.values() if issubclass(getattr(lumeric_py, n, object), tuple)}
# A class offered beyond `__all__` (KDTree) is an attribute of its module all the same.
CLASSES.update({n: getattr(m, n) for m in MODULES for n in _CLASS_NAMES.values()
                if n not in CLASSES and n not in RESULT_TUPLES and isinstance(getattr(m, n, None), type)})
def entries(owner, kind=None):
    return [e for e in ENTRIES if e.owner == owner and kind in (None, e.kind)]


# A class that no namespace holds (an iterator) is found through the method that returns it.
for _e in ENTRIES:
    if _e.returns in _CLASS_NAMES.values() and _e.returns not in CLASSES | dict.fromkeys(RESULT_TUPLES) \
            and _e.owner in CLASSES:
        _make = next(s for s in entries(_e.owner, "static") if not s.params and s.returns == _e.owner)
        CLASSES[_e.returns] = type(getattr(getattr(CLASSES[_e.owner], _make.name)(), _e.name)())


@functools.cache  # one strategy object per type, as module-level constants would be
def example(kind):  # a strategy for values of a parameter or property type; anything at all for an unknown one
    if kind == "float":
        return st.floats() | st.sampled_from([0.0, -0.0, 1.0, 5e-324]) | st.integers(-(2**70), 2**70)
    if kind == "int":
        return st.integers(0, 12) | st.integers(0, 2**64 - 1)
    if kind == "bool":
        return st.booleans()
    if kind == "Sequence":
        return st.lists(instances("Vec3d"), max_size=5) | st.lists(instances("Vec3d"), max_size=5).map(tuple)
    if kind == "Union":  # rows of points, as from_array reads them
        return st.lists(st.tuples(*[example("float")] * 3), max_size=5)
    return instances(kind) if kind in CLASSES else st.none()


def _or_none(make):  # None where a constructor refuses its values (a zero vector for from_two_vectors)
    def build(*args):
        try:
            return make(*args)
        except ValueError:
            return None
    return build


@functools.cache
def instances(name):  # fresh instances of a class: through its constructor and its static constructors
    cls = CLASSES[name]
    made = [st.builds(_or_none(getattr(cls, e.name) if e.kind == "static" else cls),
                      *(example(t) for _, t in e.params)).filter(lambda value: value is not None)
            for e in entries(name) if e.kind in ("constructor", "static") and e.returns == name
            and name not in dict(e.params).values() and "None" not in e.defaults.values()  # not align's weights
            and all(t in ("float", "int", "bool", "Sequence", "Union") or t in CLASSES for _, t in e.params)]
    if not made:  # an iterator: from the method of the class that returns it
        e = next(e for e in ENTRIES if e.returns == name and e.owner != name)
        return instances(e.owner).map(lambda owner: getattr(owner, e.name)())
    return st.one_of(made)


def sample(name):  # an ordinary instance, made by the constructor from ones, unit vectors and two-element lists
    if name == "Union":  # points as rows
        return [(1.0, 1.0, 1.0)] * 2
    (e,) = entries(name, "constructor")
    return CLASSES[name](*(1.0 if t == "float" else [sample("Vec3d")] * 2 if t == "Sequence" else sample(t)
                           for _, t in e.params))


def snapshot(value):  # the exact state of a value as its readable properties show it; None for foreign objects
    if isinstance(value, float):
        return bits(value)
    if isinstance(value, (list, tuple)):
        return tuple(map(snapshot, value))
    if type(value).__name__ in CLASSES and type(value) is CLASSES[type(value).__name__]:
        getters = entries(type(value).__name__, "getter")
        if not getters:  # a class that shows no fields (KDTree): its pickled state
            return value.__reduce__()[1]
        return tuple(snapshot(getattr(value, e.name)) for e in getters)
    return None


def touch_exclusive(obj):  # takes and releases the object's exclusive borrow, leaving its value as it was
    if type(obj) not in CLASSES.values():
        return
    setters = entries(type(obj).__name__, "setter")
    if setters:
        setattr(obj, setters[0].name, getattr(obj, setters[0].name))
    elif hasattr(obj, "extend"):  # a list without setters: extending by nothing writes
        obj.extend(type(obj).empty())


def run_child(code, **environment):
    # Runs `code` in a child interpreter (with these environment variables, None removing one) and
    # returns its printed words; the child must exit cleanly.
    import subprocess
    import textwrap

    env = {k: v for k, v in {**os.environ, **environment}.items() if v is not None}
    proc = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], env=env, capture_output=True, text=True,
                          timeout=300)
    assert proc.returncode == 0 and "Traceback" not in proc.stderr, proc.stderr
    return proc.stdout.split()


def import_oracle(name):  # a peer library as a test oracle; skipped under LeakSanitizer, whose report its imports fill
    if "libasan" in os.environ.get("LD_PRELOAD", ""):
        pytest.skip(f"{name}'s imports fill LeakSanitizer's report")
    return pytest.importorskip(name)
