// vec3d.hpp: the Python class `Vec3d`, wrapping tovrin::Vec3d.
#pragma once

#include <tovrin/vec3d.hpp>

#include "frame/object.hpp"

namespace lumeric {

PyType_Spec* vec3d_spec();

template <>
struct ClassFor<tovrin::Vec3d> {
    static constexpr Name name = "Vec3d";
    static inline ClassCell cell{name.c_str(), &vec3d_spec};
};

}  // namespace lumeric
