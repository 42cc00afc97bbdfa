// The batch kernels give, element by element and bit for bit, what the core operations
// give, on lengths around every vector width, with special values in every lane, and
// write nothing outside their piece.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

#include "batch/kernels.hpp"

#include "bit_equal.hpp"

namespace lumeric::kernels {
namespace {

using tovrin::testing::same;

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

bool same(std::uintptr_t a, std::uintptr_t b) { return a == b; }

const double inf = std::numeric_limits<double>::infinity();

// Random coordinates, about one in six replaced by a special value, every 7th an exact unit vector.
std::vector<Vec3d> vectors(std::size_t n) {
    const double specials[] = {0.0,    -0.0,   inf,   -inf,   std::nan(""), -std::nan(""),
                               1.0,    -1.0,   5e-324, 1e-160, 1e160,        1.7976931348623157e308};
    std::mt19937_64 rng(n);
    std::uniform_real_distribution<double> value(-1e3, 1e3);
    auto coordinate = [&] { return rng() % 6 == 0 ? specials[rng() % std::size(specials)] : value(rng); };
    std::vector<Vec3d> out(n);
    for (Vec3d& v : out) v = {coordinate(), coordinate(), coordinate()};
    for (std::size_t k = 0; k < n; k += 7) out[k] = Vec3d{1.0, 0.0, 0.0};
    return out;
}

const std::size_t lengths[] = {0, 1, 3, 7, 8, 9, 15, 16, 17, 31, 33, 64, 255, 256, 257, 1000};
const Vec3d other{0.25, -3.5, 3.141592653589793};

// kernel(in, out, args...) with each way of storing, at each length, from element 0 and
// from element 1 (so streamed stores start off their alignment): out[k] must be
// single(in[k]), and nothing outside the piece may change.
template <class Out, class... A, class Single>
void check(void (*kernel)(Elements, Out, A...) noexcept, Single single, std::type_identity_t<A>... args) {
    using R = decltype(single(Vec3d{}));
    R untouched;
    std::memset(&untouched, 0x5a, sizeof untouched);
    for (Store store : {Store::cached, Store::streamed})
        for (std::size_t first : {0, 1})
            for (std::size_t n : lengths) {
                if (n < first) continue;
                std::vector<Vec3d> in = vectors(n);
                std::vector<R> out(n + 1, untouched);
                const Elements from = std::span(in).subspan(first);
                const std::span<R> to = std::span(out).subspan(first, n - first);
                if constexpr (std::is_same_v<Out, NewVectors>) kernel(from, {to, store}, args...);
                else kernel(from, to, args...);
                for (std::size_t k = first; k < n; ++k)
                    ASSERT_TRUE(same(out[k], single(in[k]))) << "n " << n << " k " << k;
                EXPECT_TRUE(same(out[n], untouched) && (first == 0 || same(out[0], untouched))) << "outside, n " << n;
            }
}

TEST(Kernels, EveryElementAsTheCoreOperationGivesIt) {
    SKIP_IF_NOT_RUNNABLE();
    check(add, [](Vec3d e) { return e + other; }, other);
    check(subtract, [](Vec3d e) { return e - other; }, other);
    check(scale, [](Vec3d e) { return e * 0.1; }, 0.1);
    check(divide, [](Vec3d e) { return e / 0.1; }, 0.1);
    check(divide, [](Vec3d e) { return e / 0.0; }, 0.0);
    check(cross, [](Vec3d e) { return e.cross(other); }, other);
    check(normalize, [](Vec3d e) { return e.normalize(); });
    check(collapse, [](Vec3d e) { return Vec3d{0.0, e.y, e.z}; }, 0);
    check(collapse, [](Vec3d e) { return Vec3d{e.x, 0.0, e.z}; }, 1);
    check(collapse, [](Vec3d e) { return Vec3d{e.x, e.y, 0.0}; }, 2);
    check(dot, [](Vec3d e) { return e.dot(other); }, other);
    check(magnitude, [](Vec3d e) { return e.magnitude(); });
    check(distance_to, [](Vec3d e) { return e.distance_to(other); }, other);
    check(distance_squared, [](Vec3d e) { return e.distance_squared(other); }, other);
    check(is_unit, [](Vec3d e) { return std::uintptr_t{e.is_unit()}; });
}

TEST(Kernels, RotationsInPlaceTouchOnlyTheirPiece) {
    SKIP_IF_NOT_RUNNABLE();
    const Quat quats[] = {{0.9273618495495703, 0.1, 0.2, 0.3}, {2.0, 0.0, 0.0, 0.0}, {1.0, -0.0, std::nan(""), 0.5}};
    for (const Quat& q : quats)
        for (std::size_t n : lengths) {
            const std::vector<Vec3d> in = vectors(n + 2);
            std::vector<Vec3d> items = in;
            rotate_in_place(std::span(items).subspan(1, n), q);
            for (std::size_t k = 0; k < n + 2; ++k)
                ASSERT_TRUE(same(items[k], k == 0 || k == n + 1 ? in[k] : q.rotate(in[k]))) << "n " << n << " k " << k;
        }
    // One quaternion per element, read from raw doubles one byte off their alignment.
    for (std::size_t n : lengths) {
        const std::vector<Vec3d> in = vectors(n + 2), parts = vectors(2 * n);
        std::vector<unsigned char> raw(n * sizeof(Quat) + 1);
        for (std::size_t k = 0; k < n; ++k) {
            const Quat q = k % 3 == 0 ? quats[k / 3 % 3] : Quat{parts[2 * k].x, parts[2 * k].y, parts[2 * k + 1].x, 0.5};
            std::memcpy(raw.data() + 1 + k * sizeof(Quat), &q, sizeof q);
        }
        std::vector<Vec3d> items = in;
        rotate_each_in_place(std::span(items).subspan(1, n), std::span(raw).subspan(1));
        for (std::size_t k = 0; k < n + 2; ++k) {
            Quat q;
            if (k != 0 && k != n + 1) std::memcpy(&q, raw.data() + 1 + (k - 1) * sizeof(Quat), sizeof q);
            ASSERT_TRUE(same(items[k], k == 0 || k == n + 1 ? in[k] : q.rotate(in[k]))) << "n " << n << " k " << k;
        }
    }
}

TEST(Kernels, NearestIsTheEarliestSampleOfLowestRank) {
    SKIP_IF_NOT_RUNNABLE();
    std::vector<Vec3d> items = vectors(3000);
    for (std::size_t k = 500; k < 3000; k += 500) items[k] = other;  // repeated minima
    for (std::size_t step : {1, 2, 3, 8, 1000})
        for (std::size_t first : {0, 1, 5}) {
            const std::size_t count = (items.size() - first) / step;
            for (std::size_t lo : {std::size_t{0}, std::size_t{1}, count / 3})
                for (std::size_t hi : {lo + 1, lo + 2, count / 2 + 1, count}) {
                    if (hi <= lo || hi > count) continue;
                    Nearest want{std::numeric_limits<std::int64_t>::max(), first + lo * step};
                    for (std::size_t p = lo; p < hi; ++p)
                        if (std::int64_t r = rank_of(items[first + p * step].distance_squared(other)); r < want.rank)
                            want = {r, first + p * step};
                    Nearest got = nearest(items, other, {first, step, lo, hi});
                    ASSERT_TRUE(got.index == want.index && got.rank == want.rank)
                        << step << " " << first << " " << lo << " " << hi;
                }
        }
    // Every NaN ranks last, whatever its sign; among all-NaN keys the first wins.
    std::vector<Vec3d> nans(40, Vec3d{std::nan(""), 0.0, 0.0});
    nans[3] = Vec3d{-std::nan(""), 0.0, 0.0};
    EXPECT_EQ(nearest(nans, other, {0, 1, 0, 40}).index, 0u);
    nans[37] = Vec3d{inf, 0.0, 0.0};
    EXPECT_EQ(nearest(nans, other, {0, 1, 0, 40}).index, 37u);
    EXPECT_LT(rank_of(-0.0), rank_of(0.0));
}

}  // namespace
}  // namespace lumeric::kernels
