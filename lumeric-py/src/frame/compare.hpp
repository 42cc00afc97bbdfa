// frame/compare.hpp: the rich-comparison slot shared by classes that define equality.
//
// Ordering operators give NotImplemented (the host then raises its TypeError); so does
// an operand of another class, letting the host fall back to identity. `!=` is the
// exact negation of the class's `==`.
#pragma once

#include <Python.h>

#include "frame/errors.hpp"
#include "frame/guard.hpp"
#include "frame/object.hpp"

namespace lumeric {

template <class T, bool (*Equal)(const T&, const T&)>
PyObject* equality_compare(PyObject* a, PyObject* b, int op) noexcept {
    return guard([&]() -> PyObject* {
        if (op != Py_EQ && op != Py_NE) return Py_NewRef(Py_NotImplemented);
        if (!is_instance<T>(a) || !is_instance<T>(b)) {
            PyErr_Clear();
            return Py_NewRef(Py_NotImplemented);
        }
        SharedRef<T> left(a);
        if (!left.ok()) return Py_NewRef(Py_NotImplemented);
        // The right operand is taken without the usual conversion error path.
        T right;
        if (!copy_value<T>(b, right)) {
            PyErr_Clear();
            throw Panic{"Already mutably borrowed: PyBorrowError"};
        }
        bool equal = Equal(left.get(), right);
        return Py_NewRef((op == Py_EQ) == equal ? Py_True : Py_False);
    });
}

}  // namespace lumeric
