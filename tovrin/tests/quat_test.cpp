// The documented quaternion values, and the geometry the formulas must add up to, which a formula
// copied wrongly into the module's tests and the code alike would not.
#include <tovrin/quat.hpp>

#include <cmath>
#include <limits>
#include <random>

#include <gtest/gtest.h>

#include "bit_equal.hpp"

namespace tovrin {
namespace {

using testing::same;

TEST(Quat, DocumentedValues) {
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    const Quat quarter_turn_z = Quat::from_axis_angle({0, 0, 1}, AngleRadians::half_pi());
    const struct { const char* name; Quat got; Quat want; } quats[] = {
        {"normalize zero", Quat{0, 0, 0, 0}.normalize(), {nan, nan, nan, nan}},
        // Between them these give other bits under any other grouping of each component's sum.
        {"product rounded", Quat{-0.27, 0.64, -0.37, 0.91} * Quat{-1.28, 0.73, -1.74, 0.21},
         {-0.9565000000000001, 0.4894000000000003, 1.4732999999999998, -2.0649999999999995}},
        {"product rounded too", Quat{-1.92, -1.02, -1.71, 0.2} * Quat{-1.72, -1.7, 0.54, -0.84},
         {2.6598, 6.3468, 0.7075999999999998, -2.1890000000000005}},
        {"normalize rounded", Quat{0.87, -1.18, -0.11, -0.93}.normalize(),
         {0.5001073803341172, -0.6783065618324806, -0.0632319676284516, -0.5345975444950908}},
        // The conjugate is multiplied by the vector first; the other order rounds differently.
        {"rotate rounded", to_quat(Quat{-1.46, 1.39, 1.06, -0.98}.rotate({-0.08, -0.91, 2.73})),
         {0, -4.431735999999999, -17.089245000000002, -1.2382250000000008}},
    };
    for (const auto& c : quats) EXPECT_TRUE(same(c.got, c.want)) << c.name;
    const struct { const char* name; Quat q; Vec3d axis; double angle; } axes[] = {
        {"identity", Quat::identity(), {1, 0, 0}, 0.0}, {"w of 1", {1, 5, 5, 5}, {1, 0, 0}, 0.0},
        {"w within epsilon of 1", {1 - epsilon / 2, 0, 0, 1}, {1, 0, 0}, 0.0},
        {"w just below 1", {1 - epsilon, 0, 0, 0}, {0, 0, 0}, 0.000000042146848510894035},
        {"zero", {0, 0, 0, 0}, {0, 0, 0}, 3.141592653589793}, {"w of 2", {2, 0, 0, 0}, {nan, nan, nan}, nan},
        {"divided by the sine", {-0.49, 0.8, 0.72, -0.84}, {0.917723314002264, 0.8259509826020376, -0.9636094797023771},
         4.165772159458089},
    };
    for (const auto& c : axes) {
        auto [axis, angle] = c.q.to_axis_angle();
        for (int k = 0; k < 3; ++k) EXPECT_TRUE(std::isnan(c.axis[k]) ? std::isnan(axis[k]) : axis[k] == c.axis[k]) << c.name;
        EXPECT_TRUE(std::isnan(c.angle) ? std::isnan(angle.angle) : angle.angle == c.angle) << c.name;
    }
    Vec3d turned = quarter_turn_z.rotate({1, 0, 0});
    EXPECT_EQ(turned.x, 2.220446049250313e-16);
    EXPECT_EQ(turned.y, 1.0);
    EXPECT_EQ(Quat(2, 0, 0, 0).rotate({1, 2, 3}).z, 12.0);
    EXPECT_TRUE(std::isnan(Quat::identity().rotate({std::numeric_limits<double>::infinity(), 0, 0}).y));
    EXPECT_EQ(Quat(1, -2, -1, 1).normalize().magnitude(), 0.9999999999999998);
    EXPECT_EQ(Quat(-1.84, -1.71, 1.46, 1.15).magnitude(), 3.124707986356485);  // summed w, i, j, then k
    // The diagonal subtracts twice the sum of two squares from 1, not each square in turn.
    const double matrix[] = {-0.15399999999999991, 1.5539999999999998, -0.3679999999999998, 0.9167999999999998,
                             -0.6596, 1.41, 1.3075999999999999, -0.6432, -1.5220000000000002};
    auto m = Quat(-0.59, 0.87, 0.71, 0.27).to_rotation_matrix();
    for (int k = 0; k < 9; ++k) EXPECT_EQ(m[k / 3][k % 3], matrix[k]) << k;
    EXPECT_FALSE(Quat(1, -2, -1, 1).normalize().is_unit());
}

// rotate and the matrix are checked against an independent oracle through the module.
TEST(Quat, AxisAngleRoundTrips) {
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> u(-5.0, 5.0), theta(0.1, 6.18);
    for (int n = 0; n < 1000; ++n) {
        const Vec3d axis = Vec3d{u(rng), u(rng), u(rng)}.normalize();
        AngleRadians a{theta(rng)};
        Quat q = Quat::from_axis_angle(axis, a);
        // The axis comes back negated for a positive angle, and as given for a negative one.
        auto [back_axis, back_angle] = q.to_axis_angle();
        EXPECT_NEAR(back_angle.angle, a.angle, 1e-12);
        EXPECT_NEAR(back_axis.distance_to(-axis), 0.0, 1e-12);
        auto [neg_axis, neg_angle] = Quat::from_axis_angle(axis, -a).to_axis_angle();
        EXPECT_NEAR(neg_angle.angle, a.angle, 1e-12);
        EXPECT_NEAR(neg_axis.distance_to(axis), 0.0, 1e-12);
    }
}

Quat rotation(const RotationResult& result) {
    EXPECT_TRUE(std::holds_alternative<Quat>(result));
    return std::holds_alternative<Quat>(result) ? std::get<Quat>(result) : Quat{};
}

// Values from the written formulas evaluated one rounding at a time, with operands chosen so that
// regrouping a sum, swapping a branch or dropping a normalisation changes bits.
TEST(Quat, RotationsDocumentedValues) {
    const Quat a{0.5, 0.5, -0.5, 0.5}, b = Quat{0.8, 0.1, 0.6, -0.3}.normalize(), minus_b{-b.w, -b.i, -b.j, -b.k};
    const Quat far{-0.7552632224670202, -0.5035088149780134, 0.33567254331867563, -0.2517544074890067};
    const Quat near_a{0.32163376045133846, 0.5360562674188974, -0.214422506967559, 0.7504787743864564};
    const Quat near_b{0.3216336225144425, 0.5360553708597628, -0.21441674836301022, 0.7504811191909313};
    const Quat signed_zeros{-0.0, 1.0, -0.0, 0.0};
    auto from_matrix_of = [](Quat q) { return rotation(Quat::from_rotation_matrix(q.to_rotation_matrix())); };
    auto between = [](Vec3d u, Vec3d v) { return rotation(Quat::from_two_vectors(u, v)); };
    const struct { const char* name; Quat got; Quat want; } cases[] = {
        {"inverse", Quat{0.5, -0.7, 0.6, -0.7}.inverse(),
         {0.31446540880503143, 0.440251572327044, -0.3773584905660377, 0.440251572327044}},
        {"slerp", a.slerp(b, 0.3), {0.7917936279938388, 0.48878955783164074, -0.18578548766944275, 0.3156443748818133}},
        {"slerp, the shorter arc", Quat{0.5, 0.5, 0.5, 0.5}.slerp(far, 0.7),
         {0.7446774194573758, 0.5539347338913065, -0.08187421799559114, 0.3631920483252372}},
        {"slerp beyond b", a.slerp(b, 1.5),
         {0.18580649937731997, -0.2861334043469495, 0.758073308071219, -0.5558133493322464}},
        {"slerp, near parallel: the chord", near_a.slerp(near_b, 0.25),
         {0.32163372596830503, 0.536056043281098, -0.2144210673172155, 0.750479360590353}},
        {"slerp, just outside that band: the arc", Quat::identity().slerp(Quat{1, 1e-4, 0, 0}.normalize(), 0.25),
         {0.9999999996875, 2.4999999914062498e-05, 0, 0}},
        // Far outside [0, 1] the chord would leave the arc (this one turns by 0.02 to the last digit).
        {"slerp, near parallel, beyond b: the arc",
         Quat::identity().slerp(Quat::from_axis_angle({0, 0, 1}, AngleRadians{2e-5}), 1000.0),
         {0.9999500004166748, -0.0, -0.0, -0.009999833334166664}},
        {"slerp, near parallel, before a: the arc", near_a.slerp(near_b, -3.0),
         {0.32163417418583307, 0.5360589569693126, -0.21443978273040887, 0.7504717397952478}},
        // d = ((1 + 2^-60) - 1) - 2^-60 < 0 as written; summed any other way it is 0, and b is kept.
        {"slerp, the shorter arc by d as written",
         Quat{1, 0x1p-30, 1, 0x1p-30}.slerp(Quat{1, 0x1p-30, -1, -0x1p-30}, 0.25),
         {0.5411961001461969, 5.040281453600124e-10, 1.3065629648763766, 1.2168315843459e-09}},
        {"slerp at 0", signed_zeros.slerp(b, 0.0), signed_zeros},
        {"slerp at -0", signed_zeros.slerp(b, -0.0), signed_zeros},
        {"slerp at 1, the shorter arc", a.slerp(minus_b, 1.0), b},
        {"matrix, trace largest, w made positive",
         from_matrix_of({-0.8877439524218729, -0.1795716315003739, 0.04092143815222458, -0.4218887768100014}),
         {0.8877439524218729, 0.1795716315003739, -0.04092143815222457, 0.4218887768100014}},
        {"matrix, trace largest, again",
         from_matrix_of({-0.6121439122532211, -0.08782272326561477, -0.5693144046184236, -0.5417085089450799}),
         {0.6121439122532213, 0.08782272326561473, 0.5693144046184236, 0.5417085089450799}},
        {"matrix, m00 largest",
         from_matrix_of({0.5921773697107545, 0.6750923182080802, -0.41096873541690576, -0.15710195163880614}),
         {0.5921773697107544, 0.6750923182080804, -0.4109687354169057, -0.1571019516388061}},
        {"matrix, m11 largest",
         from_matrix_of({0.21104203956825893, 0.666559338318685, 0.7105352196822575, 0.07937006757028979}),
         {0.21104203956825893, 0.666559338318685, 0.7105352196822575, 0.07937006757028978}},
        {"matrix, m22 largest",
         from_matrix_of({-0.10688333656053914, 0.07465570820348877, -0.04926221048381208, 0.9902402295486539}),
         {0.10688333656053914, -0.07465570820348877, 0.04926221048381208, -0.9902402295486539}},
        {"matrix, half turn about x", from_matrix_of({0, 1, 0, 0}), {0, 1, 0, 0}},
        {"matrix, half turn: first non-zero positive", from_matrix_of({0, 0, -0.6, 0.8}), {0, -0.0, 0.6, -0.8}},
        {"two vectors", between({1, 2, 3}, {-2, 0.5, 4}),
         {0.9092043934144151, -0.21229770714480342, 0.3266118571458514, -0.14697533571563312}},
        {"two vectors, more than a quarter turn", between({9, 4, -1}, {-3, 6, 5}),
         {0.6720903742491559, -0.233535882597106, 0.3772502718876328, -0.592821855823423}},
        {"two vectors, nearly opposite", between({1, 0, 0}, {-1, 1e-9, 0}), {5e-10, 0, 0, -0.9999999999999999}},
        {"two vectors, parallel", between({1, 2, 3}, {3, 6, 9}), Quat::identity()},
        {"two vectors, opposite: about a × x", between({1, 2, 3}, {-2, -4, -6}),
         {0, 0, 0.8320502943378437, -0.5547001962252291}},
        {"two vectors, opposite: x before y on a tie", between({0, 0, -4}, {0, 0, 1e-300}), {0, 0, -1, 0}},
        {"two vectors, opposite: about a × y", between({3, 0, -4}, {-3 * 0x1p-1000, 0, 4 * 0x1p-1000}),
         {0, 0.8, -0.0, 0.6}},
        {"two vectors, tiny and huge", between({1e-300, 0, 0}, {0, 1e300, 0}),
         {0.7071067811865476, 0, 0, -0.7071067811865476}},
        {"rotation vector, the series", Quat::from_rotation_vector({9.3312862e-05, 7.8748336e-05, -4.024222e-05}),
         {0.99999999793399663, -4.6656430967869215e-05, -3.9374167972884272e-05, 2.0121109986143239e-05}},
        {"rotation vector", Quat::from_rotation_vector({-0.55524026, -1.33617577, -1.41719236}),
         {0.52958841576094329, 0.2325436944164441, 0.55961224776016216, 0.59354331959494289}},
        {"rotation vector, its squares overflowing", Quat::from_rotation_vector({1e300, 1e300, 0}),
         {-0.8986104300973718, -0.31024127297977006, -0.31024127297977006, -0.0}},
    };
    for (const auto& c : cases) EXPECT_TRUE(same(c.got, c.want)) << c.name;
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    const struct { const char* name; Quat q; Vec3d want; } vectors[] = {
        {"the series", {0.999999999569, -4.9372732e-05, 2.7926332e-05, -4.5505168e-05},
         {9.8745463868495187e-05, -5.5852663925617906e-05, 9.1010335878796467e-05}},
        {"w negative", {-0.3, 0.5, -0.6, 0.2}, {1.5064847696035826, -1.807781723524299, 0.60259390784143307}},
        {"w one ulp above 1", {1 + epsilon, 1e-17, 0, 0}, {-1.9999999999999998e-17, -0.0, -0.0}},
        {"zero", {0, 0, 0, 0}, {nan, nan, nan}},
    };
    for (const auto& c : vectors) EXPECT_TRUE(same(c.q.to_rotation_vector(), c.want)) << c.name;
}

}  // namespace
}  // namespace tovrin
