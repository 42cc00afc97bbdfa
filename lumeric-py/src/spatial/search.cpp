// spatial/search.cpp: k-nearest and radius queries.
//
// Pruning is exact. A node's gap along each axis is 0 where the query lies within the node's
// bounding box, otherwise fl(q - hi) or fl(lo - q) against the side of the box it lies beyond.
// (Tight boxes keep a query far from tight clusters from visiting them whole, and make the
// bound of copies of one point equal to their key.) A node's bound is then
// (gx * gx + gy * gy) + gz * gz, grouped as Vec3d::distance_squared groups its key. For a
// point p of the node, p - q lies beyond the box side's difference on each axis, and rounding is
// monotone and symmetric, so |fl(p - q)| >= gap; squaring, adding and rounding again are
// monotone too, so the computed bound is never above any point's computed key. The bound is
// also never NaN for a finite query (no gap is NaN, inf + inf is inf), so ranks compare
// bounds and keys exactly.
//
// k nearest: a node is skipped only when the k best are known and the node's bound ranks
// above the k-th best, or ranks equal to it with every index in the node above the k-th
// best's index: an equal key with a lower index could hide anywhere else. That second rule
// keeps a cloud of copies of one point from searching every leaf.
//
// Radius r: point i is in the ball iff std::sqrt(key) <= r, as distance_to computes it. A
// node is skipped when its bound exceeds a threshold a few units in the last place above
// fl(r * r), which every key whose square root rounds to at most r lies below (a key K with
// sqrt(K) rounding to <= r has K <= (r + ulp(r) / 2)^2 ~ r * r * (1 + 2^-52), under two
// units above r * r, and fl(r * r) is within half a unit of it); each candidate is then
// tested exactly.
//
// A child with a cylinder (cylinder.hpp, which argues the same for it) is bounded by the larger
// of the two bounds, each never above any key in the child.
//
// Bounded k nearest: sqrt is monotone, so the keys whose square root is at most r are exactly
// those up to the largest such key, found once by stepping from fl(r * r). A point takes a
// place only when its key is at most that key (the same set the radius test gives), and a node
// is skipped when its bound is above it.
//
// Queries with an infinite or NaN coordinate, rare, are answered by a scan of every point.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>

#include <tovrin/rank.hpp>

#include "pool/pool.hpp"
#include "spatial/tree.hpp"

namespace lumeric::spatial {

namespace {

using tovrin::is_finite;
using tovrin::rank_of;

constexpr std::size_t query_piece = 64;    // queries per piece: ~1 us each, so ~10x the hand-over
constexpr std::size_t ball_block = 16;     // queries whose balls are gathered together (a chunk the pool
                                           // may stop before, so few)
// Indices a radius batch gathers before it knows the size of its result: 8 MiB.
constexpr std::size_t gather_cap = std::size_t{1} << 20;

void box_gaps(const Vec3d& q, const double lo[3], const double hi[3], double gap[3]) noexcept {
    for (int a = 0; a < 3; ++a) gap[a] = q[a] < lo[a] ? lo[a] - q[a] : q[a] > hi[a] ? q[a] - hi[a] : 0.0;
}

double bound_of(const double gap[3]) noexcept { return (gap[0] * gap[0] + gap[1] * gap[1]) + gap[2] * gap[2]; }

// Every key whose square root rounds to at most r is at most this (see above).
double ball_threshold(double r) noexcept {
    double t = r * r;
    for (int step = 0; step < 4; ++step) t = std::nextafter(t, std::numeric_limits<double>::infinity());
    return t;
}

// The largest key whose square root is at most r (r >= 0): every key up to it passes the
// radius test, none above it does.
double largest_key(double r) noexcept {
    constexpr double inf = std::numeric_limits<double>::infinity();
    double t = r * r;
    while (t < inf && std::sqrt(std::nextafter(t, inf)) <= r) t = std::nextafter(t, inf);
    while (std::sqrt(t) > r) t = std::nextafter(t, -inf);
    return t;
}

// The highest rank a k-nearest search may keep: with no bound, every rank (NaN keys included).
std::int64_t rank_limit(double max_distance) noexcept {
    return max_distance == std::numeric_limits<double>::infinity() ? std::numeric_limits<std::int64_t>::max()
                                                                   : rank_of(largest_key(max_distance));
}

// The order in which to answer a batch of queries: along a Morton curve over their bounding
// box, so that queries answered one after another walk nearly the same nodes and leaves and
// find them in the caches (random queries otherwise miss on almost every node). A counting sort
// over cells, two passes. Empty for a small batch, which keeps its own order. No answer
// depends on the order.
std::vector<std::size_t> curve_order(std::span<const Vec3d> xs) {
    const std::size_t m = xs.size();
    if (m < 4096) return {};
    unsigned bits = 1;  // per axis: about one query per cell, at most 2^21 cells
    while (bits < 7 && (std::size_t{1} << (3 * (bits + 1))) <= m) ++bits;
    double lo[3] = {0, 0, 0}, hi[3] = {0, 0, 0};
    bool seen = false;
    for (const Vec3d& x : xs) {
        if (!is_finite(x)) continue;
        for (int a = 0; a < 3; ++a) {
            lo[a] = seen ? std::min(lo[a], x[a]) : x[a];
            hi[a] = seen ? std::max(hi[a], x[a]) : x[a];
        }
        seen = true;
    }
    const double cells = static_cast<double>(1u << bits);
    double scale[3];
    for (int a = 0; a < 3; ++a) {
        const double width = hi[a] - lo[a];
        scale[a] = width > 0 && std::isfinite(cells / width) ? cells / width : 0.0;
    }
    std::vector<std::uint32_t> codes(m);
    std::vector<std::size_t> starts((std::size_t{1} << (3 * bits)) + 1, 0);
    for (std::size_t j = 0; j < m; ++j) {
        std::uint32_t code = 0;
        if (is_finite(xs[j])) {
            std::uint32_t cell[3];
            for (int a = 0; a < 3; ++a)
                cell[a] = static_cast<std::uint32_t>(std::min(cells - 1, std::max(0.0, (xs[j][a] - lo[a]) * scale[a])));
            for (unsigned b = 0; b < bits; ++b)
                for (int a = 0; a < 3; ++a) code |= ((cell[a] >> b) & 1u) << (3 * b + a);
        }
        codes[j] = code;
        ++starts[code + 1];
    }
    for (std::size_t c = 1; c < starts.size(); ++c) starts[c] += starts[c - 1];
    std::vector<std::size_t> order(m);
    for (std::size_t j = 0; j < m; ++j) order[starts[codes[j]]++] = j;
    return order;
}

// a goes before b: the lower rank, then the lower index.
bool before(const KdTree::Entry& a, const KdTree::Entry& b) noexcept {
    return a.rank < b.rank || (a.rank == b.rank && a.index < b.index);
}

}  // namespace

struct KdTree::Search {
    const KdTree& tree;
    Vec3d q;

    // -- k nearest: the best entries so far under `before`; in order while they are few, as a
    // max-heap (the worst on top) beyond that, where inserting in order would cost too much --
    static constexpr std::size_t in_order_up_to = 32;
    Entry* best = nullptr;
    std::size_t capacity = 0;
    std::size_t count = 0;
    std::int64_t limit = std::numeric_limits<std::int64_t>::max();  // ranks above it never take a place

    bool in_order() const noexcept { return capacity <= in_order_up_to; }
    const Entry& worst() const noexcept { return in_order() ? best[count - 1] : best[0]; }

    void offer(std::int64_t rank, std::size_t position) noexcept {
        if (rank > limit) return;
        if (count == capacity && rank > worst().rank) return;
        const Entry entry{rank, tree.index_at(position), position};
        if (count == capacity && !before(entry, worst())) return;
        if (in_order()) {
            std::size_t j = count < capacity ? count++ : count - 1;
            for (; j > 0 && before(entry, best[j - 1]); --j) best[j] = best[j - 1];
            best[j] = entry;
        } else if (count < capacity) {
            best[count++] = entry;
            std::push_heap(best, best + count, before);
        } else {
            std::pop_heap(best, best + count, before);
            best[count - 1] = entry;
            std::push_heap(best, best + count, before);
        }
    }

    // The best entries in order.
    void finish() noexcept {
        if (!in_order()) std::sort_heap(best, best + count, before);
    }

    bool skip(double bound, std::uint64_t first_index) const noexcept {
        const std::int64_t rank = rank_of(bound);
        if (rank > limit) return true;
        if (count < capacity) return false;
        const Entry& last = worst();
        return rank > last.rank || (rank == last.rank && first_index > last.index);
    }

    void nearest(std::size_t node, std::size_t lo, std::size_t hi, unsigned level) noexcept {
        if (level == tree.depth_) {
            for (std::size_t j = lo; j < hi; ++j) offer(rank_of(tree.points_[j].distance_squared(q)), j);
            return;
        }
        Child child[2];
        split(node, lo, hi, child);
        // The nearer child first; on equal bounds, the one holding the lower indices.
        const bool swap = child[1].bound < child[0].bound ||
                          (child[1].bound == child[0].bound && child[1].first_index < child[0].first_index);
        for (int k = 0; k < 2; ++k) {
            const Child& c = child[swap ? 1 - k : k];
            if (!skip(c.bound, c.first_index)) nearest(c.node, c.lo, c.hi, level + 1);
        }
    }

    // -- radius: sink(position) for every point of the ball, in tree order; a counting sink
    // may take a whole node at once (sink.whole(count)) when every point of it is in the ball --
    double r = 0;
    double threshold = 0;

    template <class Sink>
    void within(std::size_t node, std::size_t lo, std::size_t hi, unsigned level, Sink& sink) {
        if (level == tree.depth_) {
            for (std::size_t j = lo; j < hi; ++j) {
                const double key = tree.points_[j].distance_squared(q);
                if (key <= threshold && std::sqrt(key) <= r) sink(j);
            }
            return;
        }
        Child child[2];
        split(node, lo, hi, child);
        for (const Child& c : child) {
            if (c.bound > threshold) continue;
            if constexpr (Sink::counts) {
                if (inside(tree.nodes_[node], &c - child)) {
                    sink.whole(c.hi - c.lo);
                    continue;
                }
            }
            within(c.node, c.lo, c.hi, level + 1, sink);
        }
    }

    // Whether every point of child `side` is in the ball: its box's farthest corner is. Each
    // point's |fl(p - q)| is at most the farthest side's difference on each axis (rounding is
    // monotone), so its computed key is at most the corner's, grouped alike, and so is its
    // square root.
    bool inside(const Node& s, std::ptrdiff_t side) const noexcept {
        double far[3];
        for (int a = 0; a < 3; ++a) far[a] = std::max(q[a] - s.lo[side][a], s.hi[side][a] - q[a]);
        return std::sqrt(bound_of(far)) <= r;
    }

    // -- both --
    struct Child {
        std::size_t node, lo, hi;
        double gap[3];
        double bound;
        std::uint64_t first_index;
    };

    void split(std::size_t node, std::size_t lo, std::size_t hi, Child child[2]) const noexcept {
        const Node& s = tree.nodes_[node];
        const std::size_t mid = lo + (hi - lo) / 2;
        child[0] = {2 * node + 1, lo, mid, {}, 0.0, s.first[0]};
        child[1] = {2 * node + 2, mid, hi, {}, 0.0, s.first[1]};
        for (int side = 0; side < 2; ++side) {
            Child& c = child[side];
            box_gaps(q, s.lo[side], s.hi[side], c.gap);
            c.bound = child_bound(s, side, c.gap);
        }
    }

    // The box's bound from its gaps, raised by the child's cylinder where it has one.
    double child_bound(const Node& s, int side, const double gap[3]) const noexcept {
        const double box = bound_of(gap);
        if (s.cylinder[side] == 0) return box;
        return std::max(box, tree.cylinders_[s.cylinder[side] - 1].bound(q, s.lo[side], s.hi[side]));
    }
};

void KdTree::start_gaps(const Vec3d& x, double gap[3]) const noexcept { box_gaps(x, lo_, hi_, gap); }

void KdTree::scan_nearest(const Vec3d& x, std::span<Entry> best, std::size_t& count,
                          double max_distance) const noexcept {
    Search search{*this, x};
    search.limit = rank_limit(max_distance);
    search.best = best.data();
    search.capacity = std::min(best.size(), points_.size());
    for (std::size_t j = 0; j < points_.size(); ++j) search.offer(rank_of(points_[j].distance_squared(x)), j);
    search.finish();
    count = search.count;
}

std::size_t KdTree::nearest_entries(const Vec3d& x, std::size_t k, double max_distance,
                                    std::span<Entry> scratch) const noexcept {
    Search search{*this, x};
    search.best = scratch.data();
    search.capacity = std::min(k, searched_);
    search.limit = rank_limit(max_distance);
    if (search.capacity > 0) search.nearest(0, 0, searched_, 0);
    search.finish();
    return search.count;
}

void KdTree::nearest(const Vec3d& x, std::size_t k, std::span<Entry> scratch, double* distances,
                     std::int64_t* indices, double max_distance) const noexcept {
    std::size_t count = 0;
    std::size_t next_nan = points_.size();  // the NaN points still to append, from here on
    if (is_finite(x)) {
        count = nearest_entries(x, k, max_distance, scratch);
        if (max_distance == inf) next_nan = searched_;  // a NaN distance is never within a bound
    } else {
        scan_nearest(x, scratch.first(std::min(k, points_.size())), count, max_distance);
    }
    std::size_t t = 0;
    for (; t < count; ++t) {
        distances[t] = std::sqrt(points_[scratch[t].position].distance_squared(x));
        indices[t] = static_cast<std::int64_t>(scratch[t].index);
    }
    // Every NaN key ranks after every number, so the NaN points follow, in index order.
    for (std::size_t j = next_nan; t < k && j < points_.size(); ++j, ++t) {
        distances[t] = std::sqrt(points_[j].distance_squared(x));
        indices[t] = static_cast<std::int64_t>(index_at(j));
    }
    for (; t < k; ++t) {
        distances[t] = std::numeric_limits<double>::infinity();
        indices[t] = static_cast<std::int64_t>(points_.size());
    }
}

void KdTree::nearest(std::span<const Vec3d> xs, std::size_t k, double* distances, std::int64_t* indices,
                     double max_distance) const {
    const std::size_t room = std::min(k, points_.size());
    const std::vector<std::size_t> order = curve_order(xs);
    pool::for_each_range(
        xs.size(), [&](std::size_t lo, std::size_t hi) {
            std::vector<Entry> scratch(room);
            for (std::size_t p = lo; p < hi; ++p) {
                const std::size_t j = order.empty() ? p : order[p];
                nearest(xs[j], k, scratch, distances + j * k, indices + j * k, max_distance);
            }
        },
        query_piece);
}

template <class Sink>
void KdTree::ball(const Vec3d& x, double r, Sink& sink) const {
    if (is_finite(x)) {
        Search search{*this, x};
        search.r = r;
        search.threshold = ball_threshold(r);
        double gap[3];
        start_gaps(x, gap);
        if (searched_ > 0 && bound_of(gap) <= search.threshold) search.within(0, 0, searched_, 0, sink);
    } else if (!std::isnan(x.x) && !std::isnan(x.y) && !std::isnan(x.z)) {
        for (std::size_t j = 0; j < searched_; ++j)
            if (std::sqrt(points_[j].distance_squared(x)) <= r) sink(j);
    }
}

namespace {

// Sinks of ball(): counting its points, or writing their indices.
struct BallCount {
    static constexpr bool counts = true;
    std::size_t n = 0;
    void operator()(std::size_t) noexcept { ++n; }
    void whole(std::size_t count) noexcept { n += count; }
};

template <class Out>
struct BallIndices {
    static constexpr bool counts = false;
    const KdTree& tree;
    Out out;
    void operator()(std::size_t position) { out(tree.original_index(position)); }
};

}  // namespace

void KdTree::within(const Vec3d& x, double r, std::vector<std::int64_t>& out) const {
    const std::size_t first = out.size();
    auto push = [&out](std::int64_t index) { out.push_back(index); };
    BallIndices<decltype(push)> sink{*this, push};
    ball(x, r, sink);
    std::sort(out.begin() + static_cast<std::ptrdiff_t>(first), out.end());
}

void KdTree::within(std::span<const Vec3d> xs, double r, std::int64_t* offsets,
                    const std::function<std::int64_t*(std::size_t)>& place) const {
    const std::size_t m = xs.size();
    const std::size_t blocks = (m + ball_block - 1) / ball_block;
    // A block of queries gathers its balls in a row while the batch has gathered few indices
    // (its row never grows past the cap); any other block only counts. So the size of the whole
    // result is known, and its room checked by `place`, with at most a few caps gathered: an
    // oversized result is refused before it takes memory. The rows are then copied to their
    // places, and the balls of the blocks that only counted are searched again, straight into
    // theirs.
    std::vector<std::vector<std::int64_t>> found(blocks);
    std::vector<char> gathered(blocks, 0);
    std::atomic<std::size_t> total{0};
    offsets[0] = 0;
    pool::for_each_range(blocks, [&](std::size_t lo, std::size_t hi) {
        for (std::size_t b = lo; b < hi; ++b) {
            const std::size_t first = b * ball_block, last = std::min(m, first + ball_block);
            std::vector<std::int64_t>& row = found[b];
            bool complete = total.load(std::memory_order_relaxed) <= gather_cap;
            for (std::size_t j = first; j < last; ++j) {
                if (complete) {
                    const std::size_t before = row.size();
                    auto push = [&row, &complete](std::int64_t index) {
                        if (row.size() < gather_cap) row.push_back(index);
                        else complete = false;
                    };
                    BallIndices<decltype(push)> sink{*this, push};
                    ball(xs[j], r, sink);
                    std::sort(row.begin() + static_cast<std::ptrdiff_t>(before), row.end());
                    offsets[j + 1] = static_cast<std::int64_t>(row.size() - before);
                    if (complete) continue;
                    std::vector<std::int64_t>().swap(row);
                }
                BallCount count;
                ball(xs[j], r, count);
                offsets[j + 1] = static_cast<std::int64_t>(count.n);
            }
            gathered[b] = complete;
            // A block that reached the cap makes every block after it count only.
            total.fetch_add(complete ? row.size() : gather_cap + 1, std::memory_order_relaxed);
        }
    });
    for (std::size_t j = 0; j < m; ++j) offsets[j + 1] += offsets[j];
    std::int64_t* out = place(static_cast<std::size_t>(offsets[m]));
    pool::for_each_range(blocks, [&](std::size_t lo, std::size_t hi) {
        for (std::size_t b = lo; b < hi; ++b) {
            const std::size_t first = b * ball_block, last = std::min(m, first + ball_block);
            if (gathered[b]) {
                if (!found[b].empty())
                    std::memcpy(out + offsets[first], found[b].data(), found[b].size() * sizeof(std::int64_t));
                continue;
            }
            for (std::size_t j = first; j < last; ++j) {
                std::int64_t* row = out + offsets[j];
                std::int64_t* const end = out + offsets[j + 1];
                std::int64_t* next = row;
                // The count bounds the writes, whatever the second search finds.
                auto write = [&next, end](std::int64_t index) {
                    if (next != end) *next++ = index;
                };
                BallIndices<decltype(write)> sink{*this, write};
                ball(xs[j], r, sink);
                std::sort(row, next);
            }
        }
    });
}

}  // namespace lumeric::spatial

namespace lumeric::spatial {

std::size_t KdTree::count_within(const Vec3d& x, double r) const {
    BallCount count;
    ball(x, r, count);
    return count.n;
}

void KdTree::count_within(std::span<const Vec3d> xs, double r, std::int64_t* counts) const {
    const std::vector<std::size_t> order = curve_order(xs);
    pool::for_each_range(
        xs.size(), [&](std::size_t lo, std::size_t hi) {
            for (std::size_t p = lo; p < hi; ++p) {
                const std::size_t j = order.empty() ? p : order[p];
                counts[j] = static_cast<std::int64_t>(count_within(xs[j], r));
            }
        },
        query_piece);
}

}  // namespace lumeric::spatial
