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
//     V::copy_and_pickle()                                        // copy, deepcopy, pickle
//     V::size_of<&owned_bytes>()                                  // __sizeof__ with owned memory
//
// Argument placement, conversion, borrowing, result conversion, text signatures, the
// failure guard and the interface records (record.hpp) all come from the frame,
// identically for every class: calls (call.hpp), properties (properties.hpp), the
// constructor (constructor.hpp) and operator slots (protocol.hpp).
#pragma once

#include <Python.h>

#include <array>
#include <cstdint>
#include <string>
#include <type_traits>

#include "frame/buffer.hpp"
#include "frame/call.hpp"
#include "frame/constructor.hpp"
#include "frame/object.hpp"
#include "frame/pickle.hpp"
#include "frame/properties.hpp"
#include "frame/protocol.hpp"

namespace lumeric {

template <class T, Name ClassName>
struct ClassDef : PropertyDefs<T, ClassName>, ProtocolSlots<T, ClassName> {
private:
    template <auto Owned>
    struct SizeOf {
        static std::size_t bytes(const T& value) noexcept { return sizeof(Object<T>) + Owned(value); }
    };

public:
    using ProtocolBase = ProtocolSlots<T, ClassName>;
    static_assert(ClassFor<T>::name.view() == ClassName.view(), "one Python name per class");
    static constexpr auto type_name = concat<ClassName.view().size() + 9>(std::string_view("builtins."),
                                                                          ClassName.view());

    // -- Methods --

    template <Name Func, auto Fn, Name... Params>
    static PyMethodDef method() {
        return method_def<Fn, true, ClassName, Func, record::Receiver::self, Decorator::none, Params...>();
    }

    // `__sizeof__`: the object itself and the memory its value owns, Owned(const T&) bytes,
    // so that sys.getsizeof grows with the data.
    template <auto Owned>
    static PyMethodDef size_of() {
        return method<"__sizeof__", &SizeOf<Owned>::bytes>();
    }

    // Each call builds a new object.
    template <Name Func, auto Fn, Name... Params>
    static PyMethodDef static_method() {
        return method_def<Fn, false, ClassName, Func, record::Receiver::none, Decorator::staticmethod, Params...>();
    }

    template <auto Fn, Name... Params>
    using Constructor = ConstructorOf<T, ClassName, Fn, Params...>;

    // `__copy__`, `__deepcopy__`, `__reduce__` and `__reduce_ex__` (pickle.hpp), the value
    // travelling as its PickleState<T>.
    static std::array<PyMethodDef, 4> copy_and_pickle() {
        record::emit<CallRecord<&copied<T>, true, ClassName, "__copy__", record::Receiver::self, Decorator::none>>();
        auto [reduce, reduce_ex] = Pickling<T>::defs();
        return {Copying<T>::def(), method<"__deepcopy__", &deep_copied<T>, "memo">(), reduce, reduce_ex};
    }

    // The read-only buffer export (buffer.hpp) of Block: DoubleBlock(const T&), and its release.
    template <auto Block>
    static PyType_Slot buffer() {
        record::emit<typename SlotRecord<ClassName, "__buffer__", MemoryView, "flags">::template For<Index>>();
        return {Py_bf_getbuffer, reinterpret_cast<void*>(&BufferExport<T, Block>::get)};
    }
    template <auto Block>
    static PyType_Slot release_buffer() {
        record::emit<typename SlotRecord<ClassName, "__release_buffer__", void, "buffer">::template For<MemoryView>>();
        return {Py_bf_releasebuffer, reinterpret_cast<void*>(&BufferExport<T, Block>::release)};
    }

    // -- The class object --
    //
    //     PyType_Spec* vec3d_spec() {
    //         return V::build<Constructor>(V::methods(...), V::properties(...), V::op<...>(), ...);
    //     }
    //
    // The class gets the shared deallocation slot, its constructor (or, with
    // NoConstructor, the host's disallow-instantiation flag), its methods and properties
    // and the given protocol slots. Called once per process, under the class's cell.

    // Each argument is one PyMethodDef or an array of them (copy_and_pickle()).
    template <class... Defs>
    static auto methods(Defs... defs) {
        constexpr std::size_t count = (std::size_t{0} + ... + method_count<Defs>());
        std::array<PyMethodDef, count + 1> out{};
        std::size_t k = 0;
        [[maybe_unused]] auto put = [&]<class D>(const D& def) {  // unused for a class without methods
            if constexpr (std::is_same_v<D, PyMethodDef>) out[k++] = def;
            else for (const PyMethodDef& each : def) out[k++] = each;
        };
        (put(defs), ...);
        out[k] = PyMethodDef{nullptr, nullptr, 0, nullptr};  // sentinel last
        return out;
    }
    template <class D>
    static constexpr std::size_t method_count() {
        if constexpr (std::is_same_v<D, PyMethodDef>) return 1;
        else return std::tuple_size_v<D>;
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
            out[k++] = ProtocolBase::dealloc_slot();
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
        static PyType_Spec built = type_spec(slots.data(), constructible ? 0 : Py_TPFLAGS_DISALLOW_INSTANTIATION);
        return &built;
    }

    static PyType_Spec type_spec(PyType_Slot* slots, unsigned int extra_flags = 0) {
        record::emit<ClassRecord>();
        return {.name = type_name.c_str(),
                .basicsize = static_cast<int>(sizeof(Object<T>)),
                .itemsize = 0,
                .flags = Py_TPFLAGS_DEFAULT | extra_flags,
                .slots = slots};
    }

    struct ClassRecord {
        static constexpr std::string json() { return record::class_record(ClassName.view()); }
    };
};

}  // namespace lumeric
