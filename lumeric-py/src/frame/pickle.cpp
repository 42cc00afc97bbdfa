// frame/pickle.cpp: the reconstructor's home and the checks of pickled arguments.
#include "frame/pickle.hpp"

#include "frame/interpreter_cell.hpp"

namespace lumeric {

namespace {

// One reconstructor per interpreter: a re-import hands the same function to the new module,
// so a pickle names the same object whichever module object it was found through.
InterpreterCell reconstructor_cell;

}  // namespace

void malformed_state(const char* class_name, std::size_t size, const char* expected) {
    PyErr_Format(PyExc_ValueError, "the pickled state of %s holds %zu bytes, %s", class_name, size, expected);
    throw PythonError{};
}

void add_reconstructor(PyObject* module, PyMethodDef& def) {
    PyObject* function = reconstructor_cell.get_or_make([&]() -> PyObject* {
        PyObject* module_name = PyModule_GetNameObject(module);
        if (module_name == nullptr) return nullptr;
        PyObject* made = PyCMethod_New(&def, module, module_name, nullptr);
        Py_DECREF(module_name);
        return made;
    });
    if (function == nullptr || PyObject_SetAttrString(module, def.ml_name, function) < 0) raise_pending();
}

PyObject* reduce_to(PyObject* name, PyObject* state) {
    PyObject* function = reconstructor_cell.peek();
    if (function == nullptr) {
        Py_DECREF(state);
        raise(PyExc_RuntimeError, "lumeric_py has not been initialised");
    }
    PyObject* arguments = PyTuple_Pack(2, name, state);
    Py_DECREF(state);
    if (arguments == nullptr) raise_pending();
    PyObject* result = PyTuple_Pack(2, function, arguments);
    Py_DECREF(arguments);
    return checked(result);
}

long reduce_protocol(const char* class_name, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 1) {
        PyErr_Format(PyExc_TypeError, "%s.__reduce_ex__() takes exactly one argument (%zd given)", class_name, nargs);
        throw PythonError{};
    }
    long protocol = PyLong_AsLong(args[0]);
    if (protocol == -1 && PyErr_Occurred()) throw PythonError{};
    return protocol;
}

ReconstructArguments::ReconstructArguments(PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 2) {
        PyErr_Format(PyExc_TypeError, "_reconstruct() takes 2 positional arguments but %zd were given", nargs);
        throw PythonError{};
    }
    name_ = args[0];
    if (!PyUnicode_Check(name_)) {
        PyErr_Format(PyExc_TypeError, "_reconstruct(): the class name must be a str, not '%.200s'",
                     Py_TYPE(name_)->tp_name);
        throw PythonError{};
    }
    if (PyObject_GetBuffer(args[1], &state_, PyBUF_SIMPLE) < 0) {
        if (PyErr_ExceptionMatches(PyExc_TypeError)) {
            PyErr_Clear();
            PyErr_Format(PyExc_TypeError, "_reconstruct(): the state must be a bytes-like object, not '%.200s'",
                         Py_TYPE(args[1])->tp_name);
        }
        throw PythonError{};
    }
}

ReconstructArguments::~ReconstructArguments() { PyBuffer_Release(&state_); }

bool ReconstructArguments::names(const char* class_name) const noexcept {
    return PyUnicode_EqualToUTF8(name_, class_name);
}

StateBytes ReconstructArguments::state() const noexcept {
    return {static_cast<const unsigned char*>(state_.buf), static_cast<std::size_t>(state_.len)};
}

void ReconstructArguments::unknown_class() const {
    PyErr_Format(PyExc_ValueError, "_reconstruct(): no class of lumeric_py is named %R", name_);
    throw PythonError{};
}

}  // namespace lumeric
