// frame/struct_sequence.hpp: a C++ struct returned as a named struct sequence, the C API's
// named tuple (the kind of `os.stat_result`): it indexes and unpacks as a tuple, and each
// field also has its name.
//
//     template <>
//     struct StructSequence<spatial::IcpResult> {
//         static constexpr Name name = "IcpResult";
//         static constexpr std::array<Field, 4> fields = {{{"transform", "..."}, ...}};
//         static auto values(const spatial::IcpResult& r) { return std::tuple(r.transform, ...); }
//     };
//     AsStructSequence<spatial::IcpResult> icp(...);      // an operation's result
//
// The type is made once per process (an interpreter cell), named "lumeric_py.{Name}" so that
// pickle finds it as a module attribute (StructSequenceMember); each value converts as
// to_python converts it, and the interface records describe the fields as read-only
// properties.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "frame/callable.hpp"
#include "frame/convert.hpp"
#include "frame/errors.hpp"
#include "frame/interpreter_cell.hpp"
#include "frame/record.hpp"
#include "frame/ref.hpp"

namespace lumeric {

struct Field {
    const char* name;
    const char* doc;
};

template <class T>
struct StructSequence;

// An operation's result to be returned as StructSequence<T> describes.
template <class T>
struct AsStructSequence {
    T value;
};

template <class T>
struct StructSequenceType {
    using S = StructSequence<T>;
    static constexpr auto qualified = concat<S::name.view().size() + 11>(std::string_view("lumeric_py."), S::name.view());

    // The type object (borrowed), made on first use; throws PythonError.
    static PyTypeObject* get() {
        PyObject* type = cell.get_or_make([] {
            emit_records(std::make_index_sequence<S::fields.size()>{});
            static std::array<PyStructSequence_Field, S::fields.size() + 1> fields = [] {
                std::array<PyStructSequence_Field, S::fields.size() + 1> out{};
                for (std::size_t k = 0; k < S::fields.size(); ++k) out[k] = {S::fields[k].name, S::fields[k].doc};
                out[S::fields.size()] = {nullptr, nullptr};  // sentinel
                return out;
            }();
            static PyStructSequence_Desc desc{qualified.c_str(), nullptr, fields.data(),
                                              static_cast<int>(S::fields.size())};
            return reinterpret_cast<PyObject*>(PyStructSequence_NewType(&desc));
        });
        if (type == nullptr) raise_pending();
        return reinterpret_cast<PyTypeObject*>(type);
    }

    static inline InterpreterCell cell{};

private:
    using Values = decltype(S::values(std::declval<const T&>()));

    // A class record that also names the bases (a struct sequence of these field types) and
    // the field names that pattern matching takes.
    struct ClassRecord {
        static constexpr std::string json() {
            std::string record = record::class_record(S::name.view());
            record.pop_back();
            return record + ",\"bases\":[" + bases(std::make_index_sequence<S::fields.size()>{}) +
                   "],\"match_args\":[" + match_args() + "]}";
        }
        template <std::size_t... K>
        static constexpr std::string bases(std::index_sequence<K...>) {
            using namespace record;
            return subscript(attribute(name_expr("_typeshed"), "structseq"), attribute(name_expr("typing"), "Any")) +
                   "," +
                   subscript(builtin("tuple"), tuple_expr({annotation<std::tuple_element_t<K, Values>>()...}));
        }
        static constexpr std::string match_args() {
            std::string out;
            for (std::size_t k = 0; k < S::fields.size(); ++k) {
                const char* name = S::fields[k].name;
                out += (k ? "," : "") + record::quoted(std::string_view(name, std::char_traits<char>::length(name)));
            }
            return out;
        }
    };
    template <std::size_t K>
    struct FieldRecord {
        static constexpr std::string json() {
            const char* name = S::fields[K].name;
            std::string_view view(name, std::char_traits<char>::length(name));
            return record::function(view, S::name.view(), false, record::Receiver::self, {},
                                    record::annotation<std::tuple_element_t<K, Values>>(),
                                    record::property_decorator());
        }
    };
    template <std::size_t... K>
    static void emit_records(std::index_sequence<K...>) noexcept {
        record::emit<ClassRecord>();
        (record::emit<FieldRecord<K>>(), ...);
    }
};

template <class T>
PyObject* to_python(const AsStructSequence<T>& result) {
    Ref sequence = steal(PyStructSequence_New(StructSequenceType<T>::get()));
    // Unset items are NULL, which the sequence's deallocation skips if a conversion throws.
    std::apply(
        [&](const auto&... items) {
            Py_ssize_t k = 0;
            (PyStructSequence_SetItem(sequence.get(), k++, to_python(items)), ...);
        },
        StructSequence<T>::values(result.value));
    return sequence.release();
}

// A module member (module.hpp): the type as the attribute {Name}, outside `__all__`, where
// pickle finds it.
template <class T>
struct StructSequenceMember {
    using Classes = TypeList<>;
    static constexpr void ids(std::vector<std::string>&) {}
    static void add(PyObject* module) {
        PyObject* type = reinterpret_cast<PyObject*>(StructSequenceType<T>::get());
        if (PyObject_SetAttrString(module, StructSequence<T>::name.c_str(), type) < 0) raise_pending();
    }
};

namespace record {
template <class T>
struct Annotation<AsStructSequence<T>> {
    static constexpr std::string text() { return class_ref(StructSequence<T>::name.view()); }
};
}  // namespace record

}  // namespace lumeric
