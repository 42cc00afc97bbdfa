// Float text form: shortest digits from std::to_chars, relaid without exponent.
#include <tovrin/format.hpp>

#include <charconv>
#include <cmath>

#include <tovrin/vec3d.hpp>

namespace tovrin {

void append_double(std::string& out, double value) {
    if (std::isnan(value)) {
        out += "NaN";
        return;
    }
    if (std::signbit(value)) out += '-';
    double magnitude = std::fabs(value);
    if (std::isinf(magnitude)) {
        out += "inf";
        return;
    }
    if (magnitude == 0.0) {
        out += '0';
        return;
    }
    // Scientific form gives exactly the shortest round-trip digits: "d[.ddd]e{+|-}xx".
    char buf[32];
    char* end = std::to_chars(buf, buf + sizeof buf, magnitude, std::chars_format::scientific).ptr;
    char digits[20];
    std::size_t count = 0;
    const char* p = buf;
    for (; p != end && *p != 'e'; ++p)
        if (*p != '.') digits[count++] = *p;
    long exponent = 0;
    bool negative_exponent = p + 1 < end && p[1] == '-';
    for (p += 2; p < end; ++p) exponent = exponent * 10 + (*p - '0');
    if (negative_exponent) exponent = -exponent;
    // The decimal point sits after `point` digits (may be <= 0 or > count).
    long point = exponent + 1;
    if (point <= 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-point), '0');
        out.append(digits, count);
    } else if (static_cast<std::size_t>(point) >= count) {
        out.append(digits, count);
        out.append(static_cast<std::size_t>(point) - count, '0');
    } else {
        out.append(digits, static_cast<std::size_t>(point));
        out += '.';
        out.append(digits + point, count - static_cast<std::size_t>(point));
    }
}

std::string format_double(double value) {
    std::string out;
    append_double(out, value);
    return out;
}

void append_call(std::string& out, std::string_view name, std::initializer_list<double> values) {
    out += name;
    out += '(';
    const char* separator = "";
    for (double value : values) {
        out += separator;
        append_double(out, value);
        separator = ", ";
    }
    out += ')';
}

void append_vec3d(std::string& out, const Vec3d& v) { append_call(out, "Vec3d", {v.x, v.y, v.z}); }

std::string format_call(std::string_view name, std::initializer_list<double> values) {
    std::string out;
    append_call(out, name, values);
    return out;
}

}  // namespace tovrin
