// The documented values of Vec3d, bit for bit: degenerate inputs give NaN and infinities, never an
// error, squares overflow and underflow unscaled, and equality is within 2^-52 per component. The
// plain documented values are checked through the module.
#include <tovrin/vec3d.hpp>

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "bit_equal.hpp"

namespace tovrin {
namespace {

using testing::same;

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

TEST(Vec3d, DocumentedVectors) {
    const struct { const char* name; Vec3d got; Vec3d want; } cases[] = {
        {"normalize zero", Vec3d::zero().normalize(), {nan, nan, nan}},
        {"normalize overflows", Vec3d{1e200, 0, 0}.normalize(), {0, 0, 0}},
        {"normalize underflows", Vec3d{1e-200, 0, 0}.normalize(), {inf, nan, nan}},
        {"negate", -Vec3d::zero(), {-0.0, -0.0, -0.0}},
        {"divide by zero", Vec3d{1, -1, 0} / 0.0, {inf, -inf, nan}},
        // Operands for which every other grouping or reciprocal multiply of a formula rounds differently.
        {"normalize rounded", Vec3d{-8.63, -8.68, -6.36}.normalize(),
         {-0.625643435325309, -0.6292682524477035, -0.46107673796859383}},
        {"project onto line rounded", Vec3d{-8.23, -4.08, -6.89}.project_onto_line({-7.36, -8.5, 2.48}, {4.4, 3.36, 6.22}),
         {-7.073122362984426, -8.210682927295517, 2.5712348947651575}},
        {"project onto plane rounded", Vec3d{-5.3, 3.13, -1.21}.project_onto_plane({-5.51, -7.12, 2.99}),
         {12.880245000000002, 26.622440000000005, -11.075505000000003}},
    };
    for (const auto& c : cases) EXPECT_TRUE(same(c.got, c.want)) << c.name;
}

TEST(Vec3d, DocumentedScalars) {
    const struct { const char* name; double got; double want; } cases[] = {
        {"line through one point", Vec3d{1, 1, 1}.distance_to_line({0, 0, 0}, {0, 0, 0}), nan},
        {"triple product reversed", Vec3d::i().scalar_triple_product(Vec3d::k(), Vec3d::j()), -1.0},
        {"magnitude overflows", Vec3d{1e200, 0, 0}.magnitude(), inf},
        // Sums run x, y, then z: each of these gives other bits under any other grouping.
        {"dot rounded", Vec3d{-5.3, 3.13, -1.21}.dot({-5.51, -7.12, 2.99}), 3.2995000000000005},
        {"magnitude rounded", Vec3d{5.94, 3.07, -3.54}.magnitude(), 7.565718736511424},
        {"distance rounded", Vec3d{0.04, 8.68, 4.87}.distance_to({0.71, 6.49, -4.82}), 9.956962388198523},
        {"distance to line rounded", Vec3d{-8.01, -4.22, -7.97}.distance_to_line({-5.16, -5.14, 2.23}, {-5.48, -8.34, -3.46}),
         6.291450622905584},
        {"distance to line rounded too", Vec3d{-4.09, 3.81, -0.82}.distance_to_line({-3.2, -0.47, -8.57}, {-2.04, -1.42, -5.62}),
         7.096197395618384},
        {"triple product rounded", Vec3d{-5.01, -1.12, -0.08}.scalar_triple_product({-4.8, -4.84, -5.06}, {-0.73, -3.78, -8.61}),
         -71.97201600000001},
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
}

}  // namespace
}  // namespace tovrin
