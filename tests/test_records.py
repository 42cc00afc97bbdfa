"""Interface records: decoded from the built library, cross-checked with the live module."""

import collections
import inspect
import os
import subprocess
import sys

import pytest

import lumeric_py

TOOLS = os.path.join(os.path.dirname(__file__), os.pardir, "tools")
sys.path.insert(0, TOOLS)
from records import library_records  # noqa: E402

RECORDS = [record for _, record in library_records(lumeric_py.__file__)]
CLASSES = {r["id"]: r for r in RECORDS if r["type"] == "class"}
MODULES = {r["id"]: r for r in RECORDS if r["type"] == "module"}
FUNCTIONS = [r for r in RECORDS if r["type"] == "function"]
BY_ID = {r["id"]: r for r in RECORDS if "id" in r}
BUILTINS = {"type": "name", "id": "builtins"}


def builtin(name):
    return {"type": "attribute", "value": BUILTINS, "attr": name}


def kind(f):
    decorators = [d.get("id") or d.get("attr") for d in f.get("decorators", [])]
    if "staticmethod" in decorators:
        return "static"
    if "property" in decorators:
        return "getter"
    if "setter" in decorators:
        return "setter"
    if "id" in f:
        return "module function"
    return "constructor" if f["name"] == "__new__" else "method"


# Beyond the 164 records of the core interface: VecList.from_array, VecList's __buffer__ and
# __release_buffer__, and __copy__ and __deepcopy__ of the seven copyable classes.
INTEROP = {"method": 2 + 7 * 2, "static": 1}


def test_counts_per_kind():
    assert len(RECORDS) == 164 + 17
    assert collections.Counter(r["type"] for r in RECORDS) == {"module": 2, "class": 8, "function": 154 + 17}
    assert collections.Counter(kind(f) for f in FUNCTIONS) == {
        "method": 92 + INTEROP["method"], "constructor": 7, "static": 21 + INTEROP["static"], "getter": 16,
        "setter": 14, "module function": 4,
    }


def walk(expression):
    yield expression
    for value in expression.values():
        if isinstance(value, dict):
            yield from walk(value)
        elif isinstance(value, list):
            for item in value:
                if isinstance(item, dict):
                    yield from walk(item)


def test_every_reference_resolves():
    for record in RECORDS:
        if "parent" in record:
            assert record["parent"] in CLASSES
        for node in walk(record):
            if node.get("type") == "id":
                assert node["id"] in CLASSES, record
    for module in MODULES.values():
        assert module["incomplete"] is False
        assert all(member in BY_ID for member in module["members"])
    assert all(c["decorators"] == [{"type": "attribute", "value": {"type": "name", "id": "typing"}, "attr": "final"}]
               for c in CLASSES.values())


def test_module_members_follow_namespace_order():
    for module in MODULES.values():
        runtime = lumeric_py if module["name"] == "lumeric_py" else getattr(lumeric_py, module["name"])
        assert [BY_ID[m]["name"] for m in module["members"]] == runtime.__all__


def class_id(name):
    return next(i for i, c in CLASSES.items() if c["name"] == name)


def test_minimum_distance_to_record():
    record = next(f for f in FUNCTIONS if f["name"] == "minimum_distance_to")
    assert record["parent"] == class_id("VecList")
    assert record["arguments"] == {
        "posonlyargs": [{"name": "self"}],
        "args": [{"name": "other", "annotation": {"type": "id", "id": class_id("Vec3d")}},
                 {"name": "stride", "annotation": builtin("int")}],
    }
    assert record["returns"] == {"type": "subscript", "value": builtin("tuple"),
                                 "slice": {"type": "tuple", "elts": [builtin("int"), builtin("float")]}}


def runtime_owner(record):
    if "parent" in record:
        name = CLASSES[record["parent"]]["name"]
        for module in (lumeric_py, lumeric_py.geometry):
            if hasattr(module, name):
                return getattr(module, name)
        return type(iter(lumeric_py.VecList.empty()))
    owner = next(m for m in MODULES.values() if record["id"] in m["members"])
    return lumeric_py if owner["name"] == "lumeric_py" else getattr(lumeric_py, owner["name"])


@pytest.mark.parametrize("record", FUNCTIONS, ids=lambda f: f"{f.get('parent', 'module')}.{f['name']}.{kind(f)}")
def test_record_matches_runtime(record):
    owner = runtime_owner(record)
    assert hasattr(owner, record["name"])
    attribute = inspect.getattr_static(owner, record["name"])
    names = [a["name"] for a in record["arguments"].get("args", [])]
    if kind(record) in ("getter", "setter"):
        assert type(attribute).__name__ == "getset_descriptor"
        return
    # The constructor's signature is the class's own; the rest are the methods'.
    signature = (owner if record["name"] == "__new__" else getattr(owner, record["name"])).__text_signature__
    parameters = [p.strip() for p in signature.strip("()").split(",") if p.strip()]
    parameters = [p for p in parameters if p not in ("$self", "/", "$cls", "$type")]
    if type(attribute).__name__ == "wrapper_descriptor":  # operator slots: the interpreter names them
        assert len(parameters) == len(names)
    else:
        assert parameters == names


def public_callables():
    for module in (lumeric_py, lumeric_py.geometry):
        for name in module.__all__:
            value = getattr(module, name)
            if isinstance(value, type):
                for attribute, member in vars(value).items():
                    if not attribute.startswith("_") or attribute == "__new__":
                        yield value.__name__, attribute
            elif callable(value):
                yield "module", name


def test_every_public_callable_has_a_record():
    names = {(CLASSES[f["parent"]]["name"] if "parent" in f else "module", f["name"]) for f in FUNCTIONS}
    missing = [c for c in public_callables() if c not in names]
    assert missing == []


def test_stubtest_and_mypy_accept_the_generated_stubs():
    root = os.path.join(os.path.dirname(__file__), os.pardir)
    stubtest = subprocess.run([sys.executable, os.path.join(TOOLS, "stubtest.py")], capture_output=True, text=True)
    assert stubtest.returncode == 0, stubtest.stdout + stubtest.stderr
    mypy = subprocess.run([sys.executable, "-m", "mypy", "--strict", os.path.join(root, "examples", "demo.py")],
                          capture_output=True, text=True)
    assert mypy.returncode == 0, mypy.stdout + mypy.stderr
