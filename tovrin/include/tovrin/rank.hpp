// tovrin/rank.hpp: the exact order of binary64 keys as signed integers.
//
// Searches rank candidates by a key such as a squared distance; comparing integers is
// cheaper than comparing doubles, and this order also places every NaN.
#pragma once

#include <bit>
#include <cstdint>
#include <limits>

namespace tovrin {

// The bit pattern, with the 63 low bits flipped for negative values (so -0.0 ranks below
// +0.0). Every NaN ranks above +inf whatever its sign bit: a NaN produced by inf - inf has
// it set, and must not win.
inline std::int64_t rank_of(double key) noexcept {
    auto bits = std::bit_cast<std::int64_t>(key);
    bits ^= static_cast<std::int64_t>(static_cast<std::uint64_t>(bits >> 63) >> 1);
    return key != key ? std::numeric_limits<std::int64_t>::max() : bits;
}

}  // namespace tovrin
