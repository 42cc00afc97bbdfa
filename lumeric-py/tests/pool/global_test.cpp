// The process-wide pool. Each case runs in a fresh child process (gtest's
// "threadsafe" death-test style re-executes the binary), because the pool
// is created once per process and reads the environment only then.
#include <gtest/gtest.h>

#include <dirent.h>

#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "pool/pool.hpp"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define LUMERIC_POOL_SANITIZED 1
#endif

namespace lumeric::pool {
namespace {

int thread_count() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/task")) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.') ++n;
        closedir(d);
    }
    return n;
}

// Child-side check: report and exit non-zero on the first failure.
void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "check failed: %s\n", what);
        std::exit(1);
    }
}

// Worker threads added since `before`. Sanitizer runtimes may start a helper
// thread of their own at any time, so there only a lower bound holds.
bool added_threads(int before, int added) {
#ifdef LUMERIC_POOL_SANITIZED
    return thread_count() >= before + added;
#else
    return thread_count() == before + added;
#endif
}

class GlobalPool : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(GlobalPool, FirstBatchCreatesItOnceFromTheEnvironment) {
    EXPECT_EXIT(
        {
            unsetenv("RAYON_NUM_THREADS");
            setenv("RAYON_RS_NUM_CPUS", "3", 1);
            int before = thread_count();
            // Racing first callers, each with an empty batch, create one pool sized from the
            // environment; later changes are ignored.
            std::vector<std::thread> racers;
            std::atomic<int> wrong{0};
            for (int i = 0; i < 8; ++i)
                racers.emplace_back([&] {
                    for_each_range(0, [](std::size_t, std::size_t) {});
                    if (worker_count() != 3) ++wrong;
                });
            for (auto& t : racers) t.join();
            check(wrong == 0, "worker_count() == 3 on every thread");
            check(added_threads(before, 3), "three workers, one pool");
            setenv("RAYON_NUM_THREADS", "7", 1);
            check(worker_count() == 3 && added_threads(before, 3), "no second pool");
            auto r = reduce_ranges(10000, [](std::size_t lo, std::size_t hi) { return hi - lo; },
                                   [](std::size_t a, std::size_t b) { return a + b; });
            check(r && *r == 10000u, "reduction result");
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace lumeric::pool
