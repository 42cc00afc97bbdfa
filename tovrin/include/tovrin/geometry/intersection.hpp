// tovrin/geometry/intersection.hpp: where lines, points and circles meet planes
// and circles.
//
// Fallible functions return a Result: the value, or the IntersectionError saying
// why there is none. Nothing here throws. Degenerate inputs that are not one of
// the named failures (parallel lines, coincident points, NaN radii) flow through
// as NaN or infinite components.
#pragma once

#include <cstdint>
#include <string_view>
#include <utility>

#include <tovrin/geometry/circle.hpp>
#include <tovrin/geometry/plane.hpp>
#include <tovrin/vec3d.hpp>

namespace tovrin::geometry {

// -- Errors --

// Why two geometries have no (unique) intersection. The codes are stable.
enum class IntersectionError : std::uint8_t {
    TooFarApart = 0,
    Contained = 1,
    Identical = 2,
    OutOfPlane = 3,
};

// The fixed text of each error. The view is over a string literal, so data() is
// null-terminated. An out-of-range code gives an empty text.
constexpr std::string_view message(IntersectionError error) noexcept {
    switch (error) {
        case IntersectionError::TooFarApart:
            return "The given geometries are too far apart and do not intersect at all.";
        case IntersectionError::Contained:
            return "One of the given geometries is contained entirely within the other. "
                   "The surfaces do not intersect.";
        case IntersectionError::Identical: return "The given geometries are identical.";
        case IntersectionError::OutOfPlane: return "The given geometries are out of plane from each other";
    }
    return "";
}

// -- Result --

// A value or an IntersectionError, never both. Reading value() of a failure or
// error() of a success is a contract violation: check has_value() first.
template <class T>
class Result {
public:
    constexpr Result(const T& value) noexcept : value_(value), error_(), ok_(true) {}
    constexpr Result(IntersectionError error) noexcept : value_(), error_(error), ok_(false) {}

    constexpr bool has_value() const noexcept { return ok_; }
    constexpr explicit operator bool() const noexcept { return ok_; }
    constexpr const T& value() const noexcept { return value_; }
    constexpr IntersectionError error() const noexcept { return error_; }

private:
    T value_;
    IntersectionError error_;
    bool ok_;
};

// Success without a value, or an IntersectionError.
template <>
class Result<void> {
public:
    constexpr Result() noexcept : error_(), ok_(true) {}
    constexpr Result(IntersectionError error) noexcept : error_(error), ok_(false) {}

    constexpr bool has_value() const noexcept { return ok_; }
    constexpr explicit operator bool() const noexcept { return ok_; }
    constexpr IntersectionError error() const noexcept { return error_; }

private:
    IntersectionError error_;
    bool ok_;
};

// -- Intersections --

// The point where the infinite line through a and b meets the plane (t is not
// limited to the segment). A line parallel to the plane, or a == b, divides by
// zero and gives infinite or NaN components.
Vec3d plane_line(const Plane& plane, const Vec3d& a, const Vec3d& b) noexcept;

// Whether `point` lies on the circle (or, with `inner`, strictly inside it).
// Fails with OutOfPlane when the point is off the circle's plane (the normal is
// normalised first), Contained when inside and `inner` is false, TooFarApart when
// outside. NaN in the normal, centre or point gives OutOfPlane; a NaN radius
// gives TooFarApart.
Result<void> circle_point(const Circle& circle, const Vec3d& point, bool inner) noexcept;

// The test of circle_point without the plane test: the normal is not read, so
// any point on the sphere of the radius about the centre counts as on the circle.
bool circle_point_unchecked(const Circle& circle, const Vec3d& point, bool inner) noexcept;

// The two points where coplanar circles cross, first then second; the chord runs
// along cross(c2 - c1, normal2). Radii and normals are used as stored. Checks in
// order: Identical (equal circles), OutOfPlane (normals neither equal nor
// opposite, or different planes), TooFarApart (d > r1 + r2), Contained
// (d < |r1 - r2|). Touching circles give two equal points, or NaN when rounding
// makes the chord's radicand negative; a NaN radius gives NaN points.
Result<std::pair<Vec3d, Vec3d>> circle_circle(const Circle& circle1, const Circle& circle2) noexcept;

}  // namespace tovrin::geometry
