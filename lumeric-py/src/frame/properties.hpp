// frame/properties.hpp: read-write and read-only properties of a class.
//
// A getter copies the value out under a shared borrow. A setter converts the new value
// first (a TypeError names argument 'value'), then takes the exclusive borrow only for
// the store; deleting a property raises AttributeError "property has no deleter".
#pragma once

#include <Python.h>

#include <functional>
#include <string>
#include <type_traits>

#include "frame/call.hpp"
#include "frame/object.hpp"

namespace lumeric {

template <class T, Name ClassName>
struct PropertyDefs {
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
                                    {{"value", record::annotation<SetterValue<Setter>>(), ""}},
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
            ref.require();
            assign(ref.get(), loader.get());
        }
    };

};

}  // namespace lumeric
