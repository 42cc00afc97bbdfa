// Creation and release of the class objects.
#include "frame/object.hpp"

#include <string>

#include "frame/ref.hpp"

namespace lumeric {

namespace {

// Stores each static method of a new class as the function object its staticmethod wraps.
// `Class.name` then finds a plain class attribute, which the interpreter's attribute cache
// specialises, instead of a descriptor whose __get__ runs on every call; the call itself is
// the same (a builtin function binds to nothing, from the class or an instance). False with
// the host's error set.
bool unwrap_static_methods(PyTypeObject* type) noexcept {
    PyObject* dict = PyType_GetDict(type);
    if (dict == nullptr) return false;
    Ref owned = Ref::adopt(dict);
    PyObject* key;
    PyObject* value;
    Py_ssize_t position = 0;
    while (PyDict_Next(dict, &position, &key, &value)) {
        if (!PyObject_TypeCheck(value, &PyStaticMethod_Type)) continue;
        PyObject* function = PyObject_GetAttrString(value, "__func__");
        if (function == nullptr) return false;
        Ref held = Ref::adopt(function);
        // Replacing the value of a present key keeps the iteration valid.
        if (PyDict_SetItem(dict, key, function) < 0) return false;
    }
    PyType_Modified(type);
    return true;
}

}  // namespace

PyTypeObject* ClassCell::create() noexcept {
    return reinterpret_cast<PyTypeObject*>(get_or_make([this]() -> PyObject* {
        PyObject* type = PyType_FromSpec(type_spec_());
        if (type == nullptr) return nullptr;
        Ref made = Ref::adopt(type);
        if (!unwrap_static_methods(reinterpret_cast<PyTypeObject*>(type))) return nullptr;
        return made.release();
    }));
}

void ClassCell::on_release(PyObject* type) noexcept {
    auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(reinterpret_cast<PyTypeObject*>(type), Py_tp_free));
    while (recycled_count_ > 0) free_fn(recycled_[--recycled_count_]);
}

void set_exclusive_refused(const BorrowFlag& flag) noexcept {
    PyErr_SetString(PyExc_RuntimeError, flag.has_views() ? already_borrowed_by_view : already_borrowed);
}

PyTypeObject* ClassCell::get_for_result() {
    if (PyTypeObject* type = get()) [[likely]] return type;
    PyErr_WriteUnraisable(nullptr);
    std::string text = std::string("failed to create type object for `") + name_ + "`";
    set_panic(text.c_str());
    throw PythonError{};
}

}  // namespace lumeric
