// pool_bench: overhead of pool batches against a plain loop, and the batch
// length from which handing pieces to a second worker pays. Not a test: build
// the `pool_bench` target and run it by hand on an otherwise idle machine.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>
#include <vector>

#include "pool/pool.hpp"

namespace {

struct V {
    double x, y, z;
};

double now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Median of `reps` timings of f, in microseconds. "Cold" runs let the
// workers fall asleep first, as they do between two batches from Python.
template <class F>
double median_us(int reps, F&& f, bool cold = false) {
    std::vector<double> t;
    for (int i = 0; i < reps; ++i) {
        if (cold) std::this_thread::sleep_for(std::chrono::microseconds(500));
        double t0 = now();
        f();
        t.push_back(now() - t0);
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2] * 1e6;
}

inline double dist(const V& a, const V& p) {
    double dx = a.x - p.x, dy = a.y - p.y, dz = a.z - p.z;
    return std::sqrt((dx * dx + dy * dy) + dz * dz);
}

}  // namespace

int main() {
    const std::size_t big = 1000000;
    std::vector<V> data(big);
    for (std::size_t k = 0; k < big; ++k) data[k] = {double(k), double(k % 7), double(k % 13)};
    std::vector<double> out(big);
    const V p{1.5, 2.5, 3.5};
    auto element = [&](std::size_t lo, std::size_t hi) {
        for (std::size_t k = lo; k < hi; ++k) out[k] = dist(data[k], p);
    };

    lumeric::pool::Pool one(1), two(2);
    std::printf("distance_to over n elements, median of many runs, microseconds\n");
    std::printf("%9s %9s %9s %9s %9s %9s %9s\n", "n", "loop", "W=1 hot", "W=2 hot", "W=2 cold", "4k hot",
                "4k cold");
    for (std::size_t n : {2ul, 128ul, 1024ul, 4096ul, 8192ul, 16384ul, 65536ul, 262144ul, 1000000ul}) {
        int reps = n >= 262144 ? 60 : 300;
        double loop = median_us(reps, [&] {
            element(0, n);
            asm volatile("" ::"r"(out.data()) : "memory");
        });
        double w1 = median_us(reps, [&] { one.for_each_range(n, element); });
        double w2 = median_us(reps, [&] { two.for_each_range(n, element); });
        double w2c = median_us(reps, [&] { two.for_each_range(n, element); }, true);
        double k4 = median_us(reps, [&] { two.for_each_range(n, element, 4096); });
        double k4c = median_us(reps, [&] { two.for_each_range(n, element, 4096); }, true);
        std::printf("%9zu %9.2f %9.2f %9.2f %9.2f %9.2f %9.2f\n", n, loop, w1, w2, w2c, k4, k4c);
    }

    struct Best {
        std::size_t index;
        double key;
    };
    auto keep_left = [](Best l, Best r) { return r.key < l.key ? r : l; };
    auto piece = [&](std::size_t lo, std::size_t hi) {
        Best b{lo, dist(data[lo], p)};
        for (std::size_t k = lo + 1; k < hi; ++k) b = keep_left(b, Best{k, dist(data[k], p)});
        return b;
    };
    double seq = median_us(50, [&] {
        Best b = piece(0, big);
        asm volatile("" ::"r"(&b) : "memory");
    });
    double r1 = median_us(50, [&] { (void)one.reduce_ranges(big, piece, keep_left); });
    double r2 = median_us(50, [&] { (void)two.reduce_ranges(big, piece, keep_left); });
    std::printf("minimum over 1e6: loop %.1f us, W=1 %.1f us, W=2 %.1f us\n", seq, r1, r2);
    return 0;
}
