// batch/steps.hpp: the batch operations of VecList.
//
// Each one applies a core operation to every element on the worker pool and writes
// result k at index k, so results come out in element order however the work was cut,
// and each equals, bit for bit, the core operation on that element alone. Workers see
// only the element array and copied argument values; Python objects are made from the
// finished result by the caller.
//
// Most operations are a kernel run over the pieces of the list: `each<&kernels::dot,
// light>` is the step list.dot(other), its result a list of floats, vectors or flags as
// the kernel writes them. The others are written out below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <variant>

#include <tovrin/quat.hpp>
#include <tovrin/transform.hpp>
#include <tovrin/vec3d.hpp>

#include "batch/elements.hpp"
#include "batch/kernels.hpp"
#include "batch/result_lists.hpp"
#include "frame/result_view.hpp"
#include "frame/convert.hpp"
#include "frame/rows.hpp"
#include "pool/pool.hpp"

namespace lumeric::batch {

using tovrin::Vec3d;

// The pool does not cut a piece shorter than twice its minimum piece, so a batch below
// that runs on the calling thread. Handing a batch to the pool and waking a worker costs
// about 4 us; the minimum pieces make the work of an uncut piece about ten times that,
// for each kind of per-element cost of the vectorised kernels (one thread, data in cache):
enum class Cost : std::size_t {
    light = 32768,  // additions, products, copies: ~0.2-0.5 ns, or memory speed
    heavy = 8192,   // square roots, divisions, rotations: ~1-3 ns
};
using enum Cost;

// What a kernel's output becomes: make(n) gives the result, where(result) the place the
// kernel writes it.
template <class Out>
struct Output;

// Every new element array, a batch result, `from_array`'s or a pickle load's, is made here and
// written as `where` says.
template <>
struct Output<kernels::NewVectors> {
    using Result = VecListData;
    // n unwritten elements; MemoryError for a count no array can hold.
    static Result make(std::size_t n);
    // Where and how its writers store the elements: through the caches, or around them for an
    // array far larger than they are.
    static kernels::NewVectors where(Result& list) noexcept;
};

template <class E, class Slots>
struct ListOutput {
    using Result = ResultList<E>;
    static Result make(std::size_t n) { return Result(n); }
    static Slots where(Result& array) noexcept { return {array.data(), array.size()}; }
};
template <>
struct Output<std::span<double>> : ListOutput<double, std::span<double>> {};
template <>
struct Output<kernels::Flags> : ListOutput<bool, kernels::Flags> {};

// Kernel(in, out, args...) over the pieces of the list.
template <auto Kernel, class Out, class... A>
void run_pieces(kernels::Elements in, Out out, Cost cost, const A&... args) {
    auto piece = [&](std::size_t lo, std::size_t hi) {
        Kernel(in.subspan(lo, hi - lo), out.subspan(lo, hi - lo), args...);
    };
    pool::for_each_range(in.size(), piece, static_cast<std::size_t>(cost));
}

template <auto Kernel, Cost C>
struct Each;
template <class Out, class... A, void (*Kernel)(kernels::Elements, Out, A...) noexcept, Cost C>
struct Each<Kernel, C> {
    static typename Output<Out>::Result step(const VecListData& list, A... args) {
        auto result = Output<Out>::make(list.items.size());
        run_pieces<Kernel>(list.items, Output<Out>::where(result), C, args...);
        return result;
    }
};

// The step that runs Kernel over every element of the list; C is the kernel's cost.
template <auto Kernel, Cost C>
inline constexpr auto each = &Each<Kernel, C>::step;

// -- Steps of their own --

// The list made from collected elements (takes them over).
VecListData from_items(Vectors& items);
// "[Vec3d(..)\nVec3d(..)]": element texts joined by line feeds.
std::string repr(const VecListData& list);
// [[x, y, z], ...], made straight from the elements.
MappedSpan<Vec3d, &Vec3d::to_array> to_array(const VecListData& list);

// Each element with coordinate `axis` (0 x, 1 y, 2 z) set to +0.0.
VecListData collapse(const VecListData& list, Index axis);

// Replaces every element by its rotation, in place: no element's rotation can fail, and
// the exclusive borrow keeps everyone else from seeing the list meanwhile, so the result
// is the same as rotating into a new array and swapping it in.
void rotate(VecListData& list, const tovrin::Quat& quat);

// Every element p replaced by t.apply(p), in place as `rotate`.
void transform(VecListData& list, const tovrin::Transform& t);

// Element k replaced by its rotation by quaternion k, in place as `rotate`. The quaternions
// were read before anything changes (by the class unit, which knows their class): n of them,
// n the list's length; the reader refuses another count with wrong_quaternion_count.
void rotate_each(VecListData& list, const PackedValues<tovrin::Quat>& quats);
// ValueError naming both lengths; throws PythonError.
[[noreturn]] void wrong_quaternion_count(std::size_t got, std::size_t expected);

// (index, distance) of the element nearest to `other` within a window around the best
// of every `stride`-th element. Keys are squared distances ranked exactly, every NaN
// above every number; equal keys go to the lower index.
std::pair<std::uint64_t, double> minimum_distance_to(const VecListData& list, const Vec3d& other, Index stride);

// One point per occupied voxel of side `size` (batch/voxels.hpp): the mean of its points, in
// voxel order; with return_inverse also each point's output row, -1 for the points left out
// (a coordinate not finite). ValueError for a size that is not finite and above 0, or so small
// that a voxel index would exceed 2**62.
using VoxelAnswer = std::variant<VecListData, std::pair<VecListData, ResultView<std::int64_t>>>;
VoxelAnswer voxel_down_sample(const VecListData& list, double size,
                              KeywordOnly<Defaulted<StrictBool, false>> return_inverse);

// The rows at `indices`, in their order, repeats allowed; IndexError naming the first index
// outside [0, n), negative ones included.
VecListData take(const VecListData& list, IndexSource indices);

}  // namespace lumeric::batch
