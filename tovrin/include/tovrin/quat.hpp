// tovrin/quat.hpp: quaternions w + i·I + j·J + k·K, w the scalar part.
//
// A plain value of four binary64 floats with no invariant: nothing normalises
// implicitly, so a non-unit quaternion stays non-unit through every operation.
// Formulas are evaluated left to right, one rounding per operation.
#pragma once

#include <array>
#include <cmath>

#include <tovrin/angle.hpp>
#include <tovrin/vec3d.hpp>

namespace tovrin {

// The result of Quat::to_axis_angle.
struct AxisAngle {
    Vec3d axis;
    AngleRadians angle;
};

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

    // -- Conversion --
    // The vector part; w is dropped.
    constexpr Vec3d to_vec3d() const noexcept { return {i, j, k}; }
    // Reads q as (cos(phi/2), sin(phi/2) · m). w within epsilon of 1 gives the
    // axis (1, 0, 0) and angle 0 whatever the vector part; otherwise no guard, so
    // a zero vector part gives a zero axis and |w| > 1 gives NaN throughout.
    AxisAngle to_axis_angle() const noexcept;
    // Row-major matrix of v -> q ⊗ v ⊗ conj(q): the transpose of what rotate()
    // applies for a unit q.
    constexpr std::array<std::array<double, 3>, 3> to_rotation_matrix() const noexcept {
        return {{
            {1.0 - 2.0 * (j * j + k * k), 2.0 * (i * j - w * k), 2.0 * (i * k + w * j)},
            {2.0 * (i * j + w * k), 1.0 - 2.0 * (i * i + k * k), 2.0 * (j * k - w * i)},
            {2.0 * (i * k - w * j), 2.0 * (j * k + w * i), 1.0 - 2.0 * (i * i + j * j)},
        }};
    }

    // -- Algebra --
    constexpr Quat conjugate() const noexcept { return {w, -i, -j, -k}; }
    // Hamilton product this ⊗ b, each component summed in the order written.
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
