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

#include "frame/object.hpp"
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

// -- Member lists --
//
// A module's members, in namespace order, as one list of types: the execution step adds
// them from it and the module's interface record lists them from it.
//
//     using Members = ModuleMembers<"geometry", ClassMember<Circle>, FunctionMember<F>, ...>;

template <class T>
struct ClassMember {
    static constexpr std::string id() { return record::class_id(ClassFor<T>::name.view()); }
    static void add(PyObject* module) { register_class(module, ClassFor<T>::cell); }
};

// F is a Function<...> of define.hpp.
template <class F>
struct FunctionMember {
    static constexpr std::string id() { return record::function_id(F::name.view()); }
    static void add(PyObject* module) { register_function(module, F::def()); }
};

template <Name ShortName, Submodule& (*Get)()>
struct SubmoduleMember {
    static constexpr std::string id() { return record::module_id(ShortName.view()); }
    static void add(PyObject* module) { register_submodule(module, Get()); }
};

template <Name ShortName, class... Members>
struct ModuleMembers {
    struct Record {
        static constexpr std::string json() { return record::module_record(ShortName.view(), {Members::id()...}); }
    };
    static void add_all(PyObject* module) {
        record::emit<Record>();
        (Members::add(module), ...);
    }
};

}  // namespace lumeric
