// geometry/plane.cpp: the Python class `Plane`.
//
//     class Plane:                                  # dot(normal, p) + distance == 0
//         def __new__(cls, normal: Vec3d, distance: float) -> Plane   # normalised, negated
//         xy(), xz(), yz(), from_point(normal, point), from_points(point1, point2, point3)
//         distance_to_point(point) -> float, contains_point(point) -> bool
//         normal: Vec3d, distance: float       # read-write; stored as given
//         copy.copy, copy.deepcopy, pickle
//
// No comparison, hash or repr of its own: planes compare and hash by identity.
#include "geometry/plane.hpp"

#include "frame/define.hpp"
#include "vec3d.hpp"

namespace lumeric {

namespace {

using tovrin::geometry::Plane;
using P = ClassDef<Plane, "Plane">;
using Constructor = P::Constructor<&Plane::make, "normal", "distance">;

}  // namespace

PyType_Spec* plane_spec() {
    return P::build<Constructor>(
        P::methods(
            P::static_method<"xy", &Plane::xy>(),
            P::static_method<"xz", &Plane::xz>(),
            P::static_method<"yz", &Plane::yz>(),
            P::static_method<"from_point", &Plane::from_point, "normal", "point">(),
            P::static_method<"from_points", &Plane::from_points, "point1", "point2", "point3">(),
            P::method<"distance_to_point", &Plane::distance_to_point, "point">(),
            P::method<"contains_point", &Plane::contains_point, "point">(),
            P::copy_and_pickle()),
        P::properties(
            P::property<"normal", &Plane::normal>(),
            P::property<"distance", &Plane::distance>()));
}

}  // namespace lumeric
