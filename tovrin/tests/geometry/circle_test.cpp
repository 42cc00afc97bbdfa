#include "tovrin/geometry/circle.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

namespace {

using tovrin::Vec3d;
using tovrin::geometry::Circle;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }

TEST(Circle, MakeStoresNonNegativeRadiusAndUnitNormal) {
    Circle c = Circle::make({1, 2, 3}, -2, {0, 0, 5});
    EXPECT_EQ(bits(c.center.x), bits(1.0));
    EXPECT_EQ(bits(c.radius), bits(2.0));
    EXPECT_EQ(bits(c.normal.x), bits(0.0));
    EXPECT_EQ(bits(c.normal.z), bits(1.0));
    EXPECT_EQ(bits(c.area()), bits(12.566370614359172));
    EXPECT_TRUE(std::isnan(Circle::make({}, nan, {0, 0, 1}).radius));
    EXPECT_TRUE(std::isnan(Circle::make({}, 1, {0, 0, 0}).normal.x));
}

TEST(Circle, NoneIsDegenerateWithoutOrientation) {
    Circle none = Circle::none();
    EXPECT_TRUE(none.is_degenerate());
    EXPECT_TRUE(std::isnan(none.normal.x) && std::isnan(none.normal.y) && std::isnan(none.normal.z));
    EXPECT_TRUE(std::isnan(none.get_plane().normal.z) && std::isnan(none.get_plane().distance));
    EXPECT_FALSE(none == none);
    EXPECT_TRUE(none != none);
}

TEST(Circle, IsDegenerateOnlyForZeroRadius) {
    const struct { double radius; bool degenerate; } cases[] = {
        {0.0, true}, {-0.0, true}, {nan, false}, {-3.0, false}, {4.9e-324, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ((Circle{{}, c.radius, {0, 0, 1}}.is_degenerate()), c.degenerate) << c.radius;
    }
}

TEST(Circle, GetPlanePassesThroughCentre) {
    auto p = Circle{{7, 8, 3}, 1, {0, 0, 2}}.get_plane();
    EXPECT_EQ(bits(p.normal.z), bits(1.0));
    EXPECT_EQ(bits(p.distance), bits(-3.0));
}

TEST(Circle, Equality) {
    const Circle base{{0, 0, 0}, 1, {0, 0, 1}};
    const struct { const char* name; Circle other; bool equal; } cases[] = {
        {"itself", base, true},
        {"opposite normal", {{0, 0, 0}, 1, {0, 0, -1}}, true},
        {"centre within epsilon", {{1e-16, 0, 0}, 1, {0, 0, 1}}, true},
        {"radius one ulp larger", {{0, 0, 0}, std::nextafter(1.0, 2.0), {0, 0, 1}}, false},
        {"radius sign", {{0, 0, 0}, -1, {0, 0, 1}}, false},
        {"tilted normal", {{0, 0, 0}, 1, {0, 1, 0}}, false},
        {"NaN centre", {{nan, 0, 0}, 1, {0, 0, 1}}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(base == c.other, c.equal);
        EXPECT_EQ(c.other == base, c.equal);
        EXPECT_EQ(base != c.other, !c.equal);
    }
}

TEST(Circle, InSamePlane) {
    const struct { const char* name; Circle a; Circle b; bool same; } cases[] = {
        {"z = 1, same normals", {{0, 0, 1}, 1, {0, 0, 1}}, {{5, 0, 1}, 1, {0, 0, 1}}, true},
        {"z = 1, opposite normals", {{0, 0, 1}, 1, {0, 0, 1}}, {{5, 0, 1}, 1, {0, 0, -1}}, true},
        {"z = 1 and z = -1, opposite normals", {{0, 0, 1}, 1, {0, 0, 1}}, {{0, 0, -1}, 1, {0, 0, -1}}, false},
        {"through origin, opposite normals", {{0, 0, 0}, 1, {0, 0, 1}}, {{5, 0, 0}, 1, {0, 0, -1}}, true},
        {"parallel planes", {{0, 0, 0}, 1, {0, 0, 1}}, {{0, 0, 1}, 1, {0, 0, 1}}, false},
        {"crossing planes", {{0, 0, 0}, 1, {0, 0, 1}}, {{0, 0, 0}, 1, {0, 1, 0}}, false},
        {"NaN normal", {{0, 0, 0}, 1, {0, 0, 1}}, Circle::none(), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.a.in_same_plane(c.b), c.same);
        EXPECT_EQ(c.b.in_same_plane(c.a), c.same);
    }
}

}  // namespace
