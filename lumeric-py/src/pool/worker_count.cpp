// pool/worker_count.cpp: parsing of the worker-count variables and the
// processor count of the process (see worker_count.hpp).
#include "pool/worker_count.hpp"

#include <sched.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <limits>
#include <thread>

namespace lumeric::pool {

std::optional<std::uint64_t> parse_count(std::string_view text) noexcept {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    constexpr std::uint64_t limit = std::numeric_limits<std::uint64_t>::max();
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (limit - digit) / 10) return std::nullopt;  // would not fit
        value = value * 10 + digit;
    }
    return value;
}

std::size_t choose_worker_count(std::optional<std::string_view> num_threads,
                                std::optional<std::string_view> rs_num_cpus,
                                std::size_t available) noexcept {
    std::uint64_t chosen = std::max<std::size_t>(available, 1);
    std::optional<std::uint64_t> first = num_threads ? parse_count(*num_threads) : std::nullopt;
    if (first) {
        if (*first > 0) chosen = *first;
    } else if (auto second = rs_num_cpus ? parse_count(*rs_num_cpus) : std::nullopt;
               second && *second > 0) {
        chosen = *second;
    }
    return static_cast<std::size_t>(std::min<std::uint64_t>(chosen, max_workers));
}

std::size_t available_processors() noexcept {
    // The mask may be larger than a fixed cpu_set_t on very big machines, so
    // grow it until the kernel accepts it.
    for (int cpus = 1024; cpus <= (1 << 20); cpus *= 2) {
        cpu_set_t* set = CPU_ALLOC(cpus);
        if (set == nullptr) break;
        std::size_t size = CPU_ALLOC_SIZE(cpus);
        CPU_ZERO_S(size, set);
        int rc = sched_getaffinity(0, size, set);
        int count = rc == 0 ? CPU_COUNT_S(size, set) : 0;
        CPU_FREE(set);
        if (rc == 0) return count > 0 ? static_cast<std::size_t>(count) : 1;
        if (errno != EINVAL) break;
    }
    unsigned hw = std::thread::hardware_concurrency();
    return hw > 0 ? hw : 1;
}

std::size_t worker_count_from_environment() noexcept {
    auto read = [](const char* name) -> std::optional<std::string_view> {
        const char* value = std::getenv(name);
        if (value == nullptr) return std::nullopt;
        return std::string_view(value);
    };
    return choose_worker_count(read("RAYON_NUM_THREADS"), read("RAYON_RS_NUM_CPUS"),
                               available_processors());
}

}  // namespace lumeric::pool
