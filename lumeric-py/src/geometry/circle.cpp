// geometry/circle.cpp: the Python class `Circle`.
//
//     class Circle:
//         def __new__(cls, center: Vec3d, radius: float, normal: Vec3d) -> Circle
//         none()                                    # static; radius 0, NaN normal
//         get_plane() -> Plane, in_same_plane(other) -> bool, is_degenerate() -> bool
//         area: float                               # read-only
//         center: Vec3d, radius: float, normal: Vec3d   # read-write; stored as given
//         c == d, c != d                            # unhashable
//         copy.copy, copy.deepcopy, pickle
//
// `!=` is the negation of the host's whole `==` evaluation, so a circle is unequal to
// any object of another type.
#include "geometry/circle.hpp"

#include "frame/compare.hpp"
#include "frame/define.hpp"
#include "geometry/plane.hpp"
#include "vec3d.hpp"

namespace lumeric {

namespace {

using tovrin::geometry::Circle;
using C = ClassDef<Circle, "Circle">;
using Constructor = C::Constructor<&Circle::make, "center", "radius", "normal">;

bool equal(const Circle& a, const Circle& b) noexcept { return a == b; }

}  // namespace

PyType_Spec* circle_spec() {
    return C::build<Constructor>(
        C::methods(
            C::static_method<"none", &Circle::none>(),
            C::method<"get_plane", &Circle::get_plane>(),
            C::method<"in_same_plane", &Circle::in_same_plane, "other">(),
            C::method<"is_degenerate", &Circle::is_degenerate>(),
            C::copy_and_pickle()),
        C::properties(
            C::property<"area", &Circle::area, nullptr>(),
            C::property<"center", &Circle::center>(),
            C::property<"radius", &Circle::radius>(),
            C::property<"normal", &Circle::normal>()),
        // Equality without a hash: the host makes instances unhashable.
        C::compare<&host_ne_compare<Circle, &equal>, "__eq__">());
}

}  // namespace lumeric
