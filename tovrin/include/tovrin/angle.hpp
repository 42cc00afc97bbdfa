// tovrin/angle.hpp: angles as one binary64 float, in radians or in degrees.
//
// AngleRadians is the working type (constants, trigonometry, arithmetic);
// AngleDegrees only carries degrees in and out. Neither wraps its value into one
// turn, and every float (signed zeros, infinities, NaN) is a valid angle. The two
// types never convert implicitly; use to_degrees / to_radians.
#pragma once

#include <compare>
#include <cstddef>
#include <string>

#include <tovrin/vec3d.hpp>

namespace tovrin {

struct AngleDegrees;

struct AngleRadians {
    // -- Data --
    double angle;

    // -- Named angles --
    // Literals pinned to the doubles nearest pi and its stated quotients; third and
    // sixth are rounded, the others exact powers of two away from pi.
    static constexpr AngleRadians zero() noexcept { return {0.0}; }
    static constexpr AngleRadians pi() noexcept { return {3.141592653589793}; }
    static constexpr AngleRadians two_pi() noexcept { return {6.283185307179586}; }
    static constexpr AngleRadians half_pi() noexcept { return {1.5707963267948966}; }
    static constexpr AngleRadians quarter_pi() noexcept { return {0.7853981633974483}; }
    static constexpr AngleRadians third_pi() noexcept { return {1.0471975511965976}; }
    static constexpr AngleRadians sixth_pi() noexcept { return {0.5235987755982988}; }

    // -- Conversion --
    // (angle * 180) / pi: not angle * (180 / pi), which rounds differently.
    constexpr AngleDegrees to_degrees() const noexcept;

    // -- Trigonometry --
    // The reciprocals are one division of 1.0 each, so a zero denominator gives
    // an infinity; cot is 1 / tan, not cos / sin.
    double sin() const noexcept;
    double cos() const noexcept;
    double tan() const noexcept;
    double sec() const noexcept;
    double csc() const noexcept;
    double cot() const noexcept;

    // -- Arithmetic --
    // One IEEE operation each; division by zero gives an infinity or NaN.
    constexpr AngleRadians operator+(const AngleRadians& b) const noexcept { return {angle + b.angle}; }
    constexpr AngleRadians operator-(const AngleRadians& b) const noexcept { return {angle - b.angle}; }
    constexpr AngleRadians operator*(double s) const noexcept { return {angle * s}; }
    constexpr AngleRadians operator/(double s) const noexcept { return {angle / s}; }
    // Sign flip only: the negation of zero() is -0.0.
    constexpr AngleRadians operator-() const noexcept { return {-angle}; }

    // -- Comparison --
    // Exact IEEE comparison, no tolerance: 0.0 == -0.0, and NaN compares false
    // with everything (so != is true).
    constexpr bool operator==(const AngleRadians&) const noexcept = default;
    constexpr std::partial_ordering operator<=>(const AngleRadians&) const noexcept = default;

    // -- Text --
    // "<float> radians", the float in the library's text form.
    std::string to_string() const;
    // The float with exactly `digits` digits after the point: pi(), 2 -> "3.14 radians".
    std::string to_string(std::size_t digits) const;
};

struct AngleDegrees {
    // -- Data --
    double angle;

    // -- Conversion --
    // (angle * pi) / 180, in that order.
    constexpr AngleRadians to_radians() const noexcept { return {(angle * AngleRadians::pi().angle) / 180.0}; }

    // -- Arithmetic --
    constexpr AngleDegrees operator-() const noexcept { return {-angle}; }

    // -- Comparison --
    constexpr bool operator==(const AngleDegrees&) const noexcept = default;
    constexpr std::partial_ordering operator<=>(const AngleDegrees&) const noexcept = default;

    // -- Text --
    // "<float>°" with no space.
    std::string to_string() const;
    std::string to_string(std::size_t digits) const;
};

constexpr AngleDegrees AngleRadians::to_degrees() const noexcept { return {(angle * 180.0) / pi().angle}; }

// -- Angle between vectors --
// acos(dot(a, b) / (|a| * |b|)). The cosine is clamped into [-1, 1] first, because
// rounding can push it just past +-1 for parallel vectors (e.g. (1, 1, 1) with
// itself); a NaN cosine (a zero vector) stays NaN.
AngleRadians angle_to(const Vec3d& a, const Vec3d& b) noexcept;

// -- Text helper --
// Appends `value` with exactly `digits` digits after the point, correctly rounded
// ("-0.00" keeps its sign); NaN and the infinities read as in append_double.
void append_fixed(std::string& out, double value, std::size_t digits);

}  // namespace tovrin
