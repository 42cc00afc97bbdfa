// Behaviour of private pools: ordered results whatever the worker count and
// the cut, tie-breaking, tiny batches, concurrent submitters, failures, and
// quiet idle workers.
#include <gtest/gtest.h>

#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "pool/pool.hpp"

namespace lumeric::pool {
namespace {

const std::size_t worker_counts[] = {1, 2, 3, 8};
const std::size_t sizes[] = {0, 1, 2, 3, 17, 1000, 100003};

std::uint64_t scramble(std::uint64_t k) {
    k ^= k >> 33;
    k *= 0xff51afd7ed558ccdull;
    return k ^ (k >> 29);
}

// Uneven per-element cost, so idle workers get to steal at random places.
void jitter(std::size_t k) {
    if (scramble(k) % 97 == 0) std::this_thread::yield();
}

// A contiguous run of indices; combining out of order or with a gap poisons it.
struct Span {
    std::size_t lo, hi;
    bool ok;
};
Span join_spans(Span l, Span r) { return {l.lo, r.hi, l.ok && r.ok && l.hi == r.lo}; }
Span unit_span(std::size_t k) { return {k, k + 1, true}; }

// Every index mapped once and in place, and the reduction of unit spans is the whole range.
bool map_and_reduce_whole(Pool& pool, std::size_t n, std::uint64_t salt = 0) {
    std::vector<std::uint64_t> out(n);
    pool.map_into(n, out.data(), [salt](std::size_t k) { return scramble(k) + salt; });
    for (std::size_t k = 0; k < n; ++k)
        if (out[k] != scramble(k) + salt) return false;
    auto r = pool.reduce(n, unit_span, join_spans);
    return n == 0 ? !r : r && r->ok && r->lo == 0 && r->hi == n;
}

TEST(Pool, MapAndReduceAreOrderedWhateverTheWorkerCountAndCut) {
    for (std::size_t w : worker_counts) {
        Pool pool(w);
        ASSERT_EQ(pool.workers(), w);
        for (std::size_t n : sizes) {
            std::vector<std::uint64_t> out(n, 0);
            pool.map_into(n, out.data(), [](std::size_t k) { jitter(k); return scramble(k); });
            for (std::size_t k = 0; k < n; ++k) ASSERT_EQ(out[k], scramble(k)) << "w=" << w << " n=" << n;

            std::vector<std::atomic<int>> visits(n);
            pool.for_each_range(n, [&](std::size_t lo, std::size_t hi) {
                EXPECT_LT(lo, hi);
                for (std::size_t k = lo; k < hi; ++k) visits[k].fetch_add(1, std::memory_order_relaxed);
            });
            for (std::size_t k = 0; k < n; ++k) ASSERT_EQ(visits[k].load(), 1) << "w=" << w << " k=" << k;

            for (std::size_t min_piece : {1, 64}) {
                auto r = pool.reduce(n, [](std::size_t k) { jitter(k); return unit_span(k); }, join_spans, min_piece);
                ASSERT_EQ(r.has_value(), n > 0);
                EXPECT_TRUE(!r || (r->ok && r->lo == 0 && r->hi == n)) << "w=" << w << " n=" << n;
            }
        }
    }
}

TEST(Pool, MinimumKeepsLowestIndexOnTies) {
    struct Best {
        std::size_t index;
        double key;
    };
    auto keep_left_on_ties = [](Best l, Best r) { return r.key < l.key ? r : l; };
    // Equal minima at first_min, first_min + period, ...; everything else larger.
    const struct { std::size_t n, first_min, period; } cases[] = {
        {2, 0, 1}, {2, 1, 5}, {1000, 3, 7}, {1000, 999, 1000}, {100003, 50000, 3}, {4096, 0, 1}};
    for (std::size_t w : worker_counts) {
        Pool pool(w);
        for (const auto& c : cases) {
            auto r = pool.reduce(
                c.n,
                [&](std::size_t k) {
                    jitter(k);
                    bool is_min = k >= c.first_min && (k - c.first_min) % c.period == 0;
                    return Best{k, is_min ? 1.0 : 2.0 + static_cast<double>(scramble(k) % 3)};
                },
                keep_left_on_ties);
            ASSERT_TRUE(r);
            EXPECT_EQ(r->index, c.first_min) << "w=" << w << " n=" << c.n;
        }
    }
}

TEST(Pool, SampledReductionVisitsEveryStrideThElement) {
    Pool pool(3);
    using Seen = std::vector<std::size_t>;
    const struct { std::size_t n, stride; Seen expected; } cases[] = {
        {0, 5, {}}, {1, 1, {0}}, {10, 3, {0, 3, 6, 9}}, {9, 3, {0, 3, 6}}, {10, 11, {0}}, {10, SIZE_MAX, {0}}};
    for (const auto& c : cases) {
        auto r = pool.reduce_sampled(c.n, c.stride, [](std::size_t k) { return Seen{k}; }, [](Seen l, const Seen& r) {
            l.insert(l.end(), r.begin(), r.end());
            return l;
        });
        EXPECT_EQ(r.value_or(Seen{}), c.expected) << "n=" << c.n << " stride=" << c.stride;
    }
    // A long run: the span check shows cuts fall between sample positions.
    auto r = pool.reduce_sampled(100003, 7, [](std::size_t k) { return Span{k / 7, k / 7 + 1, k % 7 == 0}; }, join_spans);
    EXPECT_TRUE(r && r->ok && r->hi == 14287);
    EXPECT_THROW(pool.reduce_sampled(5, 0, [](std::size_t k) { return k; }, [](std::size_t a, std::size_t) { return a; }),
                 std::invalid_argument);
}

TEST(Pool, TinyBatchesRunOnTheCallingThread) {
    Pool pool(2);
    const auto caller = std::this_thread::get_id();
    // Nothing, one element, or below twice the minimum piece: at most one piece, never handed over.
    for (auto [n, min_piece, pieces] : {std::tuple<std::size_t, std::size_t, int>{0, 1, 0}, {1, 1, 1}, {99, 50, 1}}) {
        int calls = 0;
        pool.for_each_range(
            n, [&](std::size_t lo, std::size_t hi) {
                ++calls;
                EXPECT_TRUE(std::this_thread::get_id() == caller && lo == 0 && hi == n) << n;
            },
            min_piece);
        EXPECT_EQ(calls, pieces) << n;
    }
}

TEST(Pool, ConcurrentOutsideCallersNestedBatchesAndManyWorkers) {
    for (std::size_t w : {1, 2, 4}) {
        Pool pool(w);
        std::atomic<int> failures{0};
        std::vector<std::thread> callers;
        for (int t = 0; t < 4; ++t)
            callers.emplace_back([&, t] {
                for (int round = 0; round < 40; ++round)
                    if (!map_and_reduce_whole(pool, 1000 + 37 * static_cast<std::size_t>(t * 40 + round), t)) ++failures;
            });
        for (auto& c : callers) c.join();
        EXPECT_EQ(failures.load(), 0) << "w=" << w;
    }
    Pool nested(2);
    std::vector<std::uint64_t> sums(64, 0);
    nested.for_each_range(64, [&](std::size_t lo, std::size_t hi) {
        for (std::size_t i = lo; i < hi; ++i)
            sums[i] = *nested.reduce(1000, [i](std::size_t k) { return k * i; }, [](std::uint64_t a, std::uint64_t b) { return a + b; });
    });
    for (std::size_t i = 0; i < 64; ++i) EXPECT_EQ(sums[i], i * 999 * 1000 / 2);
    Pool crowded(1000);
    for (int round = 0; round < 3; ++round) EXPECT_TRUE(map_and_reduce_whole(crowded, 200000));
}

// The message of the exception f throws.
template <class F>
std::string what_of(F&& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "no exception";
}

TEST(Pool, FailureOfLowestFailingIndexReachesTheCaller) {
    for (std::size_t w : worker_counts) {
        Pool pool(w);
        for (std::size_t min_piece : {1, 100}) {
            std::vector<int> out(5000, 0);
            auto fail_at_some = [](std::size_t k) {
                jitter(k);
                if (k == 1234 || k == 1500 || k == 4000) throw std::runtime_error("fail at " + std::to_string(k));
                return 1;
            };
            EXPECT_EQ(what_of([&] { pool.map_into(out.size(), out.data(), fail_at_some, min_piece); }), "fail at 1234");
            EXPECT_TRUE(map_and_reduce_whole(pool, out.size()));  // the pool survives a failed batch
        }
        EXPECT_THROW(pool.for_each_range(1000, [](std::size_t lo, std::size_t) { if (lo == 0) throw std::bad_alloc(); }),
                     std::bad_alloc);
    }
}

TEST(Pool, JoinReturnsBothResultsAndWaitsForBothHalvesOnFailure) {
    Pool pool(2);
    auto [a, b] = pool.join([] { return 6; }, [] { return std::string("seven"); });
    EXPECT_EQ(a, 6);
    EXPECT_EQ(b, "seven");
    for (int round = 0; round < 20; ++round) {
        std::atomic<bool> right_done{false};
        auto slow_right = [&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            right_done = true;
        };
        EXPECT_EQ(what_of([&] { pool.join([]() -> int { throw std::logic_error("left"); }, slow_right); }), "left");
        EXPECT_TRUE(right_done.load()) << "join returned before its right half finished";
    }
    // Both fail: the left failure wins.
    EXPECT_EQ(what_of([&] { pool.join([] { throw std::runtime_error("left"); }, [] { throw std::runtime_error("right"); }); }),
              "left");
}

double process_cpu_seconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

TEST(Pool, IdleWorkersUseNoProcessorTime) {
    Pool pool(4);
    std::vector<double> out(1 << 20);
    pool.map_into(out.size(), out.data(), [](std::size_t k) { return static_cast<double>(k) * 0.5; });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // let the spinning end
    double before = process_cpu_seconds();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    double used = process_cpu_seconds() - before;
    EXPECT_LT(used, 0.02) << "idle workers burned " << used << " s of processor time";
}

}  // namespace
}  // namespace lumeric::pool
