// spatial/normals.cpp: normals from neighbourhoods, and the 3x3 eigenvector behind them.
//
// Why Jacobi: the closed form (eigenvalues from the characteristic cubic, the vector from
// cross products of rows of A - lambda I) loses digits when two eigenvalues are close, and
// the smallest eigenvalue of a nearly flat patch is exactly that case. Cyclic Jacobi
// rotations keep the eigenvectors within a few units in the last place of orthonormal and
// are a fixed sequence of operations for a given matrix, so they are exact to reproduce.
#include "spatial/normals.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include <tovrin/vec3d.hpp>

#include "pool/pool.hpp"

namespace lumeric::spatial {

namespace {

using tovrin::is_finite;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr std::size_t point_piece = 64;  // points per piece: each is one search and a few sums
constexpr int most_sweeps = 32;

// One rotation in the plane (p, q) that zeroes a[p][q], applied to a and accumulated in v.
void rotate(double a[3][3], double v[3][3], int p, int q) noexcept {
    const double apq = a[p][q];
    const double theta = (a[q][q] - a[p][p]) / (2.0 * apq);
    // Beyond 1e150 theta * theta would overflow; t is 1 / (2 theta) to the last bit there.
    const double t = std::fabs(theta) > 1e150
                         ? 1.0 / (2.0 * theta)
                         : (theta >= 0 ? 1.0 : -1.0) / (std::fabs(theta) + std::sqrt(1.0 + theta * theta));
    const double c = 1.0 / std::sqrt(1.0 + t * t);
    const double s = t * c;
    a[p][p] = a[p][p] - t * apq;
    a[q][q] = a[q][q] + t * apq;
    a[p][q] = a[q][p] = 0.0;
    const int r = 3 - p - q;
    const double arp = a[r][p], arq = a[r][q];
    a[r][p] = a[p][r] = c * arp - s * arq;
    a[r][q] = a[q][r] = s * arp + c * arq;
    for (int i = 0; i < 3; ++i) {
        const double vip = v[i][p], viq = v[i][q];
        v[i][p] = c * vip - s * viq;
        v[i][q] = s * vip + c * viq;
    }
}

// a[p][q] is too small to change either diagonal entry of its pair.
bool negligible(const double a[3][3], int p, int q) noexcept {
    const double g = 100.0 * std::fabs(a[p][q]);
    return std::fabs(a[p][p]) + g == std::fabs(a[p][p]) && std::fabs(a[q][q]) + g == std::fabs(a[q][q]);
}

}  // namespace

Vec3d smallest_eigenvector(const Symmetric3& m) noexcept {
    const double entries[6] = {m.xx, m.xy, m.xz, m.yy, m.yz, m.zz};
    double largest = 0;
    for (double e : entries) {
        if (!std::isfinite(e)) return {nan, nan, nan};
        largest = std::fmax(largest, std::fabs(e));
    }
    if (largest == 0) return {0, 0, 1};
    int exponent = 0;
    std::frexp(largest, &exponent);  // largest = f * 2^exponent, f in [0.5, 1)
    const int shift = 1 - exponent;
    double a[3][3] = {{std::ldexp(m.xx, shift), std::ldexp(m.xy, shift), std::ldexp(m.xz, shift)},
                      {0, std::ldexp(m.yy, shift), std::ldexp(m.yz, shift)},
                      {0, 0, std::ldexp(m.zz, shift)}};
    a[1][0] = a[0][1];
    a[2][0] = a[0][2];
    a[2][1] = a[1][2];
    double v[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    static constexpr int pairs[3][2] = {{0, 1}, {0, 2}, {1, 2}};
    for (int sweep = 0; sweep < most_sweeps; ++sweep) {
        if (a[0][1] == 0 && a[0][2] == 0 && a[1][2] == 0) break;
        for (const auto& [p, q] : pairs) {
            if (a[p][q] == 0) continue;
            if (negligible(a, p, q)) a[p][q] = a[q][p] = 0.0;
            else rotate(a, v, p, q);
        }
    }
    int j = 0;
    if (a[1][1] < a[j][j]) j = 1;
    if (a[2][2] < a[j][j]) j = 2;
    const Vec3d n{v[0][j], v[1][j], v[2][j]};
    return n / std::sqrt(n.dot(n));
}

Vec3d orient(const Vec3d& n, const Vec3d& p, const std::optional<Vec3d>& toward) noexcept {
    if (toward) {
        const double side = n.dot(*toward - p);
        if (side > 0) return n;
        if (side < 0) return -n;
    }
    int a = 0;
    if (std::fabs(n.y) > std::fabs(n.x)) a = 1;
    if (std::fabs(n.z) > std::fabs(n[a])) a = 2;
    return n[a] < 0 ? -n : n;
}

void normals(const KdTree& tree, std::size_t k, double max_distance, const std::optional<Vec3d>& toward,
             Vec3d* out) {
    const std::span<const Vec3d> points = tree.tree_points();
    const std::size_t room = std::min(k, points.size());
    pool::for_each_range(
        points.size(), [&](std::size_t lo, std::size_t hi) {
            std::vector<KdTree::Entry> scratch(room);
            for (std::size_t position = lo; position < hi; ++position) {
                const Vec3d& x = points[position];
                Vec3d& normal = out[static_cast<std::size_t>(tree.original_index(position))];
                normal = {nan, nan, nan};
                if (!is_finite(x)) continue;
                const std::size_t found = tree.nearest_entries(x, k, max_distance, scratch);
                std::size_t m = 0;  // the places with a finite distance come first
                while (m < found && std::isfinite(points[scratch[m].position].distance_squared(x))) ++m;
                if (m < 3) continue;
                Vec3d sum{0.0, 0.0, 0.0};
                for (std::size_t t = 0; t < m; ++t) sum = sum + points[scratch[t].position];
                const Vec3d c = sum / static_cast<double>(m);
                Symmetric3 cov{0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
                for (std::size_t t = 0; t < m; ++t) {
                    const Vec3d d = points[scratch[t].position] - c;
                    cov.xx = cov.xx + d.x * d.x;
                    cov.xy = cov.xy + d.x * d.y;
                    cov.xz = cov.xz + d.x * d.z;
                    cov.yy = cov.yy + d.y * d.y;
                    cov.yz = cov.yz + d.y * d.z;
                    cov.zz = cov.zz + d.z * d.z;
                }
                normal = orient(smallest_eigenvector(cov), x, toward);
            }
        },
        point_piece);
}

}  // namespace lumeric::spatial
