// frame/ref.hpp: an owned reference to a Python object, released when it goes.
//
// Code that holds several new references at once (a tuple's items, a module's names, a
// snapshot of a sequence) keeps each in a Ref, so a failure anywhere releases exactly what
// was made, and no `catch (...)` exists only to count references down:
//
//     Ref first = steal(PyFloat_FromDouble(d));    // throws PythonError on NULL
//     Ref second = steal(PyLong_FromSize_t(n));
//     return tuple_of(first, second).release();    // new reference to (d, n)
#pragma once

#include <Python.h>

#include <utility>

#include "frame/errors.hpp"

namespace lumeric {

class Ref {
public:
    Ref() noexcept = default;
    Ref(Ref&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    Ref& operator=(Ref&& other) noexcept {
        Py_XSETREF(object_, std::exchange(other.object_, nullptr));
        return *this;
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() { Py_XDECREF(object_); }

    // Takes over a new reference (an empty Ref for NULL, for code that reports failure itself).
    static Ref adopt(PyObject* object) noexcept { return Ref(object); }
    // A new reference to an object owned elsewhere.
    static Ref borrow(PyObject* object) noexcept { return Ref(Py_NewRef(object)); }

    PyObject* get() const noexcept { return object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }
    // Hands the reference over; the Ref is empty after.
    PyObject* release() noexcept { return std::exchange(object_, nullptr); }

private:
    explicit Ref(PyObject* object) noexcept : object_(object) {}
    PyObject* object_ = nullptr;
};

// Takes over the result of a C API call that returns a new reference: PythonError when it
// is NULL (the host's exception is set).
inline Ref steal(PyObject* object) {
    if (object == nullptr) [[unlikely]] raise_pending();
    return Ref::adopt(object);
}

// A new tuple of the objects.
template <class... R>
Ref tuple_of(const R&... items) {
    return steal(PyTuple_Pack(sizeof...(R), items.get()...));
}

}  // namespace lumeric
