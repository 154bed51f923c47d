// Figures of a measured grey ramp: the gamma at each level, one gamma fitted
// to the whole ramp, and the contrast ratio.
#pragma once

#include <cstddef>
#include <cstdint>

// A ramp is `count` signal levels (0 to 1, finite) with their measured
// luminance Y. It must hold level 0 and level 1, whose Y are the black and
// the white (the first of each when repeated), the white above the black.
// Y is normalised between them: Yn = (Y - Yblack) / (Ywhite - Yblack).

// The point gamma log(Yn) / log(level) of every level into gamma[k]; NaN
// where it is undefined: at level 0 and level 1, and where Yn is not
// positive. Returns 0; 1 (nothing written) when the ramp is not one as
// above or a result overflows.
int32_t point_gamma(const double *level, const double *y, size_t count, double *gamma);

// Levels and normalised luminance below these are left out of the fit: near
// black the measurement is mostly noise and the black offset.
constexpr double fit_min_level = 0.1;
constexpr double fit_min_y = 0.01;

// The gamma of Yn = level^gamma fitted by least squares to log Yn against
// log level (a line through the origin) over the levels strictly between
// the cut-offs above and 1. Returns 0; 1 (nothing written) when the ramp is
// not one as above or no level is left for the fit.
int32_t fit_gamma(const double *level, const double *y, size_t count, double *gamma);

// White Y over black Y; a black of 0 gives +infinity. Returns 0; 1 (nothing
// written) when a value is not finite, the white is not positive, the black
// is negative, or a positive black gives a ratio that overflows.
int32_t contrast_ratio(double white_y, double black_y, double *ratio);
