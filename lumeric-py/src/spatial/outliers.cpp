// spatial/outliers.cpp: statistical and radius outlier removal.
//
// Each point's own figure (its mean distance, its count) depends only on its neighbourhood, so
// the pool takes the points in any pieces; the figures over the whole cloud (mu, sigma) are
// summed afterwards on one thread in index order, so no worker count changes a bit.
#include "spatial/outliers.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include <tovrin/vec3d.hpp>

#include "pool/pool.hpp"

namespace lumeric::spatial {

namespace {

using tovrin::is_finite;

constexpr std::size_t point_piece = 64;

}  // namespace

std::vector<double> mean_distances(const KdTree& tree, std::size_t k) {
    const std::span<const Vec3d> points = tree.tree_points();
    const std::size_t n = points.size(), room = std::min(k, n);
    // In the original order; NaN marks the points that are not counted (a finite point's mean
    // is never NaN: its distances are finite and at least one, its own, is there).
    std::vector<double> mean(n, std::numeric_limits<double>::quiet_NaN());
    pool::for_each_range(
        n, [&](std::size_t lo, std::size_t hi) {
            std::vector<KdTree::Entry> scratch(room);
            for (std::size_t position = lo; position < hi; ++position) {
                const Vec3d& x = points[position];
                if (!is_finite(x)) continue;
                const std::size_t found = tree.nearest_entries(x, k, KdTree::inf, scratch);
                double sum = 0.0;
                std::size_t m = 0;
                for (; m < found; ++m) {
                    const double distance = std::sqrt(points[scratch[m].position].distance_squared(x));
                    if (!std::isfinite(distance)) break;  // the infinite ones come last
                    sum = sum + distance;
                }
                mean[static_cast<std::size_t>(tree.original_index(position))] = sum / static_cast<double>(m);
            }
        },
        point_piece);
    return mean;
}

double statistical_threshold(const std::vector<double>& means, double std_ratio) noexcept {
    double sum = 0.0;
    std::size_t counted = 0;
    for (double d : means) {
        if (std::isnan(d)) continue;
        sum = sum + d;
        ++counted;
    }
    const double mu = sum / static_cast<double>(counted);
    double squares = 0.0;
    for (double d : means)
        if (!std::isnan(d)) squares = squares + (d - mu) * (d - mu);
    const double sigma = counted < 2 ? 0.0 : std::sqrt(squares / static_cast<double>(counted - 1));
    return mu + std_ratio * sigma;
}

std::vector<std::int64_t> statistical_inliers(const KdTree& tree, std::size_t k, double std_ratio) {
    const std::vector<double> means = mean_distances(tree, k);
    const double threshold = statistical_threshold(means, std_ratio);
    std::vector<std::int64_t> kept;
    for (std::size_t i = 0; i < means.size(); ++i)
        if (means[i] <= threshold) kept.push_back(static_cast<std::int64_t>(i));  // false for NaN
    return kept;
}

std::vector<std::int64_t> radius_inliers(const KdTree& tree, double r, std::uint64_t min_neighbours) {
    const std::span<const Vec3d> points = tree.tree_points();
    const std::size_t n = points.size();
    std::vector<std::int64_t> kept;
    if (min_neighbours >= n) return kept;  // no point has that many others
    const std::size_t needed = static_cast<std::size_t>(min_neighbours) + 1;  // itself included
    // Balls are counted whole: a node wholly inside is one addition (search.cpp).
    std::vector<unsigned char> keep(n, 0);
    pool::for_each_range(
        n, [&](std::size_t lo, std::size_t hi) {
            for (std::size_t position = lo; position < hi; ++position) {
                const Vec3d& x = points[position];
                if (is_finite(x) && tree.count_within(x, r) >= needed)
                    keep[static_cast<std::size_t>(tree.original_index(position))] = 1;
            }
        },
        point_piece);
    for (std::size_t i = 0; i < n; ++i)
        if (keep[i]) kept.push_back(static_cast<std::int64_t>(i));
    return kept;
}

}  // namespace lumeric::spatial
