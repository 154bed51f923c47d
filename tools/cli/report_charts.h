// The display report's charts as inline SVG: grey scale luminance, point
// gamma and RGB balance per level, ΔE2000 bars with the tolerance line, and
// swatches of target against measured colour. Each returns one <svg>
// element, or an empty text when the evaluation has nothing to draw.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "report_eval.h"

namespace cli::report {

std::string grey_luminance_chart(const evaluation &e);
std::string point_gamma_chart(const evaluation &e);
std::string rgb_balance_chart(const evaluation &e);

struct bar {
    std::string label;
    double value;
    bool fail;
};
// `role` names the chart (its class): "bars grey-delta-e".
std::string delta_e_bars(std::string_view role, std::string_view title,
                         const std::vector<bar> &bars, std::optional<double> tolerance);
// The bars of a group of checks, labelled by `label` of each.
std::vector<bar> bars_of(const std::vector<const check *> &checks,
                         const std::vector<std::string> &labels);

// Each patch as a square: target colour on the left, measured on the right,
// both relative to the target white (rendered in sRGB, clipped).
std::string swatches(std::string_view role, std::string_view title,
                     const std::vector<colour_patch> &patches, const triple &target_white);

}  // namespace cli::report
