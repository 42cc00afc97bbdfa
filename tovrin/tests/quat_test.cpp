// The module's tests check every quaternion formula bit for bit against the same formula; this
// one checks the geometry the formulas must add up to, which a formula copied wrongly into
// both places would not.
#include <tovrin/quat.hpp>

#include <random>

#include <gtest/gtest.h>

namespace tovrin {
namespace {

TEST(Quat, RotationsKeepLengthsMatchTheMatrixAndRoundTrip) {
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> u(-5.0, 5.0), theta(0.1, 6.18);
    for (int n = 0; n < 1000; ++n) {
        Vec3d axis = Vec3d{u(rng), u(rng), u(rng)}.normalize(), v{u(rng), u(rng), u(rng)};
        AngleRadians a{theta(rng)};
        Quat q = Quat::from_axis_angle(axis, a);
        Vec3d r = q.rotate(v);
        EXPECT_NEAR(r.magnitude(), v.magnitude(), 1e-14 * v.magnitude());
        auto m = q.to_rotation_matrix();  // rotate applies its transpose
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(r[c], (m[0][c] * v.x + m[1][c] * v.y) + m[2][c] * v.z, 1e-13);
        // The axis comes back negated for a positive angle, and as given for a negative one.
        auto [back_axis, back_angle] = q.to_axis_angle();
        EXPECT_NEAR(back_angle.angle, a.angle, 1e-12);
        EXPECT_NEAR(back_axis.distance_to(-axis), 0.0, 1e-12);
        auto [neg_axis, neg_angle] = Quat::from_axis_angle(axis, -a).to_axis_angle();
        EXPECT_NEAR(neg_angle.angle, a.angle, 1e-12);
        EXPECT_NEAR(neg_axis.distance_to(axis), 0.0, 1e-12);
    }
}

}  // namespace
}  // namespace tovrin
