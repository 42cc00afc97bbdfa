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
        // Between them these give other bits under any other grouping of each component's sum.
        {"product rounded", Quat{-0.27, 0.64, -0.37, 0.91} * Quat{-1.28, 0.73, -1.74, 0.21},
         {-0.9565000000000001, 0.4894000000000003, 1.4732999999999998, -2.0649999999999995}},
        {"product rounded too", Quat{-1.92, -1.02, -1.71, 0.2} * Quat{-1.72, -1.7, 0.54, -0.84},
         {2.6598, 6.3468, 0.7075999999999998, -2.1890000000000005}},
        {"normalize rounded", Quat{0.87, -1.18, -0.11, -0.93}.normalize(),
         {0.5001073803341172, -0.6783065618324806, -0.0632319676284516, -0.5345975444950908}},
        // The conjugate is multiplied by the vector first; the other order rounds differently.
        {"rotate rounded", to_quat(Quat{-1.46, 1.39, 1.06, -0.98}.rotate({-0.08, -0.91, 2.73})),
         {0, -4.431735999999999, -17.089245000000002, -1.2382250000000008}},
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
        {"divided by the sine", {-0.49, 0.8, 0.72, -0.84}, {0.917723314002264, 0.8259509826020376, -0.9636094797023771},
         4.165772159458089},
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
    EXPECT_EQ(Quat(-1.84, -1.71, 1.46, 1.15).magnitude(), 3.124707986356485);  // summed w, i, j, then k
    // The diagonal subtracts twice the sum of two squares from 1, not each square in turn.
    const double matrix[] = {-0.15399999999999991, 1.5539999999999998, -0.3679999999999998, 0.9167999999999998,
                             -0.6596, 1.41, 1.3075999999999999, -0.6432, -1.5220000000000002};
    auto m = Quat(-0.59, 0.87, 0.71, 0.27).to_rotation_matrix();
    for (int k = 0; k < 9; ++k) EXPECT_EQ(m[k / 3][k % 3], matrix[k]) << k;
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
