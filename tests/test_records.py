# Interface records against the live module: names, parameters and text signatures agree, and the
# stubs generated from them pass stubtest (so every public callable has a record) and mypy.

import inspect
import os
import subprocess
import sys

import pytest

import lumeric_py
from helpers import CLASSES, ENTRIES, MODULES, RECORDS, RESULT_TUPLES

TOOLS = os.path.join(os.path.dirname(__file__), os.pardir, "tools")


# References between records are resolved by the stub generator, which the build runs.
def test_modules_list_their_namespace_and_classes_are_final():
    ids = {r["id"]: r for r in RECORDS if "id" in r}
    for module in (r for r in RECORDS if r["type"] == "module"):
        live = next(m for m in MODULES if m.__name__.endswith(module["name"]))
        assert [ids[m]["name"] for m in module["members"]] == live.__all__ and module["incomplete"] is False
    final = [{"type": "attribute", "value": {"type": "name", "id": "typing"}, "attr": "final"}]
    assert all(r["decorators"] == final for r in RECORDS if r["type"] == "class")


@pytest.mark.parametrize("e", ENTRIES, ids=lambda e: f"{e.owner}.{e.name}.{e.kind}")
def test_record_matches_the_live_callable(e):
    owner = CLASSES.get(e.owner) or getattr(lumeric_py, e.owner, None) or next(
        m for m in MODULES if m.__name__.endswith(e.owner))
    attribute = inspect.getattr_static(owner, e.name)
    if e.kind in ("getter", "setter"):  # a named tuple's fields are members
        assert type(attribute).__name__ == ("member_descriptor" if e.owner in RESULT_TUPLES else "getset_descriptor")
        return
    names = [n + (f"={e.defaults[n]}" if n in e.defaults else "")
             for n in [n for n, _ in e.params] + (["*", *e.keywords] if e.keywords else [])]
    live = owner if e.kind == "constructor" else getattr(owner, e.name)
    if type(attribute).__name__ == "wrapper_descriptor":  # operator slots: the interpreter names them
        slot = [p for p in live.__text_signature__.strip("()").split(", ") if p not in ("$self", "/")]
        assert len(slot) == len(names)
        return
    receiver = ["$self"] if e.kind == "method" else []
    assert live.__text_signature__ == f"({', '.join(receiver + names)})" and not live.__doc__


def test_stubtest_and_mypy_accept_the_generated_stubs():
    root = os.path.join(os.path.dirname(__file__), os.pardir)
    stubtest = subprocess.run([sys.executable, os.path.join(TOOLS, "stubtest.py")], capture_output=True, text=True)
    assert stubtest.returncode == 0, stubtest.stdout + stubtest.stderr
    mypy = subprocess.run([sys.executable, "-m", "mypy", "--strict", os.path.join(root, "examples", "demo.py")],
                          capture_output=True, text=True)
    assert mypy.returncode == 0, mypy.stdout + mypy.stderr
