// vec3d.cpp: the Python class `Vec3d`.
//
//     class Vec3d:
//         def __new__(cls, x: float, y: float, z: float) -> Vec3d
//         x, y, z: float                         # read-write; `del v.x` is refused
//         zero(), i(), j(), k(), new_from_to(from, to)          # static, new object each call
//         to_array, magnitude, is_unit, normalize, dot, cross, scalar_triple_product,
//         distance_to, distance_squared, distance_to_line, project_onto_plane, project_onto_line
//         angle_to(other) -> AngleRadians, to_quat() -> Quat        # (0, x, y, z)
//         v + w, v - w, -v, v * s, s * v, v / s, v[i], ==, !=, hash(v), repr(v)
//         copy.copy, copy.deepcopy, pickle
//
// Equality allows 2^-52 per component; the hash uses exact canonical bit patterns, so
// vectors that compare equal may hash differently.
#include "vec3d.hpp"

#include <bit>
#include <cmath>
#include <string>

#include <tovrin/format.hpp>

#include "angle.hpp"
#include "frame/compare.hpp"
#include "frame/define.hpp"
#include "quat.hpp"
#include "siphash.hpp"

namespace lumeric {

namespace {

using tovrin::Vec3d;
using V = ClassDef<Vec3d, "Vec3d">;

Vec3d make(double x, double y, double z) noexcept { return {x, y, z}; }

double get_item(const Vec3d& v, Index index) {
    if (index.value >= 3) raise(PyExc_IndexError, "Index out of bounds");
    return v[index.value];
}

Vec3d add(const Vec3d& a, const Vec3d& b) noexcept { return a + b; }
Vec3d subtract(const Vec3d& a, const Vec3d& b) noexcept { return a - b; }
Vec3d negate(const Vec3d& a) noexcept { return -a; }
Vec3d scale(const Vec3d& a, double s) noexcept { return a * s; }
Vec3d divide(const Vec3d& a, double s) noexcept { return a / s; }
bool equal(const Vec3d& a, const Vec3d& b) noexcept { return a == b; }

std::string repr(const Vec3d& v) {
    std::string out;
    append_repr(out, v);
    return out;
}

// NaN of any payload hashes as the quiet NaN; adding 0.0 turns -0.0 into +0.0.
std::uint64_t canonical_bits(double value) noexcept {
    if (std::isnan(value)) return 0x7FF8000000000000ULL;
    return std::bit_cast<std::uint64_t>(value + 0.0);
}

Py_hash_t hash(const Vec3d& v) noexcept {
    SipHash13 h(0, 0);
    h.write_u64(canonical_bits(v.x));
    h.write_u64(canonical_bits(v.y));
    h.write_u64(canonical_bits(v.z));
    auto result = static_cast<Py_hash_t>(h.finish());
    return result == -1 ? -2 : result;
}

using Constructor = V::Constructor<&make, "x", "y", "z">;

}  // namespace

void append_repr(std::string& out, const Vec3d& v) { tovrin::append_call(out, "Vec3d", {v.x, v.y, v.z}); }

PyType_Spec* vec3d_spec() {
    return V::build<Constructor>(
        V::methods(
            V::static_method<"zero", &Vec3d::zero>(),
            V::static_method<"i", &Vec3d::i>(),
            V::static_method<"j", &Vec3d::j>(),
            V::static_method<"k", &Vec3d::k>(),
            V::static_method<"new_from_to", &Vec3d::new_from_to, "from", "to">(),
            V::method<"to_array", &Vec3d::to_array>(),
            V::method<"magnitude", &Vec3d::magnitude>(),
            V::method<"is_unit", &Vec3d::is_unit>(),
            V::method<"normalize", &Vec3d::normalize>(),
            V::method<"dot", &Vec3d::dot, "other">(),
            V::method<"cross", &Vec3d::cross, "other">(),
            V::method<"scalar_triple_product", &Vec3d::scalar_triple_product, "b", "c">(),
            V::method<"distance_to", &Vec3d::distance_to, "other">(),
            V::method<"distance_squared", &Vec3d::distance_squared, "other">(),
            V::method<"distance_to_line", &Vec3d::distance_to_line, "a", "b">(),
            V::method<"project_onto_plane", &Vec3d::project_onto_plane, "normal">(),
            V::method<"project_onto_line", &Vec3d::project_onto_line, "line_r", "line_q">(),
            V::method<"angle_to", &tovrin::angle_to, "other">(),
            V::method<"to_quat", &tovrin::to_quat>(),
            V::copy_and_pickle()),
        V::properties(
            V::property<"x", &Vec3d::x>(),
            V::property<"y", &Vec3d::y>(),
            V::property<"z", &Vec3d::z>()),
        V::op<Py_tp_repr, &repr>(),
        V::op<Py_tp_hash, &hash>(),
        V::compare<&equality_compare<Vec3d, &equal>, "__eq__", "__ne__">(),
        V::op<Py_nb_add, &add, "other">(),
        V::op<Py_nb_subtract, &subtract, "other">(),
        V::commutative_multiply<&scale, "rhs", "lhs">(),
        V::op<Py_nb_true_divide, &divide, "rhs">(),
        V::op<Py_nb_negative, &negate>(),
        V::getitem<&get_item>(),
        V::sequence_item<&get_item>());
}

}  // namespace lumeric
