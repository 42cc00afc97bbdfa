// Horn's alignment and the nearest rotation: what they must give back.
#include <tovrin/align.hpp>

#include <cmath>
#include <random>
#include <vector>

#include <gtest/gtest.h>

namespace tovrin {
namespace {

Quat random_rotation(std::mt19937_64& rng) {
    std::normal_distribution<double> g;
    return Quat{g(rng), g(rng), g(rng), g(rng)}.normalize();
}

double quat_gap(const Quat& a, const Quat& b) {  // up to sign
    const double plus = std::fmax(std::fmax(std::fabs(a.w - b.w), std::fabs(a.i - b.i)),
                                  std::fmax(std::fabs(a.j - b.j), std::fabs(a.k - b.k)));
    const double minus = std::fmax(std::fmax(std::fabs(a.w + b.w), std::fabs(a.i + b.i)),
                                   std::fmax(std::fabs(a.j + b.j), std::fabs(a.k + b.k)));
    return std::fmin(plus, minus);
}

// Recovery itself is checked through the module, against an SVD reference; the sign of the
// quaternion, which no matrix shows, only here.
TEST(Align, GivesTheRotationWithWNotNegative) {
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> u(-10, 10);
    for (int trial = 0; trial < 20; ++trial) {
        const Transform truth{random_rotation(rng), {u(rng), u(rng), u(rng)}};
        std::vector<Vec3d> source(50), target;
        for (Vec3d& p : source) target.push_back(truth.apply(p = {u(rng), u(rng), u(rng)}));
        EXPECT_GE(std::get<Transform>(align(source, target)).rotation.w, 0.0) << trial;
    }
}

TEST(Align, DegenerateSetsGiveOneMinimiser) {
    // One point: nothing fixes the rotation, which stays the identity.
    const Vec3d s{1, 2, 3}, t{-4, 5, 0.5};
    const Transform one = std::get<Transform>(align(std::span(&s, 1), std::span(&t, 1)));
    EXPECT_EQ(one.rotation.w, 1.0);
    EXPECT_EQ(one.rotation.i, 0.0);
    EXPECT_TRUE(one.apply(s) == t);
    // Points on a line: any turn about it is a minimiser; the answer still maps line onto line.
    const Quat turn = Quat::from_axis_angle({0, 0, 1}, AngleRadians{1.0});
    std::vector<Vec3d> line, moved;
    for (int k = 0; k < 5; ++k) {
        line.push_back({double(k), 0, 0});
        moved.push_back(turn.rotate(line.back()) + Vec3d{1, 1, 1});
    }
    const Transform got = std::get<Transform>(align(line, moved));
    for (int k = 0; k < 5; ++k) EXPECT_LT(std::sqrt(got.apply(line[k]).distance_squared(moved[k])), 1e-13);
}

TEST(NearestRotation, AgreesWithTheExactReading) {
    std::mt19937_64 rng(11);
    for (int trial = 0; trial < 200; ++trial) {
        const Quat q = random_rotation(rng);
        const Matrix3 m = q.to_rotation_matrix();
        const Quat exact = std::get<Quat>(Quat::from_rotation_matrix(m));
        const Quat nearest = std::get<Quat>(nearest_rotation(m));
        EXPECT_LE(quat_gap(exact, nearest), 8 * epsilon) << trial;
    }
    // Six-decimal matrices and the refusals are checked through the module.
}

TEST(Transform, MatrixRoundTrip) {
    const Transform t{Quat{0.5, 0.5, -0.5, 0.5}, {1, -2, 3}};
    const Matrix4 m = t.to_matrix();
    // Its layout, bit for bit, is checked through the module.
    const Transform back = std::get<Transform>(Transform::from_matrix(m));
    EXPECT_LE(quat_gap(back.rotation, t.rotation), 8 * epsilon);
    // The refusals are in the module's refusal table.
}

}  // namespace
}  // namespace tovrin
