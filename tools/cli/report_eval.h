// The display report's figures and verdicts from a measurement file's
// readings, against a profile (report_profile.h).
//
// Patches are recognised by their drive values: white (1, 1, 1), black
// (0, 0, 0), grey (R = G = B), primaries and secondaries at any level
// (channels 0 or one common level), and the checker's 24 triples
// (patches.h); the first reading of a drive triple counts. Every target is
// relative to the measured white:
//   - the target white is the profile's white point at the measured white's
//     luminance Yw;
//   - a drive triple's target X, Y, Z is the profile's primaries (scaled so
//     that R + G + B make the target white) times each channel's relative
//     light through the tone curve: sRGB or gamma as is, BT.1886 from the
//     measured black to Yw, PQ in cd/m2 up to Yw (the display's peak);
//   - Lab (for every ΔE2000) is relative to the target white;
//   - a grey level's balance compares its chromaticity with the target
//     white's at the level's own luminance.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "cgats.h"
#include "report_profile.h"

namespace cli::report {

enum class verdict { pass, fail, not_measured, reported };
const char *verdict_text(verdict v);  // "PASS", "FAIL", "not measured", "reported"

// One figure against its tolerance.
struct check {
    std::string id;      // "white.delta_e", "grey.luminance", "checker.patch"
    std::string figure;  // for people: "White ΔE2000", "Grey 50 %: luminance"
    quantity of = quantity::delta_e;
    std::optional<double> measured;  // empty: not measured
    std::optional<double> target;
    std::optional<tolerance_id> tolerance;  // empty: reported, never judged
    std::optional<double> limit;            // the profile's tolerance; empty: reported
    verdict result = verdict::not_measured;
};

using triple = std::array<double, 3>;

// A coloured patch against its target colour.
struct colour_patch {
    std::string id;
    std::string name;
    triple rgb{};
    triple xyz{};
    triple target_xyz{};
    std::optional<std::array<double, 2>> xy, target_xy;
    check delta_e;
};

struct grey_level {
    double level = 0.0;
    triple xyz{};
    double target_luminance = 0.0;
    std::optional<double> point_gamma, target_point_gamma;
    // R, G, B of the level in the target space, in % of its luminance.
    std::optional<triple> balance;
    std::vector<check> checks;  // luminance, point gamma, ΔE2000, Δu′v′
};

struct evaluation {
    profile prof;
    std::size_t patches_used = 0;  // readings recognised as a patch of the report
    std::optional<triple> white, black;
    triple target_white{};
    std::vector<check> white_checks;  // white, black, contrast
    std::vector<grey_level> grey;     // ascending levels
    std::vector<check> grey_checks;   // the fitted gamma
    std::vector<colour_patch> gamut;  // red, green, blue, cyan, magenta, yellow by level
    std::optional<std::array<double, 6>> triangle;  // the full primaries' xy
    std::vector<check> gamut_checks;                // coverage, area
    std::vector<colour_patch> checker;
    std::vector<check> checker_checks;  // mean, 95th percentile, maximum
    std::vector<check> summary;         // the section figures and each group's worst
    verdict overall = verdict::pass;
};

evaluation evaluate(const std::vector<patch_reading> &readings, const profile &p);

// The 95th (or any) percentile as NumPy's default computes it: linear
// between the closest ranks.
double percentile(std::vector<double> values, double percent);

}  // namespace cli::report
