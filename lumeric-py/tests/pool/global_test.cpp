// The process-wide pool. Each case runs in a fresh child process (gtest's
// "threadsafe" death-test style re-executes the binary), because the pool
// is created once per process and reads the environment only then.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
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
            setenv("RAYON_NUM_THREADS", "3", 1);
            setenv("RAYON_RS_NUM_CPUS", "5", 1);
            int before = thread_count();
            // An empty batch still creates the pool, sized from the environment.
            for_each_range(0, [](std::size_t, std::size_t) {});
            check(added_threads(before, 3), "three workers after an empty batch");
            // Later changes are ignored, and racing callers share one pool.
            setenv("RAYON_NUM_THREADS", "7", 1);
            std::vector<std::thread> racers;
            std::atomic<int> wrong{0};
            for (int i = 0; i < 8; ++i)
                racers.emplace_back([&] {
                    if (worker_count() != 3) ++wrong;
                });
            for (auto& t : racers) t.join();
            check(wrong == 0, "worker_count() == 3 on every thread");
            check(added_threads(before, 3), "no second pool");
            std::vector<int> out(10000);
            map_into(out.size(), out.data(), [](std::size_t k) { return static_cast<int>(k); });
            for (std::size_t k = 0; k < out.size(); ++k) check(out[k] == static_cast<int>(k), "map result");
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(GlobalPool, FallsBackToSecondVariable) {
    EXPECT_EXIT(
        {
            unsetenv("RAYON_NUM_THREADS");
            setenv("RAYON_RS_NUM_CPUS", "2", 1);
            int before = thread_count();
            check(worker_count() == 2, "two workers");
            check(added_threads(before, 2), "two threads started");
            auto r = reduce(1, [](std::size_t k) { return k + 40; }, [](std::size_t a, std::size_t) { return a; });
            check(r && *r == 40, "single-element reduction");
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(GlobalPool, FailedStartIsReportedOnEveryCall) {
#ifdef LUMERIC_POOL_SANITIZED
    GTEST_SKIP() << "sanitizer runtimes need more address space than this test allows";
#else
    EXPECT_EXIT(
        {
            // Far more threads than fit in a small address space: starting
            // them fails part-way.
            setenv("RAYON_NUM_THREADS", "65535", 1);
            rlimit limit{};
            getrlimit(RLIMIT_AS, &limit);
            long pages = 0;
            if (FILE* f = std::fopen("/proc/self/statm", "r")) {
                check(std::fscanf(f, "%ld", &pages) == 1, "read statm");
                std::fclose(f);
            }
            limit.rlim_cur = static_cast<rlim_t>(pages) * 4096 + (256u << 20);
            check(setrlimit(RLIMIT_AS, &limit) == 0, "setrlimit");
            for (int attempt = 0; attempt < 2; ++attempt) {
                try {
                    for_each_range(0, [](std::size_t, std::size_t) {});
                    check(false, "batch should fail");
                } catch (const PoolError& e) {
                    const char* prefix = "The global thread pool has not been initialized.";
                    check(std::strncmp(e.what(), prefix, std::strlen(prefix)) == 0, "message prefix");
                }
            }
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
#endif
}

}  // namespace
}  // namespace lumeric::pool
