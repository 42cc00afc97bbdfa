// spatial/build.cpp: building the tree on the pool.
//
// Each inner node splits its range at the middle position along the widest side of the
// range's bounding box, by nth_element on (coordinate, original index). The index makes the
// order total, so equal coordinates (duplicates, grids, points on a line) still cut exactly in
// half and the depth is log2(n / leaf_capacity) whatever the cloud. The two halves are built
// in parallel while they are large. Each child that is thin along a slanted direction also
// gets a cylinder (cylinder.hpp), fitted as its box is measured.
#include "spatial/tree.hpp"

#include <algorithm>
#include <cmath>

#include "pool/pool.hpp"

namespace lumeric::spatial {

namespace {

// A point with its original index, as the build moves it around.
struct Item {
    double c[3];
    std::uint64_t index;
};

struct Box {
    double lo[3];
    double hi[3];
};

constexpr std::size_t parallel_from = 32768;  // halves smaller than this are built inline
constexpr std::size_t copy_piece = 32768;

bool has_nan(const Vec3d& p) noexcept { return std::isnan(p.x) || std::isnan(p.y) || std::isnan(p.z); }

Box bounds(const Item* items, std::size_t count) noexcept {
    Box box{{items[0].c[0], items[0].c[1], items[0].c[2]}, {items[0].c[0], items[0].c[1], items[0].c[2]}};
    for (std::size_t j = 1; j < count; ++j) {
        for (int a = 0; a < 3; ++a) {
            box.lo[a] = std::min(box.lo[a], items[j].c[a]);
            box.hi[a] = std::max(box.hi[a], items[j].c[a]);
        }
    }
    return box;
}

// Puts the item that ranks at `mid` under `less` (a total order) there, the ones before it
// below and the ones after it above, as std::nth_element does, in about one pass over a large
// range instead of its three: two pivots taken from an evenly spread sample straddle the
// middle, one three-way pass keeps what lies between them (a tenth or so of the range)
// together, and only that part is selected exactly. Should the pivots miss the middle (rarely
// on any input), the part that holds it is selected instead. Which items end up on either side
// is fixed by the order alone, however they are selected.
template <class Less>
void select_middle(Item* first, Item* mid, Item* last, Less less) {
    const auto n = static_cast<std::size_t>(last - first);
    if (n < 2048) {
        std::nth_element(first, mid, last, less);
        return;
    }
    const std::size_t sample_size = std::min<std::size_t>(1024, n / 16);
    // Three standard deviations of the sample's middle rank, sqrt(sample_size) / 2 each.
    const auto margin = static_cast<std::size_t>(1.5 * std::sqrt(static_cast<double>(sample_size))) + 1;
    Item sample[1024];
    const std::size_t stride = n / sample_size;
    for (std::size_t j = 0; j < sample_size; ++j) sample[j] = first[j * stride + stride / 2];
    std::sort(sample, sample + sample_size, less);
    const std::size_t centre = static_cast<std::size_t>(mid - first) / stride;
    const Item low = sample[centre > margin ? centre - margin : 0];
    const Item high = sample[std::min(sample_size - 1, centre + margin)];
    // [first, below) < low <= [below, above) <= high < [above, last)
    Item* below = first;
    Item* above = last;
    for (Item* it = first; it < above;) {
        if (less(*it, low)) std::swap(*it++, *below++);
        else if (less(high, *it)) std::swap(*it, *--above);
        else ++it;
    }
    if (mid < below) std::nth_element(first, mid, below, less);
    else if (mid < above) std::nth_element(below, mid, above, less);
    else std::nth_element(above, mid, last, less);
}

// The widest side; the lowest axis among equal widths (an all-infinite side's NaN width is
// never chosen over a number).
unsigned widest(const Box& box) noexcept {
    unsigned axis = 0;
    double width = -1.0;
    for (unsigned a = 0; a < 3; ++a) {
        const double w = box.hi[a] - box.lo[a];
        if (w > width) {
            width = w;
            axis = a;
        }
    }
    return axis;
}

// Runs f(0) and f(1), in parallel on the pool when `parallel`.
template <class F>
void both(bool parallel, F&& f) {
    if (!parallel) {
        f(0);
        f(1);
        return;
    }
    pool::for_each_range(2, [&](std::size_t lo, std::size_t hi) {
        for (std::size_t side = lo; side < hi; ++side) f(side);
    });
}

}  // namespace

struct KdTree::Build {
    KdTree& tree;
    Item* items;
    Cylinder* fitted;  // each child's, at 2 * node + side; radius NaN where none

    // Builds node `node` over items [lo, hi) at `level`; `box` bounds them (unused for a leaf).
    // Returns the lowest index among them.
    std::uint64_t node(std::size_t node, std::size_t lo, std::size_t hi, unsigned level, const Box& box) {
        if (level == tree.depth_) {
            std::uint64_t first = ~std::uint64_t{0};
            for (std::size_t j = lo; j < hi; ++j) first = std::min(first, items[j].index);
            return first;
        }
        const unsigned axis = widest(box);
        const std::size_t mid = lo + (hi - lo) / 2;
        auto less = [axis](const Item& a, const Item& b) noexcept {
            return a.c[axis] < b.c[axis] || (a.c[axis] == b.c[axis] && a.index < b.index);
        };
        select_middle(items + lo, items + mid, items + hi, less);
        const bool parallel = hi - lo >= 2 * parallel_from;
        // Both halves are non-empty: a node above the leaves holds more than a leaf can.
        Box halves[2];
        both(parallel, [&](std::size_t side) {
            const Item* first = side == 0 ? items + lo : items + mid;
            const std::size_t count = side == 0 ? mid - lo : hi - mid;
            halves[side] = bounds(first, count);
            fitted[2 * node + side] = Cylinder::fit(first, count, halves[side].lo, halves[side].hi);
        });
        std::uint64_t first[2];
        both(parallel, [&](std::size_t side) {
            if (side == 0) first[0] = this->node(2 * node + 1, lo, mid, level + 1, halves[0]);
            else first[1] = this->node(2 * node + 2, mid, hi, level + 1, halves[1]);
        });
        Node& made = tree.nodes_[node];
        for (int side = 0; side < 2; ++side) {
            std::copy(halves[side].lo, halves[side].lo + 3, made.lo[side]);
            std::copy(halves[side].hi, halves[side].hi + 3, made.hi[side]);
            made.first[side] = first[side];
        }
        return std::min(first[0], first[1]);
    }
};

KdTree::KdTree(std::span<const Vec3d> points) {
    if (points.empty()) return;
    points_.resize(points.size());
    build(points);
}

KdTree::KdTree(Array<Vec3d>&& points) : points_(std::move(points)) {
    if (!points_.empty()) build(points_);
}

// Fills the tree from `points`, which may be points_ itself: they are read only into the
// scratch items, before points_ is written.
void KdTree::build(std::span<const Vec3d> points) {
    const std::size_t n = points.size();
    // Points with a NaN coordinate have a NaN key for every query: they stay out of the tree.
    // Copied in parallel as if there were none, while counting them; taken out afterwards.
    // The scratch goes back to the system when the tree is built: only the tree stays.
    std::vector<Item, ScratchAllocator<Item>> items(n);
    Item* out = items.data();
    const std::size_t nan_count =
        pool::reduce_ranges(
            n,
            [out, points](std::size_t lo, std::size_t hi) {
                std::size_t count = 0;
                for (std::size_t i = lo; i < hi; ++i) {
                    out[i] = {{points[i].x, points[i].y, points[i].z}, i};
                    count += has_nan(points[i]) ? 1 : 0;
                }
                return count;
            },
            [](std::size_t a, std::size_t b) { return a + b; }, copy_piece)
            .value_or(0);
    searched_ = n - nan_count;
    std::vector<Item> nan_items;
    if (nan_count > 0) {
        nan_items.reserve(nan_count);
        std::size_t k = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const Item& item = items[i];
            if (std::isnan(item.c[0]) || std::isnan(item.c[1]) || std::isnan(item.c[2])) nan_items.push_back(item);
            else items[k++] = item;
        }
    }

    while (((searched_ + (std::size_t{1} << depth_) - 1) >> depth_) > leaf_capacity) ++depth_;
    const std::size_t inner = (std::size_t{1} << depth_) - 1;
    nodes_.resize(inner);
    index_low_.resize(n);
    if (n > std::size_t{0xffffffff}) index_high_.resize(n);

    if (searched_ > 0) {
        const Box box = bounds(items.data(), searched_);
        std::copy(box.lo, box.lo + 3, lo_);
        std::copy(box.hi, box.hi + 3, hi_);
        std::vector<Cylinder, ScratchAllocator<Cylinder>> fitted(2 * inner);
        Build{*this, items.data(), fitted.data()}.node(0, 0, searched_, 0, box);
        keep_cylinders(fitted.data());
    }

    const Item* in = items.data();
    pool::for_each_range(
        searched_, [this, in](std::size_t lo, std::size_t hi) {
            for (std::size_t j = lo; j < hi; ++j) {
                points_[j] = {in[j].c[0], in[j].c[1], in[j].c[2]};
                index_low_[j] = static_cast<std::uint32_t>(in[j].index);
                if (!index_high_.empty()) index_high_[j] = static_cast<std::uint32_t>(in[j].index >> 32);
            }
        },
        copy_piece);
    for (std::size_t k = 0; k < nan_items.size(); ++k) {
        const std::size_t j = searched_ + k;
        const Item& item = nan_items[k];
        points_[j] = {item.c[0], item.c[1], item.c[2]};
        index_low_[j] = static_cast<std::uint32_t>(item.index);
        if (!index_high_.empty()) index_high_[j] = static_cast<std::uint32_t>(item.index >> 32);
    }
}

// Moves the fitted cylinders into cylinders_, numbering them in node order.
void KdTree::keep_cylinders(const Cylinder* fitted) {
    std::size_t count = 0;
    for (std::size_t k = 0; k < 2 * nodes_.size(); ++k) count += std::isnan(fitted[k].radius) ? 0 : 1;
    cylinders_.resize(count);
    std::size_t next = 0;
    for (std::size_t node = 0; node < nodes_.size(); ++node) {
        for (int side = 0; side < 2; ++side) {
            const Cylinder& c = fitted[2 * node + side];
            if (std::isnan(c.radius)) {
                nodes_[node].cylinder[side] = 0;
            } else {
                cylinders_[next] = c;
                nodes_[node].cylinder[side] = ++next;
            }
        }
    }
}

std::vector<Vec3d> KdTree::original_points() const {
    std::vector<Vec3d> out(points_.size());
    Vec3d* o = out.data();
    pool::for_each_range(
        points_.size(), [this, o](std::size_t lo, std::size_t hi) {
            for (std::size_t j = lo; j < hi; ++j) o[index_at(j)] = points_[j];
        },
        copy_piece);
    return out;
}

}  // namespace lumeric::spatial
