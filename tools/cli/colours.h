// The four colours of a WRGB calibration and of a gamut measurement, the
// targets file, and how each colour gets onto the display before it is
// measured.
#pragma once

#include <array>
#include <functional>
#include <istream>
#include <string>

namespace cli {

enum colour : int { white, red, green, blue };
extern const std::array<const char *, 4> colour_names;  // "white", "red", "green", "blue"

using xyz = std::array<double, 3>;
using wrgb_xyz = std::array<xyz, 4>;  // white, red, green, blue

// Reads a targets file: lines "colour,X,Y,Z" (colour one of white, red,
// green, blue, or W, R, G, B), each colour once, an optional header line
// "colour,X,Y,Z", blank lines and "#" comments. Values are finite, not
// negative, Y above 0. On failure *error says "FILE:LINE: reason".
bool parse_targets(std::istream &in, const std::string &name, wrgb_xyz *out, std::string *error);
bool read_targets(const std::string &path, wrgb_xyz *out, std::string *error);

// Drive levels R, G, B, 0 to 1.
using drive_levels = std::array<double, 3>;
extern const std::array<drive_levels, 4> colour_levels;  // full white, red, green, blue

// Puts a colour, known by its name and drive levels, on the display (or has
// it put there); returns an exit status, exit_ok to go on measuring.
using show_colour = std::function<int(const std::string &name, const drive_levels &levels)>;

// How calibrate, gamut and sequence get their colours: by asking the
// operator at the terminal, by running a command with the colour's name and
// drive levels as its last arguments (a pattern generator, a script), or
// not at all (--no-prompt: the host shows them at its own pace).
show_colour ask_operator();
show_colour run_command(const std::string &command);
show_colour shown_by_host();

// "0.5 0.5 0.5": drive levels as the show command gets them, each the
// shortest text that reads back to the same double, whatever the locale.
std::string levels_text(const drive_levels &levels);

}  // namespace cli
