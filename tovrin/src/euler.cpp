// Euler angles: the product of three axis turns, and its inverse read off the quaternion.
#include <tovrin/euler.hpp>

#include <cmath>

namespace tovrin {

namespace {

constexpr double pi = 3.141592653589793;
constexpr double half_pi = 1.5707963267948966;
// How close the middle angle may come to an end of its range before the first and third
// axes are taken as one (gimbal lock).
constexpr double gimbal_band = 1e-7;

Quat turn(std::uint8_t axis, double angle) noexcept {
    Vec3d e = axis == 0 ? Vec3d::i() : axis == 1 ? Vec3d::j() : Vec3d::k();
    return Quat::from_axis_angle(e, AngleRadians{angle});
}

// atan2(y, x) from the atan of the smaller magnitude over the larger, a ratio of at most 1,
// which the platform computes several times faster than atan2, to within an ulp or two of it:
//   |y| < |x|: t = atan(y / x); x > 0 gives t, x < 0 gives t - pi when y's sign is set, else t + pi;
//   |y| > |x|: t = atan(x / y); y > 0 gives pi/2 - t, y < 0 gives -pi/2 - t;
//   otherwise (equal magnitudes, zeros, two infinities, NaN) atan2(y, x) itself.
double angle_of(double y, double x) noexcept {
    double ax = std::fabs(x), ay = std::fabs(y);
    if (ay < ax) {
        double t = std::atan(y / x);
        if (x > 0) return t;
        return std::signbit(y) ? t - pi : t + pi;
    }
    if (ay > ax) {
        double t = std::atan(x / y);
        return y > 0 ? half_pi - t : -half_pi - t;
    }
    return std::atan2(y, x);
}

double larger(double a, double b) noexcept { return a < b ? b : a; }

// The exponent e for which 2^e brings q's largest |component| into [1, 2) when that lies
// outside [2^-100, 2^100], else 0: step 3's fourth powers then neither overflow nor lose
// digits to underflow, and the angles, which depend only on the ratios of the components,
// keep them (the scaling is exact).
int scale_exponent(const Quat& q) noexcept {
    double m = larger(larger(std::fabs(q.w), std::fabs(q.i)), larger(std::fabs(q.j), std::fabs(q.k)));
    if (!std::isfinite(m) || m == 0 || (m >= 0x1p-100 && m <= 0x1p100)) return 0;
    return -std::ilogb(m);
}

// Into [-pi, pi]: the angles wrapped here lie in [-2pi, 2pi].
double wrapped(double angle) noexcept {
    if (angle < -pi) return angle + 2.0 * pi;
    if (angle > pi) return angle - 2.0 * pi;
    return angle;
}

}  // namespace

// from_euler(seq, (a0, a1, a2)), t(e, a) = Quat::from_axis_angle(e, a):
//   extrinsic: (t(e0, a0) ⊗ t(e1, a1)) ⊗ t(e2, a2)
//   intrinsic: (t(e2, a2) ⊗ t(e1, a1)) ⊗ t(e0, a0)
// the products as Quat::operator* sums them, the left one first.
Quat from_euler(const EulerSequence& seq, const EulerAngles& angles) noexcept {
    const auto& e = seq.axes;
    if (!seq.intrinsic) return (turn(e[0], angles[0]) * turn(e[1], angles[1])) * turn(e[2], angles[2]);
    return (turn(e[2], angles[2]) * turn(e[1], angles[1])) * turn(e[0], angles[0]);
}

// to_euler(q, seq), after Bernardes and Viollet (2022), on the extrinsic form of seq: axes
// (i, j, k) in the order applied (an intrinsic sequence reversed), angles (α, β, γ).
//   1. p = (w, x0, x1, x2) = 2^e·(q.w, -q.i, -q.j, -q.k), e = scale_exponent(q) (0 unless q's
//      largest |component| lies outside [2^-100, 2^100]): the same rotation in the
//      v -> p v p* form that the paper uses. s = +1 when (i, j, k) is a cyclic order of (0, 1, 2), else -1.
//   2. Same first and third axis (proper Euler): k = 3 - i - j, and
//        a = w, b = x_i, c = x_j, d = s·x_k.
//      Three different axes (Tait-Bryan), the same with the frame turned a quarter about j:
//        a = w - x_j, b = x_i + s·x_k, c = x_j + w, d = s·x_k - x_i.
//   3. With n1 = c·c + d·d and n2 = a·a + b·b, β = angle_of(2·sqrt(n1·n2), n2 - n1), in
//      [0, pi] (twice atan2(sqrt(n1), sqrt(n2)), with one square root); σ = angle_of(b, a),
//      δ = angle_of(d, c) (angle_of is atan2 to an ulp or two, above).
//   4. β > 1e-7 and |β - pi| > 1e-7: α = σ - δ, γ = σ + δ.
//      Otherwise (gimbal lock) the written third angle is 0 and the first carries the turn:
//        extrinsic: α = 2·σ for the lower end, -2·δ for the upper; γ = 0;
//        intrinsic: γ = 2·σ for the lower end,  2·δ for the upper; α = 0.
//   5. Tait-Bryan: γ = -γ when s = -1 (a computed zero included), and β = β - pi/2.
//   6. α and γ below -pi gain 2·pi, above pi lose it. Extrinsic gives (α, β, γ), intrinsic
//      (γ, β, α).
// Each step's ratios are those of q's components, so a non-unit q gives the angles of its
// normalised form.
EulerAngles to_euler(const Quat& q, const EulerSequence& seq) noexcept {
    int i = seq.intrinsic ? seq.axes[2] : seq.axes[0];
    int j = seq.axes[1];
    int k = seq.intrinsic ? seq.axes[0] : seq.axes[2];
    bool proper = i == k;
    if (proper) k = 3 - i - j;
    bool cyclic = (j - i + 3) % 3 == 1;
    // Scalars, not a scaled copy of q: a copy read back from memory stalls the loads.
    double w = q.w, x[3] = {-q.i, -q.j, -q.k};
    if (int e = scale_exponent(q); e != 0) {
        w = std::scalbn(w, e);
        for (double& v : x) v = std::scalbn(v, e);
    }
    double sxk = cyclic ? x[k] : -x[k];
    double a, b, c, d;
    if (proper) {
        a = w, b = x[i], c = x[j], d = sxk;
    } else {
        a = w - x[j], b = x[i] + sxk, c = x[j] + w, d = sxk - x[i];
    }
    double n1 = c * c + d * d, n2 = a * a + b * b;
    double beta = angle_of(2.0 * std::sqrt(n1 * n2), n2 - n1);
    double sigma = angle_of(b, a), delta = angle_of(d, c);
    bool lower = beta <= gimbal_band, upper = std::fabs(beta - pi) <= gimbal_band;
    double alpha, gamma;
    if (!lower && !upper) {
        alpha = sigma - delta, gamma = sigma + delta;
    } else if (!seq.intrinsic) {
        alpha = lower ? 2.0 * sigma : -2.0 * delta, gamma = 0.0;
    } else {
        alpha = 0.0, gamma = lower ? 2.0 * sigma : 2.0 * delta;
    }
    if (!proper) {
        if (!cyclic) gamma = -gamma;
        beta = beta - half_pi;
    }
    alpha = wrapped(alpha), gamma = wrapped(gamma);
    if (seq.intrinsic) return {gamma, beta, alpha};
    return {alpha, beta, gamma};
}

}  // namespace tovrin
