// tovrin/geometry/plane.hpp: an infinite plane given by a normal and the constant
// term of its equation.
//
// The plane is the set of points p with dot(normal, p) + distance = 0, so
// `distance` is minus the signed offset along a unit normal: the plane z = 5 with
// normal (0, 0, 1) has distance -5. The constructors below normalise the normal;
// aggregate initialisation stores both fields as given, with no invariant.
#pragma once

#include <cmath>

#include <tovrin/vec3d.hpp>

namespace tovrin::geometry {

struct Plane {
    // -- Data --
    Vec3d normal;
    double distance;

    // -- Constructors --
    // The plane dot(normalize(normal), p) = distance. The offset is negated, not
    // divided by |normal|, so make((0, 0, 2), 4) is z = 4 with distance -4.
    // A zero normal gives NaN normal components; no error.
    static Plane make(const Vec3d& normal, double distance) noexcept {
        return {normal.normalize(), -distance};
    }
    // The three coordinate planes; distance is -0.0, the negated zero offset.
    static constexpr Plane xy() noexcept { return {{0.0, 0.0, 1.0}, -0.0}; }
    static constexpr Plane xz() noexcept { return {{0.0, 1.0, 0.0}, -0.0}; }
    static constexpr Plane yz() noexcept { return {{1.0, 0.0, 0.0}, -0.0}; }
    // The plane through `point` with the normalised `normal`.
    static Plane from_point(const Vec3d& normal, const Vec3d& point) noexcept {
        Vec3d n = normal.normalize();
        return {n, -point.dot(n)};
    }
    // The plane through three points, oriented so they run counter-clockwise seen
    // from the tip of the normal. Collinear or repeated points give NaN throughout.
    static Plane from_points(const Vec3d& point1, const Vec3d& point2, const Vec3d& point3) noexcept {
        Vec3d u = point2 - point1;
        Vec3d v = point3 - point1;
        Vec3d n = u.cross(v).normalize();
        return {n, -point1.dot(n)};
    }

    // -- Measurements --
    // Unsigned residual of the plane equation: the true distance only for a unit
    // normal (there is no division by its length).
    double distance_to_point(const Vec3d& point) const noexcept {
        return std::fabs(normal.dot(point) + distance);
    }
    // Absolute tolerance: far from the origin only residuals rounding below
    // epsilon count. NaN anywhere gives false.
    bool contains_point(const Vec3d& point) const noexcept {
        return std::fabs(distance + normal.dot(point)) < epsilon;
    }
};

}  // namespace tovrin::geometry
