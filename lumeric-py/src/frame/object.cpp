// Creation and release of the class objects.
#include "frame/object.hpp"

#include <string>

namespace lumeric {

PyTypeObject* ClassCell::create() noexcept {
    return reinterpret_cast<PyTypeObject*>(
        get_or_make([this] { return reinterpret_cast<PyObject*>(PyType_FromSpec(type_spec_())); }));
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
