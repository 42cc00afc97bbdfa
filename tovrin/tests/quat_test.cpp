// The documented quaternion values, and the geometry the formulas must add up to, which a formula
// copied wrongly into the module's tests and the code alike would not.
#include <tovrin/quat.hpp>

#include <cmath>
#include <limits>
#include <random>

#include <gtest/gtest.h>

namespace tovrin {
namespace {

TEST(Quat, DocumentedValues) {
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    const Quat quarter_turn_z = Quat::from_axis_angle({0, 0, 1}, AngleRadians::half_pi());
    const struct { const char* name; Quat got; Quat want; } quats[] = {
        {"quarter turn", quarter_turn_z, {0.7071067811865476, -0.0, -0.0, -0.7071067811865475}},
        {"normalize", Quat{1, 1, 1, 1}.normalize(), {0.5, 0.5, 0.5, 0.5}},
        {"normalize zero", Quat{0, 0, 0, 0}.normalize(), {nan, nan, nan, nan}},
        {"product", Quat{1, 2, 3, 4} * Quat{5, 6, 7, 8}, {-60, 12, 30, 24}},
    };
    for (const auto& c : quats)
        for (double Quat::*f : {&Quat::w, &Quat::i, &Quat::j, &Quat::k})
            EXPECT_TRUE(std::isnan(c.want.*f) ? std::isnan(c.got.*f) : std::signbit(c.got.*f) == std::signbit(c.want.*f) &&
                        c.got.*f == c.want.*f) << c.name << ": " << c.got.*f;
    const struct { const char* name; Quat q; Vec3d axis; double angle; } axes[] = {
        {"quarter turn", quarter_turn_z, {-0.0, -0.0, -1}, 1.5707963267948966},
        {"identity", Quat::identity(), {1, 0, 0}, 0.0}, {"w of 1", {1, 5, 5, 5}, {1, 0, 0}, 0.0},
        {"w within epsilon of 1", {1 - epsilon / 2, 0, 0, 1}, {1, 0, 0}, 0.0},
        {"w just below 1", {1 - epsilon, 0, 0, 0}, {0, 0, 0}, 0.000000042146848510894035},
        {"zero", {0, 0, 0, 0}, {0, 0, 0}, 3.141592653589793}, {"w of 2", {2, 0, 0, 0}, {nan, nan, nan}, nan},
    };
    for (const auto& c : axes) {
        auto [axis, angle] = c.q.to_axis_angle();
        for (int k = 0; k < 3; ++k) EXPECT_TRUE(std::isnan(c.axis[k]) ? std::isnan(axis[k]) : axis[k] == c.axis[k]) << c.name;
        EXPECT_TRUE(std::isnan(c.angle) ? std::isnan(angle.angle) : angle.angle == c.angle) << c.name;
    }
    Vec3d turned = quarter_turn_z.rotate({1, 0, 0});
    EXPECT_EQ(turned.x, 2.220446049250313e-16);
    EXPECT_EQ(turned.y, 1.0);
    EXPECT_EQ(Quat(2, 0, 0, 0).rotate({1, 2, 3}).z, 12.0);
    EXPECT_TRUE(std::isnan(Quat::identity().rotate({std::numeric_limits<double>::infinity(), 0, 0}).y));
    EXPECT_EQ(Quat(1, -2, -1, 1).normalize().magnitude(), 0.9999999999999998);
    EXPECT_FALSE(Quat(1, -2, -1, 1).normalize().is_unit());
}

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
