// geometry/intersection.cpp: the module functions of `lumeric_py.geometry`.
//
//     plane_line(plane, a, b) -> Vec3d                        # NaN/inf for a parallel line
//     circle_point(circle, point, inner) -> bool              # False for every failure
//     circle_point_unchecked(circle, point, inner) -> bool    # ignores the normal
//     circle_circle(circle1, circle2) -> (Vec3d, Vec3d)       # ValueError when none
//
// `inner` accepts only True, False and numpy booleans.
#include "geometry/intersection.hpp"

namespace lumeric::intersection {

namespace geo = tovrin::geometry;

bool circle_point(const Circle& circle, const Vec3d& point, StrictBool inner) noexcept {
    return geo::circle_point(circle, point, inner.value).has_value();
}

bool circle_point_unchecked(const Circle& circle, const Vec3d& point, StrictBool inner) noexcept {
    return geo::circle_point_unchecked(circle, point, inner.value);
}

std::pair<Vec3d, Vec3d> circle_circle(const Circle& circle1, const Circle& circle2) {
    auto points = geo::circle_circle(circle1, circle2);
    if (!points) raise(PyExc_ValueError, geo::message(points.error()).data());
    return points.value();
}

}  // namespace lumeric::intersection
