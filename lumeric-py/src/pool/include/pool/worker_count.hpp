// pool/worker_count.hpp: how many worker threads the process-wide pool gets.
//
// The count comes from RAYON_NUM_THREADS, then RAYON_RS_NUM_CPUS, then the
// number of logical processors this process may run on, and is capped at
// 65535. The decision is a pure function of the two texts and the processor
// count so it can be tested without touching the environment; only
// worker_count_from_environment() reads the process state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace lumeric::pool {

inline constexpr std::size_t max_workers = 65535;

// An optional single '+', then one or more ASCII digits and nothing else,
// fitting in 64 bits. Anything else (spaces, signs, empty text) is nullopt.
std::optional<std::uint64_t> parse_count(std::string_view text) noexcept;

// The first variable that parses to a value above 0 gives the count. A valid
// 0 in the first variable means "use the default" without consulting the
// second. `available` is the processor count (0 is treated as 1).
std::size_t choose_worker_count(std::optional<std::string_view> num_threads,
                                std::optional<std::string_view> rs_num_cpus,
                                std::size_t available) noexcept;

// Logical processors in this process's affinity mask; 1 when unknown.
std::size_t available_processors() noexcept;

// choose_worker_count() applied to the live environment.
std::size_t worker_count_from_environment() noexcept;

}  // namespace lumeric::pool
