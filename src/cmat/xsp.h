// Sampled spectra at equal wavelength intervals, and interpolated lookup in
// them.
#pragma once

#include <cstdint>

// The number of value slots of every spectrum record.
constexpr int32_t xspect_max_count = 601;

// A spectrum sampled at `count` equally spaced wavelengths: sample k lies at
// wl_short + k * (wl_long - wl_short) / (count - 1). A plain value record,
// copied whole by assignment.
struct xspect {
    int32_t count;                    // samples in use, at most xspect_max_count
    double wl_short;                  // wavelength of the first sample, nm
    double wl_long;                   // wavelength of the last sample, nm
    double norm;                      // divisor applied by getval_xspec
    double values[xspect_max_count];  // the first `count` are the samples
};

// The flat illuminant that stands for no illuminant: 531 samples of 1.0 from
// 300 nm to 830 nm, norm 1.0.
extern const xspect il_none;

// Lookups. Each stores the value of `sp` at `wl` in *out and returns 1 when
// `wl` lies within [wl_short, wl_long], else 0; a wavelength outside is
// clamped to the nearest end, so the end sample's value is stored.
//
// Spectra that cannot be interpolated (fewer than 2 or more than
// xspect_max_count samples, or a width that is zero or not finite) and a
// null `sp` store 0 and return 0. A wavelength that is not a number stores
// NaN and returns 0. A null `out` stores nothing and returns 0.

// Linear interpolation between the two samples around `wl`.
int32_t getval_raw_xspec_lin(const xspect *sp, double *out, double wl);
// Cubic (four-point Lagrange) interpolation; a spectrum of fewer than 4
// samples is interpolated linearly instead.
int32_t getval_raw_xspec_poly3(const xspect *sp, double *out, double wl);
// Linear when the sample spacing is below 5.01 nm, cubic otherwise.
int32_t getval_raw_xspec(const xspect *sp, double *out, double wl);
// getval_raw_xspec, then the stored value divided by `norm`.
int32_t getval_xspec(const xspect *sp, double *out, double wl);

// Prints the spectrum on standard output: a line with count and range, a line
// with norm, then the values five to a line. Null prints nothing.
void xspect_dump(const xspect *sp);
