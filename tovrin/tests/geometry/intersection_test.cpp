#include "tovrin/geometry/intersection.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <string>

namespace {

using tovrin::Vec3d;
using namespace tovrin::geometry;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double half_root3 = 0.8660254037844386;

std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }

void expect_bits(const Vec3d& got, const Vec3d& want) {
    EXPECT_EQ(bits(got.x), bits(want.x)) << got.x << " vs " << want.x;
    EXPECT_EQ(bits(got.y), bits(want.y)) << got.y << " vs " << want.y;
    EXPECT_EQ(bits(got.z), bits(want.z)) << got.z << " vs " << want.z;
}

TEST(IntersectionError, CodesAndMessages) {
    const struct { IntersectionError error; int code; std::string text; } cases[] = {
        {IntersectionError::TooFarApart, 0, "The given geometries are too far apart and do not intersect at all."},
        {IntersectionError::Contained, 1,
         "One of the given geometries is contained entirely within the other. The surfaces do not intersect."},
        {IntersectionError::Identical, 2, "The given geometries are identical."},
        {IntersectionError::OutOfPlane, 3, "The given geometries are out of plane from each other"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(static_cast<int>(c.error), c.code);
        EXPECT_EQ(std::string(message(c.error)), c.text);
        EXPECT_EQ(message(c.error).data()[c.text.size()], '\0');
    }
}

TEST(PlaneLine, Examples) {
    expect_bits(plane_line(Plane::xy(), {1, 2, -1}, {1, 2, 3}), {1, 2, 0});
    expect_bits(plane_line(Plane::make({0, 0, 1}, 5), {0, 0, 0}, {0, 0, 10}), {0, 0, 5});
    expect_bits(plane_line(Plane::yz(), {-2, 1, 1}, {2, 3, 5}), {0, 2, 3});
    expect_bits(plane_line(Plane::xz(), {0, 1, 0}, {0, 2, 4}), {0, 0, -4});  // extended past a
    // Parallel to the plane: division by zero, no error.
    Vec3d off = plane_line(Plane::xy(), {0, 0, 1}, {1, 0, 1});
    EXPECT_TRUE(std::isinf(off.x) || std::isnan(off.x));
    Vec3d inside = plane_line(Plane::xy(), {0, 0, 0}, {1, 0, 0});
    EXPECT_TRUE(std::isnan(inside.x));
}

TEST(PlaneLine, PointSatisfiesPlaneEquation) {
    std::mt19937_64 rng(20240611);
    std::uniform_real_distribution<double> u(-10.0, 10.0);
    for (int i = 0; i < 2000; ++i) {
        Plane plane = Plane::make({u(rng), u(rng), u(rng)}, u(rng));
        Vec3d a{u(rng), u(rng), u(rng)}, b{u(rng), u(rng), u(rng)};
        Vec3d p = plane_line(plane, a, b);
        double scale = p.magnitude() + std::fabs(plane.distance) + 1.0;
        EXPECT_LE(plane.distance_to_point(p), 1e-14 * scale) << i;
        EXPECT_LE(p.distance_to_line(a, b), 1e-14 * (scale + a.magnitude())) << i;
    }
}

TEST(CirclePoint, DecidesInCheckOrder) {
    const Circle unit{{0, 0, 0}, 1, {0, 0, 1}};
    const auto ok = std::nullopt;
    const struct {
        const char* name;
        Circle circle;
        Vec3d point;
        bool inner;
        std::optional<IntersectionError> want;
    } cases[] = {
        {"on", unit, {1, 0, 0}, false, ok},
        {"inside, inner", unit, {0.5, 0, 0}, true, ok},
        {"inside", unit, {0.5, 0, 0}, false, IntersectionError::Contained},
        {"outside", unit, {2, 0, 0}, true, IntersectionError::TooFarApart},
        {"off plane", unit, {1, 0, 0.001}, true, IntersectionError::OutOfPlane},
        {"off plane beats outside", unit, {5, 0, 1}, false, IntersectionError::OutOfPlane},
        {"normal is normalised", {{0, 0, 0}, 1, {0, 0, 5}}, {0, 1, 1e-16}, false, ok},
        {"NaN normal", {{0, 0, 0}, 1, {nan, 0, 1}}, {1, 0, 0}, true, IntersectionError::OutOfPlane},
        {"NaN centre", {{nan, 0, 0}, 1, {0, 0, 1}}, {1, 0, 0}, true, IntersectionError::OutOfPlane},
        {"NaN point", unit, {nan, 0, 0}, true, IntersectionError::OutOfPlane},
        {"NaN radius", {{0, 0, 0}, nan, {0, 0, 1}}, {1, 0, 0}, true, IntersectionError::TooFarApart},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto r = circle_point(c.circle, c.point, c.inner);
        ASSERT_EQ(r.has_value(), !c.want.has_value());
        if (c.want) {
            EXPECT_EQ(r.error(), *c.want);
        }
    }
}

TEST(CirclePointUnchecked, IgnoresNormal) {
    const Circle unit{{0, 0, 0}, 1, {0, 0, 1}};
    const struct { Vec3d point; bool inner; bool want; } cases[] = {
        {{1, 0, 0}, false, true}, {{0, 0, 1}, false, true},  {{0.5, 0, 0}, false, false},
        {{0.5, 0, 0}, true, true}, {{2, 0, 0}, true, false}, {{nan, 0, 0}, true, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(circle_point_unchecked(unit, c.point, c.inner), c.want) << c.point.x << "," << c.point.z;
    }
    EXPECT_TRUE(circle_point_unchecked(Circle::none(), {0, 0, 0}, false));
}

TEST(CircleCircle, Examples) {
    auto crossing = circle_circle({{0, 0, 0}, 1, {0, 0, 1}}, {{1, 0, 0}, 1, {0, 0, 1}});
    ASSERT_TRUE(crossing);
    expect_bits(crossing.value().first, {0.5, -half_root3, 0});
    expect_bits(crossing.value().second, {0.5, half_root3, 0});

    auto touching = circle_circle({{0, 0, 0}, 1, {0, 0, 1}}, {{2, 0, 0}, 1, {0, 0, 1}});
    ASSERT_TRUE(touching);
    expect_bits(touching.value().first, {1, 0, 0});
    expect_bits(touching.value().second, {1, 0, 0});

    // Same plane z = 1 seen from opposite sides: the second normal orients the chord.
    auto opposite = circle_circle({{0, 0, 1}, 1, {0, 0, 1}}, {{1, 0, 1}, 1, {0, 0, -1}});
    ASSERT_TRUE(opposite);
    expect_bits(opposite.value().first, {0.5, half_root3, 1});
    expect_bits(opposite.value().second, {0.5, -half_root3, 1});

    auto nan_radius = circle_circle({{0, 0, 0}, nan, {0, 0, 1}}, {{1, 0, 0}, 1, {0, 0, 1}});
    ASSERT_TRUE(nan_radius);
    EXPECT_TRUE(std::isnan(nan_radius.value().first.x) && std::isnan(nan_radius.value().second.y));
}

TEST(CircleCircle, FailuresDecideInCheckOrder) {
    const Vec3d k{0, 0, 1};
    const struct { const char* name; Circle a; Circle b; IntersectionError want; } cases[] = {
        {"too far", {{0, 0, 0}, 1, k}, {{3, 0, 0}, 1, k}, IntersectionError::TooFarApart},
        {"contained", {{0, 0, 0}, 3, k}, {{1, 0, 0}, 1, k}, IntersectionError::Contained},
        {"concentric", {{0, 0, 0}, 3, k}, {{0, 0, 0}, 1, k}, IntersectionError::Contained},
        {"identical", {{0, 0, 0}, 1, k}, {{0, 0, 0}, 1, k}, IntersectionError::Identical},
        {"identical, opposite normals", {{0, 0, 1}, 1, k}, {{0, 0, 1}, 1, -k}, IntersectionError::Identical},
        {"crossing normals", {{0, 0, 0}, 1, k}, {{1, 0, 0}, 1, {0, 1, 0}}, IntersectionError::OutOfPlane},
        {"parallel planes", {{0, 0, 0}, 1, k}, {{1, 0, 1}, 1, k}, IntersectionError::OutOfPlane},
        {"opposite normals, z = 1 and z = -1", {{0, 0, 1}, 1, k}, {{1, 0, -1}, 1, -k}, IntersectionError::OutOfPlane},
        {"normals used as stored", {{0, 0, 0}, 1, {0, 0, 2}}, {{1, 0, 0}, 1, k}, IntersectionError::OutOfPlane},
        {"out of plane beats too far", {{0, 0, 0}, 1, k}, {{9, 0, 1}, 1, k}, IntersectionError::OutOfPlane},
        {"too far beats contained", {{0, 0, 0}, -5, k}, {{1, 0, 0}, 1, k}, IntersectionError::TooFarApart},
        {"NaN normal", {{0, 0, 0}, 1, {nan, 0, 1}}, {{1, 0, 0}, 1, k}, IntersectionError::OutOfPlane},
        {"NaN centre", {{0, 0, nan}, 1, k}, {{1, 0, 0}, 1, k}, IntersectionError::OutOfPlane},
        {"none with itself", Circle::none(), Circle::none(), IntersectionError::OutOfPlane},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto r = circle_circle(c.a, c.b);
        ASSERT_FALSE(r.has_value());
        EXPECT_EQ(r.error(), c.want);
    }
}

// Random crossing circles in axis planes (offsets exact, so the plane test is
// decided by geometry, not rounding), with either normal sign on each circle.
TEST(CircleCircle, PointsLieOnBothCircles) {
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> coord(-10.0, 10.0), radius(0.25, 5.0), unit(0.02, 0.98);
    std::uniform_int_distribution<int> pick(0, 5);
    for (int i = 0; i < 2000; ++i) {
        int axis = pick(rng) % 3;
        double r1 = radius(rng), r2 = radius(rng);
        double lo = std::fabs(r1 - r2), hi = r1 + r2;
        double d = lo + (hi - lo) * unit(rng), angle = coord(rng);
        double level = coord(rng);
        double in1[3] = {coord(rng), coord(rng), level};
        double in2[3] = {in1[0] + d * std::cos(angle), in1[1] + d * std::sin(angle), level};
        auto place = [axis](const double* v) {
            double out[3];
            for (int j = 0; j < 3; ++j) out[(j + axis) % 3] = v[j];
            return Vec3d{out[0], out[1], out[2]};
        };
        double n1[3] = {0, 0, pick(rng) < 3 ? 1.0 : -1.0}, n2[3] = {0, 0, pick(rng) < 3 ? 1.0 : -1.0};
        Circle a{place(in1), r1, place(n1)}, b{place(in2), r2, place(n2)};
        auto r = circle_circle(a, b);
        ASSERT_TRUE(r.has_value()) << i << " error " << static_cast<int>(r.error());
        for (const Vec3d& p : {r.value().first, r.value().second}) {
            EXPECT_NEAR(p.distance_to(a.center), r1, 1e-12 * (hi + 1)) << i;
            EXPECT_NEAR(p.distance_to(b.center), r2, 1e-12 * (hi + 1)) << i;
            EXPECT_EQ(p[(2 + axis) % 3], level) << i;
        }
    }
}

}  // namespace
