// frame/convert.hpp: conversions between Python objects and C++ values.
//
// Arguments: Arg<P> loads one parameter of type P from a Python object. load() returns
// false with the host's exception set (the caller adds the "argument '{name}': " prefix
// to a TypeError); get() hands the value to the operation. Loaders that borrow an
// object keep the borrow until they are destroyed at the end of the call.
//
// Results: to_python() turns an operation's result into a new reference, throwing
// PythonError when the host fails.
#pragma once

#include <Python.h>

#include <array>
#include <cstdint>
#include <exception>
#include <optional>
#include <string_view>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include <tovrin/euler.hpp>

#include "frame/errors.hpp"
#include "frame/names.hpp"
#include "frame/object.hpp"
#include "frame/ref.hpp"

namespace lumeric {

// An unsigned index parameter (`index`, `axis`, `stride`).
struct Index {
    std::uint64_t value;
};

// A parameter that accepts only True, False and numpy booleans.
struct StrictBool {
    bool value;
};

// A parameter that the operation reads itself as a table of doubles (frame/rows.hpp), so
// that its errors name the call: a buffer, or a sequence of rows of numbers.
struct RowsSource {
    PyObject* object;
};

// A parameter that the operation reads itself as a column of doubles (frame/rows.hpp): a
// one-dimensional float64 buffer, or a sequence of numbers.
struct FloatsSource {
    PyObject* object;
};

// A parameter that the operation reads itself as n values of the module class T
// (frame/rows.hpp): a sequence of T objects, or a buffer with one row of doubles per value.
template <class T>
struct PackedSource {
    PyObject* object;
};

// A parameter that the operation reads itself as row indices (frame/rows.hpp): a 1-D buffer of
// integers, or a sequence of ints.
struct IndexSource {
    PyObject* object;
};

// A parameter that keeps the argument as a shared borrow of a module object for the call.
template <class T>
struct Borrowed {
    const T& value;
    PyObject* object;
};

template <class P>
struct Arg;

template <>
struct Arg<double> {
    double value;
    bool load(PyObject* op) noexcept {
        if (PyFloat_CheckExact(op)) [[likely]] {
            value = PyFloat_AS_DOUBLE(op);
            return true;
        }
        value = PyFloat_AsDouble(op);
        return !(value == -1.0 && PyErr_Occurred());
    }
    double get() const noexcept { return value; }
};

// Shared by every unsigned-index conversion.
bool load_index(PyObject* op, std::uint64_t& out) noexcept;

template <>
struct Arg<Index> {
    Index value;
    bool load(PyObject* op) noexcept { return load_index(op, value.value); }
    Index get() const noexcept { return value; }
};

bool load_strict_bool(PyObject* op, bool& out) noexcept;

template <>
struct Arg<StrictBool> {
    StrictBool value;
    bool load(PyObject* op) noexcept { return load_strict_bool(op, value.value); }
    StrictBool get() const noexcept { return value; }
};

// A parameter of exactly N numbers: a tuple, list or other sequence (not str), each
// converted as a float argument; a sequence of another length is a TypeError, as for the
// host's fixed-length tuple arguments.
template <std::size_t N>
struct Doubles {
    std::array<double, N> values;
};

bool load_doubles(PyObject* op, double* out, std::size_t n) noexcept;

template <std::size_t N>
struct Arg<Doubles<N>> {
    Doubles<N> value;
    bool load(PyObject* op) noexcept { return load_doubles(op, value.values.data(), N); }
    const Doubles<N>& get() const noexcept { return value; }
};

// An Euler sequence: a str such as "xyz" or "ZXZ" (tovrin::EulerSequence::parse); another
// str is a ValueError that names it.
bool load_euler_sequence(PyObject* op, tovrin::EulerSequence& out) noexcept;

template <>
struct Arg<tovrin::EulerSequence> {
    tovrin::EulerSequence value;
    bool load(PyObject* op) noexcept { return load_euler_sequence(op, value); }
    const tovrin::EulerSequence& get() const noexcept { return value; }
};

// The argument object itself, for operations that inspect it directly.
template <>
struct Arg<PyObject*> {
    PyObject* value;
    bool load(PyObject* op) noexcept {
        value = op;
        return true;
    }
    PyObject* get() const noexcept { return value; }
};

// A source keeps the argument object as it is, for the operation to read.
template <class Source>
struct SourceArg {
    PyObject* object;
    bool load(PyObject* op) noexcept {
        object = op;
        return true;
    }
    Source get() const noexcept { return {object}; }
};
template <>
struct Arg<RowsSource> : SourceArg<RowsSource> {};
template <>
struct Arg<FloatsSource> : SourceArg<FloatsSource> {};
template <class T>
struct Arg<PackedSource<T>> : SourceArg<PackedSource<T>> {};
template <>
struct Arg<IndexSource> : SourceArg<IndexSource> {};

// A copy of a module object's core value, taken under a short shared borrow.
template <class T>
    requires HasClass<T>
struct Arg<T> {
    T value;
    bool load(PyObject* op) noexcept {
        if (!is_instance<T>(op)) [[unlikely]] {
            if (!PyErr_Occurred()) set_not_instance(op, ClassFor<T>::cell.name());
            return false;
        }
        return copy_value<T>(op, value);
    }
    const T& get() const noexcept { return value; }
};

template <class T>
struct Arg<Borrowed<T>> {
    PyObject* object = nullptr;
    ~Arg() {
        if (object != nullptr) object_cast<T>(object)->borrow.release_shared();
    }
    bool load(PyObject* op) noexcept {
        if (!is_instance<T>(op)) {
            if (!PyErr_Occurred()) set_not_instance(op, ClassFor<T>::cell.name());
            return false;
        }
        if (!object_cast<T>(op)->borrow.try_shared()) {
            PyErr_SetString(PyExc_RuntimeError, already_mutably_borrowed);
            return false;
        }
        object = op;
        return true;
    }
    Borrowed<T> get() const noexcept { return {object_cast<T>(object)->value, object}; }
};

// Any sequence (not str) of module objects, each copied out in iteration order, into a
// vector with any allocator.
template <class T, class A>
    requires HasClass<T>
struct Arg<std::vector<T, A>> {
    std::vector<T, A> value;
    bool load(PyObject* op) {
        if (PyUnicode_Check(op)) {
            PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
            return false;
        }
        if (!PySequence_Check(op)) {
            set_not_instance(op, "Sequence");
            return false;
        }
        reserve_hint(PySequence_Size(op));
        PyObject* iterator = PyObject_GetIter(op);
        if (iterator == nullptr) return false;
        bool ok = true;
        try {
            Arg<T> item_loader;
            while (PyObject* item = PyIter_Next(iterator)) {
                ok = item_loader.load(item);
                Py_DECREF(item);
                if (!ok) break;
                value.push_back(item_loader.get());
            }
        } catch (...) {
            Py_DECREF(iterator);
            throw;
        }
        Py_DECREF(iterator);
        return ok && !PyErr_Occurred();
    }
    std::vector<T, A>& get() noexcept { return value; }

private:
    // The length is only a capacity hint: an ordinary failure to report it, or a length
    // too large to reserve (a user sequence may claim anything), is ignored.
    void reserve_hint(Py_ssize_t hint) {
        if (hint < 0) {
            discard_ordinary_failure();
            return;
        }
        try {
            value.reserve(static_cast<std::size_t>(hint));
        } catch (const std::exception&) {
        }
    }
};

// A trailing parameter that may be left out, P{Default} then: `Defaulted<Count, 1>`. It is a P,
// so the operation reads it as one.
template <class P, auto Default>
struct Defaulted : P {};

template <class P>
inline constexpr bool is_defaulted = false;
template <class P, auto Default>
inline constexpr bool is_defaulted<Defaulted<P, Default>> = true;

// An omitted argument arrives as a null slot (arguments.hpp lets only these be omitted).
template <class P, auto Default>
struct Arg<Defaulted<P, Default>> {
    Arg<P> given;
    bool present = false;
    bool load(PyObject* op) noexcept(noexcept(given.load(op))) {
        present = op != nullptr;
        return !present || given.load(op);
    }
    Defaulted<P, Default> get() const {
        if (present) return {P(given.get())};
        if constexpr (std::is_null_pointer_v<decltype(Default)>) return {P{}};  // None
        else return {P{Default}};
    }
};

// A parameter given only by keyword, as every one after it must be; each has a default:
// `KeywordOnly<Defaulted<StrictBool, false>>`. It is a P.
template <class P>
struct KeywordOnly : P {
    static_assert(is_defaulted<P>, "a keyword-only parameter has a default");
};

template <class P>
inline constexpr bool is_keyword_only = false;
template <class P>
inline constexpr bool is_keyword_only<KeywordOnly<P>> = true;
template <class P>
inline constexpr bool is_defaulted<KeywordOnly<P>> = true;

template <class P>
struct Arg<KeywordOnly<P>> {
    Arg<P> given;
    bool load(PyObject* op) noexcept(noexcept(given.load(op))) { return given.load(op); }
    KeywordOnly<P> get() const { return {given.get()}; }
};

// A trailing float parameter that may be left out, its default written as Python writes it
// ("1e-06"): the signature and the record show that text, and the value is read from it.
template <Name Spelling>
struct FloatDefault {
    double value;
    static constexpr double fallback = [] {
        // Digits, an optional '.' and digits, an optional 'e' and a signed exponent below 23,
        // where the power of ten is exact and one division rounds the value correctly.
        std::string_view text = Spelling.view();
        double digits = 0, scale = 0;
        std::size_t k = 0;
        for (; k < text.size() && text[k] != 'e'; ++k) {
            if (text[k] == '.') scale = 1;
            else {
                digits = digits * 10 + (text[k] - '0');
                if (scale != 0) scale *= 10;
            }
        }
        int exponent = 0;
        bool negative = false;
        if (k < text.size()) {
            negative = text[++k] == '-';
            if (text[k] == '-' || text[k] == '+') ++k;
            for (; k < text.size(); ++k) exponent = exponent * 10 + (text[k] - '0');
        }
        double power = 1;
        for (int e = 0; e < exponent; ++e) power *= 10;
        if (scale == 0) scale = 1;
        return negative ? digits / (scale * power) : digits * power / scale;
    }();
};
template <Name Spelling>
inline constexpr bool is_defaulted<FloatDefault<Spelling>> = true;
template <Name Spelling>
struct Arg<FloatDefault<Spelling>> {
    Arg<double> given;
    bool present = false;
    bool load(PyObject* op) noexcept {
        present = op != nullptr;
        return !present || given.load(op);
    }
    FloatDefault<Spelling> get() const noexcept { return {present ? given.get() : FloatDefault<Spelling>::fallback}; }
};

// A trailing parameter that may be left out or given as None: empty then.
template <class P>
struct OrNone {
    std::optional<P> value;
};
template <class P>
inline constexpr bool is_defaulted<OrNone<P>> = true;
template <class P>
struct Arg<OrNone<P>> {
    Arg<P> given;
    bool present = false;
    bool load(PyObject* op) noexcept(noexcept(given.load(op))) {
        present = op != nullptr && op != Py_None;
        return !present || given.load(op);
    }
    OrNone<P> get() const { return present ? OrNone<P>{P(given.get())} : OrNone<P>{}; }
};

// -- Results --

inline PyObject* checked(PyObject* op) {
    if (op == nullptr) [[unlikely]] raise_pending();
    return op;
}

inline PyObject* to_python(double v) { return checked(PyFloat_FromDouble(v)); }
inline PyObject* to_python(bool v) { return Py_NewRef(v ? Py_True : Py_False); }
inline PyObject* to_python(std::uint64_t v) { return checked(PyLong_FromUnsignedLongLong(v)); }
inline PyObject* to_python(Py_hash_t v) { return checked(PyLong_FromSsize_t(v)); }
inline PyObject* to_python(const std::string& v) {
    return checked(PyUnicode_FromStringAndSize(v.data(), static_cast<Py_ssize_t>(v.size())));
}
// An owned reference produced by the operation itself.
inline PyObject* to_python(PyObject* v) { return checked(v); }

template <class T>
    requires HasClass<std::decay_t<T>>
PyObject* to_python(T&& v) {
    return new_object<std::decay_t<T>>(std::forward<T>(v));
}

// Containers convert their items by these same overloads, so they nest (a matrix is a
// list of lists); declared before their definitions for that reason.
template <class E, std::size_t N>
PyObject* to_python(const std::array<E, N>& v);
template <class E>
PyObject* to_python(const std::vector<E>& v);
template <class... E>
PyObject* to_python(const std::tuple<E...>& v);
template <class A, class B>
PyObject* to_python(const std::pair<A, B>& v);
template <class A, class B>
PyObject* to_python(std::pair<A, B>&& v);
template <class... E>
PyObject* to_python(std::variant<E...>&& v);

// Fills `list`, a new list of the items' length, with convert(item) for each item in turn;
// frees it if a conversion fails.
template <class Items, class Convert>
PyObject* fill_list(PyObject* list, const Items& items, Convert convert) {
    Py_ssize_t k = 0;
    try {
        for (const auto& item : items) PyList_SET_ITEM(list, k++, convert(item));
    } catch (...) {
        Py_DECREF(list);  // unset items are NULL, which list deallocation skips
        throw;
    }
    return list;
}

template <class Seq>
PyObject* list_to_python(const Seq& items) {
    return fill_list(checked(PyList_New(static_cast<Py_ssize_t>(std::size(items)))), items,
                     [](const auto& item) { return to_python(item); });
}

template <class E, std::size_t N>
PyObject* to_python(const std::array<E, N>& v) {
    return list_to_python(v);
}
template <class E>
PyObject* to_python(const std::vector<E>& v) {
    return list_to_python(v);
}

template <class... E>
PyObject* to_python(const std::tuple<E...>& v) {
    PyObject* tuple = checked(PyTuple_New(sizeof...(E)));
    try {
        std::apply(
            [&](const auto&... items) {
                Py_ssize_t k = 0;
                ((PyTuple_SET_ITEM(tuple, k++, to_python(items))), ...);
            },
            v);
    } catch (...) {
        Py_DECREF(tuple);
        throw;
    }
    return tuple;
}
// A result of one of several forms (a list, or the list and its inverse), moved out.
template <class... E>
PyObject* to_python(std::variant<E...>&& v) {
    return std::visit([](auto&& form) { return to_python(std::move(form)); }, std::move(v));
}

template <class A, class B>
PyObject* to_python(const std::pair<A, B>& v) {
    return to_python(std::tuple<A, B>(v.first, v.second));
}
// A pair made for the result, its items moved out (array results, lists made by the operation).
template <class A, class B>
PyObject* to_python(std::pair<A, B>&& v) {
    const Ref first = steal(to_python(std::move(v.first)));
    const Ref second = steal(to_python(std::move(v.second)));
    return tuple_of(first, second).release();
}

}  // namespace lumeric
