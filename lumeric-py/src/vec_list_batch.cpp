// vec_list_batch.cpp: the batch operations of VecList on the worker pool.
#include "vec_list_batch.hpp"

#include <bit>
#include <cmath>
#include <limits>
#include <optional>

#include "frame/errors.hpp"
#include "pool/pool.hpp"
#include "vec3d.hpp"

namespace lumeric::batch {

namespace {

// The pool does not cut a piece shorter than twice its minimum piece, so a batch below
// that runs on the calling thread. Handing a batch to the pool and waking a worker costs
// about 4 us; the minimum pieces make the work of an uncut piece about ten times that,
// for each kind of per-element cost (measured on lists of 1e3 to 1e6 elements):
constexpr std::size_t light_piece = 32768;  // a few additions or products, ~0.5 ns
constexpr std::size_t heavy_piece = 4096;   // square roots and divisions, ~4.5 ns
constexpr std::size_t search_piece = 16384; // nearest-element search, ~1.7 ns
constexpr std::size_t text_piece = 128;     // float-to-text formatting, ~250 ns

// Ordered map of every element into an array of the list's length.
template <class Out, class F>
void map_elements(const VecListData& list, Out* out, std::size_t min_piece, F per_element) {
    const Vec3d* items = list.items.data();
    pool::map_into(list.items.size(), out, [items, &per_element](std::size_t k) { return per_element(items[k]); },
                   min_piece);
}

template <class R, class F>
ResultArray<R> map_to_array(const VecListData& list, std::size_t min_piece, F per_element) {
    ResultArray<R> out(list.items.size());
    map_elements(list, out.data(), min_piece, per_element);
    return out;
}

template <class F>
VecListData map_to_list(const VecListData& list, std::size_t min_piece, F per_element) {
    VecListData out{Vectors(list.items.size())};
    map_elements(list, out.items.data(), min_piece, per_element);
    return out;
}

// The best candidate of a range in the nearest-element search.
struct Nearest {
    std::int64_t rank;  // orders the keys; see rank_of
    std::size_t index;  // into the whole list
};

// Exact order of the keys as signed integers: the bit pattern, with the 63 low bits
// flipped for negative values (so -0.0 ranks below +0.0). Every NaN ranks above +inf
// whatever its sign bit: a NaN produced by inf - inf has it set, and must not win.
std::int64_t rank_of(double key) noexcept {
    auto bits = std::bit_cast<std::int64_t>(key);
    bits ^= static_cast<std::int64_t>(static_cast<std::uint64_t>(bits >> 63) >> 1);
    return std::isnan(key) ? std::numeric_limits<std::int64_t>::max() : bits;
}

// Keeps the left operand on equal ranks, so pieces combined left before right give the
// lowest index among equal keys.
constexpr auto nearer = [](Nearest left, Nearest right) noexcept { return right.rank < left.rank ? right : left; };

// The nearest of the elements at sample positions [lo, hi), position p being index
// first + p * step. A strict `<` keeps the earliest of equal keys.
Nearest scan(const Vec3d* items, const Vec3d& other, std::size_t first, std::size_t step, std::size_t lo,
             std::size_t hi) noexcept {
    Nearest best{rank_of(items[first + lo * step].distance_squared(other)), first + lo * step};
    for (std::size_t p = lo + 1; p < hi; ++p) {
        std::size_t k = first + p * step;
        std::int64_t rank = rank_of(items[k].distance_squared(other));
        if (rank < best.rank) best = {rank, k};
    }
    return best;
}

// The nearest among `count` samples first, first + step, ..., searched on the pool.
std::optional<Nearest> nearest(const VecListData& list, const Vec3d& other, std::size_t first, std::size_t step,
                               std::size_t count) {
    const Vec3d* items = list.items.data();
    auto piece = [items, &other, first, step](std::size_t lo, std::size_t hi) {
        return scan(items, other, first, step, lo, hi);
    };
    return pool::Pool::global().reduce_ranges(count, piece, nearer, search_piece);
}

}  // namespace

VecListData from_items(Vectors& items) {
    // Construction is a batch step like the others: the first one creates the pool. The
    // collected array is taken over as it is; copying it again would only cost time.
    pool::worker_count();
    return {std::move(items)};
}

std::string repr(const VecListData& list) {
    const std::size_t n = list.items.size();
    const Vec3d* items = list.items.data();
    // Each piece writes its elements' texts into one string, with the line feed before
    // every element but the first; the pieces are joined once, in order, at the end
    // (joining pairwise up the tree would copy the text once per level).
    auto piece = [items](std::size_t lo, std::size_t hi) {
        std::vector<std::string> texts(1);
        std::string& out = texts.front();
        out.reserve((hi - lo) * 48);
        for (std::size_t k = lo; k < hi; ++k) {
            if (k != 0) out += '\n';
            append_repr(out, items[k]);
        }
        return texts;
    };
    auto join = [](std::vector<std::string> left, std::vector<std::string> right) {
        for (std::string& text : right) left.push_back(std::move(text));
        return left;
    };
    std::vector<std::string> texts = pool::Pool::global().reduce_ranges(n, piece, join, text_piece).value_or(
        std::vector<std::string>{});
    std::size_t size = 2;
    for (const std::string& text : texts) size += text.size();
    std::string out;
    out.reserve(size);
    out += '[';
    for (const std::string& text : texts) out += text;
    out += ']';
    return out;
}

ResultArray<std::array<double, 3>> to_array(const VecListData& list) {
    return map_to_array<std::array<double, 3>>(list, light_piece, [](const Vec3d& e) { return e.to_array(); });
}

ResultArray<double> dot(const VecListData& list, const Vec3d& other) {
    return map_to_array<double>(list, light_piece, [other](const Vec3d& e) { return e.dot(other); });
}

VecListData cross(const VecListData& list, const Vec3d& other) {
    return map_to_list(list, light_piece, [other](const Vec3d& e) { return e.cross(other); });
}

ResultArray<double> magnitude(const VecListData& list) {
    return map_to_array<double>(list, heavy_piece, [](const Vec3d& e) { return e.magnitude(); });
}

VecListData normalize(const VecListData& list) {
    return map_to_list(list, heavy_piece, [](const Vec3d& e) { return e.normalize(); });
}

ResultArray<bool> is_unit(const VecListData& list) {
    return map_to_array<bool>(list, heavy_piece, [](const Vec3d& e) { return e.is_unit(); });
}

ResultArray<double> distance_to(const VecListData& list, const Vec3d& other) {
    return map_to_array<double>(list, heavy_piece, [other](const Vec3d& e) { return e.distance_to(other); });
}

ResultArray<double> distance_squared(const VecListData& list, const Vec3d& other) {
    return map_to_array<double>(list, light_piece, [other](const Vec3d& e) { return e.distance_squared(other); });
}

VecListData collapse(const VecListData& list, Index axis) {
    if (axis.value > 2) throw Panic{"assertion failed: axis <= 2"};
    const std::size_t a = axis.value;
    return map_to_list(list, light_piece, [a](const Vec3d& e) {
        Vec3d out = e;
        (a == 0 ? out.x : a == 1 ? out.y : out.z) = 0.0;
        return out;
    });
}

VecListData add(const VecListData& list, const Vec3d& other) {
    return map_to_list(list, light_piece, [other](const Vec3d& e) { return e + other; });
}

VecListData subtract(const VecListData& list, const Vec3d& other) {
    return map_to_list(list, light_piece, [other](const Vec3d& e) { return e - other; });
}

VecListData scale(const VecListData& list, double factor) {
    return map_to_list(list, light_piece, [factor](const Vec3d& e) { return e * factor; });
}

VecListData divide(const VecListData& list, double divisor) {
    return map_to_list(list, heavy_piece, [divisor](const Vec3d& e) { return e / divisor; });
}

void rotate(VecListData& list, const tovrin::Quat& quat) {
    VecListData rotated = map_to_list(list, heavy_piece, [quat](const Vec3d& e) { return quat.rotate(e); });
    list.items.swap(rotated.items);
}

std::pair<std::uint64_t, double> minimum_distance_to(const VecListData& list, const Vec3d& other, Index stride) {
    if (stride.value == 0) throw Panic{"assertion failed: stride != 0"};
    const std::size_t n = list.items.size();
    const std::size_t s = stride.value;

    // Coarse pass over indices 0, s, 2s, ... below n.
    std::optional<Nearest> coarse = nearest(list, other, 0, s, n / s + (n % s != 0 ? 1 : 0));
    if (!coarse) raise(PyExc_ValueError, "minimum_distance_to() on an empty VecList");

    // Refining pass over [i - s, i + s), clipped to the list; it always holds i.
    const std::size_t i = coarse->index;
    const std::size_t start = i >= s ? i - s : 0;
    const std::size_t end = n - i > s ? i + s : n;
    const std::size_t best = nearest(list, other, start, 1, end - start)->index;
    return {best, std::sqrt(list.items[best].distance_squared(other))};
}

}  // namespace lumeric::batch
