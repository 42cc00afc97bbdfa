// The batch kernels give, element by element and bit for bit, what the core operations
// give, on lengths around every vector width and with special values in every lane.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "vec_list_kernels.hpp"

namespace lumeric::kernels {
namespace {

bool runnable() {
#if defined(__x86_64__)
    const std::string level = KERNEL_LEVEL;
    if (level == "x86-64-v3") return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    if (level == "x86-64-v4") return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl");
#endif
    return true;
}

#define SKIP_IF_NOT_RUNNABLE() \
    if (!runnable()) GTEST_SKIP() << KERNEL_LEVEL << " instructions not available"

// A NaN's sign and payload depend on the processor and on the operand order the compiler
// picks for commutative operations, not on the formula: any NaN matches any NaN.
bool same(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

bool same(const Vec3d& a, const Vec3d& b) { return same(a.x, b.x) && same(a.y, b.y) && same(a.z, b.z); }

// Random coordinates, about one in six replaced by a special value.
std::vector<Vec3d> vectors(std::size_t n, unsigned seed) {
    const double inf = std::numeric_limits<double>::infinity();
    const double specials[] = {0.0,     -0.0,   inf,   -inf,    std::nan(""), -std::nan(""), 1.0, -1.0,
                               5e-324, 1e-160, 1e160, 1.7976931348623157e308};
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> value(-1e3, 1e3);
    auto coordinate = [&] { return rng() % 6 == 0 ? specials[rng() % std::size(specials)] : value(rng); };
    std::vector<Vec3d> out(n);
    for (Vec3d& v : out) v = {coordinate(), coordinate(), coordinate()};
    // Some exact unit vectors, for is_unit.
    for (std::size_t k = 0; k < n; k += 7) out[k] = Vec3d{1.0, 0.0, 0.0};
    return out;
}

const std::size_t lengths[] = {0, 1, 3, 7, 8, 9, 15, 16, 17, 31, 33, 64, 255, 256, 257, 1000};
const Vec3d other{0.25, -3.5, 3.141592653589793};

const Vec3d untouched{7.0, 7.0, 7.0};

// kernel(in, out, n, store) with each way of storing, at each length, from element 0 and
// from element 1 (so that streamed stores start off their alignment): out[k] must be
// single(in[k]), and nothing outside the range may change.
template <class Kernel, class Single>
void check_vectors(Kernel kernel, Single single) {
    for (Store store : {Store::cached, Store::streamed}) {
        for (std::size_t first : {0, 1}) {
            for (std::size_t n : lengths) {
                if (n < first) continue;
                std::vector<Vec3d> in = vectors(n, static_cast<unsigned>(n));
                std::vector<Vec3d> out(n + 1, untouched);
                kernel(in.data() + first, out.data() + first, n - first, store);
                for (std::size_t k = first; k < n; ++k) {
                    Vec3d want = single(in[k]);
                    ASSERT_TRUE(same(out[k], want))
                        << "n " << n << " k " << k << " from " << first << ": (" << in[k].x << ", " << in[k].y
                        << ", " << in[k].z << ") gives (" << out[k].x << ", " << out[k].y << ", " << out[k].z
                        << "), expected (" << want.x << ", " << want.y << ", " << want.z << ")";
                }
                EXPECT_TRUE(same(out[n], untouched)) << "wrote past the end, n " << n;
                if (first == 1) {
                    EXPECT_TRUE(same(out[0], untouched)) << "wrote before the start, n " << n;
                }
            }
        }
    }
}

template <class Kernel, class Single>
void check_floats(Kernel kernel, Single single) {
    for (std::size_t n : lengths) {
        std::vector<Vec3d> in = vectors(n, static_cast<unsigned>(n) + 100);
        std::vector<double> out(n + 1, 7.0);
        kernel(in.data(), out.data(), n);
        for (std::size_t k = 0; k < n; ++k) ASSERT_TRUE(same(out[k], single(in[k]))) << "n " << n << " k " << k;
        EXPECT_EQ(out[n], 7.0) << "wrote past the end, n " << n;
    }
}

TEST(Kernels, ElementWiseVectorResults) {
    SKIP_IF_NOT_RUNNABLE();
    check_vectors([](auto in, auto out, auto n, Store s) { add(in, out, n, other, s); },
                  [](Vec3d e) { return e + other; });
    check_vectors([](auto in, auto out, auto n, Store s) { subtract(in, out, n, other, s); },
                  [](Vec3d e) { return e - other; });
    check_vectors([](auto in, auto out, auto n, Store s) { scale(in, out, n, 0.1, s); },
                  [](Vec3d e) { return e * 0.1; });
    check_vectors([](auto in, auto out, auto n, Store s) { divide(in, out, n, 0.1, s); },
                  [](Vec3d e) { return e / 0.1; });
    check_vectors([](auto in, auto out, auto n, Store s) { divide(in, out, n, 0.0, s); },
                  [](Vec3d e) { return e / 0.0; });
    check_vectors([](auto in, auto out, auto n, Store s) { cross(in, out, n, other, s); },
                  [](Vec3d e) { return e.cross(other); });
    check_vectors([](auto in, auto out, auto n, Store s) { normalize(in, out, n, s); },
                  [](Vec3d e) { return e.normalize(); });
    for (std::size_t axis = 0; axis < 3; ++axis) {
        check_vectors([axis](auto in, auto out, auto n, Store s) { collapse(in, out, n, axis, s); },
                      [axis](Vec3d e) {
                          (axis == 0 ? e.x : axis == 1 ? e.y : e.z) = 0.0;
                          return e;
                      });
    }
}

TEST(Kernels, RotateInPlace) {
    SKIP_IF_NOT_RUNNABLE();
    const Quat quats[] = {Quat{0.9273618495495703, 0.1, 0.2, 0.3}, Quat{2.0, 0.0, 0.0, 0.0},
                          Quat{1.0, -0.0, std::nan(""), 0.5}};
    for (const Quat& q : quats) {
        check_vectors(
            [&q](const Vec3d* in, Vec3d* out, std::size_t n, Store) {
                std::copy(in, in + n, out);
                rotate_in_place(out, n, q);
            },
            [&q](Vec3d e) { return q.rotate(e); });
    }
}

TEST(Kernels, FloatResults) {
    SKIP_IF_NOT_RUNNABLE();
    check_floats([](auto in, auto out, auto n) { dot(in, out, n, other); }, [](Vec3d e) { return e.dot(other); });
    check_floats([](auto in, auto out, auto n) { magnitude(in, out, n); }, [](Vec3d e) { return e.magnitude(); });
    check_floats([](auto in, auto out, auto n) { distance_to(in, out, n, other); },
                 [](Vec3d e) { return e.distance_to(other); });
    check_floats([](auto in, auto out, auto n) { distance_squared(in, out, n, other); },
                 [](Vec3d e) { return e.distance_squared(other); });
}

TEST(Kernels, IsUnit) {
    SKIP_IF_NOT_RUNNABLE();
    for (std::size_t n : lengths) {
        std::vector<Vec3d> in = vectors(n, 5);
        std::vector<std::uintptr_t> out(n, 7);
        is_unit(in.data(), out.data(), n);
        for (std::size_t k = 0; k < n; ++k) ASSERT_EQ(out[k], in[k].is_unit() ? 1u : 0u) << "n " << n << " k " << k;
    }
}

// The scalar search: the earliest sample of lowest rank.
Nearest reference(const std::vector<Vec3d>& items, std::size_t first, std::size_t step, std::size_t lo,
                  std::size_t hi) {
    Nearest best{rank_of(items[first + lo * step].distance_squared(other)), first + lo * step};
    for (std::size_t p = lo + 1; p < hi; ++p) {
        std::int64_t r = rank_of(items[first + p * step].distance_squared(other));
        if (r < best.rank) best = {r, first + p * step};
    }
    return best;
}

TEST(Kernels, NearestMatchesTheScalarSearch) {
    SKIP_IF_NOT_RUNNABLE();
    std::vector<Vec3d> items = vectors(3000, 11);
    // Repeated minima, so ties must go to the earliest.
    for (std::size_t k = 500; k < 3000; k += 500) items[k] = other;
    for (std::size_t step : {1, 2, 3, 8, 1000}) {
        for (std::size_t first : {0, 1, 5}) {
            std::size_t count = (items.size() - first) / step;
            for (std::size_t lo : {std::size_t{0}, std::size_t{1}, count / 3}) {
                for (std::size_t hi : {lo + 1, lo + 2, count / 2 + 1, count}) {
                    if (hi <= lo || hi > count) continue;
                    Nearest got = nearest(items.data(), other, first, step, lo, hi);
                    Nearest want = reference(items, first, step, lo, hi);
                    ASSERT_EQ(got.index, want.index) << step << " " << first << " " << lo << " " << hi;
                    ASSERT_EQ(got.rank, want.rank);
                }
            }
        }
    }
}

TEST(Kernels, NearestRanksEveryNanLast) {
    SKIP_IF_NOT_RUNNABLE();
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<Vec3d> items(40, Vec3d{std::nan(""), 0.0, 0.0});
    items[3] = Vec3d{-std::nan(""), 0.0, 0.0};
    EXPECT_EQ(nearest(items.data(), other, 0, 1, 0, 40).index, 0u);  // all NaN: the first
    items[37] = Vec3d{inf, 0.0, 0.0};                                  // key +inf
    EXPECT_EQ(nearest(items.data(), other, 0, 1, 0, 40).index, 37u);
    EXPECT_LT(rank_of(-0.0), rank_of(0.0));
    EXPECT_LT(rank_of(inf), rank_of(-std::nan("")));
}

}  // namespace
}  // namespace lumeric::kernels
