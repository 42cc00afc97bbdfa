// The module's tests check every angle formula bit for bit, and the clamp of angle_to; the
// fixed-digit text forms are not reachable from there.
#include <tovrin/angle.hpp>

#include <limits>
#include <string>

#include <gtest/gtest.h>

namespace tovrin {
namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

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
