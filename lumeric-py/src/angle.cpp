// angle.cpp: the Python classes `AngleRadians` and `AngleDegrees`.
//
//     class AngleRadians:
//         def __new__(cls, angle: float) -> AngleRadians
//         angle: float                           # read-write; `del a.angle` is refused
//         zero(), pi(), two_pi(), half_pi(), quarter_pi(), third_pi(), sixth_pi()   # static
//         to_degrees, sin, cos, tan, sec, csc, cot
//         a + b, a - b, a * s, a / s, -a, <, <=, ==, >, >=, !=, repr(a)   # "1.5 radians"
//
//     class AngleDegrees:
//         def __new__(cls, angle: float) -> AngleDegrees
//         angle: float
//         to_radians, -d, <, <=, ==, >, >=, !=, repr(d)                  # "90°"
//
// Both copy (copy.copy, copy.deepcopy) and pickle. Comparisons are exact (no tolerance). `!=` is the negation of the host's `==`, so two
// NaN angles, or an angle and anything of another type, are always unequal. Operators
// have no reflected forms: `2 * a` is left to the host's TypeError. Neither class is
// hashable, since both define comparison without a hash.
#include "angle.hpp"

#include <string>

#include "frame/compare.hpp"
#include "frame/define.hpp"

namespace lumeric {

namespace {

using tovrin::AngleDegrees;
using tovrin::AngleRadians;
using R = ClassDef<AngleRadians, "AngleRadians">;
using D = ClassDef<AngleDegrees, "AngleDegrees">;

AngleRadians make_radians(double angle) noexcept { return {angle}; }
AngleDegrees make_degrees(double angle) noexcept { return {angle}; }

AngleRadians add(const AngleRadians& a, const AngleRadians& b) noexcept { return a + b; }
AngleRadians subtract(const AngleRadians& a, const AngleRadians& b) noexcept { return a - b; }
AngleRadians scale(const AngleRadians& a, double s) noexcept { return a * s; }
AngleRadians divide(const AngleRadians& a, double s) noexcept { return a / s; }
AngleRadians negate_radians(const AngleRadians& a) noexcept { return -a; }
AngleDegrees negate_degrees(const AngleDegrees& d) noexcept { return -d; }

std::string repr_radians(const AngleRadians& a) { return a.to_string(); }
std::string repr_degrees(const AngleDegrees& d) { return d.to_string(); }

using RadiansConstructor = R::Constructor<&make_radians, "angle">;
using DegreesConstructor = D::Constructor<&make_degrees, "angle">;

}  // namespace

PyType_Spec* angle_radians_spec() {
    return R::build<RadiansConstructor>(
        R::methods(
            R::static_method<"zero", &AngleRadians::zero>(),
            R::static_method<"pi", &AngleRadians::pi>(),
            R::static_method<"two_pi", &AngleRadians::two_pi>(),
            R::static_method<"half_pi", &AngleRadians::half_pi>(),
            R::static_method<"quarter_pi", &AngleRadians::quarter_pi>(),
            R::static_method<"third_pi", &AngleRadians::third_pi>(),
            R::static_method<"sixth_pi", &AngleRadians::sixth_pi>(),
            R::method<"to_degrees", &AngleRadians::to_degrees>(),
            R::method<"sin", &AngleRadians::sin>(),
            R::method<"cos", &AngleRadians::cos>(),
            R::method<"tan", &AngleRadians::tan>(),
            R::method<"sec", &AngleRadians::sec>(),
            R::method<"csc", &AngleRadians::csc>(),
            R::method<"cot", &AngleRadians::cot>(),
            R::copy_and_pickle()),
        R::properties(
            R::property<"angle", &AngleRadians::angle>()),
        R::op<Py_tp_repr, &repr_radians>(),
        R::compare<&ordered_compare<AngleRadians>, "__eq__", "__lt__", "__le__", "__gt__", "__ge__">(),
        R::op<Py_nb_add, &add, "other">(),
        R::op<Py_nb_subtract, &subtract, "other">(),
        R::op<Py_nb_multiply, &scale, "rhs">(),
        R::op<Py_nb_true_divide, &divide, "rhs">(),
        R::op<Py_nb_negative, &negate_radians>());
}

PyType_Spec* angle_degrees_spec() {
    return D::build<DegreesConstructor>(
        D::methods(
            D::method<"to_radians", &AngleDegrees::to_radians>(),
            D::copy_and_pickle()),
        D::properties(
            D::property<"angle", &AngleDegrees::angle>()),
        D::op<Py_tp_repr, &repr_degrees>(),
        D::compare<&ordered_compare<AngleDegrees>, "__eq__", "__lt__", "__le__", "__gt__", "__ge__">(),
        D::op<Py_nb_negative, &negate_degrees>());
}

}  // namespace lumeric
