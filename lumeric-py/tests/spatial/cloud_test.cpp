// Normals and statistical outlier removal against brute force: each point's neighbourhood by ranking every
// point, the sums in the defined order, bit for bit; the eigenvector method on its hard cases.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <random>
#include <vector>

#include <tovrin/rank.hpp>

#include "spatial/normals.hpp"
#include "spatial/outliers.hpp"

#include "bit_equal.hpp"

namespace lumeric::spatial {
namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
const double nan = std::nan("");

using tovrin::testing::bits;
using tovrin::testing::same;

// A noisy plane, a line, copies of one point, a small grid of ties, and points that are not finite.
std::vector<Vec3d> mixed_cloud() {
    std::mt19937_64 random(5);
    std::uniform_real_distribution<double> u(-1, 1);
    std::vector<Vec3d> points;
    for (int i = 0; i < 300; ++i) points.push_back({u(random), u(random), 0.3 * u(random) + 0.01 * u(random)});
    for (int i = 0; i < 40; ++i) points.push_back({3 + 0.1 * i, 3 + 0.1 * i, 3});
    for (int i = 0; i < 25; ++i) points.push_back({-3, -3, -3});
    for (int i = 0; i < 64; ++i) points.push_back({5.0 + i % 4, 5.0 + i / 4 % 4, 5.0 + i / 16});
    points.insert(points.end(), {{nan, 0, 0}, {inf, 1, 1}, {9, 9, 9}, {9, 9, 9.5}});
    return points;
}

// The first k of the ranking (key rank, then index) whose distance is finite and <= bound.
std::vector<std::size_t> neighbourhood(const std::vector<Vec3d>& points, const Vec3d& x, std::size_t k, double bound) {
    std::vector<std::size_t> order(points.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return tovrin::rank_of(points[a].distance_squared(x)) < tovrin::rank_of(points[b].distance_squared(x));
    });
    order.resize(std::min(k, order.size()));
    std::erase_if(order, [&](std::size_t i) {
        const double d = points[i].distance_to(x);
        return !std::isfinite(d) || !(d <= bound);
    });
    return order;
}

Symmetric3 covariance(const std::vector<Vec3d>& points, const std::vector<std::size_t>& around) {
    Vec3d sum{0.0, 0.0, 0.0};
    for (std::size_t i : around) sum = sum + points[i];
    const Vec3d c = sum / static_cast<double>(around.size());
    Symmetric3 s{0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
    for (std::size_t i : around) {
        const Vec3d d = points[i] - c;
        s = {s.xx + d.x * d.x, s.xy + d.x * d.y, s.xz + d.x * d.z, s.yy + d.y * d.y, s.yz + d.y * d.z, s.zz + d.z * d.z};
    }
    return s;
}

TEST(Normals, EqualBruteForce) {
    const std::vector<Vec3d> points = mixed_cloud();
    const KdTree tree(points);
    std::vector<Vec3d> got(points.size());
    for (auto [k, bound] : {std::pair{std::size_t{10}, inf}, {std::size_t{30}, 0.35}, {std::size_t{2}, inf}}) {
        for (std::optional<Vec3d> toward : {std::optional<Vec3d>{}, std::optional<Vec3d>{Vec3d{0, 0, 10}}}) {
            normals(tree, k, bound, toward, got.data());
            for (std::size_t i = 0; i < points.size(); ++i) {
                const std::vector<std::size_t> around = neighbourhood(points, points[i], k, bound);
                const Vec3d expected = !tovrin::is_finite(points[i]) || around.size() < 3
                                           ? Vec3d{nan, nan, nan}
                                           : orient(smallest_eigenvector(covariance(points, around)), points[i], toward);
                ASSERT_TRUE(same(got[i], expected)) << "point " << i;
            }
        }
    }
}

TEST(Normals, SignRule) {
    const Vec3d n{0.6, 0.0, -0.8}, p{1, 1, 1};
    EXPECT_EQ(orient(n, p, std::nullopt), -n);                 // largest magnitude made positive
    EXPECT_EQ(orient(n, p, Vec3d{2, 1, 1}), n);                // toward the sensor
    EXPECT_EQ(orient(-n, p, Vec3d{2, 1, 1}), n);
    EXPECT_EQ(orient(n, p, Vec3d{1, 5, 1}), -n);               // a dot of exactly 0: as without it
    const double h = std::sqrt(0.5);
    EXPECT_EQ(orient(Vec3d{-h, h, 0}, p, std::nullopt), (Vec3d{h, -h, 0}));  // ties: the first
    EXPECT_EQ(orient(Vec3d{0, -h, h}, p, std::nullopt), (Vec3d{0, h, -h}));
}

// Points on a plane through `origin` with unit normal n, spread over `spread`.
double coplanar_error(const Vec3d& origin, const Vec3d& n, double spread, std::mt19937_64& random) {
    const Vec3d helper = std::fabs(n.x) < 0.9 ? Vec3d{1, 0, 0} : Vec3d{0, 1, 0};
    const Vec3d u = n.cross(helper).normalize(), v = n.cross(u);
    std::uniform_real_distribution<double> w(-spread, spread);
    std::vector<Vec3d> points;
    for (int i = 0; i < 30; ++i) points.push_back(origin + u * w(random) + v * w(random));
    std::vector<std::size_t> all(points.size());
    std::iota(all.begin(), all.end(), 0);
    const Vec3d found = smallest_eigenvector(covariance(points, all));
    EXPECT_LE(std::fabs(found.dot(found) - 1.0), 1e-15);
    return 1.0 - std::fabs(found.dot(n));
}

TEST(SmallestEigenvector, CoplanarOnAnyPlane) {
    std::mt19937_64 random(17);
    std::normal_distribution<double> g;
    double worst = 0;
    for (const Vec3d& origin : {Vec3d{0, 0, 0}, Vec3d{1e6, -1e6, 1e6}, Vec3d{-3e3, 7, 2e5}})
        for (double spread : {1e-2, 1.0, 1e3})
            for (int plane = 0; plane < 200; ++plane) {
                const Vec3d n = Vec3d{g(random), g(random), g(random)}.normalize();
                worst = std::max(worst, coplanar_error(origin, n, spread, random));
            }
    for (const Vec3d& n : {Vec3d{0, 0, 1}, Vec3d{1, 0, 0}, Vec3d{0, 1, 0}})
        worst = std::max(worst, coplanar_error({1e6, -1e6, 1e6}, n, 1e-2, random));
    EXPECT_LE(worst, 1e-12);
    std::printf("coplanar neighbourhoods: the worst 1 - |n . n_true| is %.3g\n", worst);
}

TEST(SmallestEigenvector, DegenerateCases) {
    const Vec3d line = Vec3d{1, 2, -2} / 3.0;  // collinear: any unit vector across the line
    Symmetric3 outer{line.x * line.x, line.x * line.y, line.x * line.z, line.y * line.y, line.y * line.z, line.z * line.z};
    const Vec3d across = smallest_eigenvector(outer);
    EXPECT_LE(std::fabs(across.dot(line)), 1e-15);
    EXPECT_LE(std::fabs(across.dot(across) - 1.0), 1e-15);
    EXPECT_EQ(smallest_eigenvector({0, 0, 0, 0, 0, 0}), (Vec3d{0, 0, 1}));
    EXPECT_EQ(smallest_eigenvector({1e-300, 0, 0, 1e-300, 0, 2e-300}), (Vec3d{1, 0, 0}));  // scaled, not underflowed
    EXPECT_TRUE(std::isnan(smallest_eigenvector({inf, 0, 0, 1, 0, 1}).x));
    // Close eigenvalues: the vector of the smallest, however near the next one is.
    const Vec3d e = smallest_eigenvector({1.0, 0.0, 0.0, 1.0 + 1e-15, 0.0, 1.0 + 2e-15});
    EXPECT_EQ(e, (Vec3d{1, 0, 0}));
}

TEST(Outliers, StatisticalEqualsBruteForce) {
    const std::vector<Vec3d> points = mixed_cloud();
    const KdTree tree(points);
    for (std::size_t k : {1, 6, 20}) {
        std::vector<double> mean(points.size(), nan);
        double sum = 0.0, squares = 0.0;
        std::size_t counted = 0;
        for (std::size_t i = 0; i < points.size(); ++i) {
            if (!tovrin::is_finite(points[i])) continue;
            double s = 0.0;
            const std::vector<std::size_t> around = neighbourhood(points, points[i], k, inf);
            for (std::size_t j : around) s = s + points[j].distance_to(points[i]);
            mean[i] = s / static_cast<double>(around.size());
            sum = sum + mean[i];
            ++counted;
        }
        const double mu = sum / static_cast<double>(counted);
        for (double d : mean)
            if (!std::isnan(d)) squares = squares + (d - mu) * (d - mu);
        const std::vector<double> means = mean_distances(tree, k);
        for (std::size_t i = 0; i < points.size(); ++i)
            ASSERT_TRUE(same(means[i], mean[i])) << i;
        for (double ratio : {-0.5, 0.0, 2.0}) {
            const double threshold = mu + ratio * std::sqrt(squares / static_cast<double>(counted - 1));
            ASSERT_EQ(bits(statistical_threshold(means, ratio)), bits(threshold));
            std::vector<std::int64_t> expected;
            for (std::size_t i = 0; i < points.size(); ++i)
                if (mean[i] <= threshold) expected.push_back(static_cast<std::int64_t>(i));
            ASSERT_EQ(statistical_inliers(tree, k, ratio), expected) << "k " << k << " ratio " << ratio;
        }
    }
}

}  // namespace
}  // namespace lumeric::spatial
