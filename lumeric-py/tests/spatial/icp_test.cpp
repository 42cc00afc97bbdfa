// ICP on clouds whose answer is known: a copy of the target under a small rigid motion, and
// the point-to-plane step's singular case.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include <spatial/icp.hpp>

namespace lumeric::spatial {
namespace {

using tovrin::Quat;
using tovrin::Transform;

// A wavy surface with unit normals, so that point-to-plane is well posed.
struct Surface {
    std::vector<Vec3d> points, normals;
};
Surface surface() {
    Surface s;
    for (int a = 0; a < 60; ++a)
        for (int b = 0; b < 60; ++b) {
            const double x = a * 0.05, y = b * 0.05, z = 0.3 * std::sin(2 * x) * std::cos(3 * y);
            s.points.push_back({x, y, z});
            // Gradient of z - f(x, y), normalised.
            const Vec3d n{-0.6 * std::cos(2 * x) * std::cos(3 * y), 0.9 * std::sin(2 * x) * std::sin(3 * y), 1.0};
            s.normals.push_back(n.normalize());
        }
    return s;
}

TEST(Icp, RecoversASmallMotion) {
    const Surface target = surface();
    const KdTree tree(target.points);
    const Transform truth{Quat::from_axis_angle(Vec3d{1, 2, 3}.normalize(), tovrin::AngleRadians{0.02}), {0.01, -0.02, 0.015}};
    const Transform back = truth.inverse();
    std::vector<Vec3d> source;
    for (const Vec3d& p : target.points) source.push_back(back.apply(p));
    for (bool plane : {false, true}) {
        const IcpOptions options{0.2, Transform::identity(), 60, 1e-12, 1e-12};
        const IcpResult r = icp(tree, target.points, source, options,
                                plane ? std::span<const Vec3d>(target.normals) : std::span<const Vec3d>());
        EXPECT_EQ(r.fitness, 1.0) << plane;
        EXPECT_LT(r.inlier_rmse, 1e-12) << plane;
        EXPECT_LT(std::sqrt(r.transform.translation.distance_squared(truth.translation)), 1e-12) << plane;
        EXPECT_GT(r.iterations, 1u) << plane;
    }
}

TEST(Icp, SingularPlaneStepIsTheIdentity) {
    // Every normal the same: nothing fixes the motion within the plane.
    std::vector<Vec3d> points, normals;
    for (int k = 0; k < 10; ++k) {
        points.push_back({double(k), double(k % 3), 0.5});
        normals.push_back({0, 0, 1});
    }
    const std::vector<Vec3d> targets(points.size(), Vec3d{0, 0, 0});
    const Transform step = point_to_plane_step(points, targets, normals);
    EXPECT_EQ(step.rotation.w, 1.0);
    EXPECT_EQ(step.translation.z, 0.0);
}

}  // namespace
}  // namespace lumeric::spatial
