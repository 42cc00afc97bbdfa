// frame/constructor.hpp: a class's constructor.
//
// `__new__` takes an argument tuple and dictionary, as the host calls it; the class also
// gets a type vectorcall with the same behaviour and messages, which spares building the
// tuple on the common `Vec3d(x, y, z)` call. The class documentation is the constructor's
// text signature ("Vec3d(x, y, z)\n--\n\n").
#pragma once

#include <Python.h>

#include <array>
#include <string>
#include <type_traits>

#include "frame/call.hpp"
#include "frame/object.hpp"

namespace lumeric {

template <class T, Name ClassName, auto Fn, Name... Params>
struct ConstructorOf {
    using Types = typename Operation<Fn, false>::params;
    using D = Described<Types, ClassName, "__new__", Params...>;
    static constexpr const char* doc = TextSignature<ClassName, false, DefaultsOf<Types>, Params...>::text.c_str();

    static_assert(std::is_same_v<typename Signature<decltype(Fn)>::result, T>, "a constructor makes a T");

    // The T made, as an object of its class: the class cannot be subclassed, so that is
    // the class the host asked for.
    static PyObject* build(PyObject* const* slots) {
        return invoke<Fn, void>(nullptr, slots, D::names, typename Operation<Fn, false>::params{});
    }
    static PyObject* new_(PyTypeObject*, PyObject* args, PyObject* kwargs) noexcept {
        return guard([&] {
            Slots<D::count> storage;
            if (!place_arguments(D::desc, args, kwargs, storage.items)) throw PythonError{};
            return build(storage.items);
        });
    }
    static PyObject* vectorcall(PyObject*, PyObject* const* args, std::size_t nargsf,
                                PyObject* kwnames) noexcept {
        return guard([&] {
            Slots<D::count> storage;
            PyObject* const* slots = D::place(args, PyVectorcall_NARGS(nargsf), kwnames, storage.items);
            return build(slots);
        });
    }
    struct Record {
        static constexpr std::string json() {
            std::array<std::string_view, sizeof...(Params)> names{Params.view()...};
            return record::function("__new__", ClassName.view(), false, record::Receiver::cls,
                                    record::zip(typename Operation<Fn, false>::params{}, names),
                                    record::annotation<T>());
        }
    };
    static PyType_Slot new_slot() {
        record::emit<Record>();
        return {Py_tp_new, reinterpret_cast<void*>(&new_)};
    }
    static PyType_Slot vectorcall_slot() { return {Py_tp_vectorcall, reinterpret_cast<void*>(&vectorcall)}; }
    static PyType_Slot doc_slot() { return {Py_tp_doc, const_cast<char*>(doc)}; }
};


}  // namespace lumeric
