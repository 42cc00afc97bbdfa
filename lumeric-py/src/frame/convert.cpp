// Out-of-line argument conversions.
#include "frame/convert.hpp"

#include <cstring>

#include "frame/ref.hpp"

namespace lumeric {

bool load_index(PyObject* op, std::uint64_t& out) noexcept {
    if (PyLong_Check(op)) [[likely]] {
        out = PyLong_AsUnsignedLongLong(op);
        return !(out == static_cast<std::uint64_t>(-1) && PyErr_Occurred());
    }
    PyObject* number = PyNumber_Index(op);
    if (number == nullptr) return false;
    out = PyLong_AsUnsignedLongLong(number);
    Py_DECREF(number);
    return !(out == static_cast<std::uint64_t>(-1) && PyErr_Occurred());
}

bool load_doubles(PyObject* op, double* out, std::size_t n) noexcept {
    if (PyUnicode_Check(op) || !PySequence_Check(op)) {
        set_not_instance(op, "Sequence");
        return false;
    }
    // A tuple or list is read in place; any other sequence through one snapshot of its items.
    PyObject* fast = PySequence_Fast(op, "");
    if (fast == nullptr) return false;
    Ref items = Ref::adopt(fast);
    Py_ssize_t size = PySequence_Fast_GET_SIZE(fast);
    if (static_cast<std::size_t>(size) != n) {
        PyErr_Format(PyExc_TypeError, "expected a sequence of %zu numbers, got %zd items", n, size);
        return false;
    }
    PyObject** item = PySequence_Fast_ITEMS(fast);
    Arg<double> number;
    for (std::size_t k = 0; k < n; ++k) {
        if (!number.load(item[k])) return false;
        out[k] = number.get();
    }
    return true;
}

bool load_euler_sequence(PyObject* op, tovrin::EulerSequence& out) noexcept {
    if (!PyUnicode_Check(op)) {
        set_not_instance(op, "str");
        return false;
    }
    // Read in place: a sequence is ASCII, and any other text is refused below all the same.
    std::string_view text;
    if (PyUnicode_IS_ASCII(op)) {
        auto length = static_cast<std::size_t>(PyUnicode_GET_LENGTH(op));
        text = {reinterpret_cast<const char*>(PyUnicode_1BYTE_DATA(op)), length};
    }
    if (auto seq = tovrin::EulerSequence::parse(text)) [[likely]] {
        // Field by field: GCC copies the whole struct as one word read back from the bytes it
        // has just stored, which stalls that read.
        for (std::size_t k = 0; k < 3; ++k) out.axes[k] = seq->axes[k];
        out.intrinsic = seq->intrinsic;
        return true;
    }
    PyErr_Format(PyExc_ValueError,
                 "seq %R is not an Euler sequence: three of the letters \"xyz\" (extrinsic) or \"XYZ\" "
                 "(intrinsic), no letter twice in a row",
                 op);
    return false;
}

namespace {

// numpy's boolean scalar type, recognised by its module and name without importing numpy.
bool is_numpy_bool(PyTypeObject* type) {
    PyObject* module = PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__module__");
    if (module == nullptr) {
        PyErr_Clear();
        return false;
    }
    bool numpy = PyUnicode_Check(module) && PyUnicode_EqualToUTF8(module, "numpy");
    Py_DECREF(module);
    if (!numpy) return false;
    PyObject* name = PyType_GetName(type);
    if (name == nullptr) {
        PyErr_Clear();
        return false;
    }
    bool match = PyUnicode_EqualToUTF8(name, "bool_") || PyUnicode_EqualToUTF8(name, "bool");
    Py_DECREF(name);
    return match;
}

}  // namespace

bool load_strict_bool(PyObject* op, bool& out) noexcept {
    if (op == Py_True || op == Py_False) {
        out = op == Py_True;
        return true;
    }
    PyTypeObject* type = Py_TYPE(op);
    if (!is_numpy_bool(type)) {
        set_not_instance(op, "bool");
        return false;
    }
    auto nb_bool = reinterpret_cast<inquiry>(PyType_GetSlot(type, Py_nb_bool));
    if (nb_bool == nullptr) {
        PyErr_Format(PyExc_TypeError, "object of type '%S' does not define a '__bool__' conversion",
                     reinterpret_cast<PyObject*>(type));
        return false;
    }
    int truth = nb_bool(op);
    if (truth < 0) return false;
    out = truth != 0;
    return true;
}

}  // namespace lumeric
