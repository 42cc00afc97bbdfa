// frame/protocol.hpp: operator and protocol slots of a class, each with its record.
//
// Every slot goes through the failure guard. Binary operators give NotImplemented for an
// operand they cannot take, so the host tries the reflected operation and then raises its
// own TypeError; an interrupt raised while converting the operand propagates instead.
#pragma once

#include <Python.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <type_traits>

#include "frame/call.hpp"
#include "frame/object.hpp"

namespace lumeric {

template <class T, Name ClassName>
struct ProtocolSlots {
    // -- Protocol slots --

    static PyType_Slot dealloc_slot() { return {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc<T>)}; }

    // `__hash__`: Fn(const T&) -> Py_hash_t (never -1).
    template <auto Fn>
    static Py_hash_t hash(PyObject* self) noexcept {
        return guard<Py_hash_t>(-1, [&] {
            T value;
            if (!copy_value<T>(self, value)) throw PythonError{};
            // The slot never gives -1, the host's error marker: a hash of -1 from Fn becomes -2,
            // as with the host's own hashes. A branch taken about never keeps this off the chain
            // of dependent instructions that ends in the result (a conditional move would not).
            const Py_hash_t result = Fn(value);
            if (result == -1) [[unlikely]] return hash_instead_of_error_marker();
            return result;
        });
    }
    [[gnu::cold, gnu::noipa]] static Py_hash_t hash_instead_of_error_marker() noexcept { return -2; }

    // Unary operators: Fn(const T&) -> R.
    template <auto Fn>
    static PyObject* unary(PyObject* self) noexcept {
        return guard([&] { return call_operation<Fn, true>(self, nullptr, nullptr); });
    }

    // Binary operators whose left operand is the object: Fn(const T&, U) -> R. An operand of
    // another type gives NotImplemented, so the host tries the reflected operation.
    template <auto Fn>
    static PyObject* binary(PyObject* a, PyObject* b) noexcept {
        return guard([&] { return try_binary<Fn>(a, b); });
    }

    // One slot serving `v * s` and `s * v`: Fn(const T&, U) -> R.
    template <auto Fn>
    static PyObject* commutative(PyObject* a, PyObject* b) noexcept {
        return guard([&] {
            PyObject* result = try_binary<Fn>(a, b);
            if (result != Py_NotImplemented) return result;
            Py_DECREF(result);
            return try_binary<Fn>(b, a);
        });
    }

    template <auto Fn>
    static PyObject* try_binary(PyObject* self, PyObject* other) {
        using U = std::remove_cvref_t<FirstOf<typename Operation<Fn, true>::params>>;
        if (!is_instance<T>(self)) return Py_NewRef(Py_NotImplemented);
        SharedRef<T> ref(self);
        if (!ref.ok()) return Py_NewRef(Py_NotImplemented);
        Arg<U> loader;
        if (!loader.load(other)) {
            discard_ordinary_failure();
            return Py_NewRef(Py_NotImplemented);
        }
        return call_and_convert<decltype(std::invoke(Fn, ref.get(), loader.get()))>(
            [&]() -> decltype(auto) { return std::invoke(Fn, ref.get(), loader.get()); });
    }

    // `__getitem__` with an unsigned index: Fn(const T&, Index) -> R. Also serves the
    // sequence item slot, so iteration and unpacking work through the host.
    template <auto Fn>
    struct Getitem {
        static PyObject* subscript(PyObject* self, PyObject* key) noexcept {
            return guard([&] {
                static constexpr const char* names[] = {"index"};
                return call_operation<Fn, true>(self, &key, names);
            });
        }
        static PyObject* item(PyObject* self, Py_ssize_t i) noexcept {
            PyObject* key = PyLong_FromSsize_t(i);
            if (key == nullptr) return nullptr;
            PyObject* result = subscript(self, key);
            Py_DECREF(key);
            return result;
        }
        static PyType_Slot mapping_slot() { return {Py_mp_subscript, reinterpret_cast<void*>(&subscript)}; }
        static PyType_Slot sequence_slot() { return {Py_sq_item, reinterpret_cast<void*>(&item)}; }
    };

    // -- Operator and protocol slots, each with its record --
    //
    //     V::op<Py_tp_repr, &repr>()            __repr__: Fn(const T&) -> std::string
    //     V::op<Py_tp_hash, &hash>()            __hash__: Fn(const T&) -> Py_hash_t (never -1)
    //     V::op<Py_nb_negative, &negate>()      unary operators: Fn(const T&) -> R
    //     V::op<Py_nb_add, &add, "other">()     binary operators: Fn(const T&, U) -> R

    template <int Id, auto Fn, Name... Params>
    static PyType_Slot op() {
        record::emit<OpRecord<record::dunder_name<Id>, Fn, Params...>>();
        if constexpr (Id == Py_tp_hash) return {Id, reinterpret_cast<void*>(&hash<Fn>)};
        else if constexpr (sizeof...(Params) == 0) return {Id, reinterpret_cast<void*>(&unary<Fn>)};
        else return {Id, reinterpret_cast<void*>(&binary<Fn>)};
    }

    // One multiplication slot serving `v * s` (`__mul__`) and `s * v` (`__rmul__`).
    template <auto Fn, Name Rhs, Name Lhs>
    static PyType_Slot commutative_multiply() {
        record::emit<OpRecord<"__mul__", Fn, Rhs>>();
        record::emit<OpRecord<"__rmul__", Fn, Lhs>>();
        return {Py_nb_multiply, reinterpret_cast<void*>(&commutative<Fn>)};
    }

    // A rich-comparison slot (compare.hpp) and the comparison methods it defines.
    template <auto Compare, Name... Methods>
    static PyType_Slot compare() {
        (record::emit<typename SlotRecord<ClassName, Methods, bool, "other">::template For<T>>(), ...);
        return {Py_tp_richcompare, reinterpret_cast<void*>(Compare)};
    }

    // `__getitem__` with an unsigned index; the sequence item slot is derived from it.
    template <auto Fn>
    static PyType_Slot getitem() {
        record::emit<OpRecord<"__getitem__", Fn, "index">>();
        return Getitem<Fn>::mapping_slot();
    }
    template <auto Fn>
    static PyType_Slot sequence_item() {
        return Getitem<Fn>::sequence_slot();
    }

    // `__len__`: Fn(const T&) -> std::size_t. `len()` reads either length slot; the host's
    // sequence helpers (`reversed`, negative sequence indices) need the sequence one,
    // which is derived like the sequence item slot.
    template <auto Fn>
    static Py_ssize_t length_of(PyObject* self) noexcept {
        return guard<Py_ssize_t>(-1, [&] {
            SharedRef<T> ref(self);
            if (!ref.ok()) [[unlikely]] raise(PyExc_RuntimeError, already_mutably_borrowed);
            return static_cast<Py_ssize_t>(Fn(ref.get()));
        });
    }
    template <auto Fn>
    static PyType_Slot length() {
        record::emit<OpRecord<"__len__", Fn>>();
        return {Py_mp_length, reinterpret_cast<void*>(&length_of<Fn>)};
    }
    template <auto Fn>
    static PyType_Slot sequence_length() {
        return {Py_sq_length, reinterpret_cast<void*>(&length_of<Fn>)};
    }

    // An iterator class: `__iter__` returns the object itself; `__next__` is
    // Fn(T&) -> std::optional<R> under the exclusive borrow, an empty result ending the
    // iteration (no object and no exception, which the host reads as StopIteration).
    static PyObject* iter_self(PyObject* self) noexcept { return Py_NewRef(self); }

    template <auto Fn>
    static PyObject* next(PyObject* self) noexcept {
        return guard([&]() -> PyObject* {
            ExclusiveRef<T> ref(self);
            ref.require();
            auto item = Fn(ref.get());
            if (!item) return nullptr;
            return to_python(std::move(*item));
        });
    }

    static PyType_Slot iterator_self() {
        record::emit<typename SlotRecord<ClassName, "__iter__", T>::template For<>>();
        return {Py_tp_iter, reinterpret_cast<void*>(&iter_self)};
    }
    template <auto Fn>
    static PyType_Slot iterator_next() {
        using Item = typename std::invoke_result_t<decltype(Fn), T&>::value_type;
        record::emit<typename SlotRecord<ClassName, "__next__", Item>::template For<>>();
        return {Py_tp_iternext, reinterpret_cast<void*>(&next<Fn>)};
    }

    template <Name Func, auto Fn, Name... Params>
    struct OpRecord {
        static constexpr std::string json() {
            using Result = typename Signature<decltype(Fn)>::result;
            std::array<std::string_view, sizeof...(Params)> names{Params.view()...};
            return record::function(Func.view(), ClassName.view(), false, record::Receiver::self,
                                    record::zip(typename Operation<Fn, true>::params{}, names),
                                    record::annotation<Result>());
        }
    };

};

}  // namespace lumeric
