// The angle values where rounding or a sign decides, bit for bit (the plain documented ones are
// checked through the module), and the fixed-digit text forms (not reachable from
// the module).
#include <tovrin/angle.hpp>

#include <cmath>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "bit_equal.hpp"

namespace tovrin {
namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

TEST(Angle, DocumentedValues) {
    using R = AngleRadians;
    const struct { const char* name; double got; double want; } cases[] = {
        {"third pi in degrees", R::third_pi().to_degrees().angle, 59.99999999999999},
        {"sixth pi in degrees", R::sixth_pi().to_degrees().angle, 29.999999999999996},
        // Multiplying by 180 / pi or pi / 180 instead would round these differently.
        {"5.93 in degrees", R{5.93}.to_degrees().angle, 339.7639725125781},
        {"198.2 degrees", AngleDegrees{198.2}.to_radians().angle, 3.4592425774527604},
        // Any other grouping of the dot products or of the cosine's quotient gives another angle.
        {"angle between", angle_to({5.55, -3.36, -8.63}, {2.07, -1.74, -6.27}).angle, 0.24923682863151517},
        {"cot", R::quarter_pi().cot(), 1.0000000000000002},
        {"csc of -0", (-R::zero()).csc(), -inf}, {"cot of 0", R::zero().cot(), inf},
        {"0 / 0", (R::zero() / 0.0).angle, nan}, {"pi / 0", (R::pi() / 0.0).angle, inf},
        {"sum", (R::two_pi() + R::pi()).angle, 9.42477796076938},
    };
    for (const auto& c : cases) EXPECT_TRUE(testing::same(c.got, c.want)) << c.name << ": " << c.got;
}

TEST(Angle, FixedDigitTextForms) {
    // Rounded from the exact binary value, sign of zero kept.
    EXPECT_EQ(AngleRadians::pi().to_string(2), "3.14 radians");
    EXPECT_EQ(AngleRadians::pi().to_string(0), "3 radians");
    EXPECT_EQ(AngleRadians{2.675}.to_string(2), "2.67 radians");
    EXPECT_EQ(AngleRadians{-0.0}.to_string(2), "-0.00 radians");
    EXPECT_EQ(AngleRadians{nan}.to_string(3), "NaN radians");
    EXPECT_EQ(AngleDegrees{-inf}.to_string(1), "-inf\xC2\xB0");
    EXPECT_EQ(AngleDegrees{-45.5}.to_string(2), "-45.50\xC2\xB0");
    // Beyond the 1074 fractional digits a binary64 can have, only zeros follow.
    std::string tiny = AngleDegrees{5e-324}.to_string(1080);
    EXPECT_EQ(tiny.substr(2 + 1073, 7), "5000000");
    EXPECT_EQ(tiny.size(), 2 + 1080 + 2u);
}

}  // namespace
}  // namespace tovrin
