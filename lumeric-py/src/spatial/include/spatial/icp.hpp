// spatial/icp.hpp: iterative closest point registration of a source cloud onto the cloud of
// a k-d tree, point-to-point or point-to-plane. Plain C++; knows nothing of Python.
//
// Each iteration moves the source by the current transform, pairs every moved point with
// its nearest target point when that lies within max_distance (at it too; the tree's bounded
// search, which prunes what lies beyond), estimates an
// update from the pairs and composes it after the transform; it stops after `iterations`
// updates, when a step changes both fitness and inlier RMSE by less than their thresholds,
// or when there are no pairs. Queries and moves run on the pool, each point on its own;
// every sum runs in source order (tovrin's blocked sums), so the result is the same bits at
// any worker count.
#pragma once

#include <cstdint>
#include <span>

#include <tovrin/transform.hpp>
#include <tovrin/vec3d.hpp>

#include <spatial/tree.hpp>

namespace lumeric::spatial {

struct IcpOptions {
    double max_distance;  // > 0
    tovrin::Transform init;
    std::uint64_t iterations;
    double relative_fitness;
    double relative_rmse;
};

struct IcpResult {
    tovrin::Transform transform;
    double fitness;      // pairs / len(source), 0 without pairs
    double inlier_rmse;  // sqrt(Σ d² / pairs), 0 without pairs
    std::uint64_t iterations;  // updates made
};

// `targets` are the tree's points in their original order; `normals`, empty for
// point-to-point, one per target point for point-to-plane (pairs whose normal is not
// finite are left out of the step, not out of the scores). Throws std::bad_alloc.
IcpResult icp(const KdTree& tree, std::span<const tovrin::Vec3d> targets, std::span<const tovrin::Vec3d> source,
              const IcpOptions& options, std::span<const tovrin::Vec3d> normals = {});

// The point-to-plane step for pairs (s_k, q_k, n_k): the Gauss–Newton update of
// Σ ((R s + t - q)·n)² under the small-angle linearisation, rows J = [s × n, n], residual
// r = (s - q)·n, JᵀJ x = -Jᵀr solved by a Cholesky factorisation in fixed order; x =
// (α, β, γ, tx, ty, tz) becomes the rotation Rz(γ)·Ry(β)·Rx(α) and the translation. A
// singular system (a pivot not above 2^-40 of its diagonal entry, or not finite) gives the
// identity.
tovrin::Transform point_to_plane_step(std::span<const tovrin::Vec3d> moved, std::span<const tovrin::Vec3d> targets,
                                      std::span<const tovrin::Vec3d> normals) noexcept;

}  // namespace lumeric::spatial
