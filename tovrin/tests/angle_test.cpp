#include <tovrin/angle.hpp>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

#include <gtest/gtest.h>

namespace tovrin {
namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

// Bit-exact, except that any NaN matches any NaN.
void expect_bits(double actual, double expected) {
    if (std::isnan(expected)) {
        EXPECT_TRUE(std::isnan(actual)) << actual;
    } else {
        EXPECT_EQ(std::bit_cast<std::uint64_t>(actual), std::bit_cast<std::uint64_t>(expected))
            << actual << " vs " << expected;
    }
}

TEST(Angle, ConstantsHaveExactBits) {
    const std::pair<AngleRadians, std::uint64_t> table[] = {
        {AngleRadians::zero(), 0x0000000000000000}, {AngleRadians::pi(), 0x400921FB54442D18},
        {AngleRadians::two_pi(), 0x401921FB54442D18}, {AngleRadians::half_pi(), 0x3FF921FB54442D18},
        {AngleRadians::quarter_pi(), 0x3FE921FB54442D18}, {AngleRadians::third_pi(), 0x3FF0C152382D7365},
        {AngleRadians::sixth_pi(), 0x3FE0C152382D7365},
    };
    for (auto [a, bits] : table) EXPECT_EQ(std::bit_cast<std::uint64_t>(a.angle), bits);
}

TEST(Angle, ConversionsMultiplyThenDivide) {
    const std::pair<double, double> to_degrees[] = {
        {AngleRadians::pi().angle, 180.0}, {AngleRadians::half_pi().angle, 90.0},
        {AngleRadians::quarter_pi().angle, 45.0}, {AngleRadians::third_pi().angle, 59.99999999999999},
        {AngleRadians::sixth_pi().angle, 29.999999999999996}, {0.1, 5.729577951308232},
    };
    for (auto [r, d] : to_degrees) expect_bits(AngleRadians{r}.to_degrees().angle, d);
    const std::pair<double, AngleRadians> to_radians[] = {
        {180.0, AngleRadians::pi()}, {90.0, AngleRadians::half_pi()}, {60.0, AngleRadians::third_pi()}};
    for (auto [d, r] : to_radians) expect_bits(AngleDegrees{d}.to_radians().angle, r.angle);
}

TEST(Angle, TrigonometryAndReciprocals) {
    auto q = AngleRadians::quarter_pi(), h = AngleRadians::half_pi(), z = AngleRadians::zero();
    expect_bits(q.tan(), 0.9999999999999999);
    expect_bits(q.cot(), 1.0000000000000002);
    expect_bits(h.cos(), 6.123233995736766e-17);
    expect_bits(h.sec(), 1.633123935319537e16);
    expect_bits(h.cot(), 6.123233995736766e-17);
    expect_bits(z.csc(), inf);
    expect_bits((-z).csc(), -inf);
    expect_bits(z.cot(), inf);
    expect_bits(AngleRadians{1.0}.cot(), 0.64209261593433065);  // cos / sin would give ...076
    expect_bits(AngleRadians{inf}.sec(), nan);
    expect_bits(AngleRadians{nan}.sin(), nan);
}

TEST(Angle, ArithmeticIsUnreduced) {
    auto pi = AngleRadians::pi();
    expect_bits((AngleRadians::two_pi() + pi).angle, 9.42477796076938);
    expect_bits((pi - AngleRadians::half_pi()).angle, AngleRadians::half_pi().angle);
    expect_bits((pi * 2.0).angle, AngleRadians::two_pi().angle);
    expect_bits((AngleRadians::zero() / 0.0).angle, nan);
    expect_bits((pi / 0.0).angle, inf);
    expect_bits((-AngleRadians::zero()).angle, -0.0);
    expect_bits((-AngleDegrees{10.0}).angle, -10.0);
}

TEST(Angle, ComparisonIsExact) {
    AngleRadians one{1.0}, next{1.0000000000000002}, n{nan};
    EXPECT_NE(one, next);
    EXPECT_TRUE(one < next && one <= next && next > one && next >= one);
    EXPECT_EQ(AngleRadians{0.0}, AngleRadians{-0.0});
    EXPECT_FALSE(n == n);
    EXPECT_TRUE(n != n);
    EXPECT_FALSE(n < one || n <= one || n > one || n >= one);
    EXPECT_TRUE(AngleDegrees{-1.0} < AngleDegrees{0.0});
}

TEST(Angle, TextForms) {
    EXPECT_EQ(AngleRadians::pi().to_string(), "3.141592653589793 radians");
    EXPECT_EQ(AngleRadians{1.0}.to_string(), "1 radians");
    EXPECT_EQ((-AngleRadians::zero()).to_string(), "-0 radians");
    EXPECT_EQ(AngleRadians{nan}.to_string(), "NaN radians");
    EXPECT_EQ(AngleDegrees{90.0}.to_string(), "90\xC2\xB0");
    EXPECT_EQ(AngleDegrees{-45.5}.to_string(), "-45.5\xC2\xB0");
    EXPECT_EQ(AngleDegrees{inf}.to_string(), "inf\xC2\xB0");
    EXPECT_EQ((-AngleDegrees{0.0}).to_string(), "-0\xC2\xB0");
    // Fixed digits: rounded from the exact binary value, sign of zero kept.
    EXPECT_EQ(AngleRadians::pi().to_string(2), "3.14 radians");
    EXPECT_EQ(AngleRadians::pi().to_string(0), "3 radians");
    EXPECT_EQ(AngleRadians{2.675}.to_string(2), "2.67 radians");
    EXPECT_EQ(AngleRadians{-0.0}.to_string(2), "-0.00 radians");
    EXPECT_EQ(AngleRadians{nan}.to_string(3), "NaN radians");
    EXPECT_EQ(AngleDegrees{-inf}.to_string(1), "-inf\xC2\xB0");
    // Beyond the 1074 fractional digits a binary64 can have, only zeros follow.
    std::string tiny = AngleDegrees{5e-324}.to_string(1080);
    EXPECT_EQ(tiny.substr(2 + 1073, 7), "5000000");
    EXPECT_EQ(tiny.size(), 2 + 1080 + 2u);
}

TEST(AngleTo, ClampsRoundedCosine) {
    struct Case { Vec3d a, b; double expected; };
    const Case cases[] = {
        {{1, 1, 1}, {1, 1, 1}, 0.0},  // cosine rounds to 1.0000000000000002
        {{1, 1, 1}, {-1, -1, -1}, AngleRadians::pi().angle},
        {{1, 0, 0}, {0, 1, 0}, AngleRadians::half_pi().angle},
        {{1, 0, 0}, {-1, 0, 0}, AngleRadians::pi().angle},
        {{0, 0, 0}, {1, 0, 0}, nan},
        {{nan, 0, 0}, {1, 0, 0}, nan},
    };
    for (const auto& c : cases) expect_bits(angle_to(c.a, c.b).angle, c.expected);
}

TEST(AngleTo, MatchesUnclampedFormulaWhereItIsDefined) {
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> u(-10.0, 10.0);
    for (int n = 0; n < 2000; ++n) {
        Vec3d a{u(rng), u(rng), u(rng)}, b{u(rng), u(rng), u(rng)};
        if (n % 4 == 0) b = a * u(rng);  // parallel pairs probe the clamp
        double raw = std::acos(a.dot(b) / (a.magnitude() * b.magnitude()));
        double got = angle_to(a, b).angle;
        if (std::isnan(raw)) EXPECT_TRUE(got == 0.0 || got == AngleRadians::pi().angle) << got;
        else expect_bits(got, raw);
    }
}

}  // namespace
}  // namespace tovrin
