// vec_list_batch.cpp: the batch operations of VecList on the worker pool.
#include "vec_list_batch.hpp"

#include <cmath>
#include <optional>

#include "frame/errors.hpp"
#include "pool/pool.hpp"
#include "vec3d.hpp"
#include "vec_list_kernels.hpp"

namespace lumeric::batch {

namespace {

// The pool does not cut a piece shorter than twice its minimum piece, so a batch below
// that runs on the calling thread. Handing a batch to the pool and waking a worker costs
// about 4 us; the minimum pieces make the work of an uncut piece about ten times that,
// for each kind of per-element cost of the vectorised kernels (one thread, data in cache):
constexpr std::size_t light_piece = 32768;  // additions, products, copies: ~0.2-0.5 ns, or memory speed
constexpr std::size_t heavy_piece = 8192;   // square roots, divisions, rotations: ~1-3 ns
constexpr std::size_t search_piece = 32768; // nearest-element search: ~0.5 ns
constexpr std::size_t text_piece = 128;     // float-to-text formatting: ~250 ns

// Runs kernel(in, out, count) over the pieces of the list: element k's result at out[k].
template <class Out, class Kernel>
void map_ranges(const VecListData& list, Out* out, std::size_t min_piece, Kernel kernel) {
    const Vec3d* items = list.items.data();
    auto piece = [items, out, &kernel](std::size_t lo, std::size_t hi) { kernel(items + lo, out + lo, hi - lo); };
    pool::for_each_range(list.items.size(), piece, min_piece);
}

template <class R, class Kernel>
ResultArray<R> map_to_array(const VecListData& list, std::size_t min_piece, Kernel kernel) {
    ResultArray<R> out(list.items.size());
    map_ranges(list, out.data(), min_piece, kernel);
    return out;
}

// A new element array of at least this size is written around the caches: it cannot stay
// in them anyway (each core has 2 MiB of its own), and reading its lines in first would
// only add memory traffic.
constexpr std::size_t stream_from = std::size_t{16} << 20;

// kernel(in, out, count, store) over the pieces, into a new list.
template <class Kernel>
VecListData map_to_list(const VecListData& list, std::size_t min_piece, Kernel kernel) {
    const std::size_t n = list.items.size();
    VecListData out{Vectors(n)};
    const auto store = n * sizeof(Vec3d) >= stream_from ? kernels::Store::streamed : kernels::Store::cached;
    map_ranges(list, out.items.data(), min_piece,
               [&kernel, store](const Vec3d* in, Vec3d* to, std::size_t count) { kernel(in, to, count, store); });
    return out;
}

using kernels::Nearest;

// Keeps the left operand on equal ranks, so pieces combined left before right give the
// lowest index among equal keys.
constexpr auto nearer = [](Nearest left, Nearest right) noexcept { return right.rank < left.rank ? right : left; };

// The nearest among `count` samples first, first + step, ..., searched on the pool.
std::optional<Nearest> nearest(const VecListData& list, const Vec3d& other, std::size_t first, std::size_t step,
                               std::size_t count) {
    const Vec3d* items = list.items.data();
    auto piece = [items, other, first, step](std::size_t lo, std::size_t hi) {
        return kernels::nearest(items, other, first, step, lo, hi);
    };
    return pool::reduce_ranges(count, piece, nearer, search_piece);
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
    std::vector<std::string> texts = pool::reduce_ranges(n, piece, join, text_piece).value_or(
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

MappedSpan<Vec3d, &Vec3d::to_array> to_array(const VecListData& list) {
    // A batch step like the others (the first one creates the pool), but the rows are made
    // straight from the elements: a parallel copy first would only add a pass over memory.
    pool::worker_count();
    return {list.items};
}

// The kernels take their argument by value: each piece reads its own copy.
ResultArray<double> dot(const VecListData& list, const Vec3d& other) {
    return map_to_array<double>(list, light_piece, [other](const Vec3d* in, double* out, std::size_t n) {
        kernels::dot(in, out, n, other);
    });
}

VecListData cross(const VecListData& list, const Vec3d& other) {
    return map_to_list(list, light_piece, [other](const Vec3d* in, Vec3d* out, std::size_t n, kernels::Store store) {
        kernels::cross(in, out, n, other, store);
    });
}

ResultArray<double> magnitude(const VecListData& list) {
    return map_to_array<double>(list, heavy_piece, kernels::magnitude);
}

VecListData normalize(const VecListData& list) { return map_to_list(list, heavy_piece, kernels::normalize); }

ResultArray<bool> is_unit(const VecListData& list) {
    return map_to_array<bool>(list, heavy_piece, kernels::is_unit);
}

ResultArray<double> distance_to(const VecListData& list, const Vec3d& other) {
    return map_to_array<double>(list, heavy_piece, [other](const Vec3d* in, double* out, std::size_t n) {
        kernels::distance_to(in, out, n, other);
    });
}

ResultArray<double> distance_squared(const VecListData& list, const Vec3d& other) {
    return map_to_array<double>(list, light_piece, [other](const Vec3d* in, double* out, std::size_t n) {
        kernels::distance_squared(in, out, n, other);
    });
}

VecListData collapse(const VecListData& list, Index axis) {
    if (axis.value > 2) throw Panic{"assertion failed: axis <= 2"};
    const std::size_t a = axis.value;
    return map_to_list(list, light_piece, [a](const Vec3d* in, Vec3d* out, std::size_t n, kernels::Store store) {
        kernels::collapse(in, out, n, a, store);
    });
}

VecListData add(const VecListData& list, const Vec3d& other) {
    return map_to_list(list, light_piece, [other](const Vec3d* in, Vec3d* out, std::size_t n, kernels::Store store) {
        kernels::add(in, out, n, other, store);
    });
}

VecListData subtract(const VecListData& list, const Vec3d& other) {
    return map_to_list(list, light_piece, [other](const Vec3d* in, Vec3d* out, std::size_t n, kernels::Store store) {
        kernels::subtract(in, out, n, other, store);
    });
}

VecListData scale(const VecListData& list, double factor) {
    return map_to_list(list, light_piece, [factor](const Vec3d* in, Vec3d* out, std::size_t n, kernels::Store store) {
        kernels::scale(in, out, n, factor, store);
    });
}

VecListData divide(const VecListData& list, double divisor) {
    return map_to_list(list, heavy_piece, [divisor](const Vec3d* in, Vec3d* out, std::size_t n, kernels::Store store) {
        kernels::divide(in, out, n, divisor, store);
    });
}

void rotate(VecListData& list, const tovrin::Quat& quat) {
    Vec3d* items = list.items.data();
    pool::for_each_range(
        list.items.size(),
        [items, quat](std::size_t lo, std::size_t hi) { kernels::rotate_in_place(items + lo, hi - lo, quat); },
        heavy_piece);
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
