// Float text form: shortest digits from std::to_chars, relaid without exponent.
#include <tovrin/format.hpp>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

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
    // Scientific form gives exactly the shortest round-trip digits: "d.ddde±xx".
    char buf[32];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf - 1, magnitude, std::chars_format::scientific);
    (void)ec;  // 31 bytes always suffice for a binary64
    // to_chars writes no terminator; without one strtol below would read on into
    // whatever an earlier call left in the buffer.
    *end = '\0';
    char* e = static_cast<char*>(std::memchr(buf, 'e', static_cast<std::size_t>(end - buf)));
    char digits[24];
    std::size_t count = 0;
    for (char* p = buf; p != e; ++p)
        if (*p != '.') digits[count++] = *p;
    long exponent = std::strtol(e + 1, nullptr, 10);
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

}  // namespace tovrin
