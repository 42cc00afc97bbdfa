// frame/record.hpp: machine-readable interface records, built from the same
// descriptions that build the classes.
//
// Every method, property, constructor, operator and module function declared through
// define.hpp also leaves one record: a JSON object
// describing its name, parent class, arguments, annotations and decorators. The
// records are assembled at compile time from the C++ signatures (a `double` parameter
// is `builtins.float`, a core type is a reference to its class, ...) and collected in
// the section `.lumeric_records`; the build turns each one into an exported symbol
// that stub generators read without importing the module.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "frame/callable.hpp"
#include "frame/convert.hpp"
#include "frame/names.hpp"

namespace lumeric::record {

// -- Identifiers: stable 64-bit numbers derived from names, written in decimal --

constexpr std::uint64_t fnv1a(std::string_view kind, std::string_view name) {
    std::uint64_t h = 0xcbf29ce484222325ULL;
    for (char c : kind) h = (h ^ static_cast<unsigned char>(c)) * 0x100000001b3ULL;
    h = (h ^ ':') * 0x100000001b3ULL;
    for (char c : name) h = (h ^ static_cast<unsigned char>(c)) * 0x100000001b3ULL;
    return h;
}

constexpr std::string decimal(std::uint64_t v) {
    std::string digits;
    do {
        digits.insert(digits.begin(), static_cast<char>('0' + v % 10));
        v /= 10;
    } while (v != 0);
    return digits;
}

constexpr std::string class_id(std::string_view name) { return decimal(fnv1a("class", name)); }
constexpr std::string function_id(std::string_view name) { return decimal(fnv1a("function", name)); }
constexpr std::string module_id(std::string_view name) { return decimal(fnv1a("module", name)); }

// -- JSON pieces --

// Copies character by character: constructing a std::string from a pointer compares it with
// null, which GCC cannot decide at compile time for the text of a template argument when
// null-pointer checks are kept (-fsanitize=undefined, the sanitizer build).
constexpr std::string quoted(std::string_view s) {
    std::string out = "\"";
    for (char c : s) out += c;
    out += '"';
    return out;
}

constexpr std::string name_expr(std::string_view id) { return "{\"type\":\"name\",\"id\":" + quoted(id) + "}"; }
constexpr std::string attribute(const std::string& value, std::string_view attr) {
    return "{\"type\":\"attribute\",\"value\":" + value + ",\"attr\":" + quoted(attr) + "}";
}
constexpr std::string builtin(std::string_view attr) { return attribute(name_expr("builtins"), attr); }
constexpr std::string class_ref(std::string_view class_name) {
    return "{\"type\":\"id\",\"id\":" + quoted(class_id(class_name)) + "}";
}
constexpr std::string subscript(const std::string& value, const std::string& slice) {
    return "{\"type\":\"subscript\",\"value\":" + value + ",\"slice\":" + slice + "}";
}
constexpr std::string tuple_expr(const std::vector<std::string>& elements) {
    std::string out = "{\"type\":\"tuple\",\"elts\":[";
    for (std::size_t i = 0; i < elements.size(); ++i) out += (i ? "," : "") + elements[i];
    return out + "]}";
}
constexpr std::string or_none(const std::string& value) {
    return "{\"type\":\"binop\",\"left\":" + value + ",\"op\":\"bitor\",\"right\":{\"type\":\"constant\",\"kind\":\"none\"}}";
}
constexpr std::string either(const std::string& left, const std::string& right) {
    return "{\"type\":\"binop\",\"left\":" + left + ",\"op\":\"bitor\",\"right\":" + right + "}";
}
constexpr std::string none_expr() { return name_expr("None"); }

// -- Annotations of C++ parameter and result types --

template <class T>
struct Annotation;

template <>
struct Annotation<double> {
    static constexpr std::string text() { return builtin("float"); }
};
template <>
struct Annotation<bool> {
    static constexpr std::string text() { return builtin("bool"); }
};
template <>
struct Annotation<StrictBool> : Annotation<bool> {};
template <>
struct Annotation<Index> {
    static constexpr std::string text() { return builtin("int"); }
};
template <>
struct Annotation<std::uint64_t> : Annotation<Index> {};
template <>
struct Annotation<Py_hash_t> : Annotation<Index> {};
template <>
struct Annotation<std::string> {
    static constexpr std::string text() { return builtin("str"); }
};
template <>
struct Annotation<void> {
    static constexpr std::string text() { return none_expr(); }
};
template <class T>
    requires HasClass<T>
struct Annotation<T> {
    static constexpr std::string text() { return class_ref(ClassFor<T>::name.view()); }
};
template <class T>
struct Annotation<Borrowed<T>> : Annotation<T> {};
template <class P, auto Default>
struct Annotation<Defaulted<P, Default>> : Annotation<P> {};
template <Name Spelling>
struct Annotation<FloatDefault<Spelling>> : Annotation<double> {};
template <class P>
struct Annotation<OrNone<P>> {
    static constexpr std::string text() { return or_none(Annotation<P>::text()); }
};
template <class P>
struct Annotation<KeywordOnly<P>> : Annotation<P> {};
template <class A, class... Rest>
struct Annotation<std::variant<A, Rest...>> {
    static constexpr std::string text() {
        std::string out = Annotation<A>::text();
        ((out = either(out, Annotation<Rest>::text())), ...);
        return out;
    }
};
// An Euler sequence is written as a str.
template <>
struct Annotation<tovrin::EulerSequence> : Annotation<std::string> {};
template <std::size_t N>
struct Annotation<Doubles<N>> {
    static constexpr std::string text() {
        return subscript(attribute(name_expr("collections.abc"), "Sequence"), builtin("float"));
    }
};
template <class E, std::size_t N>
struct Annotation<std::array<E, N>> {
    static constexpr std::string text() { return subscript(builtin("list"), Annotation<E>::text()); }
};
template <class E>
struct Annotation<std::vector<E>> {
    static constexpr std::string text() { return subscript(builtin("list"), Annotation<E>::text()); }
};
template <class... E>
struct Annotation<std::tuple<E...>> {
    static constexpr std::string text() {
        return subscript(builtin("tuple"), tuple_expr({Annotation<std::remove_cvref_t<E>>::text()...}));
    }
};
template <class A, class B>
struct Annotation<std::pair<A, B>> : Annotation<std::tuple<A, B>> {};

// A parameter annotated as a sequence of a class (the sequence conversion of convert.hpp).
template <class T>
struct SequenceOf {
    static constexpr std::string text() {
        return subscript(attribute(name_expr("collections.abc"), "Sequence"), Annotation<T>::text());
    }
};

// Sources: a buffer, or a sequence of rows of numbers or of objects of a class.
template <>
struct Annotation<RowsSource> {
    static constexpr std::string text() {
        const std::string sequence = attribute(name_expr("collections.abc"), "Sequence");
        return subscript(attribute(name_expr("typing"), "Union"),
                         tuple_expr({attribute(name_expr("collections.abc"), "Buffer"),
                                     subscript(sequence, subscript(sequence, builtin("float")))}));
    }
};
template <>
struct Annotation<FloatsSource> {
    static constexpr std::string text() {
        return subscript(attribute(name_expr("typing"), "Union"),
                         tuple_expr({attribute(name_expr("collections.abc"), "Buffer"),
                                     subscript(attribute(name_expr("collections.abc"), "Sequence"), builtin("float"))}));
    }
};
template <class T>
struct Annotation<PackedSource<T>> {
    static constexpr std::string text() {
        return subscript(attribute(name_expr("typing"), "Union"),
                         tuple_expr({attribute(name_expr("collections.abc"), "Buffer"), SequenceOf<T>::text()}));
    }
};

// Row indices: a buffer of integers, or a sequence of ints.
template <>
struct Annotation<IndexSource> {
    static constexpr std::string text() {
        return subscript(attribute(name_expr("typing"), "Union"),
                         tuple_expr({attribute(name_expr("collections.abc"), "Buffer"),
                                     subscript(attribute(name_expr("collections.abc"), "Sequence"), builtin("int"))}));
    }
};

template <class T>
constexpr std::string annotation() {
    return Annotation<std::remove_cvref_t<T>>::text();
}

// The Python name of an operator or protocol slot.
template <int Id>
struct DunderName;
#define LUMERIC_DUNDER(id, text)        \
    template <>                         \
    struct DunderName<id> {             \
        static constexpr Name name = text; \
    };
LUMERIC_DUNDER(Py_tp_repr, "__repr__")
LUMERIC_DUNDER(Py_tp_hash, "__hash__")
LUMERIC_DUNDER(Py_tp_iter, "__iter__")
LUMERIC_DUNDER(Py_tp_iternext, "__next__")
LUMERIC_DUNDER(Py_nb_negative, "__neg__")
LUMERIC_DUNDER(Py_nb_add, "__add__")
LUMERIC_DUNDER(Py_nb_subtract, "__sub__")
LUMERIC_DUNDER(Py_nb_multiply, "__mul__")
LUMERIC_DUNDER(Py_nb_true_divide, "__truediv__")
LUMERIC_DUNDER(Py_nb_inplace_add, "__iadd__")
LUMERIC_DUNDER(Py_nb_inplace_subtract, "__isub__")
LUMERIC_DUNDER(Py_nb_inplace_multiply, "__imul__")
LUMERIC_DUNDER(Py_nb_inplace_true_divide, "__itruediv__")
LUMERIC_DUNDER(Py_mp_length, "__len__")
LUMERIC_DUNDER(Py_sq_length, "__len__")
#undef LUMERIC_DUNDER

template <int Id>
inline constexpr auto dunder_name = DunderName<Id>::name;

// -- Records --

enum class Receiver { self, cls, none };

struct Argument {
    std::string_view name;
    std::string annotation;
    std::string default_value;  // Python source of the default, empty for a required parameter
    bool keyword_only = false;
};

// The default of a parameter type, as Python source ("" when it has none).
template <class P>
struct DefaultValue {
    static constexpr std::string text() { return {}; }
};
template <class P, auto Default>
struct DefaultValue<Defaulted<P, Default>> {
    static constexpr std::string text() {
        if constexpr (std::is_same_v<decltype(Default), bool>) return Default ? "True" : "False";
        else if constexpr (std::is_integral_v<decltype(Default)>) return decimal(Default);
        else {  // None, floats; copied character by character, which the undefined-behaviour sanitizer
                // accepts as constant (a string made from a view into a template's static text it does not)
            constexpr std::string_view spelled = DefaultSpelling<Defaulted<P, Default>>::view;
            std::string out;
            for (std::size_t i = 1; i < spelled.size(); ++i) out += spelled[i];
            return out;
        }
    }
};
template <Name Spelling>
struct DefaultValue<FloatDefault<Spelling>> {
    static constexpr std::string text() {
        std::string out;
        for (char c : Spelling.view()) out += c;
        return out;
    }
};
template <class P>
struct DefaultValue<OrNone<P>> {
    static constexpr std::string text() { return "None"; }
};
template <class P>
struct DefaultValue<KeywordOnly<P>> : DefaultValue<P> {};

// `key`: the parameters of one kind ("args", "kwonlyargs"), none for an empty list.
constexpr std::string argument_list(std::string_view key, const std::vector<Argument>& args, bool keyword_only) {
    std::string out;
    for (const Argument& a : args) {
        if (a.keyword_only != keyword_only) continue;
        out += (out.empty() ? "" : ",") + std::string("{\"name\":") + quoted(a.name) + ",\"annotation\":" +
               a.annotation + (a.default_value.empty() ? "" : ",\"default\":" + quoted(a.default_value)) + "}";
    }
    return out.empty() ? out : quoted(key) + ":[" + out + "]";
}

constexpr std::string arguments(Receiver receiver, const std::vector<Argument>& args) {
    std::string out = "{";
    if (receiver != Receiver::none)
        out += std::string("\"posonlyargs\":[{\"name\":\"") + (receiver == Receiver::self ? "self" : "cls") + "\"}]";
    for (const std::string& list : {argument_list("args", args, false), argument_list("kwonlyargs", args, true)}) {
        if (list.empty()) continue;
        if (out.size() > 1) out += ",";
        out += list;
    }
    return out + "}";
}

// `parent` is a class name for methods; `id` names a module-level function.
constexpr std::string function(std::string_view name, std::string_view parent, bool module_level,
                               Receiver receiver, const std::vector<Argument>& args, const std::string& returns,
                               const std::string& decorator = "") {
    std::string out = "{\"type\":\"function\",\"name\":" + quoted(name);
    if (module_level) out += ",\"id\":" + quoted(function_id(name));
    else out += ",\"parent\":" + quoted(class_id(parent));
    out += ",\"arguments\":" + arguments(receiver, args) + ",\"returns\":" + returns;
    if (!decorator.empty()) out += ",\"decorators\":[" + decorator + "]";
    return out + "}";
}

constexpr std::string class_record(std::string_view name) {
    return "{\"type\":\"class\",\"name\":" + quoted(name) + ",\"id\":" + quoted(class_id(name)) +
           ",\"decorators\":[" + attribute(name_expr("typing"), "final") + "]}";
}

constexpr std::string module_record(std::string_view name, const std::vector<std::string>& member_ids) {
    std::string out = "{\"type\":\"module\",\"name\":" + quoted(name) + ",\"id\":" + quoted(module_id(name)) +
                      ",\"members\":[";
    for (std::size_t i = 0; i < member_ids.size(); ++i) out += (i ? "," : "") + quoted(member_ids[i]);
    return out + "],\"incomplete\":false}";
}

constexpr std::string staticmethod_decorator() { return name_expr("staticmethod"); }
constexpr std::string property_decorator() { return name_expr("property"); }
constexpr std::string setter_decorator(std::string_view class_name, std::string_view property) {
    return attribute(attribute(class_ref(class_name), property), "setter");
}

// The parameters of a signature zipped with their names.
template <class... P, std::size_t N>
constexpr std::vector<Argument> zip(TypeList<P...>, const std::array<std::string_view, N>& names) {
    static_assert(sizeof...(P) == N);
    std::vector<Argument> out;
    std::size_t i = 0;
    ((out.push_back({names[i], annotation<P>(), DefaultValue<std::remove_cvref_t<P>>::text(),
                     is_keyword_only<std::remove_cvref_t<P>>}),
      ++i),
     ...);
    return out;
}

// -- Emission: one length-prefixed record in the records section per builder type --

// "LMRC", the 4-byte little-endian length, then the JSON text. The compiler may pad
// between records in the section; the marker lets the build find each one.
inline constexpr std::string_view marker = "LMRC";

template <class Builder>
struct Frozen {
    static constexpr std::size_t size = Builder::json().size();
    static constexpr std::array<unsigned char, size + 8> bytes = [] {
        std::array<unsigned char, size + 8> out{};
        for (std::size_t i = 0; i < 4; ++i) out[i] = static_cast<unsigned char>(marker[i]);
        for (std::size_t i = 0; i < 4; ++i) out[4 + i] = static_cast<unsigned char>((size >> (8 * i)) & 0xff);
        std::string text = Builder::json();
        for (std::size_t i = 0; i < size; ++i) out[8 + i] = static_cast<unsigned char>(text[i]);
        return out;
    }();
};

// Internal linkage for every record (an unnamed namespace), so that no record lands in
// a COMDAT group: the section then holds plain data only, which the linker accepts as
// one section. Each record is instantiated in the one unit that builds its class.
namespace {

template <class Builder>
struct Emitted {
    [[gnu::used, gnu::section(".lumeric_records")]] static constexpr auto bytes = Frozen<Builder>::bytes;
};

// Referencing the record from the code that builds the class keeps it in the library.
template <class Builder>
inline void emit() noexcept {
    asm volatile("" : : "r"(Emitted<Builder>::bytes.data()));
}

}  // namespace

}  // namespace lumeric::record
