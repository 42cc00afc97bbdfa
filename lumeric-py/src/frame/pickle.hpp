// frame/pickle.hpp: copy.copy, copy.deepcopy and pickle for the module's classes.
//
// One line in a class's method table, `V::copy_and_pickle()`, gives the class:
//
//     __copy__(), __deepcopy__(memo)    a new object holding a copy of the value; values
//                                       never refer to Python objects, so both are the same
//     __reduce__(), __reduce_ex__(protocol)
//         -> (lumeric_py._reconstruct, ("{Name}", state))
//
// The classes are named "builtins.{Name}", where pickle cannot find them, so loading goes
// through a private module function that pickle imports by name and that knows every class
// by its name (Reconstructor, instantiated once by the module entry). The state is the
// value's doubles in little-endian order, as bytes. A class whose value is also a buffer
// export (VecList) hands over a pickle.PickleBuffer of itself from protocol 5 on, so that
// its doubles can travel out-of-band; the buffer's view holds a shared borrow meanwhile.
//
// PickleState<T> says how a value becomes its state (its bytes, or bytes made from it) and
// back. The default serves the plain value types, made of doubles only, every bit pattern of
// which is a valid value. Loading checks everything before it builds anything: a malformed
// state raises and makes nothing.
#pragma once

#include <Python.h>

#include <array>
#include <bit>
#include <cstring>
#include <span>
#include <string>
#include <type_traits>

#include "frame/convert.hpp"
#include "frame/errors.hpp"
#include "frame/guard.hpp"
#include "frame/object.hpp"
#include "frame/interpreter_cell.hpp"
#include "frame/record.hpp"

namespace lumeric {

static_assert(std::endian::native == std::endian::little,
              "pickled states are the values' doubles as they lie in memory: a little-endian host");

using StateBytes = std::span<const unsigned char>;

// ValueError "the pickled state of {Name} holds {size} bytes, {expected}".
[[noreturn]] void malformed_state(const char* class_name, std::size_t size, const char* expected);

template <class T>
struct PickleState {
    static_assert(std::is_trivially_copyable_v<T> && sizeof(T) % sizeof(double) == 0,
                  "a plain value type pickles as its doubles");
    static constexpr bool out_of_band = false;

    static StateBytes bytes(const T& value) noexcept {
        return {reinterpret_cast<const unsigned char*>(&value), sizeof(T)};
    }
    static T load(StateBytes state) {
        if (state.size() != sizeof(T))
            malformed_state(ClassFor<T>::name.c_str(), state.size(),
                            std::to_string(sizeof(T)).append(" expected").c_str());
        std::array<unsigned char, sizeof(T)> raw;
        std::memcpy(raw.data(), state.data(), sizeof(T));
        return std::bit_cast<T>(raw);
    }
};

// -- Copies --

// The `memo` argument of `__deepcopy__`: any object, unused.
struct Memo {};

template <>
struct Arg<Memo> {
    bool load(PyObject*) noexcept { return true; }
    Memo get() const noexcept { return {}; }
};

namespace record {
template <>
struct Annotation<Memo> {
    static constexpr std::string text() {
        return subscript(builtin("dict"), tuple_expr({builtin("int"), attribute(name_expr("typing"), "Any")}));
    }
};
}  // namespace record

// The interface of the copies (for their records)...
template <class T>
T copied(const T& value) {
    return value;
}
template <class T>
T deep_copied(const T& value, Memo) {
    return value;
}

// ...and the entry point of the shallow copy: copy.copy spends most of its time in its own checks, so the
// copy itself takes the shortest way, straight to a new object of the receiver's class.
template <class T>
struct Copying {
    static PyObject* copy(PyObject* self, PyObject*) noexcept {
        return guard([&] {
            T value;
            if (!copy_value<T>(self, value)) throw PythonError{};
            return make_instance<T>(Py_TYPE(self), std::move(value));
        });
    }
    static PyMethodDef def() {
        return {"__copy__", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&copy)), METH_NOARGS,
                "__copy__($self)\n--\n\n"};
    }
};

// -- Pickling --

// Makes the reconstructor a function of `module`, as the attribute `_reconstruct` (left out
// of `__all__`: it is no part of the interface); throws PythonError.
void add_reconstructor(PyObject* module, PyMethodDef& def);

// (reconstructor, (name, state)); takes over the reference to `state`. RuntimeError if the
// module never made its reconstructor.
PyObject* reduce_to(PyObject* name, PyObject* state);

// The protocol argument of `__reduce_ex__`; throws PythonError.
long reduce_protocol(const char* class_name, PyObject* const* args, Py_ssize_t nargs);

template <class T>
struct Pickling {
    // The class name as a string object, made once per interpreter and kept.
    static PyObject* name() {
        static InterpreterCell text;
        return checked(text.get_or_make([] { return PyUnicode_InternFromString(ClassFor<T>::name.c_str()); }));
    }

    static PyObject* state(PyObject* self, long protocol) {
        if constexpr (PickleState<T>::out_of_band) {
            if (protocol >= 5) return checked(PyPickleBuffer_FromObject(self));
        }
        SharedRef<T> ref(self);
        if (!ref.ok()) raise(PyExc_RuntimeError, already_mutably_borrowed);
        // A span of the value's own bytes, or bytes made for the occasion.
        const auto bytes = PickleState<T>::bytes(ref.get());
        return checked(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(bytes.data()),
                                                 static_cast<Py_ssize_t>(bytes.size())));
    }

    static PyObject* reduce(PyObject* self, PyObject*) noexcept {
        return guard([&] { return reduce_to(name(), state(self, 2)); });
    }
    static PyObject* reduce_ex(PyObject* self, PyObject* const* args, Py_ssize_t nargs) noexcept {
        return guard([&] {
            long protocol = reduce_protocol(ClassFor<T>::name.c_str(), args, nargs);
            return reduce_to(name(), state(self, protocol));
        });
    }

    static std::array<PyMethodDef, 2> defs() {
        return {PyMethodDef{"__reduce__", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&reduce)),
                            METH_NOARGS, "__reduce__($self, /)\n--\n\n"},
                PyMethodDef{"__reduce_ex__", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&reduce_ex)),
                            METH_FASTCALL, "__reduce_ex__($self, protocol, /)\n--\n\n"}};
    }
};

// -- Loading --

// The arguments of `_reconstruct(name, state)`, checked: a str and a bytes-like object.
class ReconstructArguments {
public:
    ReconstructArguments(PyObject* const* args, Py_ssize_t nargs);
    ReconstructArguments(const ReconstructArguments&) = delete;
    ReconstructArguments& operator=(const ReconstructArguments&) = delete;
    ~ReconstructArguments();

    bool names(const char* class_name) const noexcept;
    StateBytes state() const noexcept;
    [[noreturn]] void unknown_class() const;

private:
    PyObject* name_;
    Py_buffer state_;
};

// `_reconstruct(name, state)` over the classes T...: the class named `name`, from `state`.
template <class... T>
struct Reconstructor {
    static PyObject* call(PyObject*, PyObject* const* args, Py_ssize_t nargs) noexcept {
        return guard([&] {
            ReconstructArguments in(args, nargs);
            PyObject* result = nullptr;
            (void)((in.names(ClassFor<T>::name.c_str()) ? (result = to_python(PickleState<T>::load(in.state())), true)
                                                        : false) ||
                   ...);
            if (result == nullptr) in.unknown_class();
            return result;
        });
    }
    static PyMethodDef& def() {
        static PyMethodDef definition{
            "_reconstruct", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&call)), METH_FASTCALL,
            "_reconstruct(name, state, /)\n--\n\nRebuilds a pickled object of the class `name` from its state."};
        return definition;
    }
};

}  // namespace lumeric
