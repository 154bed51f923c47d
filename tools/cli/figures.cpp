#include "figures.h"

#include <cmath>

#include "ca410_colour.h"

namespace cli {

const std::array<const char *, figure_count> figure_names = {"X",  "Y",  "Z",   "x",  "y",
                                                             "u'", "v'", "CCT", "duv"};

figures figures_of(const double xyz[3]) {
    figures f;
    f[fX] = xyz[0];
    f[fY] = xyz[1];
    f[fZ] = xyz[2];
    ca410_chromaticity c{};
    if (ca410ColourChromaticity(xyz, &c) == CA_COLOUR_OK) {
        f[fx] = c.x;
        f[fy] = c.y;
        f[fu] = c.u_prime;
        f[fv] = c.v_prime;
    }
    // A colour temperature means something near the Planckian locus only.
    double cct = 0.0, duv = 0.0;
    if (ca410ColourCCT(xyz, &cct, &duv) == CA_COLOUR_OK && std::fabs(duv) <= max_cct_duv) {
        f[fcct] = cct;
        f[fduv] = duv;
    }
    return f;
}

series_stats stats_of(const std::vector<figures> &readings) {
    series_stats s;
    for (std::size_t i = 0; i < figure_count; ++i) {
        double sum = 0.0;
        std::size_t n = 0;
        for (const figures &r : readings) {
            if (r[i]) {
                sum += *r[i];
                ++n;
            }
        }
        if (n == 0) continue;
        const double mean = sum / static_cast<double>(n);
        s.mean[i] = mean;
        if (n < 2) continue;
        double squares = 0.0;
        for (const figures &r : readings) {
            if (r[i]) squares += (*r[i] - mean) * (*r[i] - mean);
        }
        s.stddev[i] = std::sqrt(squares / static_cast<double>(n - 1));
    }
    return s;
}

}  // namespace cli
