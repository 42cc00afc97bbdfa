// tovrin/transform.hpp: the rigid map p -> rotation.rotate(p) + translation.
//
// A plain value of seven binary64 floats (the quaternion's four, then the translation's
// three), with no invariant: the rotation is used as given, so a non-unit quaternion
// scales as rotate() does. Formulas are evaluated in the written order.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <variant>

#include <tovrin/quat.hpp>
#include <tovrin/vec3d.hpp>

namespace tovrin {

// Four rows of four floats, row 0 first.
using Matrix4 = std::array<std::array<double, 4>, 4>;

// Why a 4 x 4 matrix describes no rigid map, beyond its rotation block's RotationError.
enum class TransformError : std::uint8_t { LastRow = 0, NonFiniteTranslation = 1 };

constexpr std::string_view message(TransformError error) noexcept {
    switch (error) {
        case TransformError::LastRow: return "the last row is not (0, 0, 0, 1)";
        case TransformError::NonFiniteTranslation: return "the translation has a NaN or infinite entry";
    }
    return "";
}

struct Transform;
using TransformResult = std::variant<Transform, RotationError, TransformError>;

struct Transform {
    // -- Data --
    Quat rotation;
    Vec3d translation;

    // -- Construction --
    static constexpr Transform identity() noexcept { return {Quat::identity(), Vec3d::zero()}; }
    // The inverse of to_matrix(): the rotation block R read as Quat::from_rotation_matrix
    // reads the transpose of R (rotate() applies the transpose of a quaternion's matrix),
    // with its checks; the last row must compare equal to (0, 0, 0, 1) (-0.0 counts as 0)
    // and the translation column must be finite.
    static TransformResult from_matrix(const Matrix4& m) noexcept;

    // -- Application --
    // rotation.rotate(p) + translation.
    constexpr Vec3d apply(const Vec3d& p) const noexcept { return rotation.rotate(p) + translation; }

    // -- Composition --
    // This map first, then b: (rotation ⊗ b.rotation, b.rotation.rotate(translation) + b.translation).
    constexpr Transform then(const Transform& b) const noexcept {
        return {rotation * b.rotation, b.rotation.rotate(translation) + b.translation};
    }
    // (q⁻¹, -(q⁻¹.rotate(t))) with Quat::inverse.
    constexpr Transform inverse() const noexcept {
        const Quat q = rotation.inverse();
        return {q, -q.rotate(translation)};
    }

    // -- Conversion --
    // The homogeneous matrix M with M @ [p, 1] = [apply(p), 1] (for a unit rotation): the
    // rotation block is the transpose of rotation.to_rotation_matrix(), the last column the
    // translation, the last row (0, 0, 0, 1).
    constexpr Matrix4 to_matrix() const noexcept {
        const Matrix3 r = rotation.to_rotation_matrix();
        return {{
            {r[0][0], r[1][0], r[2][0], translation.x},
            {r[0][1], r[1][1], r[2][1], translation.y},
            {r[0][2], r[1][2], r[2][2], translation.z},
            {0.0, 0.0, 0.0, 1.0},
        }};
    }
};

}  // namespace tovrin
