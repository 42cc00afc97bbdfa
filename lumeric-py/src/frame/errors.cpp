// Exception helpers shared by every class of the module.
#include "frame/errors.hpp"

#include <memory>

#include "frame/interpreter_cell.hpp"

namespace lumeric {

[[noreturn]] void raise(PyObject* type, const char* message) {
    PyErr_SetString(type, message);
    throw PythonError{};
}

[[noreturn]] void raise_pending() { throw PythonError{}; }

namespace {

constexpr const char* panic_doc =
    "\nThe exception raised when the native code called from Python hits an internal failure.\n\n"
    "Like SystemExit, this exception is derived from BaseException so that it normally\n"
    "propagates all the way up and ends the interpreter, instead of being caught by\n"
    "ordinary `except Exception` handlers.\n";

InterpreterCell panic_type;

}  // namespace

PyObject* panic_exception_type() noexcept {
    return panic_type.get_or_make([] {
        return PyErr_NewExceptionWithDoc("pyo3_runtime.PanicException", panic_doc, PyExc_BaseException, nullptr);
    });
}

void set_panic(const char* message) noexcept {
    PyObject* type = panic_exception_type();
    if (type == nullptr) return;  // the host's error from creating the type stays set
    PyObject* text = PyUnicode_FromString(message);
    if (text == nullptr) return;
    PyObject* args = PyTuple_Pack(1, text);
    Py_DECREF(text);
    if (args == nullptr) return;
    PyErr_SetObject(type, args);
    Py_DECREF(args);
}

void discard_ordinary_failure() {
    if (PyErr_Occurred() && !PyErr_ExceptionMatches(PyExc_Exception)) throw PythonError{};
    PyErr_Clear();
}

void set_not_instance(PyObject* object, const char* class_name) noexcept {
    if (object == Py_None) {
        PyErr_Format(PyExc_TypeError, "'None' is not an instance of '%s'", class_name);
        return;
    }
    PyObject* qualname = PyType_GetQualName(Py_TYPE(object));
    if (qualname == nullptr) {
        PyErr_Clear();
        PyErr_Format(PyExc_TypeError, "'<failed to extract type name>' object is not an instance of '%s'",
                     class_name);
        return;
    }
    PyErr_Format(PyExc_TypeError, "'%U' object is not an instance of '%s'", qualname, class_name);
    Py_DECREF(qualname);
}

namespace {

// Replaces a pending TypeError by TypeError("{a}{b}{c}{its text}") whose cause is the
// original. The host builds the text, so an allocation failure leaves MemoryError set
// instead of escaping as a C++ exception.
void prefix_type_error(const char* a, const char* b, const char* c) noexcept {
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) return;
    PyObject* original = PyErr_GetRaisedException();
    PyObject* text = PyObject_Str(original);
    if (text == nullptr) {
        // Keep the original exception rather than lose it.
        PyErr_SetRaisedException(original);
        return;
    }
    PyObject* message = PyUnicode_FromFormat("%s%s%s%U", a, b, c, text);
    Py_DECREF(text);
    if (message == nullptr) {
        Py_DECREF(original);
        return;
    }
    PyObject* wrapped = PyObject_CallOneArg(PyExc_TypeError, message);
    Py_DECREF(message);
    if (wrapped == nullptr) {
        Py_DECREF(original);
        return;
    }
    PyException_SetCause(wrapped, original);  // steals `original`
    PyErr_SetRaisedException(wrapped);         // steals `wrapped`
}

}  // namespace

void wrap_argument_error(const char* name) noexcept { prefix_type_error("argument '", name, "': "); }

void prefix_type_error(const char* prefix) noexcept { prefix_type_error(prefix, "", ""); }

std::string float_text(double value) {
    std::unique_ptr<char, decltype(&PyMem_Free)> text(PyOS_double_to_string(value, 'r', 0, Py_DTSF_ADD_DOT_0, nullptr),
                                                      &PyMem_Free);
    if (text == nullptr) raise_pending();
    return text.get();
}

}  // namespace lumeric
