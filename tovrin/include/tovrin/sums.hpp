// tovrin/sums.hpp: sums in one fixed order, so that a total depends only on its terms.
#pragma once

#include <array>
#include <cstddef>

namespace tovrin {

inline constexpr std::size_t sum_block = 4096;

// Σ term(k) for k in [0, n), each of Width components: in index order within blocks of
// sum_block terms, the block sums then added in block order. The rounding error grows with
// the block length and the block count rather than with n.
template <std::size_t Width, class Term>
std::array<double, Width> blocked_sum(std::size_t n, Term term) {
    std::array<double, Width> total{};
    for (std::size_t lo = 0; lo < n; lo += sum_block) {
        const std::size_t hi = n - lo < sum_block ? n : lo + sum_block;
        std::array<double, Width> part{};
        for (std::size_t k = lo; k < hi; ++k) {
            const std::array<double, Width> t = term(k);
            for (std::size_t c = 0; c < Width; ++c) part[c] = part[c] + t[c];
        }
        for (std::size_t c = 0; c < Width; ++c) total[c] = total[c] + part[c];
    }
    return total;
}

}  // namespace tovrin
