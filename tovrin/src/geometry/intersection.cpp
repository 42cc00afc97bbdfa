// tovrin/geometry/intersection.cpp: the intersection functions. Each formula is
// evaluated in the written order, one rounding per operation.
#include <tovrin/geometry/intersection.hpp>

#include <cmath>

namespace tovrin::geometry {

Vec3d plane_line(const Plane& plane, const Vec3d& a, const Vec3d& b) noexcept {
    Vec3d d = b - a;
    double t = -(plane.normal.dot(a) + plane.distance) / d.dot(plane.normal);
    return {a.x + d.x * t, a.y + d.y * t, a.z + d.z * t};
}

Result<void> circle_point(const Circle& circle, const Vec3d& point, bool inner) noexcept {
    const Vec3d& c = circle.center;
    double r = circle.radius;
    Vec3d n = circle.normal.normalize();
    // Written as a negated `<` so that NaN fails the plane test.
    if (!(std::fabs(n.dot(point) - c.dot(n)) < epsilon)) return IntersectionError::OutOfPlane;
    double dist = point.distance_to(c);
    if (std::fabs(r - dist) < epsilon) return {};
    if (r - dist > epsilon) {
        if (inner) return {};
        return IntersectionError::Contained;
    }
    return IntersectionError::TooFarApart;
}

bool circle_point_unchecked(const Circle& circle, const Vec3d& point, bool inner) noexcept {
    double dist = point.distance_to(circle.center);
    double e = circle.radius - dist;
    return std::fabs(e) < epsilon || (inner && e > epsilon);
}

Result<std::pair<Vec3d, Vec3d>> circle_circle(const Circle& circle1, const Circle& circle2) noexcept {
    const Vec3d& c1 = circle1.center;
    const Vec3d& c2 = circle2.center;
    const Vec3d& m1 = circle1.normal;
    const Vec3d& m2 = circle2.normal;
    double r1 = circle1.radius;
    double r2 = circle2.radius;

    if (circle1 == circle2) return IntersectionError::Identical;
    // Non-parallel normals and parallel but distinct planes both fail here.
    if (!same_plane(m1, c1.dot(m1), m2, c2.dot(m2))) return IntersectionError::OutOfPlane;
    double d = c1.distance_to(c2);
    if (d > r1 + r2) return IntersectionError::TooFarApart;
    if (d < std::fabs(r1 - r2)) return IntersectionError::Contained;

    // a: fraction of c1 -> c2 where the common chord crosses the line of centres;
    // h: half the chord's length.
    double a = (r1 * r1 - r2 * r2) / (d * d + d * d) + 0.5;
    double h = std::sqrt(r1 * r1 - (d * d) * (a * a));
    Vec3d delta = c2 - c1;
    Vec3d w = delta.cross(m2).normalize();
    Vec3d p = {c1.x + delta.x * a, c1.y + delta.y * a, c1.z + delta.z * a};
    Vec3d wh = w * h;
    return std::pair<Vec3d, Vec3d>{p + wh, p - wh};
}

}  // namespace tovrin::geometry
