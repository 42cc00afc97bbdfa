// Parsing of the worker-count variables and the choice between them.
#include <gtest/gtest.h>

#include <optional>
#include <string_view>

#include "pool/worker_count.hpp"

namespace lumeric::pool {
namespace {

TEST(ParseCount, AcceptsOnlyPlusAndDigits) {
    const struct { std::string_view text; std::optional<std::uint64_t> expected; } cases[] = {
        {"4", 4}, {"+4", 4}, {"0", 0}, {"+0", 0}, {"007", 7}, {"18446744073709551615", 18446744073709551615ull},
        {"18446744073709551616", std::nullopt},  // 2^64
        {"99999999999999999999", std::nullopt}, {"", std::nullopt}, {"+", std::nullopt}, {"++4", std::nullopt},
        {"-1", std::nullopt}, {"-0", std::nullopt}, {" 4", std::nullopt}, {"4 ", std::nullopt}, {"4\n", std::nullopt},
        {"abc", std::nullopt}, {"4a", std::nullopt}, {"0x10", std::nullopt}, {"1e3", std::nullopt},
        {"\xd9\xa4", std::nullopt},  // a non-ASCII digit
    };
    for (const auto& c : cases) EXPECT_EQ(parse_count(c.text), c.expected) << "text: '" << c.text << "'";
}

TEST(ChooseWorkerCount, FirstValidPositiveVariableWinsThenDefault) {
    using Text = std::optional<std::string_view>;
    const std::size_t cpus = 6;
    const struct { Text num_threads, rs_num_cpus; std::size_t expected; } cases[] = {
        {std::nullopt, std::nullopt, cpus}, {"4", std::nullopt, 4}, {"+4", "2", 4},
        {"0", "2", cpus},  // a valid 0 means the default, not the fallback
        {"abc", "2", 2}, {" 4", "2", 2}, {"4 ", std::nullopt, cpus}, {std::nullopt, "2", 2}, {std::nullopt, "0", cpus},
        {"x", "y", cpus}, {"100000", std::nullopt, 65535}, {"65535", std::nullopt, 65535}, {"65536", std::nullopt, 65535},
        {std::nullopt, "18446744073709551615", 65535},
        {"18446744073709551616", "5", 5},  // does not fit in 64 bits: invalid
    };
    for (const auto& c : cases) {
        EXPECT_EQ(choose_worker_count(c.num_threads, c.rs_num_cpus, cpus), c.expected)
            << "RAYON_NUM_THREADS=" << c.num_threads.value_or("<unset>")
            << " RAYON_RS_NUM_CPUS=" << c.rs_num_cpus.value_or("<unset>");
    }
    EXPECT_EQ(choose_worker_count(std::nullopt, std::nullopt, 0), 1u);
    EXPECT_EQ(choose_worker_count(std::nullopt, std::nullopt, 100000), 65535u);
}

}  // namespace
}  // namespace lumeric::pool
