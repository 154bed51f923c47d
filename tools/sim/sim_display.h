// The display the virtual instrument looks at: tone responses, black level,
// flare, additivity, grey drift and warm-up (tools/sim/README.md gives the
// formulas), named presets, and the instrument's seeded measurement noise.
#ifndef CA410_SIM_DISPLAY_H
#define CA410_SIM_DISPLAY_H

#include <array>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sim_types.h"

// Named displays: "ideal" (the default sim_display) and "imperfect" (faults a
// display report must find; tools/sim/README.md lists them); nothing for
// another name.
std::optional<sim_display> sim_display_preset(std::string_view name);
// The preset names as a usage shows them.
inline constexpr std::string_view sim_display_presets = "ideal|imperfect";

// What makes a display unusable ("red gamma is more than 0, not -1"), or nothing.
std::optional<std::string> sim_display_problem(const sim_display &display);

// A tone table from lines "level,value" (level 0 to 1 ascending, from 0 to 1;
// value 0 or more); blank lines, '#' lines and one header line are skipped.
// Empty with a message naming the line when malformed.
std::optional<sim_tone_table> sim_parse_tone_table(std::string_view text, std::string *error);
bool sim_read_tone_table(const std::string &path, sim_tone_table *table, std::string *error);

namespace sim {

// Lines of two numbers ("a,b"; a comma, semicolon or tab between), in file
// order; *lines (may be null) gets their line numbers. Blank lines, '#'
// lines and a first line that is not two numbers (a header) are skipped;
// any other such line is an error naming its number and `form`
// ("expected nm,value").
std::optional<std::vector<std::pair<double, double>>> parse_number_pairs(
    std::string_view text, std::string_view form, std::string *error,
    std::vector<int> *lines = nullptr);

// A channel's share of its full primary at drive level `level` (clamped to 0..1).
double tone_value(const sim_tone &tone, double level);

// Light of the display for drive levels 0 to 1, `seconds_on` after it was
// switched on (the warm-up).
sim_xyz display_light(const sim_display &display, const std::array<double, 3> &drive,
                      double seconds_on);

// XYZ of the three primaries from their chromaticities and that of the white
// they make together with luminance white_y; nothing when they cannot make it.
std::optional<std::array<sim_xyz, 3>> primaries_for_white(
    const std::array<std::array<double, 2>, 3> &xy, std::array<double, 2> white_xy, double white_y);

// Measurement noise: each of X, Y, Z times (1 + noise z), z standard normal
// from a 64-bit Mersenne Twister by Box-Muller, the same on every platform.
class measurement_noise {
  public:
    void reseed(std::uint64_t seed) { random_.seed(seed); }
    sim_xyz apply(double noise, const sim_xyz &xyz);

  private:
    std::mt19937_64 random_{1};
};

}  // namespace sim

#endif
