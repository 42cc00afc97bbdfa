// batch/voxels.hpp: the voxel grid of VecList.voxel_down_sample, plain C++ on the worker pool.
//
// The grid's corner is ref = low - size * 0.5 per axis, low the least coordinates of the
// points with three finite coordinates (the others take no part). A point's voxel is
// floor((p - ref) / size) per axis, as 64-bit integers; voxels are ordered by (ix, iy, iz).
// The points are sorted by (voxel, index) with a stable sort, never grouped through a hash
// map, so runs of one voxel hold their points in ascending index and the voxels come out in
// one order on every platform and at any worker count.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <variant>
#include <vector>

#include <tovrin/vec3d.hpp>

namespace lumeric::voxels {

using tovrin::Vec3d;

// Voxel indices above this are refused: they would no longer tell points apart reliably, and
// three of them could not be packed into the sort keys.
inline constexpr double index_limit = 4611686018427387904.0;  // 2**62

// The points of each occupied voxel, voxel by voxel.
struct Grid {
    std::vector<std::uint64_t> order;  // point indices, by voxel, ascending within one
    std::vector<std::size_t> starts;   // voxel v holds order[starts[v], starts[v + 1])
    std::size_t voxels() const noexcept { return starts.empty() ? 0 : starts.size() - 1; }
};

// The refusal of a size too small for the cloud: some index would exceed index_limit. extent
// is the largest side of the finite points' bounding box.
struct TooFine {
    double extent;
};

// The grid of `points` at voxel side `size` (finite and > 0).
std::variant<Grid, TooFine> grid(std::span<const Vec3d> points, double size);

// out[v]: the mean of voxel v's points, each coordinate summed from 0.0 in ascending index,
// then divided by their count.
void means(const Grid& grid, std::span<const Vec3d> points, std::span<Vec3d> out);

// out[i]: the voxel of point i, -1 for a point that takes no part (i in [0, n)).
void inverse(const Grid& grid, std::span<std::int64_t> out);

}  // namespace lumeric::voxels
