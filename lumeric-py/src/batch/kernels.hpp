// batch/kernels.hpp: the per-piece loops of the batch operations, plain C++ over spans of
// vectors.
//
// Every kernel reads the elements `in` and writes result k at out[k]; its arguments come
// after the two, in the operation's own order: kernel(in, out, args...). The pool calls it
// once per piece. The loops are compiled for several instruction sets and the best one the
// processor has is chosen when the module loads: they vectorise across elements, and since
// every lane performs the same correctly rounded operations in the same order (no
// contraction into fused multiply-adds), each result equals the core operation on its
// element alone, bit for bit, whichever version runs.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>

#include <tovrin/quat.hpp>
#include <tovrin/rank.hpp>
#include <tovrin/transform.hpp>
#include <tovrin/vec3d.hpp>

namespace lumeric::kernels {

using tovrin::Quat;
using tovrin::Vec3d;

using Elements = std::span<const Vec3d>;

// How a kernel writes a new vector array: through the caches, or, for an array far larger
// than they are, around them (no cache line is read in just to be overwritten, which
// saves a third of the memory traffic and lets two threads scale).
enum class Store : bool { cached, streamed };

// Where a kernel writes new vectors, and how.
struct NewVectors {
    std::span<Vec3d> items;
    Store store;
    NewVectors subspan(std::size_t offset, std::size_t count) const noexcept {
        return {items.subspan(offset, count), store};
    }
};

// A true-or-false result as wide as a pointer: 1 or 0.
using Flags = std::span<std::uintptr_t>;

void add(Elements in, NewVectors out, Vec3d other) noexcept;
void subtract(Elements in, NewVectors out, Vec3d other) noexcept;
void scale(Elements in, NewVectors out, double factor) noexcept;
void divide(Elements in, NewVectors out, double divisor) noexcept;
void cross(Elements in, NewVectors out, Vec3d other) noexcept;
void normalize(Elements in, NewVectors out) noexcept;
// Coordinate `axis` (0, 1 or 2) set to +0.0.
void collapse(Elements in, NewVectors out, std::size_t axis) noexcept;
// The vectors whose raw doubles `in` holds, at any alignment.
void copy(std::span<const unsigned char> in, NewVectors out) noexcept;

void dot(Elements in, std::span<double> out, Vec3d other) noexcept;
void magnitude(Elements in, std::span<double> out) noexcept;
void distance_to(Elements in, std::span<double> out, Vec3d other) noexcept;
void distance_squared(Elements in, std::span<double> out, Vec3d other) noexcept;
void is_unit(Elements in, Flags out) noexcept;

// Rows items[indices[k]] into out[k] in order, up to the first index outside [0, items.size()):
// its position, or indices.size() when every index is in range and every row written.
std::size_t take(Elements items, std::span<const std::int64_t> indices, std::span<Vec3d> out) noexcept;

// Each element replaced by its rotation.
void rotate_in_place(std::span<Vec3d> items, Quat quat) noexcept;
// Each element p replaced by t.rotation.rotate(p) + t.translation.
void transform_in_place(std::span<Vec3d> items, tovrin::Transform t) noexcept;
// Element k replaced by its rotation by the quaternion whose four raw native doubles
// (w, i, j, k; any alignment) are quats[32k, 32k + 32).
void rotate_each_in_place(std::span<Vec3d> items, std::span<const unsigned char> quats) noexcept;

// -- Nearest-element search --

// A candidate: its key's rank (see rank_of) and its index in the whole list.
struct Nearest {
    std::int64_t rank;
    std::size_t index;
};

// Keys rank as tovrin::rank_of ranks them.
using tovrin::rank_of;

// Sample positions [lo, hi) (hi > lo) of a list, position p being index first + p * step.
struct Samples {
    std::size_t first, step, lo, hi;
};

// The sample with the lowest rank of squared distance to `other`; the earliest among
// equal ranks.
Nearest nearest(Elements items, Vec3d other, Samples samples) noexcept;

}  // namespace lumeric::kernels
