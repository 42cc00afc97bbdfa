// siphash.hpp: SipHash-1-3 with both keys zero over a fixed number of 64-bit words, for
// hashing canonical float patterns.
//
// The message length is known at compile time and the keys are zero, so the whole hash
// unrolls into one straight chain of rounds whose constant parts fold away; the hash slots
// that use it sit on a per-call path measured in nanoseconds.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace lumeric {

namespace siphash_detail {

struct State {
    // The initial state for keys k0 = k1 = 0: "somepseudorandomlygeneratedbytes".
    std::uint64_t v0 = 0x736f6d6570736575ULL, v1 = 0x646f72616e646f6dULL;
    std::uint64_t v2 = 0x6c7967656e657261ULL, v3 = 0x7465646279746573ULL;

    static constexpr std::uint64_t rotl(std::uint64_t x, int b) noexcept { return (x << b) | (x >> (64 - b)); }

    constexpr void round() noexcept {
        v0 += v1;
        v1 = rotl(v1, 13);
        v1 ^= v0;
        v0 = rotl(v0, 32);
        v2 += v3;
        v3 = rotl(v3, 16);
        v3 ^= v2;
        v0 += v3;
        v3 = rotl(v3, 21);
        v3 ^= v0;
        v2 += v1;
        v1 = rotl(v1, 17);
        v1 ^= v2;
        v2 = rotl(v2, 32);
    }

    // One compression round per 8-byte little-endian block.
    constexpr void block(std::uint64_t m) noexcept {
        v3 ^= m;
        round();
        v0 ^= m;
    }
};

}  // namespace siphash_detail

// SipHash-1-3 (keys zero) of the N words, each taken as 8 bytes little-endian. The final block
// carries the message length in its top byte; there are never tail bytes.
template <std::size_t N>
constexpr std::uint64_t siphash13(const std::array<std::uint64_t, N>& words) noexcept {
    static_assert(N * 8 < 256, "the length byte must hold the message length");
    siphash_detail::State s;
    for (std::uint64_t m : words) s.block(m);
    s.block(std::uint64_t{N * 8} << 56);
    s.v2 ^= 0xff;
    s.round();
    s.round();
    s.round();
    return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

}  // namespace lumeric
