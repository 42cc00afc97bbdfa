// tovrin/align.hpp: least-squares rigid alignment and the rotation nearest to a matrix,
// both by Horn's quaternion method with one deterministic eigen step.
//
// Every sum is a blocked_sum (sums.hpp), so a result depends on nothing but its inputs.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string_view>
#include <variant>

#include <tovrin/quat.hpp>
#include <tovrin/transform.hpp>
#include <tovrin/vec3d.hpp>

namespace tovrin {

// The unit eigenvector of the largest eigenvalue of the symmetric N (only its upper
// triangle is read), by cyclic Jacobi rotations in the fixed pair order (0,1), (0,2), (0,3),
// (1,2), (1,3), (2,3), until every off-diagonal entry is 0 or 64 sweeps; equal largest
// eigenvalues go to the lower index.
std::array<double, 4> largest_eigenvector(const Matrix4& n) noexcept;

// The rotation q (as rotate() turns) maximising Σ t · R(q)s for the cross-covariance
// S[a][b] = Σ w (s_a - s̄_a)(t_b - t̄_b): Horn's matrix of S and its largest eigenvector,
// normalised with w >= 0.
Quat horn_rotation(const Matrix3& s) noexcept;

// Why no alignment was computed. The codes are stable.
enum class AlignError : std::uint8_t {
    LengthsDiffer = 0,
    Empty = 1,
    WeightsLength = 2,
    BadWeight = 3,
    ZeroWeight = 4,
};

constexpr std::string_view message(AlignError error) noexcept {
    switch (error) {
        case AlignError::LengthsDiffer: return "source and target differ in length";
        case AlignError::Empty: return "the point sets are empty";
        case AlignError::WeightsLength: return "weights must have one value per point";
        case AlignError::BadWeight: return "weights must be finite and non-negative";
        case AlignError::ZeroWeight: return "weights sum to 0";
    }
    return "";
}

using AlignResult = std::variant<Transform, AlignError>;

// The rigid map T minimising Σ w_i |T(s_i) - t_i|² (every w_i = 1 when `weights` is empty):
// weighted centroids s̄, t̄, the centred cross-covariance, horn_rotation, and the
// translation t̄ - q.rotate(s̄). Never a reflection; degenerate sets (one point, a line)
// still give one fixed minimiser.
AlignResult align(std::span<const Vec3d> source, std::span<const Vec3d> target,
                  std::span<const double> weights = {}) noexcept;

// The unit quaternion whose to_rotation_matrix() R maximises trace(Rᵀ M), with
// from_rotation_matrix's sign rule (w > 0, or for w = 0 the first non-zero of i, j, k
// positive). Refuses a non-finite entry.
RotationResult nearest_rotation(const Matrix3& m) noexcept;

}  // namespace tovrin
