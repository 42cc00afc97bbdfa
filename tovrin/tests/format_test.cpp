// The text form of floats written back to back into one string; the module's tests check the
// layout of single values and of the reprs built from them.
#include <tovrin/format.hpp>

#include <string>

#include <gtest/gtest.h>

namespace {

using tovrin::append_double;
using tovrin::format_double;

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
    // The sign of zero is its bit, not a comparison.
    EXPECT_EQ(format_double(-0.0) + format_double(0.0), "-00");
}

}  // namespace
