// vec_list_kernels.hpp: the per-range loops of VecList's batch operations.
//
// Each kernel applies one core operation to the n elements at `in` (or in place at
// `items`) and writes result k at out[k]; the pool calls it once per piece. The loops are
// compiled for several instruction sets and the best one the processor has is chosen
// when the module loads: they vectorise across elements, and since every lane performs
// the same correctly rounded operations in the same order (no contraction into fused
// multiply-adds), each result equals the core operation on its element alone, bit for
// bit, whichever version runs.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <limits>

#include <tovrin/quat.hpp>
#include <tovrin/vec3d.hpp>

namespace lumeric::kernels {

using tovrin::Quat;
using tovrin::Vec3d;

// How a kernel writes a new vector array: through the caches, or, for an array far larger
// than they are, around them (no cache line is read in just to be overwritten, which
// saves a third of the memory traffic and lets two threads scale).
enum class Store : bool { cached, streamed };

void add(const Vec3d* in, Vec3d* out, std::size_t n, Vec3d other, Store store) noexcept;
void subtract(const Vec3d* in, Vec3d* out, std::size_t n, Vec3d other, Store store) noexcept;
void scale(const Vec3d* in, Vec3d* out, std::size_t n, double factor, Store store) noexcept;
void divide(const Vec3d* in, Vec3d* out, std::size_t n, double divisor, Store store) noexcept;
void cross(const Vec3d* in, Vec3d* out, std::size_t n, Vec3d other, Store store) noexcept;
void normalize(const Vec3d* in, Vec3d* out, std::size_t n, Store store) noexcept;
// Coordinate `axis` (0, 1 or 2) set to +0.0.
void collapse(const Vec3d* in, Vec3d* out, std::size_t n, std::size_t axis, Store store) noexcept;
void rotate_in_place(Vec3d* items, std::size_t n, Quat quat) noexcept;
// The raw doubles of `n` vectors, from `in` at any alignment.
void copy(const unsigned char* in, Vec3d* out, std::size_t n, Store store) noexcept;

void dot(const Vec3d* in, double* out, std::size_t n, Vec3d other) noexcept;
void magnitude(const Vec3d* in, double* out, std::size_t n) noexcept;
void distance_to(const Vec3d* in, double* out, std::size_t n, Vec3d other) noexcept;
void distance_squared(const Vec3d* in, double* out, std::size_t n, Vec3d other) noexcept;
// 1 for a unit vector, 0 otherwise.
void is_unit(const Vec3d* in, std::uintptr_t* out, std::size_t n) noexcept;

// -- Nearest-element search --

// A candidate: its key's rank (see rank_of) and its index in the whole list.
struct Nearest {
    std::int64_t rank;
    std::size_t index;
};

// Exact order of the keys as signed integers: the bit pattern, with the 63 low bits
// flipped for negative values (so -0.0 ranks below +0.0). Every NaN ranks above +inf
// whatever its sign bit: a NaN produced by inf - inf has it set, and must not win.
inline std::int64_t rank_of(double key) noexcept {
    auto bits = std::bit_cast<std::int64_t>(key);
    bits ^= static_cast<std::int64_t>(static_cast<std::uint64_t>(bits >> 63) >> 1);
    return key != key ? std::numeric_limits<std::int64_t>::max() : bits;
}

// The element with the lowest rank of squared distance to `other` among the sample
// positions [lo, hi) (hi > lo), position p being index first + p * step; the earliest
// among equal ranks.
Nearest nearest(const Vec3d* items, Vec3d other, std::size_t first, std::size_t step, std::size_t lo,
                std::size_t hi) noexcept;

}  // namespace lumeric::kernels
