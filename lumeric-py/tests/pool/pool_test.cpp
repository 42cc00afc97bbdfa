// Behaviour of private pools: every index visited once and results combined in order
// whatever the worker count and the cut, tiny batches kept on the calling thread,
// concurrent and nested callers, and failures.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <numeric>
#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "pool/pool.hpp"

namespace lumeric::pool {
namespace {

// Uneven per-element cost, so idle workers get to steal at random places.
void jitter(std::size_t k) {
    if ((k * 0x9e3779b97f4a7c15ull) >> 58 == 0) std::this_thread::yield();
}

// A contiguous run of indices; combining out of order or with a gap poisons it.
struct Run {
    std::size_t lo, hi;
    bool ok;
};
Run join_runs(Run l, Run r) { return {l.lo, r.hi, l.ok && r.ok && l.hi == r.lo}; }

// Every index visited exactly once, and the pieces' runs combine into [0, n) in order. The plain
// values the workers write are read by the caller once the batch returns, as a kernel's results
// are: under ThreadSanitizer, a batch that returned before its pieces ended is a reported race.
bool covers_in_order(Pool& pool, std::size_t n, std::size_t min_piece = 1) {
    std::vector<std::atomic<int>> visits(n);
    std::vector<std::size_t> written(n);
    auto visit = [&](std::size_t lo, std::size_t hi) {
        for (std::size_t k = lo; k < hi; ++k, jitter(k)) visits[k].fetch_add(1, std::memory_order_relaxed);
        for (std::size_t k = lo; k < hi; ++k) written[k] = k;
    };
    pool.for_each_range(n, visit, min_piece);
    for (std::size_t k = 0; k < n; ++k)
        if (visits[k].load() != 1 || written[k] != k) return false;
    auto piece = [](std::size_t lo, std::size_t hi) { jitter(lo); return Run{lo, hi, lo < hi}; };
    auto run = pool.reduce_ranges(n, piece, join_runs, min_piece);
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
            for (std::size_t round = 0; round < 40; ++round)
                failures += !covers_in_order(pool, 1000 + 37 * (t * 40 + round));
        });
    for (auto& c : callers) c.join();
    pool.for_each_range(16, [&](std::size_t lo, std::size_t hi) {  // batches inside a batch, on the workers
        for (std::size_t k = lo; k < hi; ++k) failures += !covers_in_order(pool, 1000 + k);
    });
    EXPECT_EQ(failures.load(), 0);
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

std::atomic<bool> stop_asked{false};
bool poll_stop() noexcept { return stop_asked.load(); }

// Once the hook says stop, the pieces not yet started are dropped and Interrupted is thrown after
// the running ones ended, whether the workers or the caller alone run them; under RunToEnd all run.
TEST(Pool, AStoppedBatchDropsThePiecesNotStartedAndThrowsOnceTheRunningOnesEnded) {
    Pool pool(2);
    set_poll_hook(&poll_stop);
    std::vector<std::atomic<int>> visits(3000);
    auto visit = [&](std::size_t lo, std::size_t hi) {
        for (std::size_t k = lo; k < hi; ++k, std::this_thread::sleep_for(std::chrono::microseconds(200)))
            if ((visits[k] += 1) == 1 && k == 300) stop_asked = true;
    };
    auto run = [&](std::size_t min_piece) {
        stop_asked = false;
        for (auto& v : visits) v = 0;
        pool.for_each_range(visits.size(), visit, min_piece);
    };
    auto visited = [&] { return std::accumulate(visits.begin(), visits.end(), 0); };
    for (std::size_t min_piece : {64, 4096}) {  // cut among the workers; on the caller alone
        EXPECT_THROW(run(min_piece), Interrupted);
        const int seen = visited();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_TRUE(seen < 1500 && seen == visited()) << seen;
    }
    RunToEnd in_place;
    run(64);
    EXPECT_EQ(visited(), 3000);
    set_poll_hook(nullptr);
}

}  // namespace
}  // namespace lumeric::pool
