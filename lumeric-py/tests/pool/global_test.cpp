// The process-wide pool. The case runs in a fresh child process (gtest's "threadsafe"
// death-test style re-executes the binary), because the pool is created once per process
// and reads the environment only then.
#include <gtest/gtest.h>

#include <dirent.h>

#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

#include "pool/pool.hpp"

namespace lumeric::pool {
namespace {

int thread_count() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/task")) {
        while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
        closedir(d);
    }
    return n;
}

TEST(GlobalPool, FirstBatchCreatesItOnceFromTheEnvironment) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            unsetenv("RAYON_NUM_THREADS");
            setenv("RAYON_RS_NUM_CPUS", "3", 1);
            const int before = thread_count();
            // Racing first callers, each with an empty batch, create one pool sized from the
            // environment; later changes are ignored. Sanitizer runtimes may start a helper
            // thread of their own, hence one more thread is allowed.
            std::vector<std::thread> racers;
            std::atomic<int> wrong{0};
            for (int i = 0; i < 8; ++i)
                racers.emplace_back([&] {
                    for_each_range(0, [](std::size_t, std::size_t) {});
                    wrong += worker_count() != 3;
                });
            for (auto& t : racers) t.join();
            auto one_pool = [before] { return thread_count() - before == 3 || thread_count() - before == 4; };
            if (wrong != 0 || !one_pool()) std::exit(1);  // not one pool of three workers
            setenv("RAYON_NUM_THREADS", "7", 1);
            auto r = reduce_ranges(10000, [](std::size_t lo, std::size_t hi) { return hi - lo; },
                                   [](std::size_t a, std::size_t b) { return a + b; });
            std::exit(worker_count() == 3 && one_pool() && r == 10000u ? 0 : 2);  // 2: a second pool
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace lumeric::pool
