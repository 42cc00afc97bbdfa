// quat.cpp: the Python class `Quat`.
//
//     class Quat:
//         def __new__(cls, w: float, i: float, j: float, k: float) -> Quat
//         w, i, j, k: float                      # read-write; `del q.w` is refused
//         identity(), from_axis_angle(axis: Vec3d, angle: AngleRadians)   # static
//         from_rotation_matrix(matrix, nearest=False), from_two_vectors(a: Vec3d, b: Vec3d) # static; ValueError
//         from_euler(seq: str, angles), from_rotation_vector(v: Vec3d)       # static
//         conjugate, magnitude, normalize, is_unit, rotate(v: Vec3d)
//         multiply(other: Quat), inverse(), slerp(other: Quat, t: float)
//         to_vec3d() -> (i, j, k)                # a tuple of floats, not a Vec3d
//         to_axis_angle() -> (Vec3d, AngleRadians)
//         to_euler(seq: str) -> (float, float, float), to_rotation_vector() -> Vec3d
//         to_rotation_matrix() -> [[...], [...], [...]]            # row-major
//         ==, != (both within 2^-52 per field), repr(q)            # "Quat(1, 0, 0, 0)"
//         copy.copy, copy.deepcopy, pickle
//
// `seq` is an Euler sequence ("xyz" extrinsic, "XYZ" intrinsic; ValueError naming any other
// str) and `angles` three numbers in radians. `matrix` is three rows of three numbers or a
// (3, 3) buffer. No arithmetic operators (a product is `multiply`, never `*`) and no
// ordering; unhashable, since it defines equality without a hash.
#include "quat.hpp"

#include <array>
#include <string>
#include <tuple>
#include <variant>

#include <tovrin/align.hpp>
#include <tovrin/format.hpp>

#include "angle.hpp"
#include "frame/compare.hpp"
#include "frame/define.hpp"
#include "frame/rows.hpp"
#include "vec3d.hpp"

namespace lumeric {

namespace {

using tovrin::Quat;
using Q = ClassDef<Quat, "Quat">;

Quat make(double w, double i, double j, double k) noexcept { return {w, i, j, k}; }

std::tuple<double, double, double> to_vec3d(const Quat& q) noexcept { return {q.i, q.j, q.k}; }

std::tuple<tovrin::Vec3d, tovrin::AngleRadians> to_axis_angle(const Quat& q) noexcept {
    tovrin::AxisAngle result = q.to_axis_angle();
    return {result.axis, result.angle};
}

Quat from_euler(const tovrin::EulerSequence& seq, const Doubles<3>& angles) noexcept {
    return tovrin::from_euler(seq, angles.values);
}

std::tuple<double, double, double> to_euler(const Quat& q, const tovrin::EulerSequence& seq) noexcept {
    auto [first, middle, third] = tovrin::to_euler(q, seq);
    return {first, middle, third};
}

bool equal(const Quat& a, const Quat& b) noexcept { return a == b; }

// The rotation, or ValueError "{call}: {why}".
Quat rotation_or_raise(const tovrin::RotationResult& result, const char* call) {
    if (const auto* error = std::get_if<tovrin::RotationError>(&result)) {
        PyErr_Format(PyExc_ValueError, "%s: %s", call, tovrin::message(*error).data());
        throw PythonError{};
    }
    return std::get<Quat>(result);
}

// nearest: the rotation nearest to any finite matrix (Horn's eigen step, as Transform.align),
// instead of the exact reading that refuses what is not orthonormal.
Quat from_rotation_matrix(RowsSource matrix, KeywordOnly<Defaulted<StrictBool, false>> nearest) {
    constexpr const char* call = "from_rotation_matrix()";
    tovrin::Matrix3 m;
    read_fixed_rows(matrix, call, 3, 3, &m[0][0]);
    return rotation_or_raise(nearest.value ? tovrin::nearest_rotation(m) : Quat::from_rotation_matrix(m), call);
}

Quat from_two_vectors(const tovrin::Vec3d& a, const tovrin::Vec3d& b) {
    return rotation_or_raise(Quat::from_two_vectors(a, b), "from_two_vectors()");
}

std::string repr(const Quat& q) { return tovrin::format_call("Quat", {q.w, q.i, q.j, q.k}); }

using Constructor = Q::Constructor<&make, "w", "i", "j", "k">;

}  // namespace

PyType_Spec* quat_spec() {
    return Q::build<Constructor>(
        Q::methods(
            Q::static_method<"identity", &Quat::identity>(),
            Q::static_method<"from_axis_angle", &Quat::from_axis_angle, "axis", "angle">(),
            Q::static_method<"from_rotation_matrix", &from_rotation_matrix, "matrix", "nearest">(),
            Q::static_method<"from_two_vectors", &from_two_vectors, "a", "b">(),
            Q::static_method<"from_euler", &from_euler, "seq", "angles">(),
            Q::static_method<"from_rotation_vector", &Quat::from_rotation_vector, "v">(),
            Q::method<"conjugate", &Quat::conjugate>(),
            Q::method<"magnitude", &Quat::magnitude>(),
            Q::method<"normalize", &Quat::normalize>(),
            Q::method<"is_unit", &Quat::is_unit>(),
            Q::method<"to_vec3d", &to_vec3d>(),
            Q::method<"to_axis_angle", &to_axis_angle>(),
            Q::method<"to_rotation_matrix", &Quat::to_rotation_matrix>(),
            Q::method<"to_euler", &to_euler, "seq">(),
            Q::method<"to_rotation_vector", &Quat::to_rotation_vector>(),
            Q::method<"rotate", &Quat::rotate, "v">(),
            Q::method<"multiply", &Quat::operator*, "other">(),
            Q::method<"inverse", &Quat::inverse>(),
            Q::method<"slerp", &Quat::slerp, "other", "t">(),
            Q::copy_and_pickle()),
        Q::properties(
            Q::property<"w", &Quat::w>(),
            Q::property<"i", &Quat::i>(),
            Q::property<"j", &Quat::j>(),
            Q::property<"k", &Quat::k>()),
        Q::op<Py_tp_repr, &repr>(),
        Q::compare<&equality_compare<Quat, &equal>, "__eq__", "__ne__">());
}

}  // namespace lumeric
