// Display primaries given as emission spectra: CSV files of "nm,value"
// lines, converted to XYZ with the CIE 1931 2 degree observer.
#ifndef CA410_SIM_EMISSION_H
#define CA410_SIM_EMISSION_H

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ca410_sim.h"

namespace sim {

using spectrum = std::vector<std::pair<double, double>>;  // (nm, value), ascending

// Lines "nm,value"; blank lines, lines starting with '#' and one header line
// at the top are skipped. Needs at least two samples at distinct wavelengths.
std::optional<spectrum> parse_spectrum_csv(std::string_view text, std::string *error);

// XYZ of an emission spectrum, linearly interpolated between its samples and
// dark outside them.
sim_xyz spectrum_xyz(const spectrum &sp);

// The three primaries from the CSV files of red, green and blue, scaled
// together so that the white (their sum) has Y = white_y.
bool primaries_from_spectra(const std::array<std::string, 3> &paths, double white_y,
                            std::array<sim_xyz, 3> *out, std::string *error);

}  // namespace sim

#endif
