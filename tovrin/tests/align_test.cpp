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

TEST(Align, RecoversARigidMotion) {
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> u(-10, 10);
    for (int trial = 0; trial < 20; ++trial) {
        const Transform truth{random_rotation(rng), {u(rng), u(rng), u(rng)}};
        std::vector<Vec3d> source, target;
        for (int k = 0; k < 50; ++k) {
            source.push_back({u(rng), u(rng), u(rng)});
            target.push_back(truth.apply(source.back()));
        }
        const Transform got = std::get<Transform>(align(source, target));
        EXPECT_LT(quat_gap(got.rotation, truth.rotation), 1e-12);
        EXPECT_LT(std::sqrt(got.translation.distance_squared(truth.translation)), 1e-12);
        EXPECT_GE(got.rotation.w, 0.0);
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
    // Six decimals, as read from a file: refused by the exact reading, close to the truth here.
    const Quat q = Quat{0.3, -0.5, 0.7, 0.1}.normalize();
    Matrix3 m = q.to_rotation_matrix();
    for (auto& row : m)
        for (double& x : row) x = std::round(x * 1e6) / 1e6;
    EXPECT_EQ(std::get<RotationError>(Quat::from_rotation_matrix(m)), RotationError::NotOrthonormal);
    EXPECT_LT(quat_gap(std::get<Quat>(nearest_rotation(m)), q), 1e-6);
    m[1][1] = INFINITY;
    EXPECT_EQ(std::get<RotationError>(nearest_rotation(m)), RotationError::NonFiniteMatrix);
}

TEST(Transform, MatrixRoundTrip) {
    const Transform t{Quat{0.5, 0.5, -0.5, 0.5}, {1, -2, 3}};
    const Matrix4 m = t.to_matrix();
    // The matrix acts on columns as apply() acts on points.
    const Vec3d p{0.25, -7, 2};
    const Vec3d by_matrix{((m[0][0] * p.x + m[0][1] * p.y) + m[0][2] * p.z) + m[0][3],
                          ((m[1][0] * p.x + m[1][1] * p.y) + m[1][2] * p.z) + m[1][3],
                          ((m[2][0] * p.x + m[2][1] * p.y) + m[2][2] * p.z) + m[2][3]};
    EXPECT_LT(std::sqrt(by_matrix.distance_squared(t.apply(p))), 1e-14);
    const Transform back = std::get<Transform>(Transform::from_matrix(m));
    EXPECT_LE(quat_gap(back.rotation, t.rotation), 8 * epsilon);
    // The refusals are in the module's refusal table.
}

}  // namespace
}  // namespace tovrin
