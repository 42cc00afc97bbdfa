// spatial/cylinder.hpp: a second bound for thin, slanted parts of a cloud.
//
// An axis-aligned box around a piece of a slanted line (a wire, a scan line) is as wide as it
// is long, so its bound is loose by that width: every piece near the foot of the
// perpendicular from a query then looks as close as the answer. A child whose points are thin
// along one direction also gets a cylinder: the points lie within `radius` of the axis
// through the box's centre c along the unit direction u, and their position along the axis,
// (p - c) . u, within [along_lo, along_hi]. A search uses the larger of the box's bound and
// the cylinder's, both lower bounds of every key of the child.
//
// Why the cylinder's bound is a true lower bound, in exact arithmetic first. Let û = u / |u|
// (the stored u is unit to a few ulps), v = q - c, s = v . û, w = v - s û and r = |w|; a point p
// has s_p and w_p likewise. Then |p - q|^2 = (s_p - s)^2 + |w_p - w|^2; |s_p - s| >= a =
// max(0, along_lo - s, s - along_hi) since s_p lies in [along_lo, along_hi], and
// |w_p - w| >= |w| - |w_p| >= r - radius, so >= b = max(0, r - radius). So a^2 + b^2 <= |p - q|^2.
//
// Rounding. The fit computes s_p and |w_p| in doubles with errors below 32 ulps of the
// child's size D (the sum of the box's sides, at least |p - c|); it widens [along_lo, along_hi]
// and radius by D * 2^-40, 256 times that, so they hold the exact values. The bound computes s
// and r with errors below 32 ulps of M = |v|_1 + |along_lo| + |along_hi| + radius, and shrinks
// each gap by M * 2^-40, so the computed gaps are below the exact a and b by at least half of
// that. As a and b are at most M, each computed gap is at most (1 - 2^-41) times the exact
// one, and so is its square: the squares' rounding (three roundings, under 2^-51 in all)
// cannot bring the computed a^2 + b^2 up to the exact |p - q|^2 minus the key's own rounding
// (at most 5 ulps relative, as Vec3d::distance_squared rounds three products and two sums),
// except where underflow's absolute error (below 2^-1072) could matter: a bound under 2^-1000
// is taken as 0. Nothing overflows: a cylinder is fitted only to a child of size within
// [2^-300, 2^300], and the bound is taken only while every |v| component is at most 2^300
// (else 0, which also catches NaN); then every square stays below 2^610.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

#include <tovrin/vec3d.hpp>

namespace lumeric::spatial {

struct Cylinder {
    double u[3];
    double along_lo, along_hi;
    double radius;

    static constexpr double tiny = 0x1p-1000;  // bounds below this are taken as 0 (underflow)
    static constexpr double far = 0x1p300;      // beyond this no cylinder is fitted or used
    static constexpr double slack = 0x1p-40;

    // The box's centre, the cylinder's origin: computed the same way by the fit and the bound.
    static double centre(double lo, double hi) noexcept { return lo * 0.5 + hi * 0.5; }

    // A cylinder around `count` items (anything with coordinates `c[3]`) in the box [lo, hi]
    // when it is at most a quarter as thick as the box's middle side (so its bound is much
    // tighter than the box's somewhere), else none (radius NaN). The axis runs through the
    // lowest and highest along the box's widest side of up to 33 items spread over them: along a
    // line its direction, along an arc nearly the chord (any axis gives a true bound).
    template <class Item>
    static Cylinder fit(const Item* items, std::size_t count, const double lo[3], const double hi[3]) noexcept {
        Cylinder none{};
        none.radius = std::numeric_limits<double>::quiet_NaN();
        double sides[3];
        unsigned axis = 0;
        for (unsigned a = 0; a < 3; ++a) {
            sides[a] = hi[a] - lo[a];
            if (sides[a] > sides[axis]) axis = a;
        }
        const double size = (sides[0] + sides[1]) + sides[2];
        if (!(size >= 0x1p-300 && size <= far)) return none;
        std::sort(sides, sides + 3);
        if (sides[1] == 0.0) return none;  // on a line along an axis: the box is as thin
        std::size_t low = 0, high = 0;
        for (std::size_t j = 0, step = std::max<std::size_t>(1, count / 32); j < count; j += step) {
            if (items[j].c[axis] < items[low].c[axis]) low = j;
            if (items[j].c[axis] > items[high].c[axis]) high = j;
        }
        Cylinder made{};
        double length2 = 0.0;
        for (int a = 0; a < 3; ++a) {
            made.u[a] = items[high].c[a] - items[low].c[a];
            length2 += made.u[a] * made.u[a];
        }
        const double length = std::sqrt(length2);
        for (double& c : made.u) c /= length;
        double o[3];
        for (int a = 0; a < 3; ++a) o[a] = centre(lo[a], hi[a]);
        // A child as thick as its box (most of them) is given up at its first points far
        // from the axis.
        const double thick = sides[1] * 0.25;
        const double give_up = thick * thick;
        double along_lo = std::numeric_limits<double>::infinity(), along_hi = -along_lo, radius2 = 0.0;
        for (std::size_t j = 0; j < count && radius2 <= give_up; ++j) {
            const double v[3] = {items[j].c[0] - o[0], items[j].c[1] - o[1], items[j].c[2] - o[2]};
            const double s = (v[0] * made.u[0] + v[1] * made.u[1]) + v[2] * made.u[2];
            const double w[3] = {v[0] - s * made.u[0], v[1] - s * made.u[1], v[2] - s * made.u[2]};
            along_lo = std::min(along_lo, s);
            along_hi = std::max(along_hi, s);
            radius2 = std::max(radius2, (w[0] * w[0] + w[1] * w[1]) + w[2] * w[2]);
        }
        const double margin = size * slack;
        made.radius = std::sqrt(radius2) + margin;
        if (!(made.radius <= thick)) return none;
        made.along_lo = along_lo - margin;
        made.along_hi = along_hi + margin;
        return made;
    }

    // A lower bound of the key of every point within the cylinder, for a finite q; 0 when
    // none is known. `lo` and `hi`: the box the cylinder was fitted in.
    double bound(const tovrin::Vec3d& q, const double lo[3], const double hi[3]) const noexcept {
        double v[3];
        for (int a = 0; a < 3; ++a) {
            v[a] = q[a] - centre(lo[a], hi[a]);
            if (!(std::fabs(v[a]) <= far)) return 0.0;
        }
        const double s = (v[0] * u[0] + v[1] * u[1]) + v[2] * u[2];
        const double w[3] = {v[0] - s * u[0], v[1] - s * u[1], v[2] - s * u[2]};
        const double r = std::sqrt((w[0] * w[0] + w[1] * w[1]) + w[2] * w[2]);
        const double error = slack * ((((std::fabs(v[0]) + std::fabs(v[1])) + std::fabs(v[2])) +
                                       (std::fabs(along_lo) + std::fabs(along_hi))) + radius);
        const double a = std::max(0.0, std::max(along_lo - s, s - along_hi) - error);
        const double b = std::max(0.0, (r - radius) - error);
        const double found = a * a + b * b;
        return found < tiny ? 0.0 : found;
    }
};

}  // namespace lumeric::spatial
