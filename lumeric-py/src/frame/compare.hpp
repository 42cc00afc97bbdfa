// frame/compare.hpp: the rich-comparison slots shared by the classes.
//
// Ordering operators a class does not define give NotImplemented (the host then raises
// its TypeError); so does an operand of another class, letting the host fall back to
// identity. Three policies:
//
//   equality_compare: `!=` is the exact negation of the class's `==`; a right operand
//                     that is exclusively borrowed is an internal failure.
//   host_ne_compare:  only `==` is the class's own; a right operand that cannot be
//                     borrowed gives NotImplemented, and `!=` negates the truth value of
//                     the host's full `==` (reflected operand and identity fallback
//                     included), so `c != 5` is True.
//   ordered_compare:  exact ordering (the angles): `<`, `<=`, `==`, `>`, `>=` come from
//                     the core type's own operators; `!=` is derived as in host_ne_compare.
#pragma once

#include <Python.h>

#include "frame/errors.hpp"
#include "frame/guard.hpp"
#include "frame/object.hpp"

namespace lumeric {

// `!=` for classes whose inequality is not a comparison of its own: the negated truth of
// the host's full `a == b`, so reflected equality and the identity fallback take part
// and an exception from either (or from the truth test) propagates.
inline PyObject* host_not_equal(PyObject* a, PyObject* b) {
    PyObject* equal = PyObject_RichCompare(a, b, Py_EQ);
    if (equal == nullptr) raise_pending();
    int truth = PyObject_IsTrue(equal);
    Py_DECREF(equal);
    if (truth < 0) raise_pending();
    return Py_NewRef(truth ? Py_False : Py_True);
}

// What an exclusively borrowed right operand of `==` does.
enum class BusyOperand { panic, not_implemented };

// The class's `==` of two operands as a new reference to True, False or NotImplemented.
template <class T, bool (*Equal)(const T&, const T&), BusyOperand Busy>
PyObject* class_equal(PyObject* a, PyObject* b) {
    if (!is_instance<T>(a) || !is_instance<T>(b)) {
        discard_ordinary_failure();
        return Py_NewRef(Py_NotImplemented);
    }
    T left;
    if (!copy_value<T>(a, left)) {
        discard_ordinary_failure();
        return Py_NewRef(Py_NotImplemented);
    }
    // The right operand is taken without the usual conversion error path.
    T right;
    if (!copy_value<T>(b, right)) {
        discard_ordinary_failure();
        if constexpr (Busy == BusyOperand::panic) throw Panic{"Already mutably borrowed: PyBorrowError"};
        else return Py_NewRef(Py_NotImplemented);
    }
    return Py_NewRef(Equal(left, right) ? Py_True : Py_False);
}

template <class T, bool (*Equal)(const T&, const T&)>
PyObject* equality_compare(PyObject* a, PyObject* b, int op) noexcept {
    return guard([&]() -> PyObject* {
        if (op != Py_EQ && op != Py_NE) return Py_NewRef(Py_NotImplemented);
        PyObject* equal = class_equal<T, Equal, BusyOperand::panic>(a, b);
        if (op == Py_EQ || equal == Py_NotImplemented) return equal;
        bool was_equal = equal == Py_True;
        Py_DECREF(equal);
        return Py_NewRef(was_equal ? Py_False : Py_True);
    });
}

template <class T, bool (*Equal)(const T&, const T&)>
PyObject* host_ne_compare(PyObject* a, PyObject* b, int op) noexcept {
    return guard([&]() -> PyObject* {
        if (op == Py_EQ) return class_equal<T, Equal, BusyOperand::not_implemented>(a, b);
        if (op != Py_NE) return Py_NewRef(Py_NotImplemented);
        return host_not_equal(a, b);
    });
}

// Exact comparison through T's `==` and `<=>` (a NaN makes all five false). A foreign
// operand, or either operand borrowed exclusively at that moment, gives NotImplemented.
template <class T>
PyObject* ordered_compare(PyObject* a, PyObject* b, int op) noexcept {
    return guard([&]() -> PyObject* {
        if (op == Py_NE) return host_not_equal(a, b);
        if (!is_instance<T>(a) || !is_instance<T>(b)) {
            discard_ordinary_failure();
            return Py_NewRef(Py_NotImplemented);
        }
        T left;
        T right;
        if (!copy_value<T>(a, left) || !copy_value<T>(b, right)) {
            discard_ordinary_failure();
            return Py_NewRef(Py_NotImplemented);
        }
        bool result = false;
        switch (op) {
            case Py_LT: result = left < right; break;
            case Py_LE: result = left <= right; break;
            case Py_EQ: result = left == right; break;
            case Py_GT: result = left > right; break;
            case Py_GE: result = left >= right; break;
            default: return Py_NewRef(Py_NotImplemented);
        }
        return Py_NewRef(result ? Py_True : Py_False);
    });
}

}  // namespace lumeric
