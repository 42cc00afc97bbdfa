// Namespace filling, class registration and the once-per-process submodule.
#include "frame/module.hpp"

#include <string>

#include "frame/errors.hpp"

namespace lumeric {

void require_module(PyObject* op) {
    if (!PyModule_Check(op)) {
        set_not_instance(op, "PyModule");
        throw PythonError{};
    }
}

namespace {

// The module's `__all__` list (new reference), created when missing.
PyObject* all_list(PyObject* module) {
    PyObject* all = nullptr;
    if (PyObject_GetOptionalAttrString(module, "__all__", &all) < 0) raise_pending();
    if (all == nullptr) {
        all = PyList_New(0);
        if (all == nullptr) raise_pending();
        if (PyObject_SetAttrString(module, "__all__", all) < 0) {
            Py_DECREF(all);
            raise_pending();
        }
        return all;
    }
    if (!PyList_Check(all)) {
        set_not_instance(all, "PyList");
        Py_DECREF(all);
        throw PythonError{};
    }
    return all;
}

}  // namespace

void add_to_namespace(PyObject* module, const char* name, PyObject* value) {
    PyObject* all = all_list(module);
    PyObject* text = PyUnicode_FromString(name);
    int failed = text == nullptr || PyList_Append(all, text) < 0;
    Py_XDECREF(text);
    Py_DECREF(all);
    if (failed || PyObject_SetAttrString(module, name, value) < 0) raise_pending();
}

namespace {

PyObject* class_object(ClassCell& cell) {
    PyTypeObject* type = cell.get();
    if (type == nullptr) {
        PyObject* cause = PyErr_GetRaisedException();
        PyErr_Format(PyExc_RuntimeError, "An error occurred while initializing class %s", cell.name());
        PyObject* error = PyErr_GetRaisedException();
        PyException_SetCause(error, cause);
        PyErr_SetRaisedException(error);
        throw PythonError{};
    }
    return reinterpret_cast<PyObject*>(type);
}

}  // namespace

void register_class(PyObject* module, ClassCell& cell) { add_to_namespace(module, cell.name(), class_object(cell)); }

void register_unlisted_class(PyObject* module, ClassCell& cell) {
    if (PyObject_SetAttrString(module, cell.name(), class_object(cell)) < 0) raise_pending();
}

void register_function(PyObject* module, PyMethodDef& def) {
    // As for the host's own module functions: bound to the module object (`__self__`),
    // with the module's name as `__module__`.
    PyObject* module_name = PyModule_GetNameObject(module);
    if (module_name == nullptr) raise_pending();
    PyObject* function = PyCMethod_New(&def, module, module_name, nullptr);
    Py_DECREF(module_name);
    if (function == nullptr) raise_pending();
    PyObject* name = PyObject_GetAttrString(function, "__name__");
    const char* text = name != nullptr ? PyUnicode_AsUTF8(name) : nullptr;
    if (text == nullptr) {
        Py_XDECREF(name);
        Py_DECREF(function);
        raise_pending();
    }
    try {
        add_to_namespace(module, text, function);
    } catch (...) {
        Py_DECREF(name);
        Py_DECREF(function);
        throw;
    }
    Py_DECREF(name);
    Py_DECREF(function);
}

namespace {

PyObject* simple_namespace_type() {
    static InterpreterCell cached;
    PyObject* type = cached.get_or_make([]() -> PyObject* {
        PyObject* types = PyImport_ImportModule("types");
        if (types == nullptr) return nullptr;
        PyObject* namespace_type = PyObject_GetAttrString(types, "SimpleNamespace");
        Py_DECREF(types);
        return namespace_type;
    });
    if (type == nullptr) raise_pending();
    return type;
}

// The submodule object (new reference), made on first call.
PyObject* make_submodule(Submodule& sub) {
    claim_interpreter();

    PyObject* kwargs = Py_BuildValue("{s:s}", "name", sub.definition.m_name);
    if (kwargs == nullptr) raise_pending();
    PyObject* empty = PyTuple_New(0);
    PyObject* module_spec = empty != nullptr ? PyObject_Call(simple_namespace_type(), empty, kwargs) : nullptr;
    Py_XDECREF(empty);
    Py_DECREF(kwargs);
    if (module_spec == nullptr) raise_pending();

    PyObject* module = sub.module.get_or_make([&]() -> PyObject* {
        PyObject* made = PyModule_FromDefAndSpec2(&sub.definition, module_spec, PYTHON_API_VERSION);
        if (made != nullptr && !PyModule_Check(made)) {
            set_not_instance(made, "PyModule");
            Py_CLEAR(made);
        }
        if (made != nullptr && PyModule_ExecDef(made, &sub.definition) < 0) Py_CLEAR(made);
        return made;
    });
    Py_XINCREF(module);
    Py_DECREF(module_spec);
    if (module == nullptr) raise_pending();
    return module;
}

}  // namespace

void claim_interpreter() {
    // Class objects are process-wide and belong to the interpreter that made them.
    static std::atomic<std::int64_t> claimed{-1};
    PyInterpreterState* interp = PyInterpreterState_Get();
    std::int64_t id = PyInterpreterState_GetID(interp);
    if (id == -1) raise_pending();
    std::int64_t expected = -1;
    if (!claimed.compare_exchange_strong(expected, id) && expected != id)
        raise(PyExc_ImportError,
              "lumeric_py does not support subinterpreters: it can only be imported once per process, "
              "in the interpreter that imported it first");
    InterpreterCell::enter_interpreter();
}

void register_submodule(PyObject* parent, Submodule& sub) {
    PyObject* module = make_submodule(sub);
    PyObject* name = PyModule_GetNameObject(module);
    if (name == nullptr) {
        Py_DECREF(module);
        raise_pending();
    }
    const char* text = PyUnicode_AsUTF8(name);
    if (text == nullptr) {
        Py_DECREF(name);
        Py_DECREF(module);
        raise_pending();
    }
    std::string full = text;
    Py_DECREF(name);
    std::string last = full.substr(full.rfind('.') == std::string::npos ? 0 : full.rfind('.') + 1);
    try {
        add_to_namespace(parent, last.c_str(), module);
    } catch (...) {
        Py_DECREF(module);
        throw;
    }
    Py_DECREF(module);
}

}  // namespace lumeric
