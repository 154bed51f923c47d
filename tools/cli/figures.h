// The colour figures of a reading (through the colour library) and their
// statistics over a series.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace cli {

// X, Y, Z, x, y, u', v', CCT, Δuv: the columns of every reading.
constexpr std::size_t figure_count = 9;
enum figure : std::size_t { fX, fY, fZ, fx, fy, fu, fv, fcct, fduv };
// Short column names: "X", "Y", "Z", "x", "y", "u'", "v'", "CCT", "duv".
extern const std::array<const char *, figure_count> figure_names;

// One reading's figures; a figure without a value (black has no
// chromaticity; a colour farther than max_cct_duv from the Planckian locus
// no CCT and Δuv) is empty.
constexpr double max_cct_duv = 0.05;
using figures = std::array<std::optional<double>, figure_count>;

figures figures_of(const double xyz[3]);

// Mean and sample standard deviation of each figure over the readings that
// have it (empty when none has; the deviation needs two).
struct series_stats {
    figures mean;
    figures stddev;
};
series_stats stats_of(const std::vector<figures> &readings);

}  // namespace cli
