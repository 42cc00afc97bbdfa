// Horn's method: the eigen step, the weighted sums and the alignment built on them.
#include <tovrin/align.hpp>

#include <cmath>

#include <tovrin/sums.hpp>

namespace tovrin {

namespace {

// A negligible off-diagonal entry: adding a hundred times it changes neither diagonal entry.
bool negligible(double apq, double app, double aqq) noexcept {
    const double g = 100.0 * std::fabs(apq);
    return std::fabs(app) + g == std::fabs(app) && std::fabs(aqq) + g == std::fabs(aqq);
}

Quat canonical_sign(Quat q) noexcept {
    if (q.w == 0) {
        q.w = 0.0;
        const double first = q.i != 0 ? q.i : q.j != 0 ? q.j : q.k;
        if (first < 0) q = {0.0, -q.i, -q.j, -q.k};
    } else if (q.w < 0) {
        q = {-q.w, -q.i, -q.j, -q.k};
    }
    return q;
}

}  // namespace

// Cyclic Jacobi: for each pair (p, q) with a = A[p][q] != 0, θ = (A[q][q] - A[p][p]) / (2a),
// t = sign(θ) / (|θ| + sqrt(1 + θ²)) (sign(0) = 1), c = 1 / sqrt(1 + t²), s = t·c; then
// A <- Jᵀ A J and V <- V J for the rotation J of (c, s) in the plane (p, q), and A[p][q] = 0.
// From the fifth sweep on, a negligible entry is set to 0 instead of rotated away.
std::array<double, 4> largest_eigenvector(const Matrix4& n) noexcept {
    double a[4][4];
    double v[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) a[r][c] = r <= c ? n[r][c] : n[c][r];
    for (int sweep = 0; sweep < 64; ++sweep) {
        bool diagonal = true;
        for (int p = 0; p < 3; ++p)
            for (int q = p + 1; q < 4; ++q) {
                const double apq = a[p][q];
                if (apq == 0) continue;
                if (sweep >= 4 && negligible(apq, a[p][p], a[q][q])) {
                    a[p][q] = a[q][p] = 0.0;
                    continue;
                }
                diagonal = false;
                const double theta = (a[q][q] - a[p][p]) / (2.0 * apq);
                const double t = (theta < 0 ? -1.0 : 1.0) / (std::fabs(theta) + std::sqrt(1.0 + theta * theta));
                const double c = 1.0 / std::sqrt(1.0 + t * t);
                const double s = t * c;
                for (int k = 0; k < 4; ++k) {  // columns p and q: A J
                    const double kp = a[k][p], kq = a[k][q];
                    a[k][p] = c * kp - s * kq;
                    a[k][q] = s * kp + c * kq;
                }
                for (int k = 0; k < 4; ++k) {  // rows p and q: Jᵀ (A J)
                    const double pk = a[p][k], qk = a[q][k];
                    a[p][k] = c * pk - s * qk;
                    a[q][k] = s * pk + c * qk;
                }
                a[p][q] = a[q][p] = 0.0;
                for (int k = 0; k < 4; ++k) {
                    const double kp = v[k][p], kq = v[k][q];
                    v[k][p] = c * kp - s * kq;
                    v[k][q] = s * kp + c * kq;
                }
            }
        if (diagonal) break;
    }
    int best = 0;
    for (int k = 1; k < 4; ++k)
        if (a[k][k] > a[best][best]) best = k;
    return {v[0][best], v[1][best], v[2][best], v[3][best]};
}

// Horn's N for S (S[a][b] = Σ s_a t_b, x y z = 0 1 2):
//   [Sxx+Syy+Szz  Syz-Szy      Szx-Sxz       Sxy-Syx     ]
//   [             Sxx-Syy-Szz  Sxy+Syx       Szx+Sxz     ]
//   [                          -Sxx+Syy-Szz  Syz+Szy     ]
//   [                                        -Sxx-Syy+Szz]
// Its largest eigenvector (w, x, y, z), normalised, is the quaternion whose q ⊗ v ⊗ conj(q)
// takes s onto t.
static Quat horn_eigenvector(const Matrix3& s) noexcept {
    const double xx = s[0][0], xy = s[0][1], xz = s[0][2];
    const double yx = s[1][0], yy = s[1][1], yz = s[1][2];
    const double zx = s[2][0], zy = s[2][1], zz = s[2][2];
    const Matrix4 n = {{
        {(xx + yy) + zz, yz - zy, zx - xz, xy - yx},
        {0.0, (xx - yy) - zz, xy + yx, zx + xz},
        {0.0, 0.0, (-xx + yy) - zz, yz + zy},
        {0.0, 0.0, 0.0, (-xx - yy) + zz},
    }};
    const std::array<double, 4> e = largest_eigenvector(n);
    return Quat{e[0], e[1], e[2], e[3]}.normalize();
}

// rotate() applies conj(q) first, so the rotation that takes s onto t is the conjugate.
Quat horn_rotation(const Matrix3& s) noexcept { return canonical_sign(horn_eigenvector(s).conjugate()); }

// 1. Checks in order: lengths, emptiness, the weights' length, each weight finite and >= 0,
//    W = Σ w > 0.
// 2. s̄ = (Σ w·s) / W and t̄ = (Σ w·t) / W, component by component.
// 3. S[a][b] = Σ (w·(s_a - s̄_a))·(t_b - t̄_b).
// 4. q = horn_rotation(S); translation t̄ - q.rotate(s̄).
AlignResult align(std::span<const Vec3d> source, std::span<const Vec3d> target,
                  std::span<const double> weights) noexcept {
    const std::size_t n = source.size();
    if (target.size() != n) return AlignError::LengthsDiffer;
    if (n == 0) return AlignError::Empty;
    const bool weighted = !weights.empty();
    if (weighted && weights.size() != n) return AlignError::WeightsLength;
    if (weighted)
        for (double w : weights)
            if (!(std::isfinite(w) && w >= 0)) return AlignError::BadWeight;
    auto weight = [&](std::size_t k) { return weighted ? weights[k] : 1.0; };

    const std::array<double, 7> sums = blocked_sum<7>(n, [&](std::size_t k) {
        const double w = weight(k);
        const Vec3d& a = source[k];
        const Vec3d& b = target[k];
        return std::array<double, 7>{w, w * a.x, w * a.y, w * a.z, w * b.x, w * b.y, w * b.z};
    });
    const double total = sums[0];
    if (!(total > 0)) return AlignError::ZeroWeight;
    const Vec3d sc{sums[1] / total, sums[2] / total, sums[3] / total};
    const Vec3d tc{sums[4] / total, sums[5] / total, sums[6] / total};

    const std::array<double, 9> cov = blocked_sum<9>(n, [&](std::size_t k) {
        const double w = weight(k);
        const Vec3d a = source[k] - sc;
        const Vec3d b = target[k] - tc;
        const double ax = w * a.x, ay = w * a.y, az = w * a.z;
        return std::array<double, 9>{ax * b.x, ax * b.y, ax * b.z, ay * b.x, ay * b.y,
                                     ay * b.z, az * b.x, az * b.y, az * b.z};
    });
    const Matrix3 s = {{{cov[0], cov[1], cov[2]}, {cov[3], cov[4], cov[5]}, {cov[6], cov[7], cov[8]}}};
    const Quat q = horn_rotation(s);
    return Transform{q, tc - q.rotate(sc)};
}

// trace(Rᵀ M) = Σ R[a][b]·M[a][b] is Horn's objective for S = Mᵀ, and there R is the
// matrix of q ⊗ v ⊗ conj(q), to_rotation_matrix's form: the eigenvector itself, not its
// conjugate.
RotationResult nearest_rotation(const Matrix3& m) noexcept {
    for (const auto& row : m)
        for (double x : row)
            if (!std::isfinite(x)) return RotationError::NonFiniteMatrix;
    const Matrix3 st = {{{m[0][0], m[1][0], m[2][0]}, {m[0][1], m[1][1], m[2][1]}, {m[0][2], m[1][2], m[2][2]}}};
    return canonical_sign(horn_eigenvector(st));
}

TransformResult Transform::from_matrix(const Matrix4& m) noexcept {
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            if (!std::isfinite(m[r][c])) return RotationError::NonFiniteMatrix;
    if (!(m[3][0] == 0 && m[3][1] == 0 && m[3][2] == 0 && m[3][3] == 1)) return TransformError::LastRow;
    const Matrix3 rt = {{{m[0][0], m[1][0], m[2][0]}, {m[0][1], m[1][1], m[2][1]}, {m[0][2], m[1][2], m[2][2]}}};
    const RotationResult q = Quat::from_rotation_matrix(rt);
    if (const auto* error = std::get_if<RotationError>(&q)) return *error;
    const Vec3d t{m[0][3], m[1][3], m[2][3]};
    if (!is_finite(t)) return TransformError::NonFiniteTranslation;
    return Transform{std::get<Quat>(q), t};
}

}  // namespace tovrin
