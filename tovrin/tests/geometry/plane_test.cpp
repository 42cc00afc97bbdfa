// Values where rounding decides, and the geometry the plane formulas must add up to, which
// documented values at a few points (checked through the module) would not show for every input.
#include <tovrin/geometry/plane.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

using tovrin::Vec3d;
using tovrin::geometry::Plane;

// Operands for which any other grouping of the sums, a reciprocal multiply in the normalisation or
// the offset taken through another of the three points gives other bits.
TEST(Plane, DocumentedValues) {
    EXPECT_EQ(Plane({{7.26, 5.47, 7.33}, 6.13}).distance_to_point({4.43, 3.41, -5.79}), 14.503799999999995);
    // Off the plane by rounding alone: any other grouping of the residual's sum puts it on.
    EXPECT_FALSE(Plane({{-0.35562577789371413, 0.7163649257923103, -0.6002929278211335}, -1.36})
                     .contains_point({0.66, -0.52, -3.2771046994710176}));
    Plane p = Plane::from_points({3.8, 7.86, -1.4}, {5.94, 3.07, -3.54}, {1.58, 6.88, 6.23});
    const double want[] = {-0.9135264727987359, -0.2736780632419824, -0.30094800414027995, 5.2011829679207855};
    const double got[] = {p.normal.x, p.normal.y, p.normal.z, p.distance};
    for (int k = 0; k < 4; ++k) EXPECT_EQ(got[k], want[k]) << k;
}

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
