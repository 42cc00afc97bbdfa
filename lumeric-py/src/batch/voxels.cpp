// batch/voxels.cpp: the voxel grid: bounds, keys, a stable sort, means and the inverse.
#include "batch/voxels.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <limits>
#include <memory>
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

// One axis's voxel index, evaluated as written: floor((p - ref) / size), as a 64-bit integer.
// ref <= p, and rounding keeps that order, so the quotient is never negative and truncation is
// the floor, without a call to floor() on processors that have no instruction for it.
inline std::uint64_t voxel_index(double p, double ref, double size) noexcept {
    return static_cast<std::uint64_t>((p - ref) / size);
}

// Digits of at most 12 bits: a block's 4,096 counters stay in the first-level cache.
constexpr unsigned max_digit_bits = 12;
constexpr std::size_t max_buckets = std::size_t{1} << max_digit_bits;
constexpr std::size_t sort_block = 65536;  // words counted and moved by one task

// Stable least-significant-digit radix sort of `words` by their bits [low, high). Each pass counts
// the digits of every block, then moves each block's words to the places the counts give, blocks
// on the pool: the places depend only on the words, so the result does not depend on who moved
// what. `scratch` holds as many words.
void radix_sort(std::span<std::uint64_t> words, std::span<std::uint64_t> scratch, unsigned low, unsigned high) {
    const std::size_t n = words.size();
    const std::size_t blocks = (n + sort_block - 1) / sort_block;
    std::vector<std::array<std::size_t, max_buckets>> places(blocks);
    // The fewest passes, their digits as even as can be.
    const unsigned passes = (high - low + max_digit_bits - 1) / max_digit_bits;
    const unsigned digit_bits = passes == 0 ? 0 : (high - low + passes - 1) / passes;
    const std::size_t buckets = std::size_t{1} << digit_bits;
    auto each_block = [&](auto body) {
        pool::for_each_range(blocks, [&](std::size_t lo, std::size_t hi) {
            for (std::size_t b = lo; b < hi; ++b) body(b, b * sort_block, std::min(n, (b + 1) * sort_block));
        });
    };
    for (unsigned shift = low; shift < high; shift += digit_bits) {
        auto digit = [shift, buckets](std::uint64_t word) { return (word >> shift) & (buckets - 1); };
        each_block([&](std::size_t b, std::size_t lo, std::size_t hi) {
            std::fill_n(places[b].begin(), buckets, 0);
            for (std::size_t k = lo; k < hi; ++k) ++places[b][digit(words[k])];
        });
        std::size_t total = 0;
        for (std::size_t d = 0; d < buckets; ++d)
            for (std::size_t b = 0; b < blocks; ++b) total += std::exchange(places[b][d], total);
        each_block([&](std::size_t b, std::size_t lo, std::size_t hi) {
            for (std::size_t k = lo; k < hi; ++k) scratch[places[b][digit(words[k])]++] = words[k];
        });
        std::swap(words, scratch);
    }
    if (passes % 2 == 1) std::copy(words.begin(), words.end(), scratch.begin());
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
        std::uint64_t x, y, z;
        std::uint64_t index;
    };
    std::vector<Voxel> voxels;
    voxels.reserve(finite);
    for (std::size_t i = 0; i < points.size(); ++i) {
        const Vec3d& p = points[i];
        if (!tovrin::is_finite(p)) continue;
        voxels.push_back({voxel_index(p.x, ref.x, size), voxel_index(p.y, ref.y, size), voxel_index(p.z, ref.z, size),
                          i});
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
    const double top[3] = {std::floor((box.high.x - ref.x) / size), std::floor((box.high.y - ref.y) / size),
                           std::floor((box.high.z - ref.z) / size)};
    if (!(top[0] <= index_limit && top[1] <= index_limit && top[2] <= index_limit)) {
        const double extent = std::max({box.high.x - box.low.x, box.high.y - box.low.y, box.high.z - box.low.z});
        return TooFine{extent};
    }
    // Keys (ix * ny + iy) * nz + iz order voxels as (ix, iy, iz) do. Packed above the index into
    // one word when both fit, they sort as (voxel, index) pairs at the cost of a word each.
    const std::uint64_t nx = static_cast<std::uint64_t>(top[0]) + 1, ny = static_cast<std::uint64_t>(top[1]) + 1,
                        nz = static_cast<std::uint64_t>(top[2]) + 1;
    const unsigned index_bits = static_cast<unsigned>(std::bit_width(points.size()));
    std::uint64_t cells;
    if (__builtin_mul_overflow(nx, ny, &cells) || __builtin_mul_overflow(cells, nz, &cells) ||
        std::bit_width(cells - 1) + index_bits > 63)
        return sort_triples(points, ref, size, box.finite);
    const unsigned key_bits = static_cast<unsigned>(std::bit_width(cells - 1));

    // Above every word: the points that take no part.
    constexpr std::uint64_t dropped = std::numeric_limits<std::uint64_t>::max();
    const std::size_t n = points.size();
    std::unique_ptr<std::uint64_t[]> words(new std::uint64_t[n]), scratch(new std::uint64_t[n]);
    pool::for_each_range(
        n,
        [&](std::size_t lo, std::size_t hi) {
            for (std::size_t i = lo; i < hi; ++i) {
                const Vec3d& p = points[i];
                if (!tovrin::is_finite(p)) {
                    words[i] = dropped;
                    continue;
                }
                const std::uint64_t ix = voxel_index(p.x, ref.x, size), iy = voxel_index(p.y, ref.y, size),
                                    iz = voxel_index(p.z, ref.z, size);
                words[i] = ((ix * ny + iy) * nz + iz) << index_bits | i;
            }
        },
        point_piece);
    const std::size_t kept =
        box.finite < n ? static_cast<std::size_t>(std::remove(words.get(), words.get() + n, dropped) - words.get()) : n;
    radix_sort({words.get(), kept}, {scratch.get(), kept}, index_bits, index_bits + key_bits);

    Grid grid;
    grid.order.resize(kept);
    grid.starts.reserve(std::min<std::uint64_t>(kept, cells) + 1);
    const std::uint64_t index_mask = (std::uint64_t{1} << index_bits) - 1;
    for (std::size_t k = 0; k < kept; ++k) {
        grid.order[k] = words[k] & index_mask;
        if (k == 0 || (words[k] ^ words[k - 1]) > index_mask) grid.starts.push_back(k);
    }
    grid.starts.push_back(kept);
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
