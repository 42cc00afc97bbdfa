// vec_list_kernels.cpp: the per-range loops of VecList's batch operations.
//
// `restrict` tells the compiler that input and output never overlap, which is what lets
// it vectorise across elements without run-time overlap checks.
#include "vec_list_kernels.hpp"

#if defined(__x86_64__) && defined(__GNUC__) && !defined(LUMERIC_NO_CLONES)
// One version per instruction-set level, picked once at load time by the dynamic linker.
#define KERNEL [[gnu::target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")]]
#else
#define KERNEL
#endif

namespace lumeric::kernels {

KERNEL void add(const Vec3d* __restrict in, Vec3d* __restrict out, std::size_t n, Vec3d other) noexcept {
    for (std::size_t k = 0; k < n; ++k) out[k] = in[k] + other;
}

KERNEL void subtract(const Vec3d* __restrict in, Vec3d* __restrict out, std::size_t n, Vec3d other) noexcept {
    for (std::size_t k = 0; k < n; ++k) out[k] = in[k] - other;
}

KERNEL void scale(const Vec3d* __restrict in, Vec3d* __restrict out, std::size_t n, double factor) noexcept {
    for (std::size_t k = 0; k < n; ++k) out[k] = in[k] * factor;
}

KERNEL void divide(const Vec3d* __restrict in, Vec3d* __restrict out, std::size_t n, double divisor) noexcept {
    for (std::size_t k = 0; k < n; ++k) out[k] = in[k] / divisor;
}

KERNEL void cross(const Vec3d* __restrict in, Vec3d* __restrict out, std::size_t n, Vec3d other) noexcept {
    for (std::size_t k = 0; k < n; ++k) out[k] = in[k].cross(other);
}

KERNEL void normalize(const Vec3d* __restrict in, Vec3d* __restrict out, std::size_t n) noexcept {
    for (std::size_t k = 0; k < n; ++k) out[k] = in[k].normalize();
}

KERNEL void collapse(const Vec3d* __restrict in, Vec3d* __restrict out, std::size_t n, std::size_t axis) noexcept {
    // One loop per axis, so that each is a plain copy with one lane blended to zero.
    if (axis == 0) {
        for (std::size_t k = 0; k < n; ++k) out[k] = {0.0, in[k].y, in[k].z};
    } else if (axis == 1) {
        for (std::size_t k = 0; k < n; ++k) out[k] = {in[k].x, 0.0, in[k].z};
    } else {
        for (std::size_t k = 0; k < n; ++k) out[k] = {in[k].x, in[k].y, 0.0};
    }
}

KERNEL void rotate_in_place(Vec3d* __restrict items, std::size_t n, Quat quat) noexcept {
    for (std::size_t k = 0; k < n; ++k) items[k] = quat.rotate(items[k]);
}

KERNEL void dot(const Vec3d* __restrict in, double* __restrict out, std::size_t n, Vec3d other) noexcept {
    for (std::size_t k = 0; k < n; ++k) out[k] = in[k].dot(other);
}

KERNEL void magnitude(const Vec3d* __restrict in, double* __restrict out, std::size_t n) noexcept {
    for (std::size_t k = 0; k < n; ++k) out[k] = in[k].magnitude();
}

KERNEL void distance_to(const Vec3d* __restrict in, double* __restrict out, std::size_t n, Vec3d other) noexcept {
    for (std::size_t k = 0; k < n; ++k) out[k] = in[k].distance_to(other);
}

KERNEL void distance_squared(const Vec3d* __restrict in, double* __restrict out, std::size_t n,
                             Vec3d other) noexcept {
    for (std::size_t k = 0; k < n; ++k) out[k] = in[k].distance_squared(other);
}

KERNEL void is_unit(const Vec3d* __restrict in, std::uintptr_t* __restrict out, std::size_t n) noexcept {
    for (std::size_t k = 0; k < n; ++k) out[k] = in[k].is_unit() ? 1 : 0;
}

namespace {

// The ranks of a block of samples, then their minimum: both loops vectorise, and the
// block is searched element by element only when it holds a new best, which for most
// data happens a few dozen times in a whole list.
constexpr std::size_t rank_block = 256;

template <std::size_t Step>
[[gnu::always_inline]] inline void scan_samples(const Vec3d* __restrict items, Vec3d other, std::size_t first,
                                                std::size_t step, std::size_t lo, std::size_t hi, Nearest& best) {
    const std::size_t stride = Step != 0 ? Step : step;
    std::int64_t ranks[rank_block];
    for (std::size_t start = lo; start < hi; start += rank_block) {
        const std::size_t count = hi - start < rank_block ? hi - start : rank_block;
        const Vec3d* base = items + first + start * stride;
        for (std::size_t j = 0; j < count; ++j) ranks[j] = rank_of(base[j * stride].distance_squared(other));
        std::int64_t least = std::numeric_limits<std::int64_t>::max();
        for (std::size_t j = 0; j < count; ++j) least = ranks[j] < least ? ranks[j] : least;
        if (least < best.rank) {
            std::size_t j = 0;
            while (ranks[j] != least) ++j;
            best = {least, first + (start + j) * stride};
        }
    }
}

}  // namespace

KERNEL Nearest nearest(const Vec3d* __restrict items, Vec3d other, std::size_t first, std::size_t step,
                       std::size_t lo, std::size_t hi) noexcept {
    // The first sample is the candidate to beat, whatever its rank (all NaN keys give it).
    Nearest best{rank_of(items[first + lo * step].distance_squared(other)), first + lo * step};
    if (step == 1)
        scan_samples<1>(items, other, first, step, lo + 1, hi, best);
    else
        scan_samples<0>(items, other, first, step, lo + 1, hi, best);
    return best;
}

}  // namespace lumeric::kernels
