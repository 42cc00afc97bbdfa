// The k-d tree against a brute-force search over the same points: every answer, bit for bit,
// on clouds made of ties (a small integer grid with duplicates, -0.0, infinities and NaN),
// on a uniform cloud, on copies of one point, and on thin slanted clouds (a line, rings on a
// tilted plane) whose children are bounded by cylinders.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <optional>
#include <random>
#include <vector>

#include <tovrin/rank.hpp>

#include "spatial/tree.hpp"

#include "bit_equal.hpp"

namespace lumeric::spatial {
namespace {

using tovrin::testing::bits;

constexpr double inf = std::numeric_limits<double>::infinity();
const double nan = std::nan("");

std::vector<Vec3d> tie_cloud() {
    std::mt19937_64 random(7);
    std::uniform_int_distribution<int> coordinate(-3, 3);
    std::vector<Vec3d> points;
    for (int i = 0; i < 600; ++i) {
        double c[3];
        for (double& v : c) {
            const int k = coordinate(random);
            v = k == 0 && random() % 2 ? -0.0 : k;
        }
        points.push_back({c[0], c[1], c[2]});
    }
    points[5] = {nan, 0, 0};
    points[77] = {1, 1, nan};
    points[90] = {inf, 0, 0};
    points[91] = {-inf, 2, 0};
    points[300] = points[299];
    return points;
}

std::vector<Vec3d> uniform_cloud(std::size_t n) {
    std::mt19937_64 random(11);
    std::uniform_real_distribution<double> u(-1, 1);
    std::vector<Vec3d> points(n);
    for (Vec3d& p : points) p = {u(random), u(random), u(random)};
    return points;
}

std::vector<Vec3d> line_cloud(std::size_t n) {
    std::vector<Vec3d> points = uniform_cloud(n);
    for (Vec3d& p : points) p = {p.x, p.x * 0.5, p.x * 0.25};
    return points;
}

// Rings about the origin on the plane through it with normal (0, -0.6, 0.8), as a scanner
// sweeps them.
std::vector<Vec3d> ring_cloud(std::size_t n) {
    std::vector<Vec3d> points = uniform_cloud(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double radius = 0.3 + 0.1 * static_cast<double>(i % 6), angle = 3.14159 * points[i].x;
        points[i] = {radius * std::cos(angle), radius * std::sin(angle) * 0.8, radius * std::sin(angle) * 0.6};
    }
    return points;
}

// Fixed points, uniform ones, and points of the cloud, each itself and nudged off it.
std::vector<Vec3d> queries(const std::vector<Vec3d>& points) {
    std::vector<Vec3d> out = {{0, 0, 0}, {-0.0, 0, -0.0}, {0.5, 0.5, 0.5}, {1, 2, -1}, {3, 3, 3}, {10, -7, 0.25},
                              {inf, 0, 0}, {0, -inf, 1}, {nan, 0, 0}, {0.1, 0.2, 0.3}, {-2.5, 1, 0}};
    std::vector<Vec3d> extra = uniform_cloud(40);
    out.insert(out.end(), extra.begin(), extra.end());
    for (std::size_t i = 0; i < points.size(); i += 97)
        out.insert(out.end(), {points[i], {points[i].x, std::nextafter(points[i].y, inf), points[i].z + 1e-3}});
    return out;
}

// The defining ranking: every point by (rank of its key, index).
std::vector<std::size_t> ranked(const std::vector<Vec3d>& points, const Vec3d& x) {
    std::vector<std::size_t> order(points.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return tovrin::rank_of(points[a].distance_squared(x)) < tovrin::rank_of(points[b].distance_squared(x));
    });
    return order;
}


// Without a bound, the ranking's first k, padded; with one, its first k among the points within
// it (the same <= as within()).
void expect_nearest(const std::vector<Vec3d>& points, std::size_t k, std::optional<double> bound = {}) {
    const KdTree tree(points);
    const std::vector<Vec3d> xs = queries(points);
    std::vector<double> distances(xs.size() * k);
    std::vector<std::int64_t> indices(xs.size() * k);
    if (bound) tree.nearest(xs, k, distances.data(), indices.data(), *bound);
    else tree.nearest(xs, k, distances.data(), indices.data());
    for (std::size_t q = 0; q < xs.size(); ++q) {
        std::vector<std::size_t> order = ranked(points, xs[q]);
        if (bound) std::erase_if(order, [&](std::size_t i) { return !(points[i].distance_to(xs[q]) <= *bound); });
        for (std::size_t t = 0; t < k; ++t) {
            const bool kept = t < order.size();
            ASSERT_EQ(indices[q * k + t], static_cast<std::int64_t>(kept ? order[t] : points.size()))
                << "bound " << bound.value_or(inf) << " query " << q << " place " << t;
            ASSERT_EQ(bits(distances[q * k + t]), bits(kept ? points[order[t]].distance_to(xs[q]) : inf));
        }
    }
}

void expect_within(const std::vector<Vec3d>& points) {
    const KdTree tree(points);
    const std::vector<Vec3d> xs = queries(points);
    for (const Vec3d& x : xs) {
        // Radii on the boundary of some point (and the next float either side), 0 and inf.
        std::vector<double> radii = {0.0, inf, 1.0, std::sqrt(2.0)};
        for (std::size_t i : {std::size_t{0}, std::size_t{13}, points.size() / 2}) {
            const double d = points[i].distance_to(x);
            if (std::isfinite(d)) radii.insert(radii.end(), {d, std::nextafter(d, 0.0), std::nextafter(d, inf)});
        }
        for (double r : radii) {
            std::vector<std::int64_t> expected;
            for (std::size_t i = 0; i < points.size(); ++i)
                if (points[i].distance_to(x) <= r) expected.push_back(static_cast<std::int64_t>(i));
            std::vector<std::int64_t> got;
            tree.within(x, r, got);
            ASSERT_EQ(got, expected) << "r " << r;
            ASSERT_EQ(tree.count_within(x, r), expected.size()) << "r " << r;
        }
    }
    // A batch: each query's ball (the same search) at its offsets.
    std::vector<std::int64_t> offsets(xs.size() + 1), flat;
    tree.within(xs, 1.5, offsets.data(), [&](std::size_t total) {
        flat.resize(total);
        return flat.data();
    });
    for (std::size_t q = 0; q < xs.size(); ++q) {
        std::vector<std::int64_t> one;
        tree.within(xs[q], 1.5, one);
        ASSERT_EQ(std::vector<std::int64_t>(flat.begin() + offsets[q], flat.begin() + offsets[q + 1]), one);
    }
    EXPECT_EQ(offsets.back(), static_cast<std::int64_t>(flat.size()));
}

TEST(KdTree, BoundedNearestEqualsBruteForce) {
    for (std::size_t k : {1, 8})
        for (double bound : {0.0, 0.7, std::sqrt(2.0), 2.0, 1e300}) {
            expect_nearest(tie_cloud(), k, bound);
            expect_nearest(uniform_cloud(3000), k, bound);
            expect_nearest(ring_cloud(3000), k, bound);  // children bounded by cylinders too
        }
    // Bounds exactly at the distance of one of the first query's nearest points: about half such
    // keys are the largest whose root is within the bound, so a limit one key short drops them.
    const std::vector<Vec3d> cloud = uniform_cloud(3000);
    const Vec3d x = queries(cloud)[0];
    const std::vector<std::size_t> order = ranked(cloud, x);
    for (std::size_t j = 0; j < 8; ++j) expect_nearest(cloud, 8, cloud[order[j]].distance_to(x));
}

TEST(KdTree, NearestEqualsBruteForce) {
    for (std::size_t k : {1, 4, 25}) {
        expect_nearest(tie_cloud(), k);
        expect_nearest(uniform_cloud(3000), k);
        expect_nearest(std::vector<Vec3d>(500, Vec3d{1, -2, 0.5}), k);
        expect_nearest(line_cloud(3000), k);
        expect_nearest(ring_cloud(3000), k);
    }
    expect_nearest(tie_cloud(), 605);  // more than there are points: padded
    expect_nearest({}, 3);
    expect_nearest({{nan, nan, nan}, {1, 2, 3}}, 4);
}

TEST(KdTree, WithinEqualsBruteForce) {
    expect_within(tie_cloud());
    expect_within(uniform_cloud(3000));
    expect_within(std::vector<Vec3d>(500, Vec3d{1, -2, 0.5}));
    expect_within(line_cloud(3000));
    expect_within(ring_cloud(3000));
}

// A cylinder's bound is at most every key of the points it was fitted to, bit for bit, for
// pieces of lines at every scale and queries on them, beyond their ends and beside them.
TEST(Cylinder, BoundsEveryKeyOfItsPoints) {
    struct Item {
        double c[3];
    };
    std::mt19937_64 random(5);
    std::uniform_real_distribution<double> u(-1, 1);
    for (double scale : {0x1p-290, 1e-9, 1.0, 1e6, 0x1p290}) {
        for (int piece = 0; piece < 50; ++piece) {
            const double start[3] = {u(random) * 1e3, u(random), u(random)}, along[3] = {1, u(random), u(random)};
            std::vector<Item> items(16);
            double lo[3] = {inf, inf, inf}, hi[3] = {-inf, -inf, -inf};
            for (Item& item : items) {
                const double t = u(random);
                for (int a = 0; a < 3; ++a) {
                    item.c[a] = (start[a] + t * along[a]) * scale;
                    lo[a] = std::min(lo[a], item.c[a]);
                    hi[a] = std::max(hi[a], item.c[a]);
                }
            }
            const Cylinder cylinder = Cylinder::fit(items.data(), items.size(), lo, hi);
            ASSERT_FALSE(std::isnan(cylinder.radius)) << "a line is thin";
            for (const Item& p : items) {
                for (double t : {0.0, 1e-15, 0.5, 3.0, -3.0}) {
                    // Along the line, and off it as much.
                    const Vec3d q{p.c[0] + t * along[0] * scale, p.c[1] + t * (along[1] + 1) * scale,
                                  p.c[2] + t * along[2] * scale};
                    for (const Item& o : items)
                        ASSERT_LE(cylinder.bound(q, lo, hi), Vec3d(o.c[0], o.c[1], o.c[2]).distance_squared(q));
                }
            }
        }
    }
}

// Copied, or taking over the array it is given (whose NaN points must survive the reordering).
TEST(KdTree, KeepsThePointsInTheirOrder) {
    const std::vector<Vec3d> points = tie_cloud();
    for (const KdTree& tree : {KdTree(points), KdTree(KdTree::Array<Vec3d>(points.begin(), points.end()))}) {
        const std::vector<Vec3d> back = tree.original_points();
        ASSERT_EQ(back.size(), points.size());
        for (std::size_t i = 0; i < points.size(); ++i)
            for (std::size_t a = 0; a < 3; ++a) ASSERT_EQ(bits(back[i][a]), bits(points[i][a]));
    }
}

}  // namespace
}  // namespace lumeric::spatial
