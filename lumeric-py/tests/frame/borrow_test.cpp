// The borrow counter in its atomic form, the one a free-threaded interpreter uses, with threads
// racing for every kind of borrow: an exclusive borrow excludes all others, shared and view
// borrows coexist, and every release leaves the counter as it found it. The plain fields written
// under an exclusive borrow and read under a shared one make ThreadSanitizer check that the
// borrows also order those accesses.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "frame/borrow.hpp"

namespace lumeric {
namespace {

TEST(BorrowFlag, RacingThreadsNeverShareAnExclusiveBorrow) {
    BasicBorrowFlag<true> flag;
    std::uint64_t count = 0, copy = 0;  // written together, only under the exclusive borrow
    // One role per thread, tallied per thread and summed at the end: a thread that also released
    // shared borrows, or a shared counter touched every round, would itself order the threads
    // and hide a borrow that fails to.
    std::atomic<std::uint64_t> writes{0}, reads{0}, views{0}, wrong{0};
    auto race = [&](unsigned role) {  // 0 writes, 1 reads, 2 reads through a view
        std::uint64_t tally[4] = {};  // writes, reads, views, wrong
        // Until 2,000 borrows of the thread's kind were had; a yield after each try lets the others in.
        for (unsigned tries = 0; tally[role] < 2000 && tries < 1000000; ++tries, std::this_thread::yield()) {
            switch (role) {
                case 0:
                    if (!flag.try_exclusive()) break;
                    tally[3] += flag.try_shared() || flag.try_view() || flag.try_exclusive() || !flag.is_exclusive();
                    copy = ++count;
                    ++tally[0];
                    flag.release_exclusive();
                    break;
                case 1:
                    if (!flag.try_shared()) break;
                    tally[3] += copy != count || flag.is_exclusive() || flag.try_exclusive();
                    ++tally[1];
                    flag.release_shared();
                    break;
                default:
                    if (!flag.try_view()) break;
                    tally[3] += copy != count || !flag.has_views() || flag.try_exclusive();
                    ++tally[2];
                    flag.release_view();
            }
        }
        writes += tally[0], reads += tally[1], views += tally[2], wrong += tally[3];
    };
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < 4; ++t) threads.emplace_back(race, t % 3);
    for (auto& t : threads) t.join();
    EXPECT_EQ(wrong.load(), 0u);
    EXPECT_EQ(count, writes.load());  // no write was lost to an overlapping one
    EXPECT_TRUE(writes > 0 && reads > 0 && views > 0);
    EXPECT_FALSE(flag.has_views() || flag.is_exclusive());
    EXPECT_TRUE(flag.try_exclusive());  // every borrow was given back
}

}  // namespace
}  // namespace lumeric
