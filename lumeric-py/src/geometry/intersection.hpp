// geometry/intersection.hpp: the intersection functions of `lumeric_py.geometry`.
#pragma once

#include <utility>

#include <tovrin/geometry/intersection.hpp>

#include "frame/convert.hpp"
#include "frame/define.hpp"
#include "geometry/circle.hpp"
#include "geometry/plane.hpp"
#include "vec3d.hpp"

namespace lumeric::intersection {

using tovrin::Vec3d;
using tovrin::geometry::Circle;

// circle_circle raises ValueError with the intersection error's message when there is no pair.
std::pair<Vec3d, Vec3d> circle_circle(const Circle& circle1, const Circle& circle2);
bool circle_point(const Circle& circle, const Vec3d& point, StrictBool inner) noexcept;
bool circle_point_unchecked(const Circle& circle, const Vec3d& point, StrictBool inner) noexcept;

using CircleCircle = Function<"circle_circle", &circle_circle, "circle1", "circle2">;
using CirclePoint = Function<"circle_point", &circle_point, "circle", "point", "inner">;
using CirclePointUnchecked = Function<"circle_point_unchecked", &circle_point_unchecked, "circle", "point", "inner">;
using PlaneLine = Function<"plane_line", &tovrin::geometry::plane_line, "plane", "a", "b">;

}  // namespace lumeric::intersection
