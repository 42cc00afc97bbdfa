// frame/names.hpp: compile-time strings for call descriptions.
//
// Each operation is described once by its Python name and parameter names; the text
// signature ("dot($self, other)\n--\n\n") and the name used in argument errors
// ("Vec3d.dot()") are derived from that description at compile time, so the two
// can never disagree with the parameters the frame actually extracts.
#pragma once

#include <array>
#include <cstddef>
#include <limits>
#include <string_view>
#include <type_traits>

namespace lumeric {

template <std::size_t N>
struct Name {
    char text[N]{};
    constexpr Name(const char (&s)[N]) noexcept {
        for (std::size_t i = 0; i < N; ++i) text[i] = s[i];
    }
    constexpr std::string_view view() const noexcept { return {text, N - 1}; }
    constexpr const char* c_str() const noexcept { return text; }
};

// A fixed, NUL-terminated text built from pieces at compile time.
template <std::size_t Length>
struct Text {
    std::array<char, Length + 1> chars{};
    constexpr const char* c_str() const noexcept { return chars.data(); }
};

template <class... Views>
constexpr std::size_t total_length(Views... views) noexcept {
    return (std::size_t{0} + ... + views.size());
}

template <std::size_t Length, class... Views>
constexpr Text<Length> concat(Views... views) noexcept {
    Text<Length> out{};
    std::size_t k = 0;
    ((
         [&] {
             for (char c : views) out.chars[k++] = c;
         }()),
     ...);
    out.chars[k] = '\0';
    return out;
}

// How the text signature spells parameter i's default ("=1"), empty for a required one.
// `first_keyword` is the parameter before which "*" stands, if any.
struct NoDefaults {
    static constexpr std::string_view of(std::size_t) noexcept { return {}; }
    static constexpr std::size_t first_keyword = static_cast<std::size_t>(-1);
};

// "=" and the decimal digits of V, a non-negative integer.
template <auto V>
struct DefaultDigits {
    static_assert(V >= 0, "an integer default is spelled without a sign");
    static constexpr std::size_t digits = [] {
        std::size_t n = 1;
        for (auto v = V; v >= 10; v /= 10) ++n;
        return n;
    }();
    static constexpr Text<digits + 1> text = [] {
        Text<digits + 1> out{};
        out.chars[0] = '=';
        auto v = V;
        for (std::size_t i = digits; i >= 1; --i, v /= 10) out.chars[i] = static_cast<char>('0' + v % 10);
        return out;
    }();
    static constexpr std::string_view view{text.c_str(), digits + 1};
};

// A default that is None (nullptr) or a float: an infinite one spelled as the interpreter's
// signature parser reads it back ("=math.inf"), a whole one with its ".0" ("=2.0").
template <auto V>
struct DefaultText {
    static constexpr std::string_view view{"=None"};
};
template <auto V>
    requires std::is_floating_point_v<decltype(V)>
struct DefaultText<V> {
    static constexpr bool infinite = V == std::numeric_limits<double>::infinity();
    static_assert(infinite || (V >= 0 && V < 1e15 && V == static_cast<long long>(V)),
                  "a float default is spelled when it is infinite or a whole number");
    using Whole = DefaultDigits<static_cast<long long>(infinite ? 0 : V)>;
    static constexpr auto text = concat<Whole::view.size() + 2>(Whole::view, std::string_view(".0"));
    static constexpr std::string_view view =
        infinite ? std::string_view{"=math.inf"} : std::string_view{text.c_str(), Whole::view.size() + 2};
};

// "name(a, b=1, *, c=False)" style parameter list, with an optional leading "$self".
template <bool WithSelf, class Defaults, Name... Params>
struct ParamList {
    static constexpr std::size_t count = sizeof...(Params);
    static constexpr std::size_t default_length = [] {
        std::size_t n = 0;
        for (std::size_t i = 0; i < count; ++i) n += Defaults::of(i).size();
        return n;
    }();
    static constexpr bool star = Defaults::first_keyword < count;
    static constexpr std::size_t length =
        (WithSelf ? 5 : 0) + (std::size_t{0} + ... + Params.view().size()) + default_length +
        (count == 0 ? 0 : 2 * (count - (WithSelf ? 0 : 1))) + (star ? 3 : 0);
    static constexpr Text<length> text = [] {
        Text<length> out{};
        std::size_t k = 0;
        [[maybe_unused]] std::size_t index = 0;  // unused without parameters
        bool first = true;
        auto put = [&](std::string_view piece, std::string_view suffix) {
            if (!first) {
                out.chars[k++] = ',';
                out.chars[k++] = ' ';
            }
            first = false;
            for (char c : piece) out.chars[k++] = c;
            for (char c : suffix) out.chars[k++] = c;
        };
        if (WithSelf) put("$self", {});
        [[maybe_unused]] auto param = [&](std::string_view name) {  // unused without parameters
            if (index == Defaults::first_keyword) put("*", {});
            put(name, Defaults::of(index));
            ++index;
        };
        (param(Params.view()), ...);
        out.chars[k] = '\0';
        return out;
    }();
};

// The documentation string holding only a text signature: "{name}({params})\n--\n\n".
template <Name Func, bool WithSelf, class Defaults, Name... Params>
struct TextSignature {
    using List = ParamList<WithSelf, Defaults, Params...>;
    static constexpr std::string_view tail = ")\n--\n\n";
    static constexpr std::size_t length = Func.view().size() + 1 + List::length + tail.size();
    static constexpr Text<length> text = concat<length>(
        Func.view(), std::string_view("("), std::string_view(List::text.c_str(), List::length), tail);
};

// The name used in argument errors: "Class.func()" for members, "func()" for functions.
template <Name Class, Name Func>
struct CallName {
    static constexpr bool member = Class.view().size() != 0;
    static constexpr std::size_t length = Class.view().size() + (member ? 1 : 0) + Func.view().size() + 2;
    static constexpr Text<length> text = concat<length>(
        Class.view(), std::string_view(member ? "." : ""), Func.view(), std::string_view("()"));
};

}  // namespace lumeric
