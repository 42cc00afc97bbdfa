// Argument placement and its error messages.
#include "frame/arguments.hpp"

namespace lumeric {

namespace {

void too_many_positional(const CallDesc& desc, Py_ssize_t given) {
    PyErr_Format(PyExc_TypeError, "%s takes %zd positional arguments but %zd %s given", desc.call_name,
                 desc.positional, given, given == 1 ? "was" : "were");
}

// "'x'", "'x' and 'y'", "'x', 'y', and 'z'". The host builds the text, so running out of
// memory here leaves MemoryError set instead of escaping the noexcept placement.
void missing(const CallDesc& desc, PyObject** slots) {
    Py_ssize_t total = 0;
    for (Py_ssize_t i = 0; i < desc.required; ++i)
        if (slots[i] == nullptr) ++total;
    PyObject* list = PyUnicode_FromStringAndSize("", 0);
    Py_ssize_t seen = 0;
    for (Py_ssize_t i = 0; i < desc.required && list != nullptr; ++i) {
        if (slots[i] != nullptr) continue;
        const char* separator = "";
        if (seen > 0) separator = total == 2 ? " and " : seen == total - 1 ? ", and " : ", ";
        PyObject* longer = PyUnicode_FromFormat("%U%s'%s'", list, separator, desc.names[i]);
        Py_SETREF(list, longer);
        ++seen;
    }
    if (list == nullptr) return;
    PyErr_Format(PyExc_TypeError, "%s missing %zd required positional %s: %U", desc.call_name, total,
                 total == 1 ? "argument" : "arguments", list);
    Py_DECREF(list);
}

// Places one keyword argument; false with TypeError set.
bool place_keyword(const CallDesc& desc, PyObject* key, PyObject* value, PyObject** slots) {
    for (Py_ssize_t i = 0; i < desc.count; ++i) {
        if (PyUnicode_EqualToUTF8(key, desc.names[i])) {
            if (slots[i] != nullptr) {
                PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%s'", desc.call_name,
                             desc.names[i]);
                return false;
            }
            slots[i] = value;
            return true;
        }
    }
    PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%S'", desc.call_name, key);
    return false;
}

bool check_complete(const CallDesc& desc, PyObject** slots) {
    for (Py_ssize_t i = 0; i < desc.required; ++i) {
        if (slots[i] == nullptr) {
            missing(desc, slots);
            return false;
        }
    }
    return true;
}

}  // namespace

bool place_arguments(const CallDesc& desc, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                     PyObject** slots) noexcept {
    for (Py_ssize_t i = 0; i < desc.count; ++i) slots[i] = nullptr;
    if (nargs > desc.positional) {
        too_many_positional(desc, nargs);
        return false;
    }
    for (Py_ssize_t i = 0; i < nargs; ++i) slots[i] = args[i];
    if (kwnames != nullptr) {
        Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t k = 0; k < nkw; ++k)
            if (!place_keyword(desc, PyTuple_GET_ITEM(kwnames, k), args[nargs + k], slots)) return false;
    }
    return check_complete(desc, slots);
}

bool place_arguments(const CallDesc& desc, PyObject* args, PyObject* kwargs, PyObject** slots) noexcept {
    for (Py_ssize_t i = 0; i < desc.count; ++i) slots[i] = nullptr;
    Py_ssize_t nargs = PyTuple_GET_SIZE(args);
    if (nargs > desc.positional) {
        too_many_positional(desc, nargs);
        return false;
    }
    for (Py_ssize_t i = 0; i < nargs; ++i) slots[i] = PyTuple_GET_ITEM(args, i);
    if (kwargs != nullptr) {
        Py_ssize_t pos = 0;
        PyObject *key, *value;
        while (PyDict_Next(kwargs, &pos, &key, &value))
            if (!place_keyword(desc, key, value, slots)) return false;
    }
    return check_complete(desc, slots);
}

}  // namespace lumeric
