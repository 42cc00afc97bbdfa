// Namespace filling, class registration and the once-per-process submodule.
#include "frame/module.hpp"

#include <string>

#include "frame/errors.hpp"
#include "frame/ref.hpp"

namespace lumeric {

void require_module(PyObject* op) {
    if (!PyModule_Check(op)) {
        set_not_instance(op, "PyModule");
        throw PythonError{};
    }
}

namespace {

// The module's `__all__` list, created when missing.
Ref all_list(PyObject* module) {
    PyObject* found = nullptr;
    if (PyObject_GetOptionalAttrString(module, "__all__", &found) < 0) raise_pending();
    if (found == nullptr) {
        Ref all = steal(PyList_New(0));
        if (PyObject_SetAttrString(module, "__all__", all.get()) < 0) raise_pending();
        return all;
    }
    Ref all = Ref::adopt(found);
    if (!PyList_Check(found)) {
        set_not_instance(found, "PyList");
        throw PythonError{};
    }
    return all;
}

}  // namespace

void add_to_namespace(PyObject* module, const char* name, PyObject* value) {
    const Ref all = all_list(module);
    const Ref text = steal(PyUnicode_FromString(name));
    if (PyList_Append(all.get(), text.get()) < 0 || PyObject_SetAttrString(module, name, value) < 0) raise_pending();
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
    const Ref module_name = steal(PyModule_GetNameObject(module));
    const Ref function = steal(PyCMethod_New(&def, module, module_name.get(), nullptr));
    const Ref name = steal(PyObject_GetAttrString(function.get(), "__name__"));
    const char* text = PyUnicode_AsUTF8(name.get());
    if (text == nullptr) raise_pending();
    add_to_namespace(module, text, function.get());
}

namespace {

PyObject* simple_namespace_type() {
    static InterpreterCell cached;
    PyObject* type = cached.get_or_make([]() -> PyObject* {
        const Ref types = Ref::adopt(PyImport_ImportModule("types"));
        return types ? PyObject_GetAttrString(types.get(), "SimpleNamespace") : nullptr;
    });
    if (type == nullptr) raise_pending();
    return type;
}

// The submodule object, made on first call.
Ref make_submodule(Submodule& sub) {
    claim_interpreter();

    const Ref kwargs = steal(Py_BuildValue("{s:s}", "name", sub.definition.m_name));
    const Ref empty = steal(PyTuple_New(0));
    const Ref module_spec = steal(PyObject_Call(simple_namespace_type(), empty.get(), kwargs.get()));

    PyObject* module = sub.module.get_or_make([&]() -> PyObject* {
        PyObject* made = PyModule_FromDefAndSpec2(&sub.definition, module_spec.get(), PYTHON_API_VERSION);
        if (made != nullptr && !PyModule_Check(made)) {
            set_not_instance(made, "PyModule");
            Py_CLEAR(made);
        }
        if (made != nullptr && PyModule_ExecDef(made, &sub.definition) < 0) Py_CLEAR(made);
        return made;
    });
    if (module == nullptr) raise_pending();
    return Ref::borrow(module);
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
    const Ref module = make_submodule(sub);
    const Ref name = steal(PyModule_GetNameObject(module.get()));
    const char* text = PyUnicode_AsUTF8(name.get());
    if (text == nullptr) raise_pending();
    const std::string full = text;
    const std::string last = full.substr(full.rfind('.') == std::string::npos ? 0 : full.rfind('.') + 1);
    add_to_namespace(parent, last.c_str(), module.get());
}

}  // namespace lumeric
