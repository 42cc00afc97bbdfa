// angle.hpp: the Python classes `AngleRadians` and `AngleDegrees`, wrapping the core angles.
#pragma once

#include <tovrin/angle.hpp>

#include "frame/object.hpp"

namespace lumeric {

PyType_Spec* angle_radians_spec();
PyType_Spec* angle_degrees_spec();

template <>
struct ClassFor<tovrin::AngleRadians> {
    static inline ClassCell cell{"AngleRadians", &angle_radians_spec};
};

template <>
struct ClassFor<tovrin::AngleDegrees> {
    static inline ClassCell cell{"AngleDegrees", &angle_degrees_spec};
};

}  // namespace lumeric
