// Circles with NaN fields, which must make every comparison false, and the values where rounding
// decides (the documented values of circles are checked through the module).
#include <tovrin/geometry/circle.hpp>

#include <gtest/gtest.h>

#include <limits>

namespace {

using tovrin::geometry::Circle;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

TEST(Circle, NaNFieldsAndRoundingDecideComparisons) {
    const Circle unit{{0, 0, 0}, 1, {0, 0, 1}};
    const struct { const char* name; Circle circle; bool degenerate; } cases[] = {
        {"none", Circle::none(), true},
        {"NaN centre", {{nan, 0, 0}, 1, {0, 0, 1}}, false},
        {"NaN radius", {{0, 0, 0}, nan, {0, 0, 1}}, false},
        {"NaN normal", {{0, 0, 0}, 1, {0, nan, 1}}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.circle.is_degenerate(), c.degenerate);
        EXPECT_FALSE(c.circle == c.circle);
        EXPECT_TRUE(c.circle != c.circle);
        EXPECT_FALSE(c.circle == unit || unit == c.circle);
    }
    EXPECT_FALSE(Circle::none().in_same_plane(Circle::none()));
    EXPECT_FALSE(unit.in_same_plane(Circle{{0, 0, nan}, 1, {0, 0, 1}}));
    EXPECT_EQ((Circle{{0, 0, 0}, 7.63, {0, 0, 1}}.area()), 182.8937853547716);  // (r * r) * pi, not r * (r * pi)
    // Offsets that differ by rounding alone: either dot product grouped otherwise makes them one plane.
    EXPECT_FALSE((Circle{{-1.0, 1.1, -1.3}, 1, {-0.1, -0.2, -0.9}}.in_same_plane({{2.8, 1.7, -1.8555555555555556}, 1,
                                                                                  {-0.1, -0.2, -0.9}})));
}

}  // namespace
