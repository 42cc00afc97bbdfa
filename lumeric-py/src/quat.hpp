// quat.hpp: the Python class `Quat`, wrapping tovrin::Quat.
#pragma once

#include <tovrin/quat.hpp>

#include "frame/object.hpp"

namespace lumeric {

PyType_Spec* quat_spec();

template <>
struct ClassFor<tovrin::Quat> {
    static constexpr Name name = "Quat";
    static inline ClassCell cell{name.c_str(), &quat_spec};
};

}  // namespace lumeric
