// angle.hpp: the Python classes `AngleRadians` and `AngleDegrees`, wrapping the core angles.
#pragma once

#include <tovrin/angle.hpp>

#include "frame/object.hpp"

namespace lumeric {

PyType_Spec* angle_radians_spec();
PyType_Spec* angle_degrees_spec();

template <>
struct ClassFor<tovrin::AngleRadians> {
    static constexpr Name name = "AngleRadians";
    static inline ClassCell cell{name.c_str(), &angle_radians_spec};
};

template <>
struct ClassFor<tovrin::AngleDegrees> {
    static constexpr Name name = "AngleDegrees";
    static inline ClassCell cell{name.c_str(), &angle_degrees_spec};
};

}  // namespace lumeric
