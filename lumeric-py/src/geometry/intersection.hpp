// geometry/intersection.hpp: the intersection functions of `lumeric_py.geometry`.
#pragma once

#include <Python.h>

#include <span>

namespace lumeric {

// circle_circle, circle_point, circle_point_unchecked, plane_line: the definitions of
// the module functions, in the order they enter the submodule.
std::span<PyMethodDef> intersection_functions();

}  // namespace lumeric
