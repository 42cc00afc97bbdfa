// tovrin/euler.hpp: Euler angles, three turns about coordinate axes, to and from quaternions.
//
// A sequence names three axes, no axis twice in a row: "xyz"-style lower case for extrinsic
// turns (about the fixed axes, the first letter's turn applied first), "XYZ"-style upper case
// for intrinsic ones (about the axes as already turned). Intrinsic "XYZ" (a, b, c) is extrinsic
// "zyx" (c, b, a). Angles are radians, each turning by the right-hand rule as
// Quat::from_axis_angle does.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include <tovrin/quat.hpp>

namespace tovrin {

// Three axes (0 = x, 1 = y, 2 = z) in the order they are written, and whether they are
// intrinsic (written in upper case).
struct EulerSequence {
    std::array<std::uint8_t, 3> axes;
    bool intrinsic;

    // Three letters of "xyz" or three of "XYZ" (never mixed), no letter twice in a row:
    // the 12 extrinsic and 12 intrinsic sequences. Anything else gives nullopt.
    static constexpr std::optional<EulerSequence> parse(std::string_view text) noexcept {
        if (text.size() != 3) return std::nullopt;
        bool intrinsic = text[0] >= 'X' && text[0] <= 'Z';
        int base = intrinsic ? 'X' : 'x';
        int a = text[0] - base, b = text[1] - base, c = text[2] - base;
        if (a < 0 || a > 2 || b < 0 || b > 2 || c < 0 || c > 2 || a == b || b == c) return std::nullopt;
        // Built whole from values in registers: filled byte by byte in memory and then read
        // as one word, it would stall the read.
        return EulerSequence{{static_cast<std::uint8_t>(a), static_cast<std::uint8_t>(b), static_cast<std::uint8_t>(c)},
                             intrinsic};
    }
};

// Three angles in radians, in the order of the sequence's letters.
using EulerAngles = std::array<double, 3>;

// The rotation of the three turns. Extrinsic (a0, a1, a2) about axes (e0, e1, e2) is
//   from_axis_angle(e0, a0) ⊗ from_axis_angle(e1, a1) ⊗ from_axis_angle(e2, a2),
// multiplied left to right, so rotate() turns by a0 first; intrinsic is the extrinsic
// sequence reversed, angles reversed. Formula in euler.cpp.
Quat from_euler(const EulerSequence& seq, const EulerAngles& angles) noexcept;

// Angles that from_euler turns back into q or -q: the first and third in [-pi, pi], the
// middle in [-pi/2, pi/2] when the three axes differ, in [0, pi] when the first and third
// are the same. Where the middle angle lies within 1e-7 of one end of its range (gimbal
// lock) the third angle is 0 and the first carries the whole turn. A non-unit q gives the
// angles of q.normalize(). Formula in euler.cpp.
EulerAngles to_euler(const Quat& q, const EulerSequence& seq) noexcept;

}  // namespace tovrin
