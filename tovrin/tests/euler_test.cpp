// Euler angles: documented values whose bits change under any other grouping of the formulas,
// and the gimbal-lock rule. scipy, in the Python suite, is the oracle for all 24 sequences.
#include <tovrin/euler.hpp>

#include <gtest/gtest.h>

#include "bit_equal.hpp"

namespace tovrin {
namespace {

EulerSequence seq(const char* text) { return *EulerSequence::parse(text); }

TEST(Euler, DocumentedValues) {
    // The three turns multiplied left to right; the right product first rounds differently.
    const struct { const char* seq; EulerAngles angles; Quat want; } from[] = {
        {"xyz", {-1.06, -2.09, 0.91}, {0.58114112739762813, -0.10004035180177517, 0.78184293907838265, 0.20245625866262371}},
        {"ZXZ", {-2.57, 0.22, -0.81}, {-0.11820281898094753, -0.069945369986581893, 0.084610404514677898, 0.9869026386884675}},
    };
    for (const auto& c : from) EXPECT_TRUE(testing::same(from_euler(seq(c.seq), c.angles), c.want)) << c.seq;
    const Quat q{0.5811411273976281, -0.10004035180177517, 0.7818429390783826, 0.2024562586626237};
    const Quat locked = from_euler(seq("xyz"), {0.3, 1.5707963267948966, -0.7});
    const struct { const char* seq; Quat q; EulerAngles want; } to[] = {
        {"xyz", q, {2.0815926535897926, -1.0515926535897935, -2.231592653589793}},
        {"ZXZ", q, {-1.7787616093760514, 1.8158134192179243, 1.1083050199448496}},
        {"yxy", q, {-2.0434524662239442, 0.45557819602775562, 0.18025391692734161}},
        // Gimbal lock: the third angle is 0 and the first carries the turn about both axes.
        {"xyz", locked, {1, 1.5707963267948966, 0}},
        {"ZYX", from_euler(seq("ZYX"), {0.3, -1.5707963267948966, -0.7}), {-0.39999999999999997, -1.5707963267948963, 0}},
        {"XZX", from_euler(seq("XZX"), {0.3, 3.141592653589793, -0.7}), {1.0000000000000002, 3.1415926535897931, 0}},
        // Only ratios count: a quaternion whose squares would overflow is scaled first.
        {"xyz", {q.w * 0x1p900, q.i * 0x1p900, q.j * 0x1p900, q.k * 0x1p900},
         {2.0815926535897926, -1.0515926535897935, -2.231592653589793}},
    };
    for (const auto& c : to) {
        EulerAngles got = to_euler(c.q, seq(c.seq));
        for (int k = 0; k < 3; ++k) EXPECT_TRUE(testing::same(got[k], c.want[k])) << c.seq << " angle " << k << ": " << got[k];
    }
}

}  // namespace
}  // namespace tovrin
