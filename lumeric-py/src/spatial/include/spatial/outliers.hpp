// spatial/outliers.hpp: outlier removal over a tree's own points, as the indices to keep,
// ascending. Plain C++; knows nothing of Python. Points with a coordinate that is not finite
// are never kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "spatial/tree.hpp"

namespace lumeric::spatial {

// d_i = the mean of the finite distances tree.nearest(p_i, k) reports (p_i itself included),
// summed in the answer's order and divided by their count, for each finite point; NaN for the
// others. In the original order, on the pool. Throws std::bad_alloc.
std::vector<double> mean_distances(const KdTree& tree, std::size_t k);

// Over the N means that are not NaN, in index order: mu = (sum of d_i) / N,
// sigma = sqrt((sum of (d_i - mu)^2) / (N - 1)) (0 when N < 2); the threshold is
// mu + std_ratio * sigma (NaN when N = 0).
double statistical_threshold(const std::vector<double>& means, double std_ratio) noexcept;

// The points with d_i <= statistical_threshold. Throws std::bad_alloc.
std::vector<std::int64_t> statistical_inliers(const KdTree& tree, std::size_t k, double std_ratio);

// The points with at least `min_neighbours` other points within r (count_within(p_i, r) - 1 >=
// min_neighbours; r >= 0). Throws std::bad_alloc.
std::vector<std::int64_t> radius_inliers(const KdTree& tree, double r, std::uint64_t min_neighbours);

}  // namespace lumeric::spatial
