// tovrin/quat.hpp: quaternions w + i·I + j·J + k·K, w the scalar part.
//
// A plain value of four binary64 floats with no invariant: nothing normalises
// implicitly, so a non-unit quaternion stays non-unit through every operation.
// Formulas are evaluated left to right, one rounding per operation.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <string_view>
#include <variant>

#include <tovrin/angle.hpp>
#include <tovrin/vec3d.hpp>

namespace tovrin {

// The result of Quat::to_axis_angle.
struct AxisAngle {
    Vec3d axis;
    AngleRadians angle;
};

// Three rows of three floats, row 0 first.
using Matrix3 = std::array<std::array<double, 3>, 3>;

// Why a matrix or a pair of vectors describes no rotation. The codes are stable.
enum class RotationError : std::uint8_t {
    NonFiniteMatrix = 0,
    NotOrthonormal = 1,
    Reflection = 2,
    FirstZero = 3,
    SecondZero = 4,
    FirstNonFinite = 5,
    SecondNonFinite = 6,
};

// The fixed text of each error, over a string literal (data() is null-terminated).
constexpr std::string_view message(RotationError error) noexcept {
    switch (error) {
        case RotationError::NonFiniteMatrix: return "the matrix has a NaN or infinite entry";
        case RotationError::NotOrthonormal: return "the matrix is not orthonormal: max |M^T M - I| exceeds 1e-9";
        case RotationError::Reflection: return "the matrix is not a rotation: det(M) is not positive";
        case RotationError::FirstZero: return "the first vector is zero";
        case RotationError::SecondZero: return "the second vector is zero";
        case RotationError::FirstNonFinite: return "the first vector has a NaN or infinite component";
        case RotationError::SecondNonFinite: return "the second vector has a NaN or infinite component";
    }
    return "";
}

struct Quat;
// A rotation, or why there is none.
using RotationResult = std::variant<Quat, RotationError>;

struct Quat {
    // -- Data --
    double w;
    double i;
    double j;
    double k;

    // -- Construction --
    static constexpr Quat identity() noexcept { return {1.0, 0.0, 0.0, 0.0}; }
    // (cos h, sin h · axis) with h = angle · -0.5. The axis is used as given. The
    // negative half angle makes the vector part point against the axis, which
    // together with rotate()'s conjugate-first order turns vectors by +angle about
    // a unit axis (right-hand rule).
    static Quat from_axis_angle(const Vec3d& axis, AngleRadians angle) noexcept;
    // The inverse of to_rotation_matrix (Shepperd's method), unit and with w > 0, or for
    // w = 0 (stored +0) the first non-zero of i, j, k positive. Refuses a non-finite entry,
    // max |M^T M - I| > 1e-9 and det(M) <= 0, checked in that order. Formula in quat.cpp.
    static RotationResult from_rotation_matrix(const Matrix3& m) noexcept;
    // The unit quaternion of the shortest rotation (as rotate() turns) taking the direction
    // of a onto that of b: the identity for parallel vectors, a half turn about a fixed
    // perpendicular for antiparallel ones. Refuses zero and non-finite vectors, a first.
    // Formula in quat.cpp.
    static RotationResult from_two_vectors(const Vec3d& a, const Vec3d& b) noexcept;
    // The turn by |v| about the direction of v (right-hand rule, as from_axis_angle turns):
    // (cos(|v|/2), -(sin(|v|/2)/|v|)·v), the scale by its Taylor series near 0, so that a
    // short v keeps its digits. Formula in quat.cpp.
    static Quat from_rotation_vector(const Vec3d& v) noexcept;

    // -- Conversion --
    // The vector part; w is dropped.
    constexpr Vec3d to_vec3d() const noexcept { return {i, j, k}; }
    // Reads q as (cos(phi/2), sin(phi/2) · m). w within epsilon of 1 gives the
    // axis (1, 0, 0) and angle 0 whatever the vector part; otherwise no guard, so
    // a zero vector part gives a zero axis and |w| > 1 gives NaN throughout.
    AxisAngle to_axis_angle() const noexcept;
    // The inverse of from_rotation_vector: the axis times the angle, the angle in [0, pi] and
    // found as 2·atan2(|(i, j, k)|, |w|), never from acos(w), so angles near 0 keep their
    // digits and a w just above 1 gives no NaN. A non-unit q gives the vector of
    // q.normalize(); the zero quaternion gives NaN. Formula in quat.cpp.
    Vec3d to_rotation_vector() const noexcept;
    // Row-major matrix of v -> q ⊗ v ⊗ conj(q): the transpose of what rotate()
    // applies for a unit q.
    constexpr Matrix3 to_rotation_matrix() const noexcept {
        return {{
            {1.0 - 2.0 * (j * j + k * k), 2.0 * (i * j - w * k), 2.0 * (i * k + w * j)},
            {2.0 * (i * j + w * k), 1.0 - 2.0 * (i * i + k * k), 2.0 * (j * k - w * i)},
            {2.0 * (i * k - w * j), 2.0 * (j * k + w * i), 1.0 - 2.0 * (i * i + j * j)},
        }};
    }

    // -- Algebra --
    constexpr Quat conjugate() const noexcept { return {w, -i, -j, -k}; }
    // conjugate() / n with n = ((w·w + i·i) + j·j) + k·k: four true divisions of the
    // sign-flipped fields, no zero guard (the zero quaternion gives all NaN).
    constexpr Quat inverse() const noexcept {
        double n = ((w * w + i * i) + j * j) + k * k;
        return {w / n, -i / n, -j / n, -k / n};
    }
    // Hamilton product this ⊗ b, each component summed in the order written. With
    // rotate()'s convention, (a ⊗ b).rotate(v) turns v by a first, then by b, and
    // (a ⊗ b).to_rotation_matrix() is the matrix product of a's matrix and b's, in that order.
    constexpr Quat operator*(const Quat& b) const noexcept {
        return {
            w * b.w - i * b.i - j * b.j - k * b.k,
            w * b.i + i * b.w + j * b.k - k * b.j,
            w * b.j + j * b.w + k * b.i - i * b.k,
            w * b.k + k * b.w + i * b.j - j * b.i,
        };
    }
    // conj(q) ⊗ (0, v) ⊗ q, vector part. The products with the zero scalar are
    // really computed, so an infinite field spreads NaN and -0.0 comes back as +0.0.
    // A non-unit q scales the result by its squared magnitude.
    constexpr Vec3d rotate(const Vec3d& v) const noexcept {
        Quat t = (conjugate() * Quat{0.0, v.x, v.y, v.z}) * *this;
        return {t.i, t.j, t.k};
    }

    // Spherical linear interpolation from this (t = 0) to b (t = 1) along the shorter arc,
    // extrapolating outside [0, 1]; near-parallel inputs interpolate the chord and
    // normalise. The endpoints come back unchanged. Formula in quat.cpp.
    Quat slerp(const Quat& b, double t) const noexcept;

    // -- Length --
    // No scaling: squares overflow and underflow as in Vec3d::magnitude.
    double magnitude() const noexcept { return std::sqrt(((w * w + i * i) + j * j) + k * k); }
    // Four true divisions, no zero guard: the zero quaternion gives all NaN.
    Quat normalize() const noexcept {
        double m = magnitude();
        return {w / m, i / m, j / m, k / m};
    }
    // True only for a magnitude of exactly 1.0 or the float just below it, so a
    // normalised quaternion may still fail it.
    bool is_unit() const noexcept {
        double d = magnitude() + -1.0;
        return (d < 0 ? -d : d) < epsilon;
    }

    // -- Comparison --
    // Each field within epsilon, absolute: not transitive, and a NaN makes it false.
    constexpr bool operator==(const Quat& b) const noexcept {
        return within_epsilon(w, b.w) && within_epsilon(i, b.i) && within_epsilon(j, b.j) &&
               within_epsilon(k, b.k);
    }
    constexpr bool operator!=(const Quat& b) const noexcept { return !(*this == b); }
};

// The pure quaternion (+0.0, x, y, z) of a vector.
constexpr Quat to_quat(const Vec3d& v) noexcept { return {0.0, v.x, v.y, v.z}; }

}  // namespace tovrin
