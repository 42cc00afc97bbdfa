// siphash.hpp: SipHash-1-3 with 64-bit keys, for hashing canonical float patterns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace lumeric {

class SipHash13 {
public:
    constexpr SipHash13(std::uint64_t k0, std::uint64_t k1) noexcept
        : v0_(k0 ^ 0x736f6d6570736575ULL),
          v1_(k1 ^ 0x646f72616e646f6dULL),
          v2_(k0 ^ 0x6c7967656e657261ULL),
          v3_(k1 ^ 0x7465646279746573ULL) {}

    // One 8-byte little-endian block; callers feed whole words only.
    constexpr void write_u64(std::uint64_t m) noexcept {
        v3_ ^= m;
        round();
        v0_ ^= m;
        length_ += 8;
    }

    // The final block holds the message length in its top byte (no tail bytes here).
    constexpr std::uint64_t finish() noexcept {
        std::uint64_t b = static_cast<std::uint64_t>(length_ & 0xff) << 56;
        v3_ ^= b;
        round();
        v0_ ^= b;
        v2_ ^= 0xff;
        round();
        round();
        round();
        return v0_ ^ v1_ ^ v2_ ^ v3_;
    }

private:
    static constexpr std::uint64_t rotl(std::uint64_t x, int b) noexcept { return (x << b) | (x >> (64 - b)); }
    constexpr void round() noexcept {
        v0_ += v1_;
        v1_ = rotl(v1_, 13);
        v1_ ^= v0_;
        v0_ = rotl(v0_, 32);
        v2_ += v3_;
        v3_ = rotl(v3_, 16);
        v3_ ^= v2_;
        v0_ += v3_;
        v3_ = rotl(v3_, 21);
        v3_ ^= v0_;
        v2_ += v1_;
        v1_ = rotl(v1_, 17);
        v1_ ^= v2_;
        v2_ = rotl(v2_, 32);
    }

    std::uint64_t v0_, v1_, v2_, v3_;
    std::size_t length_ = 0;
};

}  // namespace lumeric
