// geometry/plane.hpp: the Python class `Plane`, wrapping tovrin::geometry::Plane.
#pragma once

#include <tovrin/geometry/plane.hpp>

#include "frame/object.hpp"

namespace lumeric {

PyType_Spec* plane_spec();

template <>
struct ClassFor<tovrin::geometry::Plane> {
    static constexpr Name name = "Plane";
    static inline ClassCell cell{name.c_str(), &plane_spec};
};

}  // namespace lumeric
