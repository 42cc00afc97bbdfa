// transform.cpp: the Python class `Transform`, a rigid map.
//
//     class Transform:                                   # not in __all__
//         def __new__(cls, rotation: Quat, translation: Vec3d) -> Transform
//         rotation: Quat, translation: Vec3d             # read-only
//         identity() -> Transform                        # static
//         from_matrix(m) -> Transform                    # static; (4, 4) buffer or rows; ValueError
//         align(source, target, weights=None)            # static; least squares; ValueError
//         apply(v: Vec3d) -> Vec3d                       # rotation.rotate(v) + translation
//         then(other) -> Transform                       # self first, then other
//         inverse() -> Transform
//         to_matrix() -> [[...] * 4]                     # homogeneous, row-major
//         ==, != (the bits of the seven numbers), repr(t)
//         copy.copy, copy.deepcopy, pickle
//
// Unhashable, as Quat is: a map is compared, not keyed.
#include "transform.hpp"

#include <cstring>
#include <string>
#include <variant>
#include <vector>

#include <tovrin/align.hpp>
#include <tovrin/format.hpp>

#include "frame/compare.hpp"
#include "frame/define.hpp"
#include "frame/rows.hpp"
#include "quat.hpp"
#include "vec3d.hpp"
#include "vec_list_array.hpp"

namespace lumeric {

namespace {

using tovrin::Quat;
using tovrin::Transform;
using tovrin::Vec3d;
using T = ClassDef<Transform, "Transform">;

Transform make(const Quat& rotation, const Vec3d& translation) noexcept { return {rotation, translation}; }
Quat rotation(const Transform& t) noexcept { return t.rotation; }
Vec3d translation(const Transform& t) noexcept { return t.translation; }

// Equal exactly when the seven numbers have the same bits (a NaN equals the same NaN, and
// -0.0 differs from 0.0): a map read back from a pickle or a copy equals the original.
bool same_bits(const Transform& a, const Transform& b) noexcept {
    static_assert(sizeof(Transform) == 7 * sizeof(double), "no padding between the numbers");
    return std::memcmp(&a, &b, sizeof(Transform)) == 0;
}

std::string repr(const Transform& t) {
    const Quat& q = t.rotation;
    const Vec3d& v = t.translation;
    return "Transform(" + tovrin::format_call("Quat", {q.w, q.i, q.j, q.k}) + ", " +
           tovrin::format_call("Vec3d", {v.x, v.y, v.z}) + ")";
}

[[noreturn]] void value_error(const char* call, std::string_view why) {
    PyErr_Format(PyExc_ValueError, "%s: %.*s", call, static_cast<int>(why.size()), why.data());
    throw PythonError{};
}

Transform from_matrix(RowsSource matrix) {
    constexpr const char* call = "from_matrix()";
    tovrin::Matrix4 m;
    read_fixed_rows(matrix, call, 4, 4, &m[0][0]);
    const tovrin::TransformResult result = Transform::from_matrix(m);
    if (const auto* error = std::get_if<tovrin::RotationError>(&result)) value_error(call, tovrin::message(*error));
    if (const auto* error = std::get_if<tovrin::TransformError>(&result)) value_error(call, tovrin::message(*error));
    return std::get<Transform>(result);
}

Transform align(RowsSource source, RowsSource target, OrNone<FloatsSource> weights) {
    constexpr const char* call = "align()";
    vec_array::RowsView from(source);
    vec_array::RowsView to(target);
    std::vector<double> w;
    if (weights.value) w = read_floats(*weights.value, call);
    if (from.items().size() != to.items().size()) {
        PyErr_Format(PyExc_ValueError, "%s: source and target differ in length: %zu and %zu", call,
                     from.items().size(), to.items().size());
        throw PythonError{};
    }
    if (weights.value && w.size() != from.items().size()) {
        PyErr_Format(PyExc_ValueError, "%s: weights must have one value per point: got %zu for %zu points", call,
                     w.size(), from.items().size());
        throw PythonError{};
    }
    const tovrin::AlignResult result = tovrin::align(from.items(), to.items(), w);
    if (const auto* error = std::get_if<tovrin::AlignError>(&result)) value_error(call, tovrin::message(*error));
    return std::get<Transform>(result);
}

using Constructor = T::Constructor<&make, "rotation", "translation">;

}  // namespace

PyType_Spec* transform_spec() {
    return T::build<Constructor>(
        T::methods(
            T::static_method<"identity", &Transform::identity>(),
            T::static_method<"from_matrix", &from_matrix, "matrix">(),
            T::static_method<"align", &align, "source", "target", "weights">(),
            T::method<"apply", &Transform::apply, "v">(),
            T::method<"then", &Transform::then, "other">(),
            T::method<"inverse", &Transform::inverse>(),
            T::method<"to_matrix", &Transform::to_matrix>(),
            T::copy_and_pickle()),
        T::properties(
            T::property<"rotation", &rotation, nullptr>(),
            T::property<"translation", &translation, nullptr>()),
        T::op<Py_tp_repr, &repr>(),
        T::compare<&equality_compare<Transform, &same_bits>, "__eq__", "__ne__">());
}

}  // namespace lumeric
