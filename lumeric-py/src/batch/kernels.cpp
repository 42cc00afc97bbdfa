// batch/kernels.cpp: the per-piece loops of the batch operations.
//
// `restrict` tells the compiler that input and output never overlap, which is what lets
// it vectorise across elements without run-time overlap checks; each kernel hands its
// loop raw pointers for that reason.
//
// Outputs far larger than the caches are streamed: see Store in the header.
#include "batch/kernels.hpp"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#if defined(__x86_64__) && defined(__GNUC__) && !defined(LUMERIC_NO_CLONES)
// One version per instruction-set level, picked once at load time by the dynamic linker.
#define KERNEL [[gnu::target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")]]
#else
#define KERNEL
#endif

namespace lumeric::kernels {

namespace {

// `count` doubles from `src` to `dst` with non-temporal stores, which go to memory
// without first reading the destination's cache lines.
inline void stream(double* dst, const double* src, std::size_t count) noexcept {
#if defined(__SSE2__)
    std::size_t k = 0;
    if (reinterpret_cast<std::uintptr_t>(dst) % 16 != 0 && count > 0) {
        std::memcpy(dst, src, sizeof(double));
        k = 1;
    }
    for (; k + 2 <= count; k += 2) _mm_stream_pd(dst + k, _mm_loadu_pd(src + k));
    if (k < count) std::memcpy(dst + k, src + k, sizeof(double));
#else
    std::memcpy(dst, src, count * sizeof(double));
#endif
}

// Non-temporal stores are weakly ordered: they must be complete before the piece reports
// that it is done (the pool's release of the results does not order them).
inline void end_streaming() noexcept {
#if defined(__SSE2__)
    _mm_sfence();
#endif
}

// body(in, out, m) over all elements: straight into `out`, or chunk by chunk into a
// buffer that stays in the first-level cache and is then streamed out.
template <class Body>
[[gnu::always_inline]] inline void write_vectors(Elements elements, NewVectors to, Body body) {
    const Vec3d* in = elements.data();
    Vec3d* out = to.items.data();
    const std::size_t n = elements.size();
    if (to.store == Store::cached) {
        body(in, out, n);
        return;
    }
    constexpr std::size_t chunk = 256;  // 6 KiB
    alignas(64) Vec3d buffer[chunk];
    for (std::size_t start = 0; start < n; start += chunk) {
        const std::size_t m = n - start < chunk ? n - start : chunk;
        body(in + start, buffer, m);
        stream(reinterpret_cast<double*>(out + start), reinterpret_cast<const double*>(buffer), 3 * m);
    }
    end_streaming();
}

// body(in, out, n) on the raw arrays, which as its parameters may be marked `restrict`.
template <class Out, class Body>
[[gnu::always_inline]] inline void write_values(Elements in, std::span<Out> out, Body body) {
    body(in.data(), out.data(), in.size());
}

}  // namespace

// Each body loop is inlined into its kernel, so every version vectorises it for its own
// instruction set.
KERNEL void add(Elements in, NewVectors out, Vec3d other) noexcept {
    write_vectors(in, out, [other](const Vec3d* __restrict i, Vec3d* __restrict o, std::size_t m) {
        for (std::size_t k = 0; k < m; ++k) o[k] = i[k] + other;
    });
}

KERNEL void subtract(Elements in, NewVectors out, Vec3d other) noexcept {
    write_vectors(in, out, [other](const Vec3d* __restrict i, Vec3d* __restrict o, std::size_t m) {
        for (std::size_t k = 0; k < m; ++k) o[k] = i[k] - other;
    });
}

KERNEL void scale(Elements in, NewVectors out, double factor) noexcept {
    write_vectors(in, out, [factor](const Vec3d* __restrict i, Vec3d* __restrict o, std::size_t m) {
        for (std::size_t k = 0; k < m; ++k) o[k] = i[k] * factor;
    });
}

KERNEL void divide(Elements in, NewVectors out, double divisor) noexcept {
    write_vectors(in, out, [divisor](const Vec3d* __restrict i, Vec3d* __restrict o, std::size_t m) {
        for (std::size_t k = 0; k < m; ++k) o[k] = i[k] / divisor;
    });
}

KERNEL void cross(Elements in, NewVectors out, Vec3d other) noexcept {
    write_vectors(in, out, [other](const Vec3d* __restrict i, Vec3d* __restrict o, std::size_t m) {
        for (std::size_t k = 0; k < m; ++k) o[k] = i[k].cross(other);
    });
}

KERNEL void normalize(Elements in, NewVectors out) noexcept {
    write_vectors(in, out, [](const Vec3d* __restrict i, Vec3d* __restrict o, std::size_t m) {
        for (std::size_t k = 0; k < m; ++k) o[k] = i[k].normalize();
    });
}

KERNEL void collapse(Elements in, NewVectors out, std::size_t axis) noexcept {
    // One loop per axis, so that each is a plain copy with one lane blended to zero.
    write_vectors(in, out, [axis](const Vec3d* __restrict i, Vec3d* __restrict o, std::size_t m) {
        if (axis == 0) {
            for (std::size_t k = 0; k < m; ++k) o[k] = {0.0, i[k].y, i[k].z};
        } else if (axis == 1) {
            for (std::size_t k = 0; k < m; ++k) o[k] = {i[k].x, 0.0, i[k].z};
        } else {
            for (std::size_t k = 0; k < m; ++k) o[k] = {i[k].x, i[k].y, 0.0};
        }
    });
}

KERNEL void rotate_in_place(std::span<Vec3d> elements, Quat quat) noexcept {
    Vec3d* __restrict items = elements.data();
    const std::size_t n = elements.size();
    for (std::size_t k = 0; k < n; ++k) items[k] = quat.rotate(items[k]);
}

KERNEL void transform_in_place(std::span<Vec3d> elements, tovrin::Transform t) noexcept {
    Vec3d* __restrict items = elements.data();
    const std::size_t n = elements.size();
    for (std::size_t k = 0; k < n; ++k) items[k] = t.apply(items[k]);
}

KERNEL void rotate_each_in_place(std::span<Vec3d> elements, std::span<const unsigned char> quats) noexcept {
    Vec3d* __restrict items = elements.data();
    const unsigned char* __restrict raw = quats.data();
    const std::size_t n = elements.size();
    for (std::size_t k = 0; k < n; ++k) {
        Quat quat;
        std::memcpy(&quat, raw + k * sizeof(Quat), sizeof(Quat));
        items[k] = quat.rotate(items[k]);
    }
}

KERNEL void dot(Elements in, std::span<double> out, Vec3d other) noexcept {
    write_values(in, out, [other](const Vec3d* __restrict i, double* __restrict o, std::size_t n) {
        for (std::size_t k = 0; k < n; ++k) o[k] = i[k].dot(other);
    });
}

KERNEL void magnitude(Elements in, std::span<double> out) noexcept {
    write_values(in, out, [](const Vec3d* __restrict i, double* __restrict o, std::size_t n) {
        for (std::size_t k = 0; k < n; ++k) o[k] = i[k].magnitude();
    });
}

KERNEL void distance_to(Elements in, std::span<double> out, Vec3d other) noexcept {
    write_values(in, out, [other](const Vec3d* __restrict i, double* __restrict o, std::size_t n) {
        for (std::size_t k = 0; k < n; ++k) o[k] = i[k].distance_to(other);
    });
}

KERNEL void distance_squared(Elements in, std::span<double> out, Vec3d other) noexcept {
    write_values(in, out, [other](const Vec3d* __restrict i, double* __restrict o, std::size_t n) {
        for (std::size_t k = 0; k < n; ++k) o[k] = i[k].distance_squared(other);
    });
}

KERNEL void is_unit(Elements in, Flags out) noexcept {
    write_values(in, out, [](const Vec3d* __restrict i, std::uintptr_t* __restrict o, std::size_t n) {
        for (std::size_t k = 0; k < n; ++k) o[k] = i[k].is_unit() ? 1 : 0;
    });
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

KERNEL Nearest nearest(Elements elements, Vec3d other, Samples samples) noexcept {
    const Vec3d* items = elements.data();
    const auto [first, step, lo, hi] = samples;
    // The first sample is the candidate to beat, whatever its rank (all NaN keys give it).
    Nearest best{rank_of(items[first + lo * step].distance_squared(other)), first + lo * step};
    if (step == 1)
        scan_samples<1>(items, other, first, step, lo + 1, hi, best);
    else
        scan_samples<0>(items, other, first, step, lo + 1, hi, best);
    return best;
}

void copy(std::span<const unsigned char> in, NewVectors out) noexcept {
    const std::size_t n = out.items.size();
    if (out.store == Store::cached) {
        std::memcpy(out.items.data(), in.data(), n * sizeof(Vec3d));
        return;
    }
    stream(reinterpret_cast<double*>(out.items.data()), reinterpret_cast<const double*>(in.data()), 3 * n);
    end_streaming();
}

std::size_t take(Elements items, std::span<const std::int64_t> indices, std::span<Vec3d> out) noexcept {
    const std::size_t n = items.size();
    for (std::size_t k = 0; k < indices.size(); ++k) {
        // A negative index wraps to a huge one: one test refuses both.
        const auto index = static_cast<std::uint64_t>(indices[k]);
        if (index >= n) return k;
        out[k] = items[index];
    }
    return indices.size();
}

}  // namespace lumeric::kernels
