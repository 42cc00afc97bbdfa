// tovrin/format.hpp: the one text form of binary64 floats used by every text
// output of the library and of the Python module.
//
// Shortest round-trip significant digits, laid out positionally, never with an
// exponent: 1.0 -> "1", -0.0 -> "-0", 1e-7 -> "0.0000001", 1e21 ->
// "1000000000000000000000", NaN (any sign) -> "NaN", infinities -> "inf"/"-inf".
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace tovrin {

struct Vec3d;

// Appends the text form of `value` to `out`.
void append_double(std::string& out, double value);

// The text form of `value`.
std::string format_double(double value);

// "Name(a, b, c)": a constructor-like text of the given values, e.g. "Vec3d(1, 0.5, -0)".
std::string format_call(std::string_view name, std::initializer_list<double> values);

// Appends format_call(name, values) to `out` (for texts made of many such parts).
void append_call(std::string& out, std::string_view name, std::initializer_list<double> values);

// Appends the text of a vector, "Vec3d(x, y, z)": alone, and as each element of a list's text.
void append_vec3d(std::string& out, const Vec3d& v);

}  // namespace tovrin
