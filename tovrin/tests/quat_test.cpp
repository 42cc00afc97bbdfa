#include <tovrin/quat.hpp>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

#include <gtest/gtest.h>

namespace tovrin {
namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

// Bit-exact field by field, except that any NaN matches any NaN.
void expect_bits(std::initializer_list<double> actual, std::initializer_list<double> expected) {
    auto e = expected.begin();
    for (double a : actual) {
        if (std::isnan(*e)) EXPECT_TRUE(std::isnan(a)) << a;
        else EXPECT_EQ(std::bit_cast<std::uint64_t>(a), std::bit_cast<std::uint64_t>(*e)) << a << " vs " << *e;
        ++e;
    }
}
void expect_bits(const Vec3d& a, const Vec3d& e) { expect_bits({a.x, a.y, a.z}, {e.x, e.y, e.z}); }
void expect_bits(const Quat& a, const Quat& e) { expect_bits({a.w, a.i, a.j, a.k}, {e.w, e.i, e.j, e.k}); }

const Quat quarter_turn_z = Quat::from_axis_angle(Vec3d::k(), AngleRadians::half_pi());

TEST(Quat, QuarterTurnAboutZ) {
    expect_bits(quarter_turn_z, {0.7071067811865476, -0.0, -0.0, -0.7071067811865475});
    expect_bits(quarter_turn_z.rotate(Vec3d::i()), {2.220446049250313e-16, 1.0, 0.0});
    auto [axis, angle] = quarter_turn_z.to_axis_angle();
    expect_bits(axis, {-0.0, -0.0, -1.0});
    expect_bits({angle.angle}, {1.5707963267948966});
    // The matrix is the opposite rotation: it sends x to -y.
    auto m = quarter_turn_z.to_rotation_matrix();
    expect_bits({m[0][0], m[0][1], m[0][2]}, {2.220446049250313e-16, 1, 0});
    expect_bits({m[1][0], m[1][1], m[1][2]}, {-1, 2.220446049250313e-16, 0});
    expect_bits({m[2][0], m[2][1], m[2][2]}, {0, 0, 1});
}

TEST(Quat, RotationMatrixDiagonalRoundsTheSumOnce) {
    auto m = Quat::from_axis_angle(Vec3d{1, 2, 3}.normalize(), AngleRadians{1.0}).to_rotation_matrix();
    // 1 - 2·i·i - 2·k·k would give 0.67164450419152821 in the middle.
    expect_bits({m[0][0], m[1][1], m[2][2]}, {0.57313785544898677, 0.67164450419152832, 0.83582225209576411});
}

TEST(Quat, IdentityAndZeroScalarProducts) {
    auto id = Quat::identity();
    auto [axis, angle] = id.to_axis_angle();
    expect_bits(axis, {1, 0, 0});
    expect_bits({angle.angle}, {0.0});
    auto m = id.to_rotation_matrix();
    for (int r = 0; r < 3; ++r) expect_bits({m[r][0], m[r][1], m[r][2]}, {r == 0 ? 1.0 : 0.0, r == 1 ? 1.0 : 0.0, r == 2 ? 1.0 : 0.0});
    expect_bits(id.rotate({-0.0, 5, 5}), {0.0, 5, 5});
    expect_bits(id.rotate({inf, 0, 0}), {nan, nan, nan});
    expect_bits(Quat{2, 0, 0, 0}.rotate({1, 2, 3}), {4, 8, 12});
    expect_bits(to_quat({1, 2, 3}), {0.0, 1, 2, 3});
}

TEST(Quat, ToAxisAngleEdges) {
    struct Case { Quat q; Vec3d axis; double angle; };
    const Case cases[] = {
        {{1, 5, 5, 5}, {1, 0, 0}, 0.0},  // only w is tested
        {{1 - 0x1p-53, 5, 5, 5}, {1, 0, 0}, 0.0},
        {{1 - 0x1p-52, 0, 0, 0}, {0, 0, 0}, 4.2146848510894035e-08},
        {{0, 0, 0, 0}, {0, 0, 0}, AngleRadians::pi().angle},
        {{-1, 0, 0, 0}, {0, 0, 0}, AngleRadians::two_pi().angle},
        {{2, 0, 0, 0}, {nan, nan, nan}, nan},
    };
    for (const auto& c : cases) {
        auto [axis, angle] = c.q.to_axis_angle();
        expect_bits(axis, c.axis);
        expect_bits({angle.angle}, {c.angle});
    }
}

TEST(Quat, MagnitudeNormalizeIsUnit) {
    expect_bits({Quat{1, 2, 2, 0}.magnitude()}, {3.0});
    expect_bits(Quat{1, 1, 1, 1}.normalize(), {0.5, 0.5, 0.5, 0.5});
    expect_bits(Quat{0, 0, 0, 0}.normalize(), {nan, nan, nan, nan});
    Quat n = Quat{1, -2, -1, 1}.normalize();
    expect_bits({n.magnitude()}, {0.9999999999999998});
    EXPECT_FALSE(n.is_unit());
    EXPECT_TRUE(Quat::identity().is_unit());
    EXPECT_TRUE((Quat{1 - 0x1p-53, 0, 0, 0}.is_unit()));
    EXPECT_FALSE((Quat{1 + 0x1p-52, 0, 0, 0}.is_unit()));
}

TEST(Quat, ToleranceEquality) {
    struct Case { Quat a, b; bool equal; };
    const Case cases[] = {
        {{1, 0, 0, 0}, {1.0000000000000002, 0, 0, 0}, false},  // difference exactly epsilon
        {{0.5, 0, 0, 0}, {0.5000000000000001, 0, 0, 0}, true},
        {{1, 0, 0, 0}, {1, 1e-16, 0, 0}, true},
        {{1, 0, 0, 0}, {1, 0, 0, 3e-16}, false},
        {{1, 0, nan, 0}, {1, 0, nan, 0}, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.a == c.b, c.equal);
        EXPECT_EQ(c.a != c.b, !c.equal);
    }
}

TEST(Quat, RandomRotationsAndRoundTrips) {
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
        // The conjugate-first expansion, operation for operation.
        double rw = ((q.w * 0.0 + q.i * v.x) + q.j * v.y) + q.k * v.z;
        double ri = ((q.w * v.x - q.i * 0.0) - q.j * v.z) + q.k * v.y;
        double rj = ((q.w * v.y - q.j * 0.0) - q.k * v.x) + q.i * v.z;
        double rk = ((q.w * v.z - q.k * 0.0) - q.i * v.y) + q.j * v.x;
        expect_bits(r, {((rw * q.i + ri * q.w) + rj * q.k) - rk * q.j, ((rw * q.j + rj * q.w) + rk * q.i) - ri * q.k,
                        ((rw * q.k + rk * q.w) + ri * q.j) - rj * q.i});
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
