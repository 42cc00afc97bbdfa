// ICP's loop: pairing on the pool, the two update steps and the stopping rule.
#include <spatial/icp.hpp>

#include <cmath>
#include <limits>
#include <vector>

#include <pool/pool.hpp>
#include <tovrin/align.hpp>
#include <tovrin/euler.hpp>
#include <tovrin/sums.hpp>

namespace lumeric::spatial {

using tovrin::Quat;
using tovrin::Transform;
using tovrin::Vec3d;

namespace {

// Extrinsic "xyz" (α, β, γ), x first: the matrix Rz(γ)·Ry(β)·Rx(α), as Quat.from_euler("xyz", ...).
Quat euler_xyz(double alpha, double beta, double gamma) noexcept {
    static constexpr tovrin::EulerSequence xyz = *tovrin::EulerSequence::parse("xyz");
    return tovrin::from_euler(xyz, {alpha, beta, gamma});
}

// The pairs of one transform: moved points, their nearest targets (index n when beyond
// max_distance) and the scores.
struct Pairing {
    std::vector<Vec3d> moved;
    std::vector<double> distances;
    std::vector<std::int64_t> indices;
    std::size_t pairs = 0;
    double fitness = 0;
    double rmse = 0;

    void update(const KdTree& tree, std::span<const Vec3d> targets, std::span<const Vec3d> source,
                const Transform& t, double max_distance) {
        const std::size_t n = source.size();
        moved.resize(n);
        distances.resize(n);
        indices.resize(n);
        Vec3d* out = moved.data();
        pool::for_each_range(n, [&, out](std::size_t lo, std::size_t hi) {
            for (std::size_t k = lo; k < hi; ++k) out[k] = t.apply(source[k]);
        }, 4096);
        // The bound prunes: a point with nothing within max_distance is padding at once.
        tree.nearest(moved, 1, distances.data(), indices.data(), max_distance);
        const auto none = static_cast<std::int64_t>(tree.size());
        pairs = 0;
        const auto sum = tovrin::blocked_sum<1>(n, [&](std::size_t k) {
            if (!(indices[k] != none && distances[k] <= max_distance)) {
                indices[k] = none;
                return std::array<double, 1>{0.0};
            }
            ++pairs;
            return std::array<double, 1>{targets[indices[k]].distance_squared(moved[k])};
        });
        fitness = pairs == 0 ? 0.0 : static_cast<double>(pairs) / static_cast<double>(n);
        rmse = pairs == 0 ? 0.0 : std::sqrt(sum[0] / static_cast<double>(pairs));
    }
};

// The paired moved points and their targets (and normals), in source order.
struct Gathered {
    std::vector<Vec3d> moved, targets, normals;
};

Gathered gather(const Pairing& p, std::span<const Vec3d> targets, std::span<const Vec3d> normals, bool need_normals) {
    Gathered g;
    const auto none = static_cast<std::int64_t>(targets.size());
    g.moved.reserve(p.pairs);
    g.targets.reserve(p.pairs);
    for (std::size_t k = 0; k < p.moved.size(); ++k) {
        const std::int64_t j = p.indices[k];
        if (j == none) continue;
        if (need_normals) {
            if (!tovrin::is_finite(normals[j])) continue;
            g.normals.push_back(normals[j]);
        }
        g.moved.push_back(p.moved[k]);
        g.targets.push_back(targets[j]);
    }
    return g;
}

}  // namespace

// The 21 entries of JᵀJ's upper triangle, row by row, and the 6 of Jᵀr, each a blocked sum
// in pair order; then A = JᵀJ, b = -Jᵀr and the Cholesky factor L (A = L Lᵀ), row by row:
// L[k][k] = sqrt(A[k][k] - Σ_{j<k} L[k][j]²), L[i][k] = (A[i][k] - Σ_{j<k} L[i][j]·L[k][j]) / L[k][k],
// each Σ in j order; forward and back substitution in index order.
Transform point_to_plane_step(std::span<const Vec3d> moved, std::span<const Vec3d> targets,
                              std::span<const Vec3d> normals) noexcept {
    const auto sums = tovrin::blocked_sum<27>(moved.size(), [&](std::size_t k) {
        const Vec3d& s = moved[k];
        const Vec3d& n = normals[k];
        const Vec3d c = s.cross(n);
        const double j[6] = {c.x, c.y, c.z, n.x, n.y, n.z};
        const double r = (s - targets[k]).dot(n);
        std::array<double, 27> out{};
        std::size_t e = 0;
        for (int a = 0; a < 6; ++a)
            for (int b = a; b < 6; ++b) out[e++] = j[a] * j[b];
        for (int a = 0; a < 6; ++a) out[e++] = j[a] * r;
        return out;
    });
    double a[6][6];
    double b[6];
    std::size_t e = 0;
    for (int r = 0; r < 6; ++r)
        for (int c = r; c < 6; ++c) a[r][c] = a[c][r] = sums[e++];
    for (int r = 0; r < 6; ++r) b[r] = -sums[e++];

    double l[6][6] = {};
    for (int k = 0; k < 6; ++k) {
        double d = a[k][k];
        for (int j = 0; j < k; ++j) d = d - l[k][j] * l[k][j];
        if (!(d > 0x1p-40 * a[k][k]) || !std::isfinite(d)) return Transform::identity();
        l[k][k] = std::sqrt(d);
        for (int i = k + 1; i < 6; ++i) {
            double v = a[i][k];
            for (int j = 0; j < k; ++j) v = v - l[i][j] * l[k][j];
            l[i][k] = v / l[k][k];
        }
    }
    double y[6], x[6];
    for (int i = 0; i < 6; ++i) {
        double v = b[i];
        for (int j = 0; j < i; ++j) v = v - l[i][j] * y[j];
        y[i] = v / l[i][i];
    }
    for (int i = 5; i >= 0; --i) {
        double v = y[i];
        for (int j = i + 1; j < 6; ++j) v = v - l[j][i] * x[j];
        x[i] = v / l[i][i];
    }
    return {euler_xyz(x[0], x[1], x[2]), {x[3], x[4], x[5]}};
}

IcpResult icp(const KdTree& tree, std::span<const Vec3d> targets, std::span<const Vec3d> source,
              const IcpOptions& options, std::span<const Vec3d> normals) {
    const bool plane = !normals.empty();
    Transform t = options.init;
    Pairing p;
    p.update(tree, targets, source, t, options.max_distance);
    std::uint64_t done = 0;
    while (done < options.iterations && p.pairs > 0) {
        const Gathered g = gather(p, targets, normals, plane);
        Transform step = Transform::identity();
        if (plane) {
            step = point_to_plane_step(g.moved, g.targets, g.normals);
        } else {
            const tovrin::AlignResult found = tovrin::align(g.moved, g.targets);
            if (const auto* aligned = std::get_if<Transform>(&found)) step = *aligned;
        }
        t = t.then(step);
        ++done;
        const double fitness = p.fitness, rmse = p.rmse;
        p.update(tree, targets, source, t, options.max_distance);
        if (std::fabs(p.fitness - fitness) < options.relative_fitness && std::fabs(p.rmse - rmse) < options.relative_rmse)
            break;
    }
    return {t, p.fitness, p.rmse, done};
}

}  // namespace lumeric::spatial
