// The gamut report of measured white, red, green and blue: chromaticities,
// the white point's CCT and Δuv, the area relative to sRGB and the coverage
// of sRGB and DCI-P3 in the CIE 1931 xy plane; and its xy diagram as SVG.
#pragma once

#include <array>
#include <cstdio>
#include <string>

#include "colours.h"
#include "figures.h"

namespace cli {

struct gamut_report {
    wrgb_xyz measured{};
    std::array<figures, 4> colours;    // figures of white, red, green, blue
    std::array<double, 6> triangle{};  // red x, y, green x, y, blue x, y
    double area_vs_srgb = 0.0;         // fraction, 1.0 for the same area
    double covers_srgb = 0.0;          // fraction of sRGB covered
    double covers_p3 = 0.0;            // fraction of DCI-P3 covered
};

// Fills the report; false with a reason when a colour has no chromaticity.
bool make_gamut_report(const wrgb_xyz &measured, gamut_report *out, std::string *error);
void print_gamut_report(std::FILE *out, const gamut_report &report, const char *indent);
// Writes the xy diagram (report_diagram.h): the measured triangle and
// points, sRGB and DCI-P3, D65 and the measured white.
bool write_gamut_svg(const std::string &path, const gamut_report &report, std::string *error);

}  // namespace cli
