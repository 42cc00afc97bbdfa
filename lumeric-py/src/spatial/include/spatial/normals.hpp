// spatial/normals.hpp: the normal of each point of a tree, from its k nearest neighbours.
// Plain C++; knows nothing of Python.
//
// For the point p_i (a finite point; any other gets NaN), the neighbourhood is
// tree.nearest(p_i, k, max_distance): the places with a finite distance, m of them, p_i
// itself among them. With m < 3 the normal is NaN. Otherwise, with every sum a running sum
// from 0.0 in the answer's order (nearest first, ties by index):
//   c = (sum of the neighbours) / m, per coordinate;
//   C = the six sums of d d^T with d = p - c: xx, xy, xz, yy, yz, zz;
//   n = smallest_eigenvector(C), then signed (see orient).
#pragma once

#include <cstddef>
#include <optional>

#include "spatial/tree.hpp"

namespace lumeric::spatial {

// A symmetric 3x3 matrix by its upper triangle.
struct Symmetric3 {
    double xx, xy, xz, yy, yz, zz;
};

// The unit eigenvector of the smallest eigenvalue of `a`, by cyclic Jacobi rotations.
//   - The matrix is first scaled by a power of two (exact) so that its largest entry lies in
//     [1, 2): no step can overflow or underflow on the way.
//   - Sweeps rotate the pairs (x, y), (x, z), (y, z) in that order, each rotation zeroing its
//     entry (the symmetric Schur step: t = sign(theta) / (|theta| + sqrt(1 + theta^2)),
//     theta = (a_qq - a_pp) / (2 a_pq)). An entry is set to 0 instead once adding 100 times
//     it to both diagonal entries of its pair would change neither; sweeps end when every
//     off-diagonal entry is 0, and there are never more than 32 (about 5 suffice).
//   - The eigenvector is the column of the accumulated rotations at the smallest diagonal
//     entry (the first on ties), divided by its length.
// Every step is a fixed sequence of IEEE operations, so the bits never depend on the machine.
// Degenerate matrices still give a unit vector of the eigenspace (one perpendicular to the line
// for collinear points); the zero matrix gives (0, 0, 1); a non-finite entry gives NaN.
Vec3d smallest_eigenvector(const Symmetric3& a) noexcept;

// The sign rule: with `toward`, n such that n.dot(toward - p) >= 0; without it, or where that
// dot is 0 (or NaN), the component of largest magnitude positive, the first on ties.
Vec3d orient(const Vec3d& n, const Vec3d& p, const std::optional<Vec3d>& toward) noexcept;

// The normal of every point into out[0, tree.size()), in the original order, on the pool.
// Throws std::bad_alloc.
void normals(const KdTree& tree, std::size_t k, double max_distance, const std::optional<Vec3d>& toward,
             Vec3d* out);

}  // namespace lumeric::spatial
