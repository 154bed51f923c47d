// The chromaticity diagrams, CIE 1931 xy and CIE 1976 u′v′, as colour
// scientists draw them: the spectral locus filled with its colours (rendered
// in sRGB) under the lines, wavelengths outside it with a tick, reference
// gamuts dashed above the measured one so that one lying exactly under it
// stays visible, white points named in the legend. `gamut --svg` and the
// display report draw them; bindings/python/ca410/plot.py draws the same
// with the same colours.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace cli::report {

enum class plane { xy, uv };

// Colours and dashes, the same in ca410.plot.
constexpr const char *measured_stroke = "#000000";
// The first reference is white dashes on a dark line: over the measured
// gamut's black it still shows, and beside it on any colour of the locus.
struct reference_style {
    const char *stroke;
    const char *dash;
    const char *backing;  // a solid line under the dashes, or none
};
constexpr std::array<reference_style, 3> reference_styles = {
    {{"#ffffff", "7,4", "#333333"}, {"#7b3294", "2,3", nullptr}, {"#1a7837", "9,3,2,3", nullptr}}};

struct diagram_gamut {
    std::string label;
    std::array<double, 6> xy;  // red x, y, green x, y, blue x, y
};

// A measured colour: a marked point with its data (data-colour, data-x, data-y).
struct diagram_point {
    std::string name;
    std::array<double, 2> xy;
    std::string fill;  // "#rrggbb"
};

struct diagram_white {
    std::string label;  // "target white D65", "measured white"
    std::array<double, 2> xy;
    bool target;  // a ring; the measured one is a filled dot
};

struct diagram {
    plane on = plane::xy;
    std::string title;
    std::optional<diagram_gamut> measured;
    std::vector<diagram_gamut> references;  // drawn with reference_styles in turn
    std::vector<diagram_point> points;
    std::vector<diagram_white> whites;
};

// The diagram as one <svg> element.
std::string diagram_svg(const diagram &d);

// u′, v′ of a chromaticity x, y.
std::array<double, 2> uv_of_xy(const std::array<double, 2> &xy);

}  // namespace cli::report
