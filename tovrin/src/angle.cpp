// Angles: trigonometry through libm, the angle between vectors and text forms.
#include <tovrin/angle.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>

#include <tovrin/format.hpp>

namespace tovrin {

// -- Trigonometry --
double AngleRadians::sin() const noexcept { return std::sin(angle); }
double AngleRadians::cos() const noexcept { return std::cos(angle); }
double AngleRadians::tan() const noexcept { return std::tan(angle); }
double AngleRadians::sec() const noexcept { return 1.0 / std::cos(angle); }
double AngleRadians::csc() const noexcept { return 1.0 / std::sin(angle); }
double AngleRadians::cot() const noexcept { return 1.0 / std::tan(angle); }

// -- Angle between vectors --
AngleRadians angle_to(const Vec3d& a, const Vec3d& b) noexcept {
    double c = a.dot(b);
    double ma = a.magnitude();
    double mb = b.magnitude();
    double cosine = c / (ma * mb);
    // Written as comparisons rather than std::clamp so NaN visibly falls through.
    if (cosine > 1.0) cosine = 1.0;
    else if (cosine < -1.0) cosine = -1.0;
    return {std::acos(cosine)};
}

// -- Text --
void append_fixed(std::string& out, double value, std::size_t digits) {
    if (!std::isfinite(value)) {
        append_double(out, value);
        return;
    }
    // A binary64 has at most 1074 fractional decimal digits; any further ones are zeros.
    constexpr std::size_t max_exact = 1074;
    std::size_t exact = std::min(digits, max_exact);
    // Sign, up to 309 integral digits, the point, then the fraction.
    std::string buf(312 + exact, '\0');
    auto [end, ec] = std::to_chars(buf.data(), buf.data() + buf.size(), value, std::chars_format::fixed,
                                   static_cast<int>(exact));
    (void)ec;  // the buffer is sized for the longest possible result
    out.append(buf.data(), end);
    out.append(digits - exact, '0');
}

namespace {

std::string with_unit(double value, const char* unit) {
    std::string out;
    append_double(out, value);
    out += unit;
    return out;
}

std::string with_unit(double value, std::size_t digits, const char* unit) {
    std::string out;
    append_fixed(out, value, digits);
    out += unit;
    return out;
}

constexpr const char radians_unit[] = " radians";
constexpr const char degrees_unit[] = "\xC2\xB0";  // U+00B0 in UTF-8

}  // namespace

std::string AngleRadians::to_string() const { return with_unit(angle, radians_unit); }
std::string AngleRadians::to_string(std::size_t digits) const { return with_unit(angle, digits, radians_unit); }
std::string AngleDegrees::to_string() const { return with_unit(angle, degrees_unit); }
std::string AngleDegrees::to_string(std::size_t digits) const { return with_unit(angle, digits, degrees_unit); }

}  // namespace tovrin
