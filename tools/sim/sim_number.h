// Whole-field decimal numbers, as every text the simulator reads (frames,
// control commands, the state file) writes them.
#ifndef CA410_SIM_NUMBER_H
#define CA410_SIM_NUMBER_H

#include <charconv>
#include <cmath>
#include <optional>
#include <string_view>
#include <type_traits>

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

}  // namespace sim

#endif
