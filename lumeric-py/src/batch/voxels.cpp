// batch/voxels.cpp: the voxel grid: bounds, keys, a stable sort, means and the inverse.
#include "batch/voxels.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <limits>
#include <optional>
#include <tuple>
#include <utility>

#include "pool/pool.hpp"

namespace lumeric::voxels {

namespace {

// Minimum pieces, chosen as the batch kernels' are: ~10 times the cost of handing a piece over.
constexpr std::size_t point_piece = 16384;  // a bound, a key: ~1-2 ns a point
constexpr std::size_t voxel_piece = 2048;   // a voxel's sums: ~10 points of ~2 ns

// The bounding box of the points with three finite coordinates, and their number.
struct Bounds {
    Vec3d low{std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity(),
              std::numeric_limits<double>::infinity()};
    Vec3d high{-std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
               -std::numeric_limits<double>::infinity()};
    std::size_t finite = 0;
};

// Minimum and maximum are exact, so the bounds do not depend on how the points were cut.
Bounds merge(Bounds a, const Bounds& b) noexcept {
    a.low = {std::min(a.low.x, b.low.x), std::min(a.low.y, b.low.y), std::min(a.low.z, b.low.z)};
    a.high = {std::max(a.high.x, b.high.x), std::max(a.high.y, b.high.y), std::max(a.high.z, b.high.z)};
    a.finite += b.finite;
    return a;
}

Bounds bounds(std::span<const Vec3d> points) {
    auto piece = [points](std::size_t lo, std::size_t hi) {
        Bounds b;
        for (std::size_t i = lo; i < hi; ++i) {
            const Vec3d& p = points[i];
            if (!tovrin::is_finite(p)) continue;
            b = merge(b, Bounds{p, p, 1});
        }
        return b;
    };
    return pool::reduce_ranges(points.size(), piece, merge, point_piece).value_or(Bounds{});
}

// One axis's voxel index, evaluated as written: floor((p - ref) / size).
inline double voxel_index(double p, double ref, double size) noexcept { return std::floor((p - ref) / size); }

struct Entry {
    std::uint64_t key;
    std::uint64_t index;
};

// Stable least-significant-digit radix sort of `entries` by their keys, below 2**bits.
void radix_sort(std::vector<Entry>& entries, unsigned bits) {
    constexpr unsigned digit = 11;
    constexpr std::size_t buckets = std::size_t{1} << digit;
    std::vector<Entry> scratch(entries.size());
    for (unsigned shift = 0; shift < bits; shift += digit) {
        std::array<std::size_t, buckets> start{};
        for (const Entry& e : entries) ++start[(e.key >> shift) & (buckets - 1)];
        std::size_t total = 0;
        for (std::size_t& s : start) total += std::exchange(s, total);
        for (const Entry& e : entries) scratch[start[(e.key >> shift) & (buckets - 1)]++] = e;
        entries.swap(scratch);
    }
}

// The runs of equal voxels among sorted entries, `same` telling whether two neighbours share one.
template <class Same>
void collect_runs(Grid& grid, std::size_t count, Same same) {
    grid.starts.push_back(0);
    for (std::size_t k = 1; k < count; ++k)
        if (!same(k - 1, k)) grid.starts.push_back(k);
    grid.starts.push_back(count);
}

// Voxel triples sorted as tuples: for grids whose packed keys would not fit in 64 bits.
Grid sort_triples(std::span<const Vec3d> points, const Vec3d& ref, double size, std::size_t finite) {
    struct Voxel {
        std::int64_t x, y, z;
        std::uint64_t index;
    };
    std::vector<Voxel> voxels;
    voxels.reserve(finite);
    for (std::size_t i = 0; i < points.size(); ++i) {
        const Vec3d& p = points[i];
        if (!tovrin::is_finite(p)) continue;
        voxels.push_back({static_cast<std::int64_t>(voxel_index(p.x, ref.x, size)),
                          static_cast<std::int64_t>(voxel_index(p.y, ref.y, size)),
                          static_cast<std::int64_t>(voxel_index(p.z, ref.z, size)), i});
    }
    std::sort(voxels.begin(), voxels.end(), [](const Voxel& a, const Voxel& b) {
        return std::tie(a.x, a.y, a.z, a.index) < std::tie(b.x, b.y, b.z, b.index);
    });
    Grid grid;
    grid.order.resize(voxels.size());
    for (std::size_t k = 0; k < voxels.size(); ++k) grid.order[k] = voxels[k].index;
    collect_runs(grid, voxels.size(), [&](std::size_t a, std::size_t b) {
        return voxels[a].x == voxels[b].x && voxels[a].y == voxels[b].y && voxels[a].z == voxels[b].z;
    });
    return grid;
}

}  // namespace

std::variant<Grid, TooFine> grid(std::span<const Vec3d> points, double size) {
    const Bounds box = bounds(points);
    if (box.finite == 0) return Grid{};
    const Vec3d ref{box.low.x - size * 0.5, box.low.y - size * 0.5, box.low.z - size * 0.5};
    // (p - ref) / size never decreases as p grows, so the highest point of the box has the highest
    // index of each axis.
    const double top[3] = {voxel_index(box.high.x, ref.x, size), voxel_index(box.high.y, ref.y, size),
                           voxel_index(box.high.z, ref.z, size)};
    if (!(top[0] <= index_limit && top[1] <= index_limit && top[2] <= index_limit)) {
        const double extent = std::max({box.high.x - box.low.x, box.high.y - box.low.y, box.high.z - box.low.z});
        return TooFine{extent};
    }
    // Keys (ix * ny + iy) * nz + iz order voxels as (ix, iy, iz) do, when they fit in 64 bits.
    const std::uint64_t nx = static_cast<std::uint64_t>(top[0]) + 1, ny = static_cast<std::uint64_t>(top[1]) + 1,
                        nz = static_cast<std::uint64_t>(top[2]) + 1;
    std::uint64_t cells;
    if (__builtin_mul_overflow(nx, ny, &cells) || __builtin_mul_overflow(cells, nz, &cells))
        return sort_triples(points, ref, size, box.finite);
    const std::uint64_t top_key = cells - 1;

    // No key reaches this (the largest is cells - 1): it marks the points that take no part.
    constexpr std::uint64_t dropped = std::numeric_limits<std::uint64_t>::max();
    std::vector<Entry> entries(points.size());
    pool::for_each_range(
        points.size(),
        [&](std::size_t lo, std::size_t hi) {
            for (std::size_t i = lo; i < hi; ++i) {
                const Vec3d& p = points[i];
                if (!tovrin::is_finite(p)) {
                    entries[i] = {dropped, i};
                    continue;
                }
                const auto ix = static_cast<std::uint64_t>(voxel_index(p.x, ref.x, size));
                const auto iy = static_cast<std::uint64_t>(voxel_index(p.y, ref.y, size));
                const auto iz = static_cast<std::uint64_t>(voxel_index(p.z, ref.z, size));
                entries[i] = {(ix * ny + iy) * nz + iz, i};
            }
        },
        point_piece);
    if (box.finite < points.size())
        entries.erase(std::remove_if(entries.begin(), entries.end(), [](const Entry& e) { return e.key == dropped; }),
                      entries.end());
    radix_sort(entries, static_cast<unsigned>(std::bit_width(top_key)));

    Grid grid;
    grid.order.resize(entries.size());
    for (std::size_t k = 0; k < entries.size(); ++k) grid.order[k] = entries[k].index;
    collect_runs(grid, entries.size(), [&](std::size_t a, std::size_t b) { return entries[a].key == entries[b].key; });
    return grid;
}

void means(const Grid& grid, std::span<const Vec3d> points, std::span<Vec3d> out) {
    pool::for_each_range(
        grid.voxels(),
        [&](std::size_t lo, std::size_t hi) {
            for (std::size_t v = lo; v < hi; ++v) {
                double x = 0.0, y = 0.0, z = 0.0;
                for (std::size_t k = grid.starts[v]; k < grid.starts[v + 1]; ++k) {
                    const Vec3d& p = points[grid.order[k]];
                    x += p.x;
                    y += p.y;
                    z += p.z;
                }
                const auto count = static_cast<double>(grid.starts[v + 1] - grid.starts[v]);
                out[v] = {x / count, y / count, z / count};
            }
        },
        voxel_piece);
}

void inverse(const Grid& grid, std::span<std::int64_t> out) {
    pool::for_each_range(
        out.size(), [&](std::size_t lo, std::size_t hi) { std::fill(out.begin() + lo, out.begin() + hi, -1); },
        point_piece);
    pool::for_each_range(
        grid.voxels(),
        [&](std::size_t lo, std::size_t hi) {
            for (std::size_t v = lo; v < hi; ++v)
                for (std::size_t k = grid.starts[v]; k < grid.starts[v + 1]; ++k)
                    out[grid.order[k]] = static_cast<std::int64_t>(v);
        },
        voxel_piece);
}

}  // namespace lumeric::voxels
