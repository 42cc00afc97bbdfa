// The intersections: documented results, the order of the checks where several fail
// at once (with raw fields the constructors would not make), NaN inputs, and the geometry the
// results must add up to. The module's tests check every message (so the codes) and the argument
// order.
#include <tovrin/geometry/intersection.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <random>

namespace {

using tovrin::Vec3d;
using namespace tovrin::geometry;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

TEST(CirclePoint, DecidesInCheckOrder) {
    const Circle unit{{0, 0, 0}, 1, {0, 0, 1}};
    const auto ok = std::nullopt;
    const struct { const char* name; Circle circle; Vec3d point; bool inner; std::optional<IntersectionError> want; }
        cases[] = {
        {"off plane beats outside", unit, {5, 0, 1}, false, IntersectionError::OutOfPlane},
        {"normal is normalised", {{0, 0, 0}, 1, {0, 0, 5}}, {0, 1, 1e-16}, false, ok},
        {"NaN normal", {{0, 0, 0}, 1, {nan, 0, 1}}, {1, 0, 0}, true, IntersectionError::OutOfPlane},
        {"NaN centre", {{nan, 0, 0}, 1, {0, 0, 1}}, {1, 0, 0}, true, IntersectionError::OutOfPlane},
        {"NaN point", unit, {nan, 0, 0}, true, IntersectionError::OutOfPlane},
        {"NaN radius", {{0, 0, 0}, nan, {0, 0, 1}}, {1, 0, 0}, true, IntersectionError::TooFarApart},
        // Off the plane by rounding alone: either dot product grouped otherwise, or (point - centre)
        // dotted with the normal, puts it on the plane.
        {"off by rounding", {{-1.5, -2.2, -2.8}, 1, {1.7, 0.6, -1.0}}, {1.6, 2.0, 4.989999999999999}, false,
         IntersectionError::OutOfPlane},
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

TEST(CircleCircle, FailuresDecideInCheckOrder) {
    const Vec3d k{0, 0, 1};
    const struct { const char* name; Circle a; Circle b; IntersectionError want; } cases[] = {
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

TEST(CircleCircle, DocumentedPoints) {
    const Vec3d k{0, 0, 1};
    const double h = 0.8660254037844386;
    const struct { const char* name; Circle a; Circle b; Vec3d first; Vec3d second; } cases[] = {
        {"touching", {{0, 0, 0}, 1, k}, {{2, 0, 0}, 1, k}, {1, 0, 0}, {1, 0, 0}},
        // Opposite normals: the chord follows the second circle's normal, so the order flips.
        {"opposite normals", {{0, 0, 1}, 1, k}, {{1, 0, 1}, 1, -k}, {0.5, h, 1}, {0.5, -h, 1}},
    };
    for (const auto& c : cases) {
        auto r = circle_circle(c.a, c.b);
        ASSERT_TRUE(r.has_value()) << c.name;
        EXPECT_TRUE(r.value().first == c.first && r.value().second == c.second) << c.name;
    }
    // Bit for bit where other arrangements of the formulas round differently.
    auto r = circle_circle({{-3.4, 1.9, 0}, 5.4, k}, {{-8.2, -0.8, 0}, 1.8, k}).value();
    const Vec3d line = plane_line({{1.17, 5.65, -1.0}, -2.45}, {4.85, 0.45, -0.45}, {-5.86, 3.22, 5.92});
    const struct { Vec3d got, want; } exact[] = {
        {r.first, {-8.711401075180623, 0.9258241336544404, 0}}, {r.second, {-6.990676076154687, -2.133242531280555, 0}},
        {line, {-15.636145467971206, 5.748470863331487, 11.734570180296599}}};
    for (const auto& e : exact)
        for (int c = 0; c < 3; ++c) EXPECT_EQ(e.got[c], e.want[c]) << c;
    EXPECT_EQ(circle_circle({{0, 0, 0}, 3, k}, {{0, 0, 0}, 1, k}).error(), IntersectionError::Contained);
    EXPECT_EQ(circle_circle({{0, 0, 0}, 1, k}, {{0, 0, 0}, 1, -k}).error(), IntersectionError::Identical);
}

// Random crossing circles in axis planes (offsets exact, so the plane test is
// decided by geometry, not rounding), with either normal sign on each circle.
TEST(CircleCircle, PointsLieOnBothCircles) {
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> coord(-10.0, 10.0), radius(0.25, 5.0), unit(0.02, 0.98);
    for (int i = 0; i < 2000; ++i) {
        const int axis = i % 3;
        auto place = [axis](double u, double v, double w) {
            double out[3];
            out[axis] = u, out[(axis + 1) % 3] = v, out[(axis + 2) % 3] = w;
            return Vec3d{out[0], out[1], out[2]};
        };
        double r1 = radius(rng), r2 = radius(rng), lo = std::fabs(r1 - r2), hi = r1 + r2;
        double d = lo + (hi - lo) * unit(rng), angle = coord(rng), level = coord(rng), x = coord(rng), y = coord(rng);
        Circle a{place(x, y, level), r1, place(0, 0, i % 2 ? 1.0 : -1.0)};
        Circle b{place(x + d * std::cos(angle), y + d * std::sin(angle), level), r2, place(0, 0, i % 5 < 2 ? 1.0 : -1.0)};
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
