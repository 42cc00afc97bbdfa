// bit_equal.hpp: bit-for-bit comparison of results, for every C++ suite.
//
// A formula is checked to the bit: any regrouping of its operations changes some result's last
// bits, and only an exact comparison sees that. A NaN's sign and payload depend on the processor
// and on the operand order the compiler picks for commutative operations, not on the formula, so
// any NaN matches any NaN; the sign of zero counts.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

#include <tovrin/quat.hpp>
#include <tovrin/vec3d.hpp>

namespace tovrin::testing {

inline std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }

inline bool same(double got, double want) {
    if (std::isnan(got) || std::isnan(want)) return std::isnan(got) && std::isnan(want);
    return bits(got) == bits(want);
}

inline bool same(const Vec3d& got, const Vec3d& want) {
    return same(got.x, want.x) && same(got.y, want.y) && same(got.z, want.z);
}

inline bool same(const Quat& got, const Quat& want) {
    return same(got.w, want.w) && same(got.i, want.i) && same(got.j, want.j) && same(got.k, want.k);
}

}  // namespace tovrin::testing
