// batch/steps.cpp: the batch operations of VecList that are more than one kernel run.
#include "batch/steps.hpp"

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

#include <tovrin/format.hpp>

#include "batch/voxels.hpp"
#include "frame/errors.hpp"

namespace lumeric::batch {

namespace {

// Minimum pieces of the steps below, chosen as the kernels' costs are (see Cost).
constexpr std::size_t search_piece = 32768;  // nearest-element search: ~0.5 ns
constexpr std::size_t text_piece = 128;      // float-to-text formatting: ~250 ns

// A new element array of at least this size is written around the caches: it cannot stay
// in them anyway (each core has 2 MiB of its own), and reading its lines in first would
// only add memory traffic.
constexpr std::size_t stream_from = std::size_t{16} << 20;

using kernels::Nearest;

// Keeps the left operand on equal ranks, so pieces combined left before right give the
// lowest index among equal keys.
constexpr auto nearer = [](Nearest left, Nearest right) noexcept { return right.rank < left.rank ? right : left; };

// The nearest among `count` samples first, first + step, ..., searched on the pool.
std::optional<Nearest> nearest(const VecListData& list, const Vec3d& other, std::size_t first, std::size_t step,
                               std::size_t count) {
    kernels::Elements items = list.items;
    auto piece = [items, other, first, step](std::size_t lo, std::size_t hi) {
        return kernels::nearest(items, other, {first, step, lo, hi});
    };
    return pool::reduce_ranges(count, piece, nearer, search_piece);
}

}  // namespace

VecListData Output<kernels::NewVectors>::make(std::size_t n) {
    if (n > Vectors().max_size()) {
        PyErr_NoMemory();
        throw PythonError{};
    }
    return {Vectors(n)};
}

kernels::NewVectors Output<kernels::NewVectors>::where(VecListData& list) noexcept {
    const bool large = list.items.size() * sizeof(Vec3d) >= stream_from;
    return {list.items, large ? kernels::Store::streamed : kernels::Store::cached};
}

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
            tovrin::append_vec3d(out, items[k]);
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

VecListData collapse(const VecListData& list, Index axis) {
    if (axis.value > 2) throw Panic{"assertion failed: axis <= 2"};
    return each<&kernels::collapse, light>(list, axis.value);
}

namespace {

// Each element replaced by Kernel(element, argument), piece by piece on the pool.
template <auto Kernel, class A>
void each_in_place(VecListData& list, const A& argument) {
    std::span<Vec3d> items = list.items;
    pool::for_each_range(
        items.size(), [items, argument](std::size_t lo, std::size_t hi) {
            Kernel(items.subspan(lo, hi - lo), argument);
        },
        static_cast<std::size_t>(heavy));
}

}  // namespace

void rotate(VecListData& list, const tovrin::Quat& quat) { each_in_place<&kernels::rotate_in_place>(list, quat); }

void transform(VecListData& list, const tovrin::Transform& t) {
    each_in_place<&kernels::transform_in_place>(list, t);
}

void wrong_quaternion_count(std::size_t got, std::size_t expected) {
    PyErr_Format(PyExc_ValueError, "rotate_each() expects one quaternion per vector: got %zu for a list of %zu", got,
                 expected);
    throw PythonError{};
}

void rotate_each(VecListData& list, const PackedValues<tovrin::Quat>& values) {
    std::span<Vec3d> items = list.items;
    if (values.size() != items.size()) wrong_quaternion_count(values.size(), items.size());
    pool::for_each_range(
        items.size(), [items, &values](std::size_t lo, std::size_t hi) {
            kernels::rotate_each_in_place(items.subspan(lo, hi - lo), values.bytes(lo, hi - lo));
        },
        static_cast<std::size_t>(heavy));
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

VoxelAnswer voxel_down_sample(const VecListData& list, double size,
                              KeywordOnly<Defaulted<StrictBool, false>> return_inverse) {
    if (!(std::isfinite(size) && size > 0)) {
        PyErr_Format(PyExc_ValueError, "voxel_down_sample() size must be finite and above 0, got %s",
                     float_text(size).c_str());
        throw PythonError{};
    }
    const std::span<const Vec3d> points = list.items;
    std::variant<voxels::Grid, voxels::TooFine> planned = voxels::grid(points, size);
    if (const auto* refused = std::get_if<voxels::TooFine>(&planned)) {
        PyErr_Format(PyExc_ValueError,
                     "voxel_down_sample() size %s is too small for the cloud's extent %s: a voxel index would "
                     "exceed 2**62",
                     float_text(size).c_str(), float_text(refused->extent).c_str());
        throw PythonError{};
    }
    const voxels::Grid& grid = std::get<voxels::Grid>(planned);
    VecListData means = Output<kernels::NewVectors>::make(grid.voxels());
    voxels::means(grid, points, means.items);
    if (!return_inverse.value) return means;
    ResultView<std::int64_t> inverse(points.size(), 0);
    voxels::inverse(grid, {inverse.data(), points.size()});
    return std::pair<VecListData, ResultView<std::int64_t>>(std::move(means), std::move(inverse));
}

VecListData take(const VecListData& list, IndexSource source) {
    const IndexTable indices(source, "take()");
    const std::size_t m = indices.size();
    VecListData rows = Output<kernels::NewVectors>::make(m);
    const kernels::Elements items = list.items;
    const std::span<Vec3d> out = rows.items;
    constexpr std::size_t none = static_cast<std::size_t>(-1);
    // Each piece gives the position of its first index out of range (none if it has none);
    // the lowest of them is the one named.
    auto piece = [&](std::size_t lo, std::size_t hi) {
        if (const std::int64_t* packed = indices.contiguous()) {
            const std::size_t bad = kernels::take(items, {packed + lo, hi - lo}, out.subspan(lo, hi - lo));
            return bad < hi - lo ? lo + bad : none;
        }
        constexpr std::size_t chunk = 512;
        std::int64_t gathered[chunk];
        for (std::size_t start = lo; start < hi; start += chunk) {
            const std::size_t count = std::min(chunk, hi - start);
            indices.read(gathered, start, start + count);
            const std::size_t bad = kernels::take(items, {gathered, count}, out.subspan(start, count));
            if (bad < count) return start + bad;
        }
        return none;
    };
    auto first = [](std::size_t left, std::size_t right) { return std::min(left, right); };
    const std::size_t bad = pool::reduce_ranges(m, piece, first, static_cast<std::size_t>(light)).value_or(none);
    if (bad != none) {
        PyErr_Format(PyExc_IndexError, "take() index %s is out of range for a VecList of length %zu",
                     indices.text(bad).c_str(), items.size());
        throw PythonError{};
    }
    return rows;
}

}  // namespace lumeric::batch
