# Bad input everywhere: every callable, operator, property and constructor that the interface
# records and the live classes show is called with arbitrary and hostile arguments. Only the
# exceptions of the module's error table may come out, with their fixed texts; errors raised by an
# argument's own conversion methods pass through; afterwards the receiver and every argument hold
# the values they held before, and no borrow is left behind. Arguments that write the receiver
# while it is borrowed are the borrow table's (test_borrows.py), for every method at once.

import math
import operator
import re
import string
import types
from decimal import Decimal
from fractions import Fraction

import numpy as np
import pytest
from hypothesis import HealthCheck, event, given, settings
from hypothesis import strategies as st

import lumeric_py
from helpers import CLASSES, ENTRIES, MODULES, Sequence, example, instances, snapshot, touch_exclusive
from refusals import REFUSALS


class Hostile(Exception):  # raised by the hostile objects below; must reach the caller unchanged
    pass


def raises(what):
    def method(self, *args):
        raise Hostile(what)
    return method


def kind_of(name, **methods):
    return lambda: type(name, (), methods)()


V = lumeric_py.Vec3d
PLAIN = [
    None, True, 0, 3, -1, 2**63, 2**64 - 1, 2**64, -(2**64), 10**400, 0.5, -0.0, math.nan, -math.inf, 5e-324,
    complex(1, 2), Fraction(1, 3), Decimal("sNaN"), "", "1.5", b"12", bytearray(b"x"), [], [1.0, 2.0, 3.0],
    (1, 2, 3), {}, {1, 2}, range(3), slice(1, 2), object(), type, print, ..., NotImplemented, *CLASSES.values(),
]
NUMPY = [np.float64(math.nan), np.float32(1.5), np.int64(-1), np.uint64(2**64 - 1), np.bool_(True), np.zeros(3),
         np.array(2.0), np.array([1, 2], dtype=np.int8)]
HOSTILE = [
    kind_of("RaisingFloat", __float__=raises("__float__")), kind_of("StrFloat", __float__=lambda s: "1.5"),
    kind_of("IntFloat", __float__=lambda s: 1), kind_of("RaisingIndex", __index__=raises("__index__")),
    kind_of("FloatIndex", __index__=lambda s: 1.5), kind_of("HugeIndex", __index__=lambda s: 2**80),
    kind_of("RaisingEq", __eq__=raises("__eq__"), __hash__=None), kind_of("RaisingIter", __iter__=raises("it")),
    kind_of("NotAnIterator", __iter__=lambda s: 5, __len__=lambda s: 0, __getitem__=lambda s, i: V(0, 0, 0)),
    lambda: Sequence([V(1, 2, 3), V(4, 5, 6)]), lambda: Sequence([V(1, 2, 3)], length=2**62),
    lambda: Sequence([V(1, 2, 3)], length=-1), lambda: Sequence([V(1, 2, 3), 1.0]),
    lambda: Sequence([V(1, 2, 3), Hostile("__getitem__")]), lambda: (x for x in [V(1, 2, 3)]),
    lambda: [V(1, 2, 3), None],
]
module_object = st.one_of([instances(name) for name in CLASSES])
argument = st.one_of(example("float"), module_object, st.sampled_from(PLAIN), st.integers(-(2**70), 2**70),
                     st.sampled_from(HOSTILE).map(lambda make: make()))
numpy_argument = st.sampled_from(NUMPY) | argument


def surface():  # (id, kind, owner, name, params) for every public entry point
    targets = []
    for module in MODULES:
        for e in ENTRIES:
            if e.kind == "function" and isinstance(getattr(module, e.name, None), types.BuiltinFunctionType):
                targets.append((e.name, "function", module, e.name, e.params))
    for owner, cls in CLASSES.items():
        params = {(e.name, e.kind == "setter"): e.params for e in ENTRIES if e.owner == owner}
        if cls.__text_signature__ is not None:
            targets.append((f"{owner}()", "constructor", cls, "__new__", params[("__new__", False)]))
        for name, raw in vars(cls).items():
            label, own = f"{owner}.{name}", params.get((name, False), ())
            if isinstance(raw, (staticmethod, types.BuiltinFunctionType)):
                targets.append((label, "static", cls, name, own))
            elif isinstance(raw, types.MethodDescriptorType):
                targets.append((label, "method", cls, name, own))
            elif isinstance(raw, types.GetSetDescriptorType):
                targets.append((label, "property", cls, name, params.get((name, True), (("value", "float"),))))
            elif isinstance(raw, types.WrapperDescriptorType) and name != "__init__":
                targets.append((label, "slot", cls, name, own))
        targets.append((f"{owner} operators", "operators", cls, None, (("index", "int"),)))
    return targets


TARGETS = surface()
MUTATORS = {e.name for e in ENTRIES if e.kind == "method" and e.returns == "None"}
BINARY = [operator.add, operator.sub, operator.mul, operator.truediv, operator.floordiv, operator.mod,
          operator.pow, operator.matmul, operator.eq, operator.ne, operator.lt, operator.le, operator.gt,
          operator.ge, operator.getitem, operator.contains, operator.iadd, operator.imul, divmod,
          lambda a, b: [a, b].index(b), lambda a, b: a in {b}]
UNARY = [operator.neg, operator.pos, abs, operator.invert, hash, repr, str, bool, len, iter, list, format,
         lambda a: f"{a:>10}", next, reversed, int, float, round]

# -- The error table --

def allowed(error):  # the texts of the refusal table for this exception, each as a pattern of its varying parts
    templates = {template for _, kind, template, _ in REFUSALS if kind == error and template}
    parts = (string.Formatter().parse(t) for t in templates)
    return re.compile("|".join("^" + "".join(re.escape(text) + ("" if field is None else ".*")
                                             for text, field, _, _ in p) + "$" for p in parts))


PANIC, VALUE_ERROR, INDEX_ERROR = allowed("PanicException"), allowed(ValueError), allowed(IndexError)
HOST_VALUE_ERROR = re.compile(r"^invalid literal for int\(\) with base 10: b")  # int() of a list reads its buffer as text
FRAME_TYPE_ERROR = re.compile(
    r"^(?P<call>\S+\(\)) (missing \d+ required positional arguments?: |takes \d+ positional arguments but \d+ "
    r"(was|were) given$|got an unexpected keyword argument '|got multiple values for argument ')")
PROBES = (float, operator.index, len, lambda v: list(iter(v)), lambda v: bool(v == v), lambda v: bool(v == 0.0))


def own_errors(arguments):  # (type, message) of each error the arguments' own protocol methods raise
    found = set()
    for value in arguments:
        for probe in PROBES:
            try:
                probe(value)
            except Exception as error:  # noqa: BLE001 - any error the value raises by itself
                found.add((type(error), str(error)))
    return found


def check_error(error, call_name, names, arguments):
    kind, text = type(error), str(error)
    if kind.__name__ == "PanicException":
        assert kind.__module__ == "pyo3_runtime" and kind.__bases__ == (BaseException,)
        assert PANIC.match(text) or text.startswith("The global thread pool has not been initialized."), text
    elif kind is IndexError:
        assert INDEX_ERROR.match(text) or (kind, text) in own_errors(arguments), text
    elif kind is ValueError:  # numpy's own, when an array met a list it could not broadcast to
        numpy = any(isinstance(a, np.ndarray) for a in arguments) and (
            "could not be broadcast" in text or "does not have enough dimensions" in text)
        host = HOST_VALUE_ERROR.match(text) or (kind, text) in own_errors(arguments) or numpy
        assert VALUE_ERROR.match(text) or host, text
    elif kind is BufferError:  # views are read-only and C-contiguous
        assert "not writable" in text or "read-only" in text or "not Fortran-contiguous" in text, text
    elif kind is AttributeError:
        assert text == "property has no deleter" or "not writable" in text or "has no attribute" in text, text
    elif kind is TypeError:
        if text.startswith("argument '"):
            assert text[len("argument '"):].split("'", 1)[0] in names, text
            assert isinstance(error.__cause__, TypeError) and text.endswith(str(error.__cause__))
        match = FRAME_TYPE_ERROR.match(text)
        assert not match or call_name is None or match["call"] == call_name, text
    else:  # the host's own conversions and protocols, and the hostile arguments
        assert kind in (Hostile, OverflowError, MemoryError, StopIteration), f"{kind.__name__}: {text}"


def call_target(kind, owner, name, receiver, args, kwargs, data, effective):
    if kind == "function" or kind == "static":
        return getattr(owner, name)(*args, **kwargs)
    if kind == "constructor":
        how = data.draw(st.sampled_from(["call", "new", "foreign new"]), label="constructor")
        if how == "call":
            return owner(*args, **kwargs)
        cls = owner if how == "new" else data.draw(st.sampled_from([int, object, *CLASSES.values()]))
        return owner.__new__(cls, *args, **kwargs)
    if kind in ("method", "slot"):
        if data.draw(st.integers(0, 9), label="unbound") == 0:
            effective["receiver"] = args[0] if args else None
            return vars(owner)[name](*args, **kwargs)
        return getattr(receiver, name)(*args, **kwargs)
    if kind == "property":
        action = data.draw(st.sampled_from(["get", "set", "delete"]), label="action")
        if action == "get":
            return getattr(receiver, name)
        return setattr(receiver, name, args[0] if args else None) if action == "set" else delattr(receiver, name)
    if data.draw(st.booleans(), label="unary"):
        return data.draw(st.sampled_from(UNARY), label="op")(receiver)
    op, other = data.draw(st.sampled_from(BINARY), label="op"), args[0] if args else receiver
    # Reflected in-place operators would test the other operand's own (a list's += extends it).
    reflected = data.draw(st.booleans(), label="reflected") and op not in (operator.iadd, operator.imul)
    return op(other, receiver) if reflected else op(receiver, other)


def call_name(kind, owner, name):
    if kind == "function":
        return f"{name}()"
    if kind in ("constructor", "static", "method"):
        return f"{owner.__name__}.{'__new__' if kind == 'constructor' else name}()"
    return None


def exercise(label, kind, owner, name, params, data, argument):
    names = [n for n, _ in params]
    receiver = data.draw(instances(owner.__name__), label="receiver") if isinstance(owner, type) else None
    if data.draw(st.integers(0, 3), label="well-formed call") > 0:
        # Every parameter once, the first `count` by position and the rest by keyword.
        values = [data.draw(example(t) if data.draw(st.integers(0, 3)) else argument, label=n) for n, t in params]
        count = data.draw(st.integers(0, len(names)), label="positional count")
        args, kwargs = values[:count], dict(zip(names[count:], values[count:]))
    else:
        count = data.draw(st.integers(0, len(names) + 1), label="positional count")
        args = data.draw(st.lists(argument, min_size=count, max_size=count), label="args")
        keywords = st.sampled_from(names + ["w", "extra", "self"])
        kwargs = data.draw(st.dictionaries(keywords, argument, max_size=2), label="kwargs")
    arguments = [receiver, *args, *kwargs.values()]
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
    for a, old in zip(arguments, before):
        mutated = a is effective["receiver"] and not failed and (kind == "property" or name in MUTATORS)
        assert old is None or mutated or snapshot(a) == old, f"{label}: an operand changed"
    for a in arguments:
        touch_exclusive(a)  # every borrow taken during the call has been released


# numpy, built for the release interpreter, keeps no reference total (see tools/leak_hunter.py).
@pytest.mark.parametrize("values", [argument, pytest.param(numpy_argument, marks=pytest.mark.no_leak_check)],
                         ids=["plain", "numpy"])
@pytest.mark.parametrize("label, kind, owner, name, params", TARGETS, ids=[t[0] for t in TARGETS])
@settings(max_examples=35, deadline=None, suppress_health_check=list(HealthCheck))
@given(data=st.data())
def test_arbitrary_arguments(label, kind, owner, name, params, values, data):
    exercise(label, kind, owner, name, params, data, values)
