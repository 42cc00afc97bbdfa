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
    tovrin::append_vec3d(out, v);
    return out;
}

// The hash reads exact canonical bit patterns: every NaN becomes the quiet NaN and -0.0
// becomes +0.0. Both are rare, so they leave the common path by a branch instead of standing
// as data dependencies in front of the first hash round: the whole hash is a few nanoseconds.
[[gnu::cold, gnu::noinline]] std::uint64_t canonical_rare_bits(std::uint64_t bits) noexcept {
    return std::isnan(std::bit_cast<double>(bits)) ? 0x7FF8000000000000ULL : 0;
}

std::uint64_t canonical_bits(double value) noexcept {
    const auto bits = std::bit_cast<std::uint64_t>(value);
    // With the sign shifted out the NaNs lie above the infinities; -0.0 is the sign bit alone.
    if ((bits << 1) > 0xFFE0000000000000ULL || bits == 0x8000000000000000ULL) [[unlikely]]
        return canonical_rare_bits(bits);
    return bits;
}

Py_hash_t hash(const Vec3d& v) noexcept {
    return static_cast<Py_hash_t>(siphash13<3>({canonical_bits(v.x), canonical_bits(v.y), canonical_bits(v.z)}));
}

// The check values of Vec3d(0, 0, 0) and Vec3d(1, 2, 3), from their bit patterns.
static_assert(siphash13<3>({0, 0, 0}) == static_cast<std::uint64_t>(-504348149136077492LL));
static_assert(siphash13<3>({0x3FF0000000000000, 0x4000000000000000, 0x4008000000000000}) == 3511550596308926913);

using Constructor = V::Constructor<&make, "x", "y", "z">;

}  // namespace

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
