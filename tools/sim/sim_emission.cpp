#include "sim_emission.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <memory>
#include <sstream>
#include <vector>

#include "ca410_colour.h"
#include "sim_display.h"
#include "sim_number.h"

namespace sim {

namespace {

// The converter integrates over the observer's range at 1 nm; a spectrum on
// exactly that grid, zero outside its own samples, keeps the converter from
// stretching the end values of a shorter measurement.
constexpr double grid_start = 360.0, grid_end = 830.0;

}  // namespace

std::optional<spectrum> parse_spectrum_csv(std::string_view text, std::string *error) {
    auto sp = parse_number_pairs(text, "expected nm,value", error);
    if (!sp) return std::nullopt;
    std::sort(sp->begin(), sp->end());
    if (sp->size() < 2 || sp->front().first == sp->back().first) {
        if (error) *error = "needs at least two samples at different wavelengths";
        return std::nullopt;
    }
    for (std::size_t i = 1; i < sp->size(); ++i)
        if ((*sp)[i].first == (*sp)[i - 1].first) {
            if (error) *error = "wavelength " + format_number((*sp)[i].first) + " given twice";
            return std::nullopt;
        }
    return sp;
}

sim_xyz spectrum_xyz(const spectrum &sp) {
    std::vector<double> values;
    for (double wl = grid_start; wl <= grid_end; wl += 1.0) {
        double v = 0.0;
        if (!sp.empty() && wl >= sp.front().first && wl <= sp.back().first) {
            const auto hi = std::lower_bound(sp.begin(), sp.end(), std::make_pair(wl, -HUGE_VAL));
            if (hi->first == wl || hi == sp.begin()) {
                v = hi->second;
            } else {
                const auto lo = hi - 1;
                v = lo->second +
                    (hi->second - lo->second) * (wl - lo->first) / (hi->first - lo->first);
            }
        }
        values.push_back(v);
    }
    sim_xyz xyz{0, 0, 0};
    // Through the colour library, as any host would convert a spectrum.
    if (ca410ColourSpectrumToXYZ(CA_OBSERVER_CIE1931_2, grid_start, 1.0, values.data(),
                                 static_cast<int32_t>(values.size()), xyz.data()) != CA_COLOUR_OK)
        return {0, 0, 0};
    return xyz;
}

bool primaries_from_spectra(const std::array<std::string, 3> &paths, double white_y,
                            std::array<sim_xyz, 3> *out, std::string *error) {
    std::array<sim_xyz, 3> xyz{};
    for (std::size_t i = 0; i < 3; ++i) {
        std::ifstream in(paths[i], std::ios::binary);
        if (!in) {
            if (error) *error = "cannot read " + paths[i];
            return false;
        }
        std::stringstream ss;
        ss << in.rdbuf();
        std::string why;
        const auto sp = parse_spectrum_csv(ss.str(), &why);
        if (!sp) {
            if (error) *error = paths[i] + ": " + why;
            return false;
        }
        xyz[i] = spectrum_xyz(*sp);
    }
    const double y = xyz[0][1] + xyz[1][1] + xyz[2][1];
    if (!(y > 0.0) || !(white_y > 0.0)) {
        if (error) *error = "the spectra give no luminance";
        return false;
    }
    for (auto &p : xyz)
        for (double &v : p) v *= white_y / y;
    *out = xyz;
    return true;
}

}  // namespace sim
