// Behaviour of private pools: every index visited once and results combined in order
// whatever the worker count and the cut, the lowest index on ties, tiny batches kept on
// the calling thread, concurrent and nested callers, and failures.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "pool/pool.hpp"

namespace lumeric::pool {
namespace {

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
struct Run {
    std::size_t lo, hi;
    bool ok;
};
Run join_runs(Run l, Run r) { return {l.lo, r.hi, l.ok && r.ok && l.hi == r.lo}; }

// Every index visited exactly once, and the pieces' runs combine into [0, n) in order.
bool covers_in_order(Pool& pool, std::size_t n, std::size_t min_piece = 1) {
    std::vector<std::atomic<int>> visits(n);
    pool.for_each_range(n, [&](std::size_t lo, std::size_t hi) {
        for (std::size_t k = lo; k < hi; ++k, jitter(k)) visits[k].fetch_add(1, std::memory_order_relaxed);
    }, min_piece);
    for (auto& v : visits)
        if (v.load() != 1) return false;
    auto run = pool.reduce_ranges(n, [](std::size_t lo, std::size_t hi) { jitter(lo); return Run{lo, hi, lo < hi}; },
                                  join_runs, min_piece);
    return n == 0 ? !run : run && run->ok && run->lo == 0 && run->hi == n;
}

TEST(Pool, EveryIndexOnceAndInOrderWhateverTheWorkerCountAndCut) {
    for (std::size_t w : {1, 2, 3, 8}) {
        Pool pool(w);
        ASSERT_EQ(pool.workers(), w);
        for (std::size_t n : {0, 1, 2, 3, 17, 1000, 100003})
            for (std::size_t min_piece : {1, 64}) EXPECT_TRUE(covers_in_order(pool, n, min_piece)) << w << " " << n;
    }
}

TEST(Pool, CombiningThatKeepsTheLeftOnTiesGivesTheLowestIndex) {
    struct Best {
        std::size_t index;
        double key;
    };
    // Equal minima at first, first + period, ...; every other key larger.
    const struct { std::size_t n, first, period; } cases[] = {{2, 0, 1}, {2, 1, 5}, {1000, 999, 1000}, {100003, 50000, 3}};
    for (std::size_t w : {1, 3, 8}) {
        Pool pool(w);
        for (const auto& c : cases) {
            auto key = [&](std::size_t k) {
                return k >= c.first && (k - c.first) % c.period == 0 ? 1.0 : 2.0 + double(scramble(k) % 3);
            };
            auto piece = [&](std::size_t lo, std::size_t hi) {
                Best best{lo, key(lo)};
                for (std::size_t k = lo + 1; k < hi; ++k)
                    if (key(k) < best.key) best = {k, key(k)};
                return best;
            };
            auto best = pool.reduce_ranges(c.n, piece, [](Best l, Best r) { return r.key < l.key ? r : l; });
            EXPECT_EQ(best->index, c.first) << "w=" << w << " n=" << c.n;
        }
    }
}

TEST(Pool, BatchesBelowTwoMinimumPiecesRunUncutOnTheCallingThread) {
    Pool pool(2);
    const auto caller = std::this_thread::get_id();
    for (std::size_t n : {1, 99}) {
        int calls = 0;
        pool.for_each_range(n, [&](std::size_t lo, std::size_t hi) {
            ++calls;
            EXPECT_TRUE(std::this_thread::get_id() == caller && lo == 0 && hi == n);
        }, 50);
        EXPECT_EQ(calls, 1) << n;
    }
}

TEST(Pool, ConcurrentOutsideCallersNestedBatchesAndManyWorkers) {
    Pool pool(2);
    std::atomic<int> failures{0};
    std::vector<std::thread> callers;
    for (std::size_t t = 0; t < 4; ++t)
        callers.emplace_back([&, t] {
            for (std::size_t round = 0; round < 40; ++round) failures += !covers_in_order(pool, 1000 + 37 * (t * 40 + round));
        });
    for (auto& c : callers) c.join();
    EXPECT_EQ(failures.load(), 0);
    std::vector<std::uint64_t> sums(64, 0);
    pool.for_each_range(64, [&](std::size_t lo, std::size_t hi) {
        for (std::size_t i = lo; i < hi; ++i)
            sums[i] = *pool.reduce_ranges(1000, [i](std::size_t a, std::size_t b) { return (b * (b - 1) - a * (a - 1)) / 2 * i; },
                                          [](std::uint64_t a, std::uint64_t b) { return a + b; });
    });
    for (std::size_t i = 0; i < 64; ++i) EXPECT_EQ(sums[i], i * 999 * 1000 / 2);
    Pool crowded(1000);
    EXPECT_TRUE(covers_in_order(crowded, 200000));
}

TEST(Pool, TheLowestFailureReachesTheCallerAfterEveryPieceEnded) {
    for (std::size_t w : {1, 2, 8}) {
        Pool pool(w);
        std::vector<std::atomic<int>> visits(5000);
        std::string message;
        try {
            pool.for_each_range(visits.size(), [&](std::size_t lo, std::size_t hi) {
                for (std::size_t k = lo; k < hi; ++k, jitter(k)) visits[k] += 1;
                for (std::size_t bad : {1234, 1500, 4000})
                    if (lo <= bad && bad < hi) throw std::runtime_error(std::to_string(bad));
            });
        } catch (const std::runtime_error& e) {
            message = e.what();
        }
        EXPECT_EQ(message, "1234") << w;
        for (auto& v : visits) ASSERT_EQ(v.load(), 1) << "a piece still ran after the batch returned";
        EXPECT_THROW(pool.for_each_range(9, [](std::size_t lo, std::size_t) { if (lo == 0) throw std::bad_alloc(); }),
                     std::bad_alloc);
        EXPECT_TRUE(covers_in_order(pool, 5000));  // the pool survives failed batches
    }
}

}  // namespace
}  // namespace lumeric::pool
