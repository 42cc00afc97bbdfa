// transform.hpp: the Python class `Transform`, over tovrin::Transform.
#pragma once

#include <tovrin/transform.hpp>

#include "frame/object.hpp"

namespace lumeric {

PyType_Spec* transform_spec();

template <>
struct ClassFor<tovrin::Transform> {
    static constexpr Name name = "Transform";
    static inline ClassCell cell{name.c_str(), &transform_spec};
};

}  // namespace lumeric
