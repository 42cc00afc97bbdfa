// tovrin/geometry/circle.hpp: a circle in space, given by its centre, radius and
// the normal of its plane.
//
// Circle::make keeps the radius non-negative and the normal unit length;
// aggregate initialisation stores all three fields as given, with no invariant
// (negative radii and unnormalised normals are legal values).
#pragma once

#include <cmath>
#include <limits>
#include <numbers>

#include <tovrin/geometry/plane.hpp>
#include <tovrin/vec3d.hpp>

namespace tovrin::geometry {

// -- Normal alignment --

// How two normals line up, tested within epsilon per component.
enum class Alignment { none, same, opposite };

// `same` when a and b agree componentwise, else `opposite` when a and -b do, else
// `none`. The `same` test decides first, so two near-zero normals count as same.
// A NaN component makes both tests fail.
inline Alignment align(const Vec3d& a, const Vec3d& b) noexcept {
    if (within_epsilon(a.x, b.x) && within_epsilon(a.y, b.y) && within_epsilon(a.z, b.z)) {
        return Alignment::same;
    }
    if (std::fabs(a.x + b.x) < epsilon && std::fabs(a.y + b.y) < epsilon && std::fabs(a.z + b.z) < epsilon) {
        return Alignment::opposite;
    }
    return Alignment::none;
}

// Whether two planes, each given by a normal and the offset dot(normal, point) of
// one of its points, are the same plane. For opposite normals the offsets also
// have opposite signs, so they are compared as a sum.
inline bool same_plane(const Vec3d& normal1, double offset1, const Vec3d& normal2, double offset2) noexcept {
    switch (align(normal1, normal2)) {
        case Alignment::same: return std::fabs(offset2 - offset1) < epsilon;
        case Alignment::opposite: return std::fabs(offset2 + offset1) < epsilon;
        case Alignment::none: break;
    }
    return false;
}

struct Circle {
    // -- Data --
    Vec3d center;
    double radius;
    Vec3d normal;

    // -- Constructors --
    // Stores |radius| (NaN stays NaN) and the normalised normal (a zero normal
    // gives NaN components; no error).
    static Circle make(const Vec3d& center, double radius, const Vec3d& normal) noexcept {
        return {center, std::fabs(radius), normal.normalize()};
    }
    // The placeholder circle: zero radius at the origin, with no orientation.
    static constexpr Circle none() noexcept {
        constexpr double nan = std::numeric_limits<double>::quiet_NaN();
        return {{0.0, 0.0, 0.0}, 0.0, {nan, nan, nan}};
    }

    // -- Measurements --
    constexpr double area() const noexcept { return (radius * radius) * std::numbers::pi; }
    // The plane through the centre with the circle's normal (normalised again).
    Plane get_plane() const noexcept { return Plane::from_point(normal, center); }
    // True for radius 0.0 or -0.0 only; NaN is not degenerate.
    constexpr bool is_degenerate() const noexcept { return radius == 0.0; }
    // Normals equal or opposite within epsilon and the two planes coincide within
    // epsilon (absolute, so only near the origin for large offsets).
    bool in_same_plane(const Circle& other) const noexcept {
        return same_plane(normal, normal.dot(center), other.normal, other.normal.dot(other.center));
    }

    // -- Comparison --
    // Centres within epsilon, radii exactly equal, normals equal or opposite within
    // epsilon. Any NaN field makes a circle unequal to everything, itself included.
    bool operator==(const Circle& other) const noexcept {
        return center == other.center && radius == other.radius && align(normal, other.normal) != Alignment::none;
    }
    bool operator!=(const Circle& other) const noexcept { return !(*this == other); }
};

}  // namespace tovrin::geometry
