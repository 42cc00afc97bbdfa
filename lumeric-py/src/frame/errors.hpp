// frame/errors.hpp: how failures travel from the module's C++ code to Python.
//
// Code below an entry point reports a Python exception by setting it and throwing
// PythonError; the failure guard at the entry point (guard.hpp) turns that into the
// host's error indication. An internal assertion failure throws Panic and reaches
// Python as pyo3_runtime.PanicException, a BaseException subclass so that ordinary
// `except Exception` handlers do not swallow it.
#pragma once

#include <Python.h>

#include <string>

namespace lumeric {

// A Python exception is set; unwind to the entry point.
struct PythonError {};

// An internal assertion failed; the text becomes the PanicException's argument.
struct Panic {
    std::string message;
};

// Sets `type` with `message` and throws PythonError.
[[noreturn]] void raise(PyObject* type, const char* message);

// Throws PythonError if a Python exception is set (after a C API call reported failure).
[[noreturn]] void raise_pending();

// The pyo3_runtime.PanicException class, created once per process (nullptr with an
// exception set if the host refuses to create it).
PyObject* panic_exception_type() noexcept;

// Sets PanicException(message) as the current exception.
void set_panic(const char* message) noexcept;

// For the places that answer NotImplemented or drop a hint instead of failing: clears
// the pending exception (if any) when it is an ordinary failure, an Exception subclass.
// KeyboardInterrupt, SystemExit and other BaseExceptions stay set and are thrown on as
// PythonError, so an interrupt is never swallowed.
void discard_ordinary_failure();

// "'{type}' object is not an instance of '{Class}'" (or the None form), as a TypeError.
void set_not_instance(PyObject* object, const char* class_name) noexcept;

// If the current exception is a TypeError, replaces it with
// TypeError("argument '{name}': {message}") whose cause is the original.
void wrap_argument_error(const char* name) noexcept;

// If the current exception is a TypeError, replaces it with TypeError("{prefix}{message}")
// whose cause is the original.
void prefix_type_error(const char* prefix) noexcept;

// repr(value) as Python writes a float ("0.5", "1e-300", "nan"), for messages; throws
// PythonError when memory runs out.
std::string float_text(double value);

// RuntimeError texts of the borrow counters.
inline constexpr const char* already_mutably_borrowed = "Already mutably borrowed";
inline constexpr const char* already_borrowed = "Already borrowed";
inline constexpr const char* already_borrowed_by_view =
    "Already borrowed: a memoryview or numpy array of this list is alive; drop it (del, .release()) first";

}  // namespace lumeric
