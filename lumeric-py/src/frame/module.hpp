// frame/module.hpp: filling module namespaces and making the submodule.
//
// Every name placed in a module is also appended to its `__all__`. Class objects come
// from their process-wide cells. The submodule is made once per interpreter life (see
// interpreter_cell.hpp), only in the first interpreter that imports the module, and is
// reachable only as an attribute of the top-level module (it is not entered in
// sys.modules).
#pragma once

#include <Python.h>

#include <atomic>
#include <cstdint>

#include <string>
#include <string_view>
#include <vector>

#include "frame/callable.hpp"
#include "frame/guard.hpp"
#include "frame/interrupt.hpp"
#include "frame/object.hpp"
#include "frame/pickle.hpp"
#include "frame/record.hpp"

namespace lumeric {

// Each of these throws PythonError with the host's exception set on failure.

// Fails with the type-check error unless `op` is a module object.
void require_module(PyObject* op);

// Appends `name` to `__all__` (creating the list if missing) and sets the attribute.
void add_to_namespace(PyObject* module, const char* name, PyObject* value);

// Adds the class object under its Python name; a creation failure becomes
// RuntimeError "An error occurred while initializing class {Name}".
void register_class(PyObject* module, ClassCell& cell);

// Adds the class object under its Python name but not to `__all__`: a class the module offers
// beyond its fixed interface.
void register_unlisted_class(PyObject* module, ClassCell& cell);

// Adds a built-in function object bound to `module` (its `__self__`, with the module's
// name as `__module__`), under its `__name__`.
void register_function(PyObject* module, PyMethodDef& def);

// A module definition made into a module at most once per interpreter life.
struct Submodule {
    PyModuleDef& definition;
    InterpreterCell module{};
};

// Makes (or returns the already made) submodule and adds it under the last part of its name.
void register_submodule(PyObject* parent, Submodule& submodule);

// Ties the module to the current interpreter on first use; ImportError in any other.
// A restarted interpreter with the same identifier is let in, and gets objects of its own.
// The top-level module's execution step calls it before anything else; making the
// submodule calls it again, which then only confirms the claim.
void claim_interpreter();

// -- Module definitions --
//
// A module is one list of members, in namespace order; its definition, execution step,
// interface record and (for the top-level module) the pickle loader all come from it:
//
//     using Geometry = Module<"lumeric_py.geometry", ClassMember<Circle>, FunctionMember<F>, ...>;
//     using Top = Module<"lumeric_py", ClassMember<Vec3d>, SubmoduleMember<Geometry>,
//                        UnlistedClassMember<KdTree>>;
//     PyModuleDef_Init(&Top::definition);
//
// Each member says what it adds, which ids the module's record lists (the names of
// `__all__`), and which classes it brings: the pickle loader knows exactly those.

template <class... L>
struct Concat;
template <>
struct Concat<> {
    using type = TypeList<>;
};
template <class... A>
struct Concat<TypeList<A...>> {
    using type = TypeList<A...>;
};
template <class... A, class... B, class... Rest>
struct Concat<TypeList<A...>, TypeList<B...>, Rest...> {
    using type = typename Concat<TypeList<A..., B...>, Rest...>::type;
};

template <class L>
struct ReconstructorOver;
template <class... T>
struct ReconstructorOver<TypeList<T...>> {
    using type = Reconstructor<T...>;
};

template <class T>
struct ClassMember {
    using Classes = TypeList<T>;
    static constexpr void ids(std::vector<std::string>& out) { out.push_back(record::class_id(ClassFor<T>::name.view())); }
    static void add(PyObject* module) { register_class(module, ClassFor<T>::cell); }
};

// A class the module offers beyond its fixed interface: an attribute, not in `__all__` nor in
// the module's record.
template <class T>
struct UnlistedClassMember {
    using Classes = TypeList<T>;
    static constexpr void ids(std::vector<std::string>&) {}
    static void add(PyObject* module) { register_unlisted_class(module, ClassFor<T>::cell); }
};

// F is a Function<...> of define.hpp.
template <class F>
struct FunctionMember {
    using Classes = TypeList<>;
    static constexpr void ids(std::vector<std::string>& out) { out.push_back(record::function_id(F::name.view())); }
    static void add(PyObject* module) { register_function(module, F::def()); }
};

// M is a Module<...> below, made once per process and added under its last name.
template <class M>
struct SubmoduleMember {
    using Classes = typename M::Classes;
    static constexpr void ids(std::vector<std::string>& out) { out.push_back(record::module_id(M::short_name())); }
    static void add(PyObject* module) { register_submodule(module, M::submodule()); }
};

template <Name FullName, class... Members>
struct Module {
    // Read character by character: string_view searches over a template argument's text are
    // not constant expressions under the undefined-behaviour sanitizer.
    static constexpr std::size_t last_part = [] {
        std::size_t start = 0;
        for (std::size_t i = 0; i < FullName.view().size(); ++i)
            if (FullName.text[i] == '.') start = i + 1;
        return start;
    }();
    static constexpr bool top_level = last_part == 0;
    static constexpr std::string short_name() {
        std::string out;
        for (std::size_t i = last_part; i < FullName.view().size(); ++i) out += FullName.text[i];
        return out;
    }
    using Classes = typename Concat<typename Members::Classes...>::type;

    struct Record {
        static constexpr std::string json() {
            std::vector<std::string> ids;
            (Members::ids(ids), ...);
            return record::module_record(short_name(), ids);
        }
    };

    static int exec(PyObject* module) noexcept {
        return guard<int>(-1, [&] {
            require_module(module);
            // A second interpreter is turned away before anything is made or added.
            claim_interpreter();
            stop_batches_on_signals();
            record::emit<Record>();
            (Members::add(module), ...);
            // Private, so beyond `__all__`: pickle finds every class's loader through it.
            if constexpr (top_level) add_reconstructor(module, ReconstructorOver<Classes>::type::def());
            return 0;
        });
    }

    static inline PyModuleDef_Slot slots[] = {
        {Py_mod_exec, reinterpret_cast<void*>(&exec)},
        // Shared state is limited to once-initialised cells and atomics, and instances carry
        // their own borrow counters, so the module runs without the global lock.
        {Py_mod_gil, Py_MOD_GIL_NOT_USED},
        {0, nullptr},  // sentinel
    };

    static inline PyModuleDef definition = {
        .m_base = PyModuleDef_HEAD_INIT,
        .m_name = FullName.c_str(),
        .m_doc = "",
        .m_size = 0,
        .m_methods = nullptr,
        .m_slots = slots,
        .m_traverse = nullptr,
        .m_clear = nullptr,
        .m_free = nullptr,
    };

    // The once-per-process cell of a submodule.
    static Submodule& submodule() {
        static Submodule cell{definition};
        return cell;
    }
};

}  // namespace lumeric
