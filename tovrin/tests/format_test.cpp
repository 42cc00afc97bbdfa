#include <tovrin/format.hpp>

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

namespace {

using tovrin::append_double;
using tovrin::format_double;

TEST(Format, Layout) {
    EXPECT_EQ(format_double(1.0), "1");
    EXPECT_EQ(format_double(-0.0), "-0");
    EXPECT_EQ(format_double(0.1), "0.1");
    EXPECT_EQ(format_double(1e-7), "0.0000001");
    EXPECT_EQ(format_double(1e21), "1000000000000000000000");
    EXPECT_EQ(format_double(123.456), "123.456");
    EXPECT_EQ(format_double(std::nan("")), "NaN");
    EXPECT_EQ(format_double(-std::numeric_limits<double>::infinity()), "-inf");
}

// A short exponent written over the remains of a longer one must not pick up its digits.
TEST(Format, ConsecutiveValuesInOneString) {
    std::string out;
    append_double(out, 2.220446049250313e-16);
    out += ", ";
    append_double(out, 1.0);
    out += ", ";
    append_double(out, 1.5);
    EXPECT_EQ(out, "0.0000000000000002220446049250313, 1, 1.5");
    EXPECT_EQ(format_double(0.7071067811865476) + format_double(10.0), "0.707106781186547610");
    out.clear();
    append_double(out, 0.8660254037844386);
    append_double(out, 2.0);
    EXPECT_EQ(out, "0.86602540378443862");
}

TEST(Format, CallForm) {
    EXPECT_EQ(tovrin::format_call("Vec3d", {1.0, 0.5, -0.0}), "Vec3d(1, 0.5, -0)");
    EXPECT_EQ(tovrin::format_call("Empty", {}), "Empty()");
    std::string joined = "[";
    tovrin::append_call(joined, "Vec3d", {1.0, 2.0, 3.0});
    tovrin::append_call(joined, "Quat", {-0.0});
    EXPECT_EQ(joined, "[Vec3d(1, 2, 3)Quat(-0)");
}

}  // namespace
