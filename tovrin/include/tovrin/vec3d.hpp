// tovrin/vec3d.hpp: the three-component vector every other tovrin type builds on.
//
// A plain value of three binary64 floats with no invariant. Every operation is
// pure and evaluates its formula in the written order of operands, one rounding
// per operation, so results are reproducible to the bit (the build compiles with
// -ffp-contract=off; never reassociate or fuse the expressions below).
#pragma once

#include <array>
#include <cmath>
#include <cstddef>

namespace tovrin {

// The one tolerance of the library: 2^-52, the binary64 machine epsilon.
// Always used as a strict, absolute comparison, which is false for NaN.
inline constexpr double epsilon = 2.220446049250313e-16;

// True when |a - b| < epsilon.
constexpr bool within_epsilon(double a, double b) noexcept {
    double d = a - b;
    return (d < 0 ? -d : d) < epsilon;
}

struct Vec3d {
    // -- Data --
    double x;
    double y;
    double z;

    // -- Named vectors --
    static constexpr Vec3d zero() noexcept { return {0.0, 0.0, 0.0}; }
    static constexpr Vec3d i() noexcept { return {1.0, 0.0, 0.0}; }
    static constexpr Vec3d j() noexcept { return {0.0, 1.0, 0.0}; }
    static constexpr Vec3d k() noexcept { return {0.0, 0.0, 1.0}; }
    // The vector pointing from `from` to `to`.
    static constexpr Vec3d new_from_to(const Vec3d& from, const Vec3d& to) noexcept {
        return {to.x - from.x, to.y - from.y, to.z - from.z};
    }

    // -- Component access --
    // Precondition: index < 3 (callers check the bound first).
    constexpr double operator[](std::size_t index) const noexcept {
        return index == 0 ? x : index == 1 ? y : z;
    }
    constexpr std::array<double, 3> to_array() const noexcept { return {x, y, z}; }

    // -- Arithmetic --
    constexpr Vec3d operator+(const Vec3d& b) const noexcept { return {x + b.x, y + b.y, z + b.z}; }
    constexpr Vec3d operator-(const Vec3d& b) const noexcept { return {x - b.x, y - b.y, z - b.z}; }
    constexpr Vec3d operator-() const noexcept { return {-x, -y, -z}; }
    constexpr Vec3d operator*(double s) const noexcept { return {x * s, y * s, z * s}; }
    // Three true divisions: a reciprocal multiply would round differently.
    constexpr Vec3d operator/(double s) const noexcept { return {x / s, y / s, z / s}; }

    // -- Products and lengths --
    constexpr double dot(const Vec3d& b) const noexcept { return (x * b.x + y * b.y) + z * b.z; }
    constexpr Vec3d cross(const Vec3d& b) const noexcept {
        return {y * b.z - z * b.y, z * b.x - x * b.z, x * b.y - y * b.x};
    }
    // No scaling: squares overflow above ~1.34e154 and underflow below ~1.5e-162.
    double magnitude() const noexcept { return std::sqrt((x * x + y * y) + z * z); }
    // No guard: the zero vector gives NaN components.
    Vec3d normalize() const noexcept {
        double m = magnitude();
        return {x / m, y / m, z / m};
    }
    // Holds only for a magnitude of exactly 1.0 or the float just below it.
    bool is_unit() const noexcept {
        double d = magnitude() + -1.0;
        return (d < 0 ? -d : d) < epsilon;
    }
    constexpr double distance_squared(const Vec3d& b) const noexcept {
        double dx = x - b.x, dy = y - b.y, dz = z - b.z;
        return (dx * dx + dy * dy) + dz * dz;
    }
    double distance_to(const Vec3d& b) const noexcept { return std::sqrt(distance_squared(b)); }

    // Distance from this point to the infinite line through a and b (NaN when a == b).
    double distance_to_line(const Vec3d& a, const Vec3d& b) const noexcept {
        double dx = b.x - a.x, dy = b.y - a.y, dz = b.z - a.z;
        double t = ((dx * (x - a.x) + dy * (y - a.y)) + dz * (z - a.z)) / ((dx * dx + dy * dy) + dz * dz);
        double cx = a.x + dx * t, cy = a.y + dy * t, cz = a.z + dz * t;
        return std::sqrt(((x - cx) * (x - cx) + (y - cy) * (y - cy)) + (z - cz) * (z - cz));
    }
    // Closest point on the line through line_r and line_q. Arranged differently from
    // distance_to_line (w points from this point to q), so the two may differ in the last bits.
    constexpr Vec3d project_onto_line(const Vec3d& line_r, const Vec3d& line_q) const noexcept {
        Vec3d u = line_r - line_q;
        Vec3d w = line_q - *this;
        double t = ((u.x * w.x + u.y * w.y) + u.z * w.z) / ((u.x * u.x + u.y * u.y) + u.z * u.z);
        return {line_q.x - u.x * t, line_q.y - u.y * t, line_q.z - u.z * t};
    }
    // Projection onto the plane through the origin; `normal` is used as given.
    constexpr Vec3d project_onto_plane(const Vec3d& normal) const noexcept {
        double s = (x * normal.x + y * normal.y) + z * normal.z;
        return {x - normal.x * s, y - normal.y * s, z - normal.z * s};
    }
    constexpr double scalar_triple_product(const Vec3d& b, const Vec3d& c) const noexcept {
        return dot(b.cross(c));
    }

    // -- Comparison --
    // Componentwise within epsilon: not transitive, and a NaN makes it false.
    constexpr bool operator==(const Vec3d& b) const noexcept {
        return within_epsilon(x, b.x) && within_epsilon(y, b.y) && within_epsilon(z, b.z);
    }
    constexpr bool operator!=(const Vec3d& b) const noexcept { return !(*this == b); }
};

// True when all three components are finite: the one test of a usable point, shared by every
// search and conversion that must turn away infinities and NaN.
inline bool is_finite(const Vec3d& v) noexcept {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

}  // namespace tovrin
