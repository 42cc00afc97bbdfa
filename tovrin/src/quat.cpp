// Quaternion operations that need libm.
#include <tovrin/quat.hpp>

#include <cmath>

namespace tovrin {

Quat Quat::from_axis_angle(const Vec3d& axis, AngleRadians angle) noexcept {
    double h = angle.angle * -0.5;
    double s;
    double c;
    ::sincos(h, &s, &c);
    return {c, s * axis.x, s * axis.y, s * axis.z};
}

AxisAngle Quat::to_axis_angle() const noexcept {
    if (within_epsilon(w, 1.0)) return {Vec3d::i(), AngleRadians::zero()};
    double a = std::acos(w);
    double angle = a + a;
    double s = std::sin(angle * 0.5);
    return {{i / s, j / s, k / s}, {angle}};
}

// slerp(b, t), for a = *this:
//   1. d = ((a.w·b.w + a.i·b.i) + a.j·b.j) + a.k·b.k; if d < 0, c = -b and d = -d, else c = b.
//   2. t == 0 gives a and t == 1 gives c, unchanged.
//   3. d > 1 - 2^-34 and 0 < t < 1: r = a·(1 - t) + c·t field by field (each field
//      a_f·s + c_f·t with s = 1 - t), then r.normalize(). Within that band the chord,
//      normalised, strays from the arc by less than 2^-55 for t in [0, 1], so the switch
//      cannot be seen; outside [0, 1] it would leave the arc, so it is not used there.
//   4. Otherwise θ = 2·atan2(|a - c|, |a + c|), the differences and sums field by field and
//      |q| = sqrt(((q.w·q.w + q.i·q.i) + q.j·q.j) + q.k·q.k): unlike acos(d), accurate for
//      small angles too, where extrapolation multiplies any error of θ by t. θ = 0 (a and c
//      equal) gives a. Else h = sin(θ), s0 = sin((1 - t)·θ) / h, s1 = sin(t·θ) / h, and each
//      field is a_f·s0 + c_f·s1, not normalised.
// The inputs are used as given: for unit inputs the result is unit to rounding.
Quat Quat::slerp(const Quat& b, double t) const noexcept {
    constexpr double near_parallel = 1.0 - 0x1p-34;
    double d = ((w * b.w + i * b.i) + j * b.j) + k * b.k;
    Quat c = b;
    if (d < 0) {
        c = {-b.w, -b.i, -b.j, -b.k};
        d = -d;
    }
    if (t == 0) return *this;
    if (t == 1) return c;
    if (d > near_parallel && t > 0 && t < 1) {
        double s = 1.0 - t;
        return Quat{w * s + c.w * t, i * s + c.i * t, j * s + c.j * t, k * s + c.k * t}.normalize();
    }
    const Quat apart{w - c.w, i - c.i, j - c.j, k - c.k};
    const Quat together{w + c.w, i + c.i, j + c.j, k + c.k};
    double half = std::atan2(apart.magnitude(), together.magnitude());
    double theta = half + half;
    if (theta == 0) return *this;
    double h = std::sin(theta);
    double s0 = std::sin((1.0 - t) * theta) / h;
    double s1 = std::sin(t * theta) / h;
    return {w * s0 + c.w * s1, i * s0 + c.i * s1, j * s0 + c.j * s1, k * s0 + c.k * s1};
}

namespace {

bool zero(const Vec3d& v) noexcept { return v.x == 0 && v.y == 0 && v.z == 0; }
double larger(double a, double b) noexcept { return a < b ? b : a; }

// 0 when m, the largest |component| of a finite value, lies in [2^-500, 2^500], where
// squaring cannot overflow or underflow, or is 0 (nothing to scale); otherwise the exponent
// e that 2^-e brings m into [1, 2) with (scaling by it is exact, bar components that fall
// below the normal range).
int range_exponent(double m) noexcept {
    return m == 0 || (m >= 0x1p-500 && m <= 0x1p500) ? 0 : std::ilogb(m);
}

Vec3d in_range(const Vec3d& v) noexcept {
    int e = range_exponent(larger(larger(std::fabs(v.x), std::fabs(v.y)), std::fabs(v.z)));
    if (e == 0) return v;
    return {std::scalbn(v.x, -e), std::scalbn(v.y, -e), std::scalbn(v.z, -e)};
}

// |v|, as Vec3d::magnitude computes it, unless the squares of v's largest |component| would
// overflow or underflow: then the magnitude of in_range(v), scaled back. Non-finite v as given.
double length(const Vec3d& v) noexcept {
    if (!is_finite(v)) return v.magnitude();
    int e = range_exponent(larger(larger(std::fabs(v.x), std::fabs(v.y)), std::fabs(v.z)));
    if (e == 0) return v.magnitude();
    return std::scalbn(in_range(v).magnitude(), e);
}

// Below this angle, and this ratio |(i, j, k)| / w, the scales of the rotation-vector
// conversions come from their Taylor series, whose next term then lies below 2^-64.
constexpr double taylor_below = 0x1p-13;

}  // namespace

// from_rotation_vector(v):
//   θ = length(v), h = θ·0.5;
//   f = 0.5 - (θ·θ)/48 when θ < 2^-13 (sin(θ/2)/θ to within 2^-56·θ^2), else f = sin(h)/θ;
//   the result is (cos(h), -f·v.x, -f·v.y, -f·v.z): from_axis_angle's (cos(-h), sin(-h)·axis).
Quat Quat::from_rotation_vector(const Vec3d& v) noexcept {
    double theta = length(v);
    double h = theta * 0.5;
    double f = theta < taylor_below ? 0.5 - (theta * theta) / 48.0 : std::sin(h) / theta;
    double g = -f;
    return {std::cos(h), g * v.x, g * v.y, g * v.z};
}

// to_rotation_vector() of (w, i, j, k):
//   1. w >= 0 (-0.0 too): a = w, x = (-i, -j, -k); otherwise a = -w, x = (i, j, k). Either is
//      the rotation as from_rotation_vector writes it, with a >= 0.
//   2. n = length(x).
//   3. n <= a·2^-13: r = n / a, t = r·r, s = (2 / a)·((1 - t/3) + (t·t)/5), the series of
//      2·atan(r)/n; otherwise s = (2·atan2(n, a)) / n.
//   4. The result is (s·x.x, s·x.y, s·x.z), of length 2·atan2(n, a) in [0, pi].
Vec3d Quat::to_rotation_vector() const noexcept {
    double a = w;
    Vec3d x{-i, -j, -k};
    if (w < 0) a = -w, x = {i, j, k};
    double n = length(x);
    double s;
    if (n <= a * taylor_below) {
        double r = n / a, t = r * r;
        s = (2.0 / a) * ((1.0 - t / 3.0) + (t * t) / 5.0);
    } else {
        s = (2.0 * std::atan2(n, a)) / n;
    }
    return {s * x.x, s * x.y, s * x.z};
}

// from_two_vectors(a, b):
//   1. a, then b: a non-finite component, or all three zero, is refused.
//   2. a' = in_range(a), b' = in_range(b); â = a'.normalize(), b̂ = b'.normalize();
//      c = â + b̂, d = â - b̂, n = in_range(c) × â (along b̂ × â; +, -, ×, ·, magnitude and
//      normalize as Vec3d computes them).
//   3. b' × a' = (0, 0, 0) exactly (a and b parallel, or antiparallel) or n = (0, 0, 0)
//      exactly (their directions equal or opposite once rounded): if a'·b' > 0 the result
//      is (1, 0, 0, 0); otherwise the half turn (0, u.x, u.y, u.z) about
//      u = in_range(a' × e).normalize(), e the coordinate axis of a's smallest |component|
//      (x before y before z on ties), the axis least aligned with a.
//   4. Otherwise n' = in_range(n), h = c.magnitude() · 0.5, f = (d.magnitude() · 0.5) /
//      n'.magnitude(), and the result is (h, f·n'.x, f·n'.y, f·n'.z).
// in_range(v): v itself when its largest |component| lies in [2^-500, 2^500], else v times
// the power of two that brings that component into [1, 2).
// Why: with θ the angle from a to b, |c| = 2cos(θ/2) and |d| = 2sin(θ/2), each accurate to
// rounding in absolute terms for every θ, and n points along b × a, so the result is
// (cos(θ/2), sin(θ/2)·m) for m the unit vector along b × a, unit to rounding; the vector
// part points along b × a because rotate() applies conj(q) first, which turns a towards b.
// Near a half turn c is short, but n stays perpendicular to â to rounding, where b̂ × â
// would lose its direction to cancellation (and c, exact however short, is first brought
// into range so that its products keep their precision): a is turned onto b within a few
// ulps for every θ.
RotationResult Quat::from_two_vectors(const Vec3d& a, const Vec3d& b) noexcept {
    if (!is_finite(a)) return RotationError::FirstNonFinite;
    if (zero(a)) return RotationError::FirstZero;
    if (!is_finite(b)) return RotationError::SecondNonFinite;
    if (zero(b)) return RotationError::SecondZero;
    Vec3d as = in_range(a), bs = in_range(b);
    Vec3d ua = as.normalize(), ub = bs.normalize();
    Vec3d c = ua + ub;
    Vec3d n = in_range(c).cross(ua);
    if (zero(bs.cross(as)) || zero(n)) {
        if (as.dot(bs) > 0) return identity();
        double x = std::fabs(as.x), y = std::fabs(as.y), z = std::fabs(as.z);
        Vec3d e = x <= y && x <= z ? Vec3d::i() : y <= z ? Vec3d::j() : Vec3d::k();
        Vec3d u = in_range(as.cross(e)).normalize();
        return Quat{0.0, u.x, u.y, u.z};
    }
    n = in_range(n);
    double h = c.magnitude() * 0.5;
    double f = ((ua - ub).magnitude() * 0.5) / n.magnitude();
    return Quat{h, f * n.x, f * n.y, f * n.z};
}

// from_rotation_matrix(m), m the matrix of v -> q ⊗ v ⊗ conj(q) as to_rotation_matrix gives it:
//   1. Checks, in order: every entry finite; for every pair of columns p <= q,
//      |((m0p·m0q + m1p·m1q) + m2p·m2q) - [p == q]| <= 1e-9; det = m0 · (m1 × m2) > 0 (rows).
//   2. Shepperd: the largest of the trace T = (m00 + m11) + m22, m00, m11, m22 (earlier wins
//      ties) picks the component found by a square root, r = sqrt(...) = 2|that component|:
//        T:   r = sqrt(1 + T);                 w = r·0.5; with d = r + r:
//             i = (m21 - m12)/d, j = (m02 - m20)/d, k = (m10 - m01)/d
//        m00: r = sqrt(((1 + m00) - m11) - m22); i = r·0.5;
//             w = (m21 - m12)/d, j = (m01 + m10)/d, k = (m02 + m20)/d
//        m11: r = sqrt(((1 - m00) + m11) - m22); j = r·0.5;
//             w = (m02 - m20)/d, i = (m01 + m10)/d, k = (m12 + m21)/d
//        m22: r = sqrt(((1 - m00) - m11) + m22); k = r·0.5;
//             w = (m10 - m01)/d, i = (m02 + m20)/d, j = (m12 + m21)/d
//      The root is taken of the largest candidate, at least 1/4 of the total, so no
//      division is by a small number: accurate near a half turn too.
//   3. normalize(), then the sign: negated when w < 0, or when w = 0 (stored as +0) and
//      the first non-zero of i, j, k is negative.
RotationResult Quat::from_rotation_matrix(const Matrix3& m) noexcept {
    for (const auto& row : m)
        for (double x : row)
            if (!std::isfinite(x)) return RotationError::NonFiniteMatrix;
    for (int p = 0; p < 3; ++p)
        for (int q = p; q < 3; ++q) {
            double g = (m[0][p] * m[0][q] + m[1][p] * m[1][q]) + m[2][p] * m[2][q];
            if (!(std::fabs(g - (p == q ? 1.0 : 0.0)) <= 1e-9)) return RotationError::NotOrthonormal;
        }
    Vec3d r0{m[0][0], m[0][1], m[0][2]}, r1{m[1][0], m[1][1], m[1][2]}, r2{m[2][0], m[2][1], m[2][2]};
    if (!(r0.scalar_triple_product(r1, r2) > 0)) return RotationError::Reflection;

    double trace = (m[0][0] + m[1][1]) + m[2][2];
    Quat q;
    if (trace >= m[0][0] && trace >= m[1][1] && trace >= m[2][2]) {
        double r = std::sqrt(1.0 + trace), d = r + r;
        q = {r * 0.5, (m[2][1] - m[1][2]) / d, (m[0][2] - m[2][0]) / d, (m[1][0] - m[0][1]) / d};
    } else if (m[0][0] >= m[1][1] && m[0][0] >= m[2][2]) {
        double r = std::sqrt(((1.0 + m[0][0]) - m[1][1]) - m[2][2]), d = r + r;
        q = {(m[2][1] - m[1][2]) / d, r * 0.5, (m[0][1] + m[1][0]) / d, (m[0][2] + m[2][0]) / d};
    } else if (m[1][1] >= m[2][2]) {
        double r = std::sqrt(((1.0 - m[0][0]) + m[1][1]) - m[2][2]), d = r + r;
        q = {(m[0][2] - m[2][0]) / d, (m[0][1] + m[1][0]) / d, r * 0.5, (m[1][2] + m[2][1]) / d};
    } else {
        double r = std::sqrt(((1.0 - m[0][0]) - m[1][1]) + m[2][2]), d = r + r;
        q = {(m[1][0] - m[0][1]) / d, (m[0][2] + m[2][0]) / d, (m[1][2] + m[2][1]) / d, r * 0.5};
    }
    q = q.normalize();
    if (q.w == 0) {
        q.w = 0.0;
        double first = q.i != 0 ? q.i : q.j != 0 ? q.j : q.k;
        if (first < 0) q = {0.0, -q.i, -q.j, -q.k};
    } else if (q.w < 0) {
        q = {-q.w, -q.i, -q.j, -q.k};
    }
    return q;
}

}  // namespace tovrin
