// geometry/module.hpp: the submodule `lumeric_py.geometry`, made once per process.
//
//     from lumeric_py import geometry    # Circle, circle_circle, circle_point,
//                                        # circle_point_unchecked, plane_line, Plane
#pragma once

#include "frame/module.hpp"
#include "geometry/circle.hpp"
#include "geometry/intersection.hpp"
#include "geometry/plane.hpp"

namespace lumeric {

// The namespace and `__all__` follow this order.
using GeometryModule =
    Module<"lumeric_py.geometry", ClassMember<tovrin::geometry::Circle>, FunctionMember<intersection::CircleCircle>,
           FunctionMember<intersection::CirclePoint>, FunctionMember<intersection::CirclePointUnchecked>,
           FunctionMember<intersection::PlaneLine>, ClassMember<tovrin::geometry::Plane>>;

}  // namespace lumeric
