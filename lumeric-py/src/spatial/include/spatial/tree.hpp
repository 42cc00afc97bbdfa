// spatial/tree.hpp: a k-d tree over a cloud of points, with exact k-nearest and radius
// queries on the worker pool. Plain C++; knows nothing of Python.
//
// Every answer is the brute-force one. The key of point i for a query x is bit for bit
// `points[i].distance_squared(x)`; keys rank as tovrin::rank_of ranks them (every NaN after
// every number), equal keys go to the lower index, and a reported distance is
// `std::sqrt(key)`, which is `points[i].distance_to(x)`. The tree only decides which points
// need not be looked at, and it skips a subtree only when no point in it could change the
// answer (see search.cpp), so results never depend on the layout, the worker count or
// how the queries were cut.
//
// Layout (at most 44 bytes a point for a cloud below 2^32 points, 48 above, plus at most 12
// for cylinders, 6 at a million points, where every child is thin and slanted, as on a line):
//   - the points, reordered into tree order: the searched points leaf by leaf, then the
//     points with a NaN coordinate (never near anything) in index order;
//   - each point's original index, as 32 low bits, plus 32 high bits only for clouds of
//     2^32 points or more;
//   - a complete binary tree of depth `depth_` in heap order (node i has children 2i + 1 and
//     2i + 2), so no child pointers: the points of a node are a range that halves at
//     lo + (hi - lo) / 2 at every level, and the leaves hold at most `leaf_capacity` points.
//     Only inner nodes are stored, 128 bytes each: the tight bounding box, the lowest
//     original index and the cylinder (if any) of each child, everything a search reads to
//     choose between them (at least 8 points a leaf, so at most 16 bytes a point);
//   - the cylinders (cylinder.hpp), 48 bytes each, only for children that are thin along a
//     slanted direction.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <span>
#include <vector>

#include <tovrin/vec3d.hpp>

#include "bulk/bulk_allocator.hpp"
#include "spatial/cylinder.hpp"

namespace lumeric::spatial {

using tovrin::Vec3d;

class KdTree {
public:
    // Points per leaf, at most (so at least half as many): 8 to 16 search about equally fast.
    static constexpr std::size_t leaf_capacity = 16;
    static constexpr double inf = std::numeric_limits<double>::infinity();

    // Large arrays, written once in parallel: uninitialised until then, on huge pages.
    template <class T>
    using Array = std::vector<T, BulkAllocator<T>>;

    // The empty tree.
    KdTree() = default;
    // A tree over a copy of `points`, built on the pool. Throws std::bad_alloc.
    explicit KdTree(std::span<const Vec3d> points);
    // A tree over `points`, whose array becomes the tree's own (in tree order): a copy made
    // only to build the tree costs no second array.
    explicit KdTree(Array<Vec3d>&& points);

    std::size_t size() const noexcept { return points_.size(); }
    // The bytes of memory the tree holds: its points, their indices, the inner nodes and the
    // cylinders.
    std::size_t owned_bytes() const noexcept {
        return points_.capacity() * sizeof(Vec3d) + (index_low_.capacity() + index_high_.capacity()) * 4 +
               nodes_.capacity() * sizeof(Node) + cylinders_.capacity() * sizeof(Cylinder);
    }
    // The original index of the point stored at `position` (in tree order).
    std::int64_t original_index(std::size_t position) const noexcept {
        return static_cast<std::int64_t>(index_at(position));
    }

    // The points in their original order.
    std::vector<Vec3d> original_points() const;

    // The k nearest points to x, best first, into distances[0, k) and indices[0, k); places
    // beyond the size of the tree get (inf, size()). `scratch` holds at least
    // min(k, size()) entries.
    struct Entry {
        std::int64_t rank;
        std::uint64_t index;
        std::size_t position;
    };
    //
    // With a finite `max_distance` only points with distance_to(x) <= max_distance take places
    // (the points within() finds, by the same test), and the search skips every node beyond it;
    // the others, NaN distances included, are padded the same way.
    void nearest(const Vec3d& x, std::size_t k, std::span<Entry> scratch, double* distances,
                 std::int64_t* indices, double max_distance = inf) const noexcept;

    // nearest() for each of `xs`: row j of k places at distances + j * k and indices + j * k,
    // on the pool. Throws std::bad_alloc.
    void nearest(std::span<const Vec3d> xs, std::size_t k, double* distances, std::int64_t* indices,
                 double max_distance = inf) const;

    // The searched part of nearest() for a finite x: the best entries among the points without
    // a NaN coordinate, in order, into scratch[0, count); returns count. A caller that reads
    // the neighbours' coordinates finds them at tree_points()[entry.position].
    std::size_t nearest_entries(const Vec3d& x, std::size_t k, double max_distance,
                                std::span<Entry> scratch) const noexcept;

    // The points in tree order (nearby positions hold nearby points; those with a NaN
    // coordinate last; original_index() gives each one's place in the original order): work done
    // for every point of the tree goes in this order, so that consecutive searches walk the same
    // nodes.
    std::span<const Vec3d> tree_points() const noexcept { return {points_.data(), points_.size()}; }

    // The indices of the points whose distance to x is at most r (r >= 0), ascending.
    void within(const Vec3d& x, double r, std::vector<std::int64_t>& out) const;

    // within() for each of `xs`, on the pool: the balls are counted into offsets[0, m]
    // (offsets[0] = 0) before any is gathered, then `place(total)` (called on this thread) gives
    // where the indices go, all of them in a row. Throws std::bad_alloc and whatever `place`
    // throws.
    void within(std::span<const Vec3d> xs, double r, std::int64_t* offsets,
                const std::function<std::int64_t*(std::size_t)>& place) const;

    // The number of points within(x, r) finds, without listing them.
    std::size_t count_within(const Vec3d& x, double r) const;

    // count_within() for each of `xs` into counts[0, m), on the pool. Throws std::bad_alloc.
    void count_within(std::span<const Vec3d> xs, double r, std::int64_t* counts) const;

private:
    struct Node {
        double lo[2][3];  // the bounding box of each child's points
        double hi[2][3];
        std::uint64_t first[2];  // the lowest original index in each child
        std::uint64_t cylinder[2];  // 1 + the index of each child's cylinder in cylinders_, or 0
    };
    struct Search;
    struct Build;

    std::uint64_t index_at(std::size_t position) const noexcept {
        const std::uint64_t low = index_low_[position];
        return index_high_.empty() ? low : low | std::uint64_t{index_high_[position]} << 32;
    }
    // sink(position) for every point of the ball of radius r around x (sink.whole(count) for a
    // whole node, for a sink that counts).
    template <class Sink>
    void ball(const Vec3d& x, double r, Sink& sink) const;
    void scan_nearest(const Vec3d& x, std::span<Entry> best, std::size_t& count, double max_distance) const noexcept;
    void start_gaps(const Vec3d& x, double gap[3]) const noexcept;

    void build(std::span<const Vec3d> points);
    void keep_cylinders(const Cylinder* fitted);

    Array<Vec3d> points_;
    Array<std::uint32_t> index_low_;
    Array<std::uint32_t> index_high_;  // empty below 2^32 points
    std::size_t searched_ = 0;               // points_[0, searched_) are in the tree
    double lo_[3] = {0, 0, 0};               // their bounding box, where every search starts
    double hi_[3] = {0, 0, 0};
    unsigned depth_ = 0;
    Array<Node> nodes_;                // the inner nodes
    Array<Cylinder> cylinders_;
};

}  // namespace lumeric::spatial
