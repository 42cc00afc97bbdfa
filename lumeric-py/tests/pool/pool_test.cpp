// Behaviour of private pools: ordered results whatever the worker count and
// the cut, tie-breaking, tiny batches, concurrent submitters, failures, and
// quiet idle workers.
#include <gtest/gtest.h>

#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
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

TEST(Pool, MapWritesEveryIndexOnceWhateverTheWorkerCount) {
    for (std::size_t w : worker_counts) {
        Pool pool(w);
        ASSERT_EQ(pool.workers(), w);
        for (std::size_t n : sizes) {
            std::vector<std::uint64_t> out(n, 0);
            pool.map_into(n, out.data(), [](std::size_t k) {
                jitter(k);
                return scramble(k);
            });
            for (std::size_t k = 0; k < n; ++k) ASSERT_EQ(out[k], scramble(k)) << "w=" << w << " n=" << n;

            std::vector<std::atomic<int>> visits(n);
            std::atomic<bool> ordered{true};
            pool.for_each_range(n, [&](std::size_t lo, std::size_t hi) {
                if (lo >= hi) ordered = false;
                for (std::size_t k = lo; k < hi; ++k) visits[k].fetch_add(1, std::memory_order_relaxed);
            });
            EXPECT_TRUE(ordered);
            for (std::size_t k = 0; k < n; ++k) ASSERT_EQ(visits[k].load(), 1) << "w=" << w << " k=" << k;
        }
    }
}

TEST(Pool, ReductionCombinesNeighboursLeftToRight) {
    for (std::size_t w : worker_counts) {
        Pool pool(w);
        for (std::size_t n : sizes) {
            for (std::size_t min_piece : {1, 64}) {
                auto r = pool.reduce(
                    n,
                    [](std::size_t k) {
                        jitter(k);
                        return Span{k, k + 1, true};
                    },
                    join_spans, min_piece);
                ASSERT_EQ(r.has_value(), n > 0);
                if (!r) continue;
                EXPECT_TRUE(r->ok) << "w=" << w << " n=" << n;
                EXPECT_EQ(r->lo, 0u);
                EXPECT_EQ(r->hi, n);
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
    struct Case {
        std::size_t n, first_min, period;
    };
    // Equal minima at first_min, first_min + period, ...; everything else larger.
    const Case cases[] = {{2, 0, 1}, {2, 1, 5}, {1000, 3, 7}, {1000, 999, 1000}, {100003, 50000, 3}, {4096, 0, 1}};
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
            EXPECT_EQ(r->key, 1.0);
        }
    }
}

TEST(Pool, SampledReductionVisitsEveryStrideThElement) {
    Pool pool(3);
    struct Case {
        std::size_t n, stride;
        std::vector<std::size_t> expected;
    };
    const Case cases[] = {
        {0, 1, {}},         {0, 5, {}},       {1, 1, {0}},      {10, 3, {0, 3, 6, 9}},
        {9, 3, {0, 3, 6}},  {10, 10, {0}},    {10, 11, {0}},    {10, SIZE_MAX, {0}},
        {5, 1, {0, 1, 2, 3, 4}},
    };
    using Seen = std::vector<std::size_t>;
    for (const auto& c : cases) {
        auto r = pool.reduce_sampled(
            c.n, c.stride, [](std::size_t k) { return Seen{k}; },
            [](Seen l, const Seen& r) {
                l.insert(l.end(), r.begin(), r.end());
                return l;
            });
        EXPECT_EQ(r.value_or(Seen{}), c.expected) << "n=" << c.n << " stride=" << c.stride;
    }
    // Larger runs: the span check shows cuts fall between sample positions.
    for (std::size_t stride : {1, 2, 7, 1000}) {
        const std::size_t n = 100003;
        auto r = pool.reduce_sampled(
            n, stride, [stride](std::size_t k) { return Span{k / stride, k / stride + 1, k % stride == 0}; },
            join_spans);
        ASSERT_TRUE(r);
        EXPECT_TRUE(r->ok);
        EXPECT_EQ(r->hi, (n + stride - 1) / stride);
    }
    EXPECT_THROW(pool.reduce_sampled(5, 0, [](std::size_t k) { return k; }, [](std::size_t a, std::size_t) { return a; }),
                 std::invalid_argument);
}

TEST(Pool, TinyBatchesRunOnTheCallingThread) {
    Pool pool(2);
    int calls = 0;
    pool.for_each_range(0, [&](std::size_t, std::size_t) { ++calls; });
    EXPECT_EQ(calls, 0);
    std::thread::id ran_on;
    pool.for_each_range(1, [&](std::size_t lo, std::size_t hi) {
        ++calls;
        ran_on = std::this_thread::get_id();
        EXPECT_EQ(lo, 0u);
        EXPECT_EQ(hi, 1u);
    });
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(ran_on, std::this_thread::get_id());
    EXPECT_FALSE(pool.reduce(0, [](std::size_t k) { return k; }, [](std::size_t a, std::size_t) { return a; }));
    // Below twice the minimum piece the batch is never handed over either.
    pool.for_each_range(
        99, [&](std::size_t lo, std::size_t hi) {
            EXPECT_EQ(hi - lo, 99u);
            ran_on = std::this_thread::get_id();
        },
        50);
    EXPECT_EQ(ran_on, std::this_thread::get_id());
}

TEST(Pool, OneWorkerCutsAFewPiecesAtMidpoints) {
    // Nobody steals from a lone worker, so the split budget alone decides
    // the pieces: a handful of them, each cut at its midpoint.
    Pool pool(1);
    std::mutex m;
    std::vector<std::pair<std::size_t, std::size_t>> pieces;
    pool.for_each_range(1024, [&](std::size_t lo, std::size_t hi) {
        std::lock_guard<std::mutex> g(m);
        pieces.emplace_back(lo, hi);
    });
    using P = std::pair<std::size_t, std::size_t>;
    EXPECT_EQ(pieces, (std::vector<P>{{0, 128}, {128, 256}, {256, 384}, {384, 512}, {512, 1024}}));
}

TEST(Pool, OutsideThreadsSubmittingAtOnceEachGetTheirOwnResult) {
    for (std::size_t w : {1, 2, 4}) {
        Pool pool(w);
        std::atomic<int> failures{0};
        std::vector<std::thread> callers;
        for (int t = 0; t < 4; ++t) {
            callers.emplace_back([&, t] {
                for (int round = 0; round < 40; ++round) {
                    std::size_t n = 1000 + 37 * static_cast<std::size_t>(t * 40 + round);
                    std::vector<std::uint64_t> out(n);
                    pool.map_into(n, out.data(), [t](std::size_t k) { return scramble(k) + static_cast<std::uint64_t>(t); });
                    for (std::size_t k = 0; k < n; ++k)
                        if (out[k] != scramble(k) + static_cast<std::uint64_t>(t)) ++failures;
                    auto r = pool.reduce(n, [](std::size_t k) { return Span{k, k + 1, true}; }, join_spans);
                    if (!r || !r->ok || r->hi != n) ++failures;
                }
            });
        }
        for (auto& c : callers) c.join();
        EXPECT_EQ(failures.load(), 0) << "w=" << w;
    }
}

TEST(Pool, FarMoreWorkersThanProcessors) {
    Pool pool(1000);
    for (int round = 0; round < 5; ++round) {
        const std::size_t n = 200000;
        std::vector<std::uint64_t> out(n);
        pool.map_into(n, out.data(), [](std::size_t k) { return scramble(k); });
        for (std::size_t k = 0; k < n; ++k) ASSERT_EQ(out[k], scramble(k));
        auto r = pool.reduce(n, [](std::size_t k) { return Span{k, k + 1, true}; }, join_spans);
        ASSERT_TRUE(r && r->ok && r->hi == n);
    }
}

TEST(Pool, NestedBatchesInsidePiecesComplete) {
    Pool pool(2);
    std::vector<std::uint64_t> sums(64, 0);
    pool.for_each_range(64, [&](std::size_t lo, std::size_t hi) {
        for (std::size_t i = lo; i < hi; ++i) {
            auto r = pool.reduce(1000, [i](std::size_t k) { return k * i; }, [](std::uint64_t a, std::uint64_t b) { return a + b; });
            sums[i] = *r;
        }
    });
    for (std::size_t i = 0; i < 64; ++i) EXPECT_EQ(sums[i], i * 999 * 1000 / 2);
}

TEST(Pool, FailureOfLowestFailingIndexReachesTheCaller) {
    for (std::size_t w : worker_counts) {
        Pool pool(w);
        for (std::size_t min_piece : {1, 100}) {
            std::vector<int> out(5000, 0);
            try {
                pool.map_into(
                    out.size(), out.data(),
                    [](std::size_t k) {
                        jitter(k);
                        if (k == 1234 || k == 1500 || k == 4000) throw std::runtime_error("fail at " + std::to_string(k));
                        return 1;
                    },
                    min_piece);
                ADD_FAILURE() << "no exception";
            } catch (const std::runtime_error& e) {
                EXPECT_STREQ(e.what(), "fail at 1234") << "w=" << w;
            }
            // The pool survives a failed batch.
            auto r = pool.reduce(out.size(), [](std::size_t k) { return Span{k, k + 1, true}; }, join_spans);
            ASSERT_TRUE(r && r->ok && r->hi == out.size());
        }
        EXPECT_THROW(pool.for_each_range(1000, [](std::size_t lo, std::size_t) {
            if (lo == 0) throw std::bad_alloc();
        }),
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
        EXPECT_THROW(pool.join([]() -> int { throw std::logic_error("left"); },
                               [&] {
                                   std::this_thread::sleep_for(std::chrono::milliseconds(2));
                                   right_done = true;
                               }),
                     std::logic_error);
        EXPECT_TRUE(right_done.load()) << "join returned before its right half finished";
    }
    // Both fail: the left failure wins.
    try {
        pool.join([] { throw std::runtime_error("left"); }, [] { throw std::runtime_error("right"); });
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "left");
    }
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
