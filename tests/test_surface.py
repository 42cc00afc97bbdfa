# What every class shares, checked once across all of them from the live module and its records:
# class-object properties, which operators each class takes (the records say; everything else ends
# in the host's TypeError), hashing, and the module namespaces.

import importlib
import operator
import sys
import weakref

import pytest

import lumeric_py
from helpers import CLASSES, entries, sample

SAMPLES = {name: cls for name, cls in CLASSES.items() if name != "VecListIterator"}


OPERANDS = [2, 1.5, True, "a", None, (1, 2, 3)] + [sample(name) for name in SAMPLES]
BINARY = {"mod": operator.mod, "add": operator.add, "sub": operator.sub, "mul": operator.mul, "truediv": operator.truediv,
          "floordiv": operator.floordiv, "pow": operator.pow, "matmul": operator.matmul}
ORDER = {"lt": ("gt", operator.lt), "le": ("ge", operator.le), "gt": ("lt", operator.gt), "ge": ("le", operator.ge)}


def accepts(owner, dunder, operand):  # the result type the records promise for owner.dunder(operand), or None
    for e in entries(owner):
        if e.name == dunder and e.kind == "method":
            wanted = e.params[0][1]
            fits = (isinstance(operand, (int, float)) and not isinstance(operand, str)) if wanted == "float" else (
                type(operand).__name__ == wanted)
            return e.returns if fits else None
    return None


def promised(left, op, right):
    mine = accepts(type(left).__name__, f"__{op}__", right)
    if op in ORDER:
        return mine or accepts(type(right).__name__, f"__{ORDER[op][0]}__", left)
    return mine or accepts(type(right).__name__, f"__r{op}__", left)


@pytest.mark.parametrize("name", SAMPLES)
def test_binary_operators_follow_the_records(name):
    value = sample(name)
    for a, b in [(value, other) for other in OPERANDS] + [(other, value) for other in OPERANDS]:
        for op in [*BINARY, *ORDER][isinstance(a, str):]:  # `str % x` formats
            function, result = BINARY[op] if op in BINARY else ORDER[op][1], promised(a, op, b)
            try:
                got = type(function(a, b)).__name__
            except TypeError:
                got = None
            assert got == result, (a, op, b)


@pytest.mark.parametrize("name", SAMPLES)
def test_unary_operators_hash_and_length_follow_the_records(name):
    value, own = sample(name), {e.name: e.returns for e in entries(name) if e.kind == "method"}
    for dunder, function in [("__neg__", operator.neg), ("__pos__", operator.pos), ("__abs__", abs),
                             ("__invert__", operator.invert), ("__len__", len), ("__hash__", hash)]:
        if dunder in own or (dunder == "__hash__" and "__eq__" not in own):  # identity hash without ==
            assert type(function(value)).__name__ == own.get(dunder, "int")
        else:
            with pytest.raises(TypeError):
                function(value)


# Claims equality and inequality with anything: shows whose answer a comparison took.
EqualToAll = type("EqualToAll", (), {"__eq__": lambda self, other: True, "__ne__": lambda self, other: True})


class RaisingEquality:
    def __eq__(self, other):
        raise LookupError("no equality")


@pytest.mark.parametrize("name", SAMPLES)
def test_not_equal_is_the_class_own_or_the_negated_host_equality(name):
    own, value = {e.name for e in entries(name)}, sample(name)
    derived = "__eq__" in own and "__ne__" not in own  # `!=` asks the host for `==` and negates it
    assert (value != EqualToAll()) is not derived and (value == sample(name)) is ("__eq__" in own)
    assert (value == (1, 2)) is False and (value != None) is True  # noqa: E711
    if derived:
        with pytest.raises(LookupError):
            value != RaisingEquality()  # noqa: B015


@pytest.mark.parametrize("name, cls", CLASSES.items())
def test_class_objects(name, cls):
    assert (cls.__module__, cls.__qualname__, cls.__doc__ or "") == ("builtins", name, "")
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})
    if name in SAMPLES:
        value = sample(name)
        for refused in (lambda: value.__dict__, lambda: setattr(value, "extra", 1)):
            with pytest.raises(AttributeError):
                refused()
        with pytest.raises(TypeError):
            weakref.ref(value)
        assert repr(value).startswith(f"<builtins.{name} object at 0x") == ("__repr__" not in vars(cls))
    else:
        with pytest.raises(TypeError):
            cls()


def test_namespaces():
    geometry = lumeric_py.geometry
    assert lumeric_py.__all__ == ["AngleDegrees", "AngleRadians", "Quat", "VecList", "Vec3d", "geometry"]
    assert geometry.__all__ == ["Circle", "circle_circle", "circle_point", "circle_point_unchecked", "plane_line",
                                "Plane"]
    assert lumeric_py.__doc__ == geometry.__doc__ == "" and geometry.__name__ == "lumeric_py.geometry"
    assert geometry.plane_line.__module__ == "lumeric_py.geometry" and geometry.plane_line.__self__ is geometry
    assert not hasattr(lumeric_py, "VecListIterator") and "lumeric_py.geometry" not in sys.modules
    for statement in ("import lumeric_py.geometry", "from lumeric_py.geometry import Plane"):
        with pytest.raises(ModuleNotFoundError):
            exec(statement, {})


def test_reimport_keeps_class_objects_and_submodule():
    old = sys.modules.pop("lumeric_py")
    try:
        new = importlib.import_module("lumeric_py")
        assert new is not old and new.Vec3d is old.Vec3d and new.geometry is old.geometry
    finally:
        sys.modules["lumeric_py"] = old
