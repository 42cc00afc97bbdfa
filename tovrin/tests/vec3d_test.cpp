// The documented values of Vec3d, bit for bit: degenerate inputs give NaN and infinities, never an
// error, squares overflow and underflow unscaled, and equality is within 2^-52 per component.
#include <tovrin/vec3d.hpp>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include <gtest/gtest.h>

namespace tovrin {
namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

// Any NaN matches any NaN; otherwise the bits must agree, so -0.0 differs from 0.0.
bool same(double a, double b) {
    return std::isnan(a) ? std::isnan(b) : std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

TEST(Vec3d, DocumentedVectors) {
    const struct { const char* name; Vec3d got; Vec3d want; } cases[] = {
        {"normalize zero", Vec3d::zero().normalize(), {nan, nan, nan}},
        {"normalize", Vec3d{3, 0, 4}.normalize(), {0.6, 0, 0.8}},
        {"normalize overflows", Vec3d{1e200, 0, 0}.normalize(), {0, 0, 0}},
        {"normalize underflows", Vec3d{1e-200, 0, 0}.normalize(), {inf, nan, nan}},
        {"negate", -Vec3d::zero(), {-0.0, -0.0, -0.0}},
        {"divide by zero", Vec3d{1, -1, 0} / 0.0, {inf, -inf, nan}},
        {"scale", Vec3d{1, 2, 3} * 2.0, {2, 4, 6}},
        {"cross", Vec3d{1, 2, 3}.cross({4, 5, 6}), {-3, 6, -3}},
        {"from to", Vec3d::new_from_to({1, 2, 3}, {0, 0, 0}), {-1, -2, -3}},
        {"project onto plane", Vec3d{1, 1, 1}.project_onto_plane({0, 0, 2}), {1, 1, -3}},
        {"project onto line", Vec3d{5, 1, 0}.project_onto_line({2, 0, 0}, {1, 0, 0}), {5, 0, 0}},
        {"named", Vec3d::i() + Vec3d::j() - Vec3d::k(), {1, 1, -1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (std::size_t k = 0; k < 3; ++k) EXPECT_TRUE(same(c.got[k], c.want[k])) << k << ": " << c.got[k];
    }
}

TEST(Vec3d, DocumentedScalars) {
    const double tiny = 0x3p-28;  // squares to 9 * 2^-56, above half an ulp of 1
    const struct { const char* name; double got; double want; } cases[] = {
        {"line through one point", Vec3d{1, 1, 1}.distance_to_line({0, 0, 0}, {0, 0, 0}), nan},
        {"distance to line", Vec3d{5, 1, 0}.distance_to_line({0, 0, 0}, {1, 0, 0}), 1.0},
        {"triple product", Vec3d::i().scalar_triple_product(Vec3d::j(), Vec3d::k()), 1.0},
        {"triple product reversed", Vec3d::i().scalar_triple_product(Vec3d::k(), Vec3d::j()), -1.0},
        {"magnitude overflows", Vec3d{1e200, 0, 0}.magnitude(), inf},
        {"dot", Vec3d{1, 2, 3}.dot({4, -5, 6}), 12.0},
        {"distance", Vec3d{1, 2, 3}.distance_to({4, 6, 3}), 5.0},
        {"distance squared", Vec3d{1, 2, 3}.distance_squared({4, 6, 3}), 25.0},
        // Summed left to right, x and y first: the other grouping rounds to 1 + 2^-52.
        {"dot grouping", Vec3d{1, tiny, tiny}.dot({1, tiny, tiny}), 1 + 0x1p-51},
        {"distance squared grouping", Vec3d{1, tiny, tiny}.distance_squared({}), 1 + 0x1p-51},
    };
    for (const auto& c : cases) EXPECT_TRUE(same(c.got, c.want)) << c.name << ": " << c.got;
}

TEST(Vec3d, UnitTestAndEqualityAllowLessThanEpsilon) {
    for (Vec3d v : {Vec3d::i(), Vec3d{0.6, 0.8, 0}, Vec3d{1, 1, 1}.normalize()}) EXPECT_TRUE(v.is_unit());
    for (Vec3d v : {Vec3d{1 + epsilon, 0, 0}, Vec3d::zero(), Vec3d{nan, 0, 0}}) EXPECT_FALSE(v.is_unit());
    EXPECT_TRUE((Vec3d{0.5, 0, 0} == Vec3d{0.5 + epsilon / 2, 0, 0}));
    EXPECT_TRUE((Vec3d{0, 0, 0} == Vec3d{0, 0, 1e-16}));
    EXPECT_TRUE((Vec3d{1, 0, 0} != Vec3d{1 + epsilon, 0, 0}));
    EXPECT_TRUE((Vec3d{nan, 0, 0} != Vec3d{nan, 0, 0}));
    EXPECT_EQ((Vec3d{1, 2, 3}[2]), 3.0);
}

}  // namespace
}  // namespace tovrin
