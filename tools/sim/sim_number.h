// Decimal numbers as every text the simulator reads and writes (frames,
// control commands, the state file) has them: '.' whatever the locale.
#ifndef CA410_SIM_NUMBER_H
#define CA410_SIM_NUMBER_H

#include <charconv>
#include <cmath>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <vector>

namespace sim {

// The number that is the whole of `s`, or nothing; floating-point values
// must be finite.
template <typename T>
std::optional<T> parse_whole(std::string_view s) {
    T v{};
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
    if constexpr (std::is_floating_point_v<T>) {
        if (!std::isfinite(v)) return std::nullopt;
    }
    return v;
}

// The numbers of a list written with blanks, commas or both between them
// ("1 0.5 0", "1,0.5,0", "1, 0.5, 0"): the command line and the control
// socket take lists alike. Nothing when a field is empty or not a number.
inline std::optional<std::vector<double>> parse_number_list(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    std::vector<double> out;
    std::size_t i = 0;
    while (i < s.size() && blank(s[i])) ++i;
    while (i < s.size()) {
        const std::size_t start = i;
        while (i < s.size() && !blank(s[i]) && s[i] != ',') ++i;
        const auto v = parse_whole<double>(s.substr(start, i - start));
        if (!v) return std::nullopt;
        out.push_back(*v);
        while (i < s.size() && blank(s[i])) ++i;
        if (i < s.size() && s[i] == ',') {  // a comma wants a number after it
            ++i;
            while (i < s.size() && blank(s[i])) ++i;
            if (i == s.size()) return std::nullopt;
        }
    }
    return out;
}

// Character classes of the C locale, whatever the process's locale.
constexpr bool ascii_space(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}
constexpr bool ascii_print(char c) {
    return c >= 0x20 && c < 0x7F;
}
constexpr bool ascii_alnum(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// The shortest text that reads back as exactly `v`.
inline std::string format_number(double v) {
    char buf[32];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    return ec == std::errc() ? std::string(buf, end) : std::string();
}

// `v` with `decimals` digits after the point, as printf's "%.*f" in the C locale.
inline std::string format_fixed(double v, int decimals) {
    char buf[400];  // 1e308 in full and its decimals
    const auto [end, ec] =
        std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
    return ec == std::errc() ? std::string(buf, end) : std::string();
}

}  // namespace sim

#endif
