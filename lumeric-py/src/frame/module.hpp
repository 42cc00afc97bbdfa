// frame/module.hpp: filling module namespaces and making the submodule.
//
// Every name placed in a module is also appended to its `__all__`. Class objects come
// from their process-wide cells. The submodule is made once per process, from the
// first interpreter that imports the module, and is reachable only as an attribute of
// the top-level module (it is not entered in sys.modules).
#pragma once

#include <Python.h>

#include <atomic>
#include <cstdint>

#include "frame/object.hpp"

namespace lumeric {

// Each of these throws PythonError with the host's exception set on failure.

// Fails with the type-check error unless `op` is a module object.
void require_module(PyObject* op);

// Appends `name` to `__all__` (creating the list if missing) and sets the attribute.
void add_to_namespace(PyObject* module, const char* name, PyObject* value);

// Adds the class object under its Python name; a creation failure becomes
// RuntimeError "An error occurred while initializing class {Name}".
void register_class(PyObject* module, ClassCell& cell);

// Adds a built-in function object bound to `module` (its `__self__`, with the module's
// name as `__module__`), under its `__name__`.
void register_function(PyObject* module, PyMethodDef& def);

// A module definition made into a module at most once per process.
struct Submodule {
    PyModuleDef& definition;
    std::atomic<std::int64_t> interpreter{-1};
    std::atomic<PyObject*> cell{nullptr};
    PyMutex mutex{};
};

// Makes (or returns the already made) submodule and adds it under the last part of its name.
void register_submodule(PyObject* parent, Submodule& submodule);

}  // namespace lumeric
