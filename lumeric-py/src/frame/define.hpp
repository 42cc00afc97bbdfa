// frame/define.hpp: declaring a Python class (or module function) from C++ operations.
//
// A class unit describes its surface and nothing else:
//
//     using V = ClassDef<tovrin::Vec3d, "Vec3d">;
//     V::method<"dot", &tovrin::Vec3d::dot, "other">()           // dot($self, other)
//     V::static_method<"zero", &tovrin::Vec3d::zero>()            // zero()
//     V::property<"x", &tovrin::Vec3d::x>()                       // read-write float
//     V::Constructor<&make, "x", "y", "z">                        // __new__ + type vectorcall
//
//     V::op<Py_nb_add, &add, "other">()                           // __add__ slot
//
// Argument placement, conversion, borrowing, result conversion, text signatures, the
// failure guard and the interface records (record.hpp) all come from the frame,
// identically for every class.
#pragma once

#include <Python.h>

#include <array>
#include <cstdint>
#include <string>
#include <type_traits>

#include "frame/arguments.hpp"
#include "frame/callable.hpp"
#include "frame/convert.hpp"
#include "frame/guard.hpp"
#include "frame/names.hpp"
#include "frame/object.hpp"
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

// The static description of one call: its error name and parameter names.
template <Name Class, Name Func, Name... Params>
struct Described {
    static constexpr const char* names[sizeof...(Params) + 1] = {Params.c_str()..., nullptr};
    static constexpr CallDesc desc{CallName<Class, Func>::text.c_str(), names,
                                   static_cast<Py_ssize_t>(sizeof...(Params))};
    static constexpr Py_ssize_t count = sizeof...(Params);

    // Positional arguments are used in place when they are exactly right.
    static PyObject* const* place(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                                  PyObject** storage) {
        if (nargs == count && kwnames == nullptr) [[likely]] return args;
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
    using D = Described<Class, Func, Params...>;
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

// A module-level function: "plane_line()" in errors, "plane_line(plane, a, b)" as signature.
template <Name Func, auto Fn, Name... Params>
PyMethodDef function() {
    using Call = FastCall<Fn, false, "", Func, Params...>;
    record::emit<CallRecord<Fn, false, "", Func, record::Receiver::none, Decorator::none, Params...>>();
    return {Func.c_str(), as_cfunction(&Call::entry), METH_FASTCALL | METH_KEYWORDS,
            TextSignature<Func, false, Params...>::text.c_str()};
}

// A module-level function as a type, so that a module's member list can name it.
template <Name Func, auto Fn, Name... Params>
struct Function {
    static constexpr auto name = Func;
    static PyMethodDef& def() {
        static PyMethodDef definition = function<Func, Fn, Params...>();
        return definition;
    }
};

template <class T, Name ClassName>
struct ClassDef {
    static_assert(ClassFor<T>::name.view() == ClassName.view(), "one Python name per class");
    static constexpr auto type_name = concat<ClassName.view().size() + 9>(std::string_view("builtins."),
                                                                          ClassName.view());

    // -- Methods --

    template <Name Func, auto Fn, Name... Params>
    static PyMethodDef method() {
        using Call = FastCall<Fn, true, ClassName, Func, Params...>;
        record::emit<CallRecord<Fn, true, ClassName, Func, record::Receiver::self, Decorator::none, Params...>>();
        const char* doc = TextSignature<Func, true, Params...>::text.c_str();
        if constexpr (sizeof...(Params) == 0)
            return {Func.c_str(), as_cfunction(&Call::no_args), METH_NOARGS, doc};
        else
            return {Func.c_str(), as_cfunction(&Call::entry), METH_FASTCALL | METH_KEYWORDS, doc};
    }

    // Each call builds a new object.
    template <Name Func, auto Fn, Name... Params>
    static PyMethodDef static_method() {
        using Call = FastCall<Fn, false, ClassName, Func, Params...>;
        record::emit<
            CallRecord<Fn, false, ClassName, Func, record::Receiver::none, Decorator::staticmethod, Params...>>();
        const char* doc = TextSignature<Func, false, Params...>::text.c_str();
        if constexpr (sizeof...(Params) == 0)
            return {Func.c_str(), as_cfunction(&Call::no_args), METH_NOARGS | METH_STATIC, doc};
        else
            return {Func.c_str(), as_cfunction(&Call::entry), METH_FASTCALL | METH_KEYWORDS | METH_STATIC, doc};
    }

    // -- Properties --

    // Getter: a data member, `R (const T&)` or a const member function (a computed,
    // read-only value such as `area`). Setter: a data member, `void (T&, U)`, or none.
    template <Name Prop, auto Getter, auto Setter = Getter>
    static PyGetSetDef property() {
        setter set = nullptr;
        record::emit<GetterRecord<Prop, Getter>>();
        if constexpr (!std::is_same_v<decltype(Setter), std::nullptr_t>) {
            set = &Property<Getter, Setter>::set;
            record::emit<SetterRecord<Prop, Setter>>();
        }
        return {Prop.c_str(), &Property<Getter, Setter>::get, set, nullptr, nullptr};
    }

    template <auto Getter>
    using GetterValue = std::remove_cvref_t<decltype(std::invoke(Getter, std::declval<const T&>()))>;

    template <auto Setter>
    static auto setter_value() {
        if constexpr (std::is_member_object_pointer_v<decltype(Setter)>)
            return std::type_identity<GetterValue<Setter>>{};
        else
            return std::type_identity<std::remove_cvref_t<FirstOf<typename Operation<Setter, true>::params>>>{};
    }
    template <auto Setter>
    using SetterValue = typename decltype(setter_value<Setter>())::type;

    template <Name Prop, auto Getter>
    struct GetterRecord {
        static constexpr std::string json() {
            return record::function(Prop.view(), ClassName.view(), false, record::Receiver::self, {},
                                    record::annotation<GetterValue<Getter>>(), record::property_decorator());
        }
    };
    template <Name Prop, auto Setter>
    struct SetterRecord {
        static constexpr std::string json() {
            return record::function(Prop.view(), ClassName.view(), false, record::Receiver::self,
                                    {{"value", record::annotation<SetterValue<Setter>>()}},
                                    record::annotation<void>(),
                                    record::setter_decorator(ClassName.view(), Prop.view()));
        }
    };

    template <auto Getter, auto Setter>
    struct Property {
        static PyObject* get(PyObject* self, void*) noexcept {
            return guard([&] {
                SharedRef<T> ref(self);
                if (!ref.ok()) [[unlikely]] raise(PyExc_RuntimeError, already_mutably_borrowed);
                if constexpr (std::is_member_object_pointer_v<decltype(Getter)>) return to_python(ref.get().*Getter);
                else return to_python(std::invoke(Getter, ref.get()));
            });
        }
        static int set(PyObject* self, PyObject* value, void*) noexcept {
            return guard<int>(-1, [&] {
                if (value == nullptr) raise(PyExc_AttributeError, "property has no deleter");
                if constexpr (std::is_member_object_pointer_v<decltype(Setter)>) {
                    using U = std::remove_cvref_t<decltype(std::declval<T&>().*Setter)>;
                    store<U>(self, value, [](T& target, const U& v) { target.*Setter = v; });
                } else {
                    using U = typename Operation<Setter, true>::params;
                    store<std::remove_cvref_t<FirstOf<U>>>(self, value, [](T& target, auto&& v) { Setter(target, v); });
                }
                return 0;
            });
        }
        // Converts first, then takes the exclusive borrow only for the store.
        template <class U, class Assign>
        static void store(PyObject* self, PyObject* value, Assign assign) {
            Arg<U> loader;
            if (!loader.load(value)) {
                wrap_argument_error("value");
                throw PythonError{};
            }
            ExclusiveRef<T> ref(self);
            if (!ref.ok()) raise(PyExc_RuntimeError, already_borrowed);
            assign(ref.get(), loader.get());
        }
    };

    // -- Constructor: __new__ from a tuple and dict, and the same behaviour as a type vectorcall --

    template <auto Fn, Name... Params>
    struct Constructor {
        using D = Described<ClassName, "__new__", Params...>;
        static constexpr const char* doc = TextSignature<ClassName, false, Params...>::text.c_str();

        static PyObject* build(PyTypeObject* type, PyObject* const* slots) {
            using Op = Operation<Fn, false>;
            Slots<D::count> unused{};
            (void)unused;
            PyObject* result = nullptr;
            [&]<class... P>(TypeList<P...>) {
                std::tuple<ArgFor<P>...> loaders;
                load_all(loaders, slots, D::names, std::index_sequence_for<P...>{});
                T value = std::apply([](auto&... l) { return Fn(l.get()...); }, loaders);
                result = make_instance<T>(type, std::move(value));
            }(typename Op::params{});
            return result;
        }
        static PyObject* new_(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
            return guard([&] {
                Slots<D::count> storage;
                if (!place_arguments(D::desc, args, kwargs, storage.items)) throw PythonError{};
                return build(type, storage.items);
            });
        }
        static PyObject* vectorcall(PyObject* type, PyObject* const* args, std::size_t nargsf,
                                    PyObject* kwnames) noexcept {
            return guard([&] {
                Slots<D::count> storage;
                PyObject* const* slots = D::place(args, PyVectorcall_NARGS(nargsf), kwnames, storage.items);
                return build(reinterpret_cast<PyTypeObject*>(type), slots);
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

    // -- Protocol slots --

    static PyType_Slot dealloc_slot() { return {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc<T>)}; }

    // `__repr__`: Fn(const T&) -> std::string.
    template <auto Fn>
    static PyObject* repr(PyObject* self) noexcept {
        return guard([&] { return call_operation<Fn, true>(self, nullptr, nullptr); });
    }

    // `__hash__`: Fn(const T&) -> Py_hash_t (never -1).
    template <auto Fn>
    static Py_hash_t hash(PyObject* self) noexcept {
        return guard<Py_hash_t>(-1, [&] {
            T value;
            if (!copy_value<T>(self, value)) throw PythonError{};
            return Fn(value);
        });
    }

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
            PyErr_Clear();
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
            if (!ref.ok()) [[unlikely]] raise(PyExc_RuntimeError, already_borrowed);
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

    // -- The class object --
    //
    //     PyType_Spec* vec3d_spec() {
    //         return V::build<Constructor>(V::methods(...), V::properties(...), V::op<...>(), ...);
    //     }
    //
    // The class gets the shared deallocation slot, its constructor (or, with
    // NoConstructor, the host's disallow-instantiation flag), its methods and properties
    // and the given protocol slots. Called once per process, under the class's cell.

    template <class... Defs>
    static std::array<PyMethodDef, sizeof...(Defs) + 1> methods(Defs... defs) {
        return {defs..., PyMethodDef{nullptr, nullptr, 0, nullptr}};  // sentinel last
    }
    template <class... Defs>
    static std::array<PyGetSetDef, sizeof...(Defs) + 1> properties(Defs... defs) {
        return {defs..., PyGetSetDef{nullptr, nullptr, nullptr, nullptr, nullptr}};  // sentinel last
    }

    struct NoConstructor {};

    template <class Ctor, std::size_t M, std::size_t P, class... Protocol>
    static PyType_Spec* build(const std::array<PyMethodDef, M>& method_defs,
                              const std::array<PyGetSetDef, P>& property_defs, Protocol... protocol) {
        static std::array<PyMethodDef, M> stored_methods = method_defs;
        static std::array<PyGetSetDef, P> stored_properties = property_defs;
        constexpr bool constructible = !std::is_same_v<Ctor, NoConstructor>;
        static auto slots = [&] {
            std::array<PyType_Slot, (constructible ? 7 : 4) + sizeof...(Protocol)> out{};
            std::size_t k = 0;
            out[k++] = dealloc_slot();
            if constexpr (constructible) {
                out[k++] = Ctor::doc_slot();
                out[k++] = Ctor::new_slot();
                out[k++] = Ctor::vectorcall_slot();
            }
            out[k++] = {Py_tp_methods, stored_methods.data()};
            out[k++] = {Py_tp_getset, stored_properties.data()};
            ((out[k++] = protocol), ...);
            out[k] = {0, nullptr};  // sentinel
            return out;
        }();
        static PyType_Spec type_spec = spec(slots.data(), constructible ? 0 : Py_TPFLAGS_DISALLOW_INSTANTIATION);
        return &type_spec;
    }

    static PyType_Spec spec(PyType_Slot* slots, unsigned int extra_flags = 0) {
        record::emit<ClassRecord>();
        return {type_name.c_str(), static_cast<int>(sizeof(Object<T>)), 0, Py_TPFLAGS_DEFAULT | extra_flags, slots};
    }

    struct ClassRecord {
        static constexpr std::string json() { return record::class_record(ClassName.view()); }
    };
};

template <auto F>
inline PyType_Slot slot(int id) {
    return {id, reinterpret_cast<void*>(F)};
}

}  // namespace lumeric
