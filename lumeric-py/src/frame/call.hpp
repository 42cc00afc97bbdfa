// frame/call.hpp: one call from Python into a C++ operation, and its interface record.
//
// A call is described once by its Python name and parameter names. The frame places the
// arguments (fast path: exactly the right positional arguments, used in place), converts
// them, borrows the receiver, calls the operation under the failure guard and converts
// its result. The same description yields the text signature and the record.
#pragma once

#include <Python.h>

#include <array>
#include <string>
#include <string_view>

#include "frame/arguments.hpp"
#include "frame/callable.hpp"
#include "frame/convert.hpp"
#include "frame/guard.hpp"
#include "frame/names.hpp"
#include "frame/record.hpp"

namespace lumeric {

template <class F>
inline PyCFunction as_cfunction(F* fn) noexcept {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn));
}

template <class L>
struct FirstOfList;
template <class A, class... Rest>
struct FirstOfList<TypeList<A, Rest...>> {
    using type = A;
};
template <class L>
using FirstOf = typename FirstOfList<L>::type;

// The static description of one call: its error name, parameter names and how many of them
// are required (those of Op, an Operation's parameter list).
template <class Op, Name Class, Name Func, Name... Params>
struct Described {
    static constexpr const char* names[sizeof...(Params) + 1] = {Params.c_str()..., nullptr};
    static constexpr CallDesc desc{CallName<Class, Func>::text.c_str(), names,
                                   static_cast<Py_ssize_t>(sizeof...(Params)), required_count(Op{}),
                                   positional_count(Op{})};
    static constexpr Py_ssize_t count = sizeof...(Params);

    // Positional arguments are used in place when they are exactly right.
    static PyObject* const* place(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                                  PyObject** storage) {
        if (nargs == count && kwnames == nullptr && desc.positional == count) [[likely]] return args;
        if (!place_arguments(desc, args, nargs, kwnames, storage)) throw PythonError{};
        return storage;
    }
};

// Parameter storage that is valid C++ even for an operation without parameters.
template <Py_ssize_t N>
struct Slots {
    PyObject* items[N > 0 ? N : 1];
};

template <auto Fn, bool IsMethod, Name Class, Name Func, Name... Params>
struct FastCall {
    using D = Described<typename Operation<Fn, IsMethod>::params, Class, Func, Params...>;
    static_assert(Operation<Fn, IsMethod>::params::size == sizeof...(Params),
                  "one parameter name per operation parameter");

    static PyObject* entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
        return guard([&] {
            Slots<D::count> storage;
            PyObject* const* slots = D::place(args, nargs, kwnames, storage.items);
            return call_operation<Fn, IsMethod>(self, slots, D::names);
        });
    }
    static PyObject* no_args(PyObject* self, PyObject*) noexcept {
        return guard([&] { return call_operation<Fn, IsMethod>(self, nullptr, nullptr); });
    }
};

// -- Interface records of calls --

enum class Decorator { none, staticmethod };

template <auto Fn, bool IsMethod, Name Class, Name Func, record::Receiver Recv, Decorator Deco, Name... Params>
struct CallRecord {
    static constexpr std::string json() {
        using Op = Operation<Fn, IsMethod>;
        using Result = typename Signature<decltype(Fn)>::result;
        std::array<std::string_view, sizeof...(Params)> names{Params.view()...};
        return record::function(Func.view(), Class.view(), Class.view().empty(), Recv,
                                record::zip(typename Op::params{}, names), record::annotation<Result>(),
                                Deco == Decorator::staticmethod ? record::staticmethod_decorator() : "");
    }
};

// A record with explicit arguments and result, for slots whose C++ form differs from
// their Python form (comparisons, operators, hashing).
template <Name Class, Name Func, class Result, Name... Params>
struct SlotRecord {
    template <class... A>
    struct For {
        static constexpr std::string json() {
            std::array<std::string_view, sizeof...(Params)> names{Params.view()...};
            return record::function(Func.view(), Class.view(), false, record::Receiver::self,
                                    record::zip(TypeList<A...>{}, names), record::annotation<Result>());
        }
    };
};

// The method-table entry of a call, with its record: a method, a static method or (with
// an empty class name) a module-level function, "plane_line()" in errors and
// "plane_line(plane, a, b)" as signature.
template <auto Fn, bool IsMethod, Name Class, Name Func, record::Receiver Recv, Decorator Deco, Name... Params>
PyMethodDef method_def() {
    using Call = FastCall<Fn, IsMethod, Class, Func, Params...>;
    record::emit<CallRecord<Fn, IsMethod, Class, Func, Recv, Deco, Params...>>();
    using Defaults = DefaultsOf<typename Operation<Fn, IsMethod>::params>;
    const char* doc = TextSignature<Func, IsMethod, Defaults, Params...>::text.c_str();
    const int binding = Deco == Decorator::staticmethod ? METH_STATIC : 0;
    if constexpr (sizeof...(Params) == 0)
        return {Func.c_str(), as_cfunction(&Call::no_args), METH_NOARGS | binding, doc};
    else
        return {Func.c_str(), as_cfunction(&Call::entry), METH_FASTCALL | METH_KEYWORDS | binding, doc};
}

// A module-level function as a type, so that a module's member list can name it.
template <Name Func, auto Fn, Name... Params>
struct Function {
    static constexpr auto name = Func;
    static PyMethodDef& def() {
        static PyMethodDef definition =
            method_def<Fn, false, "", Func, record::Receiver::none, Decorator::none, Params...>();
        return definition;
    }
};

}  // namespace lumeric
