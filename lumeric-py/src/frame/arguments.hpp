// frame/arguments.hpp: placing Python call arguments into parameter slots.
//
// Every operation has positional-or-keyword parameters, the last few of which may have
// defaults, and after them perhaps keyword-only ones, which all have defaults; so one routine
// serves all of them: positional arguments fill slots in order,
// keywords are matched by exact name in the order given, an omitted optional parameter leaves
// its slot null, and the first mistake is reported with the interpreter's own wording ("Vec3d.dot() takes 1 positional arguments but 2 were given").
// The common case, exactly the right number of positional arguments and no keywords,
// never reaches this code.
#pragma once

#include <Python.h>

#include <cstddef>

namespace lumeric {

struct CallDesc {
    const char* call_name;     // "Vec3d.dot()"
    const char* const* names;  // parameter names
    Py_ssize_t count;
    Py_ssize_t required;    // the leading parameters without a default
    Py_ssize_t positional;  // the leading parameters that may be given by position
};

// Vectorcall form. Fills slots[0..count) with borrowed references; false with TypeError set.
bool place_arguments(const CallDesc& desc, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                     PyObject** slots) noexcept;

// Tuple-and-dictionary form (constructors). Same rules and messages.
bool place_arguments(const CallDesc& desc, PyObject* args, PyObject* kwargs, PyObject** slots) noexcept;

}  // namespace lumeric
