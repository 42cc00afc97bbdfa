#include "tovrin/geometry/plane.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

namespace {

using tovrin::Vec3d;
using tovrin::geometry::Plane;

std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }

struct PlaneCase {
    const char* name;
    Plane got;
    Plane want;
};

TEST(Plane, ConstructorsGiveExactFields) {
    const PlaneCase cases[] = {
        {"xy", Plane::xy(), {{0, 0, 1}, -0.0}},
        {"xz is y = 0", Plane::xz(), {{0, 1, 0}, -0.0}},
        {"yz is x = 0", Plane::yz(), {{1, 0, 0}, -0.0}},
        {"make negates, does not rescale", Plane::make({0, 0, 2}, 4), {{0, 0, 1}, -4}},
        {"make", Plane::make({0, 0, 1}, 5), {{0, 0, 1}, -5}},
        {"from_point", Plane::from_point({0, 0, 2}, {7, 8, 3}), {{0, 0, 1}, -3}},
        {"from_points ccw", Plane::from_points({0, 0, 0}, {1, 0, 0}, {0, 1, 0}), {{0, 0, 1}, -0.0}},
        {"from_points cw", Plane::from_points({0, 0, 0}, {0, 1, 0}, {1, 0, 0}), {{0, 0, -1}, -0.0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(bits(c.got.normal.x), bits(c.want.normal.x));
        EXPECT_EQ(bits(c.got.normal.y), bits(c.want.normal.y));
        EXPECT_EQ(bits(c.got.normal.z), bits(c.want.normal.z));
        EXPECT_EQ(bits(c.got.distance), bits(c.want.distance));
    }
}

TEST(Plane, DegenerateInputsGiveNaN) {
    Plane collinear = Plane::from_points({0, 0, 0}, {1, 1, 1}, {2, 2, 2});
    EXPECT_TRUE(std::isnan(collinear.normal.x) && std::isnan(collinear.normal.y));
    EXPECT_TRUE(std::isnan(collinear.normal.z) && std::isnan(collinear.distance));
    EXPECT_TRUE(std::isnan(Plane::make({0, 0, 0}, 1).normal.z));
}

TEST(Plane, DistanceAndContainment) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        const char* name;
        Plane plane;
        Vec3d point;
        double distance;
        bool contains;
    } cases[] = {
        {"in xy", Plane::xy(), {3, 4, 0}, 0, true},
        {"just above xy", Plane::xy(), {0, 0, 1e-15}, 1e-15, false},
        {"in xz", Plane::xz(), {3, 0, 4}, 0, true},
        {"off yz", Plane::yz(), {3, 0, 0}, 3, false},
        {"in z = 5", Plane::make({0, 0, 1}, 5), {1, 2, 5}, 0, true},
        {"origin to z = 5", Plane::make({0, 0, 1}, 5), {0, 0, 0}, 5, false},
        {"below z = 5 is unsigned", Plane::make({0, 0, 1}, 5), {0, 0, 7}, 2, false},
        {"raw normal not rescaled", Plane{{0, 0, 2}, 0}, {0, 0, 1}, 2, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(bits(c.plane.distance_to_point(c.point)), bits(c.distance));
        EXPECT_EQ(c.plane.contains_point(c.point), c.contains);
    }
    EXPECT_FALSE(Plane::xy().contains_point({0, 0, nan}));
}

}  // namespace
