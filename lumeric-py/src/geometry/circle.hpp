// geometry/circle.hpp: the Python class `Circle`, wrapping tovrin::geometry::Circle.
#pragma once

#include <tovrin/geometry/circle.hpp>

#include "frame/object.hpp"

namespace lumeric {

PyType_Spec* circle_spec();

template <>
struct ClassFor<tovrin::geometry::Circle> {
    static constexpr Name name = "Circle";
    static inline ClassCell cell{name.c_str(), &circle_spec};
};

}  // namespace lumeric
