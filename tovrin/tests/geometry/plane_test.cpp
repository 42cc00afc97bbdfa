// The geometry the plane formulas must add up to, which documented values at a few points
// (checked through the module) would not show for every input.
#include <tovrin/geometry/plane.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

using tovrin::Vec3d;
using tovrin::geometry::Plane;

TEST(Plane, FromPointsPassesThroughThemCounterClockwise) {
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> u(-10.0, 10.0);
    for (int i = 0; i < 2000; ++i) {
        Vec3d p1{u(rng), u(rng), u(rng)}, p2{u(rng), u(rng), u(rng)}, p3{u(rng), u(rng), u(rng)};
        Plane plane = Plane::from_points(p1, p2, p3);
        EXPECT_NEAR(plane.normal.magnitude(), 1.0, 1e-15) << i;
        for (const Vec3d& p : {p1, p2, p3}) EXPECT_NEAR(plane.distance_to_point(p), 0.0, 1e-13) << i;
        // The normal sees p1, p2, p3 counter-clockwise.
        EXPECT_GT((p2 - p1).cross(p3 - p1).dot(plane.normal), 0.0) << i;
        // A point moved off the plane along the normal is that far from it, on either side.
        double t = u(rng);
        EXPECT_NEAR(plane.distance_to_point(p1 + plane.normal * t), std::fabs(t), 1e-13) << i;
        EXPECT_TRUE(Plane::from_point(plane.normal, p2).contains_point(p2)) << i;
    }
}

}  // namespace
