// Text form of floats: the layout rules, and independence of successive calls.
#include <gtest/gtest.h>

#include <string>

#include "tovrin/format.hpp"

namespace {

using tovrin::append_double;
using tovrin::format_double;

TEST(Format, PositionalLayout) {
    EXPECT_EQ(format_double(1.0), "1");
    EXPECT_EQ(format_double(-0.0), "-0");
    EXPECT_EQ(format_double(0.1), "0.1");
    EXPECT_EQ(format_double(1e-7), "0.0000001");
    EXPECT_EQ(format_double(1e21), "1000000000000000000000");
    EXPECT_EQ(format_double(123.456), "123.456");
}

// A short number formatted after a long one must not read the long one's leftover
// digits as part of its exponent.
TEST(Format, ShortAfterLongInOneString) {
    std::string out;
    append_double(out, 0.8660254037844386);
    out += ", ";
    append_double(out, 0.5);
    out += ", ";
    append_double(out, 2.0);
    EXPECT_EQ(out, "0.8660254037844386, 0.5, 2");
}

}  // namespace
