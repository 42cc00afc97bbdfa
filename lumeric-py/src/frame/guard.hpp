// frame/guard.hpp: the failure guard around every entry point the interpreter calls.
//
// Entry points are noexcept; the guard converts whatever escapes the operation into the
// host's error indication: PythonError (exception already set) and a batch interrupted by a
// signal handler's exception (frame/interrupt.hpp) pass through, Panic
// and any other C++ exception become pyo3_runtime.PanicException, and an allocation
// failure becomes MemoryError.
#pragma once

#include <Python.h>

#include <exception>
#include <new>

#include "frame/errors.hpp"
#include "pool/interrupt.hpp"

namespace lumeric {

template <class R, class F>
R guard(R failure, F&& body) noexcept {
    try {
        return body();
    } catch (const PythonError&) {
    } catch (const pool::Interrupted&) {
        if (!PyErr_Occurred()) set_panic("batch interrupted without an exception");
    } catch (const Panic& panic) {
        set_panic(panic.message.c_str());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& error) {
        set_panic(error.what());
    } catch (...) {
        set_panic("unknown internal failure");
    }
    return failure;
}

template <class F>
PyObject* guard(F&& body) noexcept {
    return guard<PyObject*>(nullptr, std::forward<F>(body));
}

}  // namespace lumeric
