// frame/callable.hpp: calling a C++ operation with converted Python arguments.
//
// Operations are plain functions or member functions of the core types. Their
// signature tells the frame everything: the receiver (`const T&` borrows the object
// shared, `T&` exclusively), each parameter's conversion (see convert.hpp) and the
// result conversion. Each call borrows the receiver, loads the arguments in order
// (the first failure wins, TypeErrors gaining the "argument '{name}': " prefix),
// calls the operation and converts its result; borrows end with the call.
#pragma once

#include <Python.h>

#include <cstddef>
#include <functional>
#include <tuple>
#include <type_traits>
#include <utility>

#include "frame/convert.hpp"
#include "frame/errors.hpp"
#include "frame/object.hpp"

namespace lumeric {

template <class... A>
struct TypeList {
    static constexpr std::size_t size = sizeof...(A);
};

// Receiver: void (static), `const T&` (shared) or `T&` (exclusive).
template <class Fn>
struct Signature;

template <class R, class... A>
struct Signature<R (*)(A...)> {
    using result = R;
    using params = TypeList<A...>;
};
template <class R, class... A>
struct Signature<R (*)(A...) noexcept> : Signature<R (*)(A...)> {};
template <class R, class C, class... A>
struct Signature<R (C::*)(A...) const> {
    using result = R;
    using self = const C&;
    using params = TypeList<A...>;
};
template <class R, class C, class... A>
struct Signature<R (C::*)(A...) const noexcept> : Signature<R (C::*)(A...) const> {};
template <class R, class C, class... A>
struct Signature<R (C::*)(A...)> {
    using result = R;
    using self = C&;
    using params = TypeList<A...>;
};
template <class R, class C, class... A>
struct Signature<R (C::*)(A...) noexcept> : Signature<R (C::*)(A...)> {};

// Splits a free function's first parameter off as its receiver.
template <class Params>
struct SplitReceiver;
template <class S, class... A>
struct SplitReceiver<TypeList<S, A...>> {
    using self = S;
    using params = TypeList<A...>;
};

// A method's receiver is a member function's object or a free function's first parameter.
template <auto Fn, bool IsMethod>
struct Operation {
    using Sig = Signature<decltype(Fn)>;
    using Parts = std::conditional_t<std::is_member_function_pointer_v<decltype(Fn)>, Sig,
                                     SplitReceiver<typename Sig::params>>;
    using self = typename Parts::self;
    using params = typename Parts::params;
};
template <auto Fn>
struct Operation<Fn, false> {
    using self = void;
    using params = typename Signature<decltype(Fn)>::params;
};

template <class P>
using ArgFor = Arg<std::remove_cvref_t<P>>;

// The number of leading parameters without a default; only trailing ones may have one.
template <class... P>
constexpr Py_ssize_t required_count(TypeList<P...>) {
    constexpr bool optional[] = {false, is_defaulted<std::remove_cvref_t<P>>...};
    Py_ssize_t required = 0;
    for (std::size_t i = 1; i <= sizeof...(P); ++i) {
        if (optional[i]) continue;
        if (required != static_cast<Py_ssize_t>(i) - 1) throw "a parameter with a default is followed by one without";
        required = static_cast<Py_ssize_t>(i);
    }
    return required;
}

// The number of leading parameters that may be given by position: those before the first
// keyword-only one, after which every parameter is keyword-only.
template <class... P>
constexpr Py_ssize_t positional_count(TypeList<P...>) {
    constexpr bool keyword[] = {false, is_keyword_only<std::remove_cvref_t<P>>...};
    Py_ssize_t positional = 0;
    for (std::size_t i = 1; i <= sizeof...(P); ++i) {
        if (keyword[i]) continue;
        if (positional != static_cast<Py_ssize_t>(i) - 1) throw "a keyword-only parameter is followed by another";
        positional = static_cast<Py_ssize_t>(i);
    }
    return positional;
}

// The text signature's spelling of each parameter's default (names.hpp).
template <class P>
struct DefaultSpelling {
    static constexpr std::string_view view{};
};
template <class P, auto Default>
struct DefaultSpelling<Defaulted<P, Default>> {
    static constexpr std::string_view view = [] {
        if constexpr (std::is_same_v<decltype(Default), bool>) return std::string_view(Default ? "=True" : "=False");
        else if constexpr (std::is_integral_v<decltype(Default)>) return DefaultDigits<Default>::view;
        else return DefaultText<Default>::view;
    }();
};
template <class P>
struct DefaultSpelling<KeywordOnly<P>> : DefaultSpelling<P> {};
template <Name Spelling>
struct DefaultSpelling<FloatDefault<Spelling>> {
    static constexpr auto text = concat<Spelling.view().size() + 1>(std::string_view("="), Spelling.view());
    static constexpr std::string_view view{text.c_str(), Spelling.view().size() + 1};
};
template <class P>
struct DefaultSpelling<OrNone<P>> {
    static constexpr std::string_view view{"=None"};
};

template <class L>
struct DefaultsOf;
template <class... P>
struct DefaultsOf<TypeList<P...>> {
    static constexpr std::string_view of(std::size_t i) noexcept {
        constexpr std::string_view spelled[] = {std::string_view{}, DefaultSpelling<std::remove_cvref_t<P>>::view...};
        return spelled[i + 1];
    }
    // The text signature's "*" goes before this parameter (none when it is sizeof...(P)).
    static constexpr std::size_t first_keyword = static_cast<std::size_t>(positional_count(TypeList<P...>{}));
};

// Loads every argument in order into `loaders`; throws PythonError on the first failure.
template <class Loaders, std::size_t... I>
void load_all(Loaders& loaders, PyObject* const* slots, const char* const* names, std::index_sequence<I...>) {
    bool ok = true;
    ((ok = ok && (std::get<I>(loaders).load(slots[I]) || (wrap_argument_error(names[I]), false))), ...);
    if (!ok) [[unlikely]] throw PythonError{};
}

template <class R, class F>
PyObject* call_and_convert(F&& f) {
    if constexpr (std::is_void_v<R>) {
        f();
        return Py_NewRef(Py_None);
    } else {
        return to_python(f());
    }
}

// Calls Fn on an already borrowed receiver value (or none) with the placed argument objects.
template <auto Fn, class Self, class... P>
PyObject* invoke(Self* receiver, PyObject* const* slots, const char* const* names, TypeList<P...>) {
    std::tuple<ArgFor<P>...> loaders;
    load_all(loaders, slots, names, std::index_sequence_for<P...>{});
    auto call = [&]() -> decltype(auto) {
        return std::apply(
            [&](auto&... l) -> decltype(auto) {
                if constexpr (std::is_void_v<Self>) return std::invoke(Fn, l.get()...);
                else return std::invoke(Fn, *receiver, l.get()...);
            },
            loaders);
    };
    return call_and_convert<decltype(call())>(call);
}

// Borrows `self` as the operation's receiver requires and calls it.
template <auto Fn, bool IsMethod>
PyObject* call_operation(PyObject* self, PyObject* const* slots, const char* const* names) {
    using Op = Operation<Fn, IsMethod>;
    using Self = typename Op::self;
    if constexpr (std::is_void_v<Self>) {
        return invoke<Fn, void>(nullptr, slots, names, typename Op::params{});
    } else {
        using T = std::remove_cvref_t<Self>;
        if constexpr (std::is_const_v<std::remove_reference_t<Self>>) {
            SharedRef<T> ref(self);
            if (!ref.ok()) [[unlikely]] raise(PyExc_RuntimeError, already_mutably_borrowed);
            return invoke<Fn, const T>(&ref.get(), slots, names, typename Op::params{});
        } else {
            ExclusiveRef<T> ref(self);
            ref.require();
            return invoke<Fn, T>(&ref.get(), slots, names, typename Op::params{});
        }
    }
}

}  // namespace lumeric
