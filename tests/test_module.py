"""Module layout: namespaces, class objects and their shared properties."""

import importlib
import subprocess
import sys
import weakref

import pytest

import lumeric_py
from lumeric_py import Vec3d


def test_namespaces_and_docs():
    assert lumeric_py.__all__[-2:] == ["Vec3d", "geometry"]
    assert lumeric_py.__doc__ == "" and lumeric_py.geometry.__doc__ == ""
    assert lumeric_py.geometry.__name__ == "lumeric_py.geometry"
    from lumeric_py import geometry

    assert geometry is lumeric_py.geometry


@pytest.mark.parametrize("statement", ["import lumeric_py.geometry", "from lumeric_py.geometry import Plane"])
def test_submodule_is_not_importable_by_name(statement):
    with pytest.raises(ModuleNotFoundError):
        exec(statement, {})


def test_class_object_properties():
    assert Vec3d.__module__ == "builtins"
    assert Vec3d.__qualname__ == "Vec3d" and type(Vec3d(1, 2, 3)).__name__ == "Vec3d"
    assert Vec3d.__text_signature__ == "(x, y, z)"
    with pytest.raises(TypeError):

        class Sub(Vec3d):
            pass

    v = Vec3d(1, 2, 3)
    with pytest.raises(AttributeError):
        v.__dict__
    with pytest.raises(AttributeError):
        v.extra = 1
    with pytest.raises(TypeError):
        weakref.ref(v)
    Vec3d.extra_class_attribute = 1  # class objects stay mutable
    del Vec3d.extra_class_attribute


def test_reimport_keeps_class_objects_and_submodule():
    old = sys.modules.pop("lumeric_py")
    try:
        new = importlib.import_module("lumeric_py")
        assert new is not old
        assert new.Vec3d is old.Vec3d
        assert new.geometry is old.geometry
        assert new.__all__ == old.__all__
    finally:
        sys.modules["lumeric_py"] = old


def test_import_in_fresh_process_and_gil_not_required():
    code = "import sys, lumeric_py; print(sys._is_gil_enabled() if hasattr(sys, '_is_gil_enabled') else True)"
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert out.stdout.strip() in ("True", "False")
