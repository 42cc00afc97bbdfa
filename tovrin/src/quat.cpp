// Quaternion operations that need libm.
#include <tovrin/quat.hpp>

#include <cmath>

namespace tovrin {

Quat Quat::from_axis_angle(const Vec3d& axis, AngleRadians angle) noexcept {
    double h = angle.angle * -0.5;
    double s;
    double c;
    ::sincos(h, &s, &c);
    return {c, s * axis.x, s * axis.y, s * axis.z};
}

AxisAngle Quat::to_axis_angle() const noexcept {
    if (within_epsilon(w, 1.0)) return {Vec3d::i(), AngleRadians::zero()};
    double a = std::acos(w);
    double angle = a + a;
    double s = std::sin(angle * 0.5);
    return {{i / s, j / s, k / s}, {angle}};
}

}  // namespace tovrin
