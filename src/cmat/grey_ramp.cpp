#include "cmat/grey_ramp.h"

#include <cmath>
#include <limits>

namespace {

struct ramp_ends {
    double black;
    double span;  // white Y - black Y, above 0
};

// The black and white of a valid ramp; false when it is not one.
bool find_ends(const double *level, const double *y, size_t count, ramp_ends *ends) {
    if (!level || !y) return false;
    const double *black = nullptr;
    const double *white = nullptr;
    for (size_t k = 0; k < count; ++k) {
        if (!std::isfinite(level[k]) || !std::isfinite(y[k]) || level[k] < 0.0 || level[k] > 1.0)
            return false;
        if (level[k] == 0.0 && !black) black = &y[k];
        if (level[k] == 1.0 && !white) white = &y[k];
    }
    if (!black || !white) return false;
    const double span = *white - *black;
    if (!(span > 0.0) || !std::isfinite(span)) return false;
    *ends = {*black, span};
    return true;
}

constexpr double undefined = std::numeric_limits<double>::quiet_NaN();

double normalised(const ramp_ends &e, double y) {
    return (y - e.black) / e.span;
}

}  // namespace

int32_t point_gamma(const double *level, const double *y, size_t count, double *gamma) {
    ramp_ends e{};
    if (!gamma || !find_ends(level, y, count, &e)) return 1;
    const auto at = [&](size_t k) {
        const double yn = normalised(e, y[k]);
        const bool defined = level[k] > 0.0 && level[k] < 1.0 && yn > 0.0;
        return defined ? std::log(yn) / std::log(level[k]) : undefined;
    };
    for (size_t k = 0; k < count; ++k)
        if (std::isinf(at(k))) return 1;
    for (size_t k = 0; k < count; ++k) gamma[k] = at(k);
    return 0;
}

int32_t fit_gamma(const double *level, const double *y, size_t count, double *gamma) {
    ramp_ends e{};
    if (!gamma || !find_ends(level, y, count, &e)) return 1;
    double sxy = 0.0, sxx = 0.0;
    for (size_t k = 0; k < count; ++k) {
        const double yn = normalised(e, y[k]);
        if (level[k] < fit_min_level || level[k] >= 1.0 || yn < fit_min_y) continue;
        const double x = std::log(level[k]);
        sxy += x * std::log(yn);
        sxx += x * x;
    }
    if (!(sxx > 0.0)) return 1;
    const double g = sxy / sxx;
    if (!std::isfinite(g)) return 1;
    *gamma = g;
    return 0;
}

int32_t contrast_ratio(double white_y, double black_y, double *ratio) {
    if (!ratio || !std::isfinite(white_y) || !std::isfinite(black_y) || !(white_y > 0.0) ||
        !(black_y >= 0.0))
        return 1;
    if (black_y == 0.0) {
        *ratio = std::numeric_limits<double>::infinity();
        return 0;
    }
    const double r = white_y / black_y;
    if (!std::isfinite(r)) return 1;
    *ratio = r;
    return 0;
}
