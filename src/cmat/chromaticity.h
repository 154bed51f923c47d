// Chromaticity coordinates of tristimulus values, and correlated colour
// temperature with the distance from the Planckian locus.
#pragma once

#include <cstdint>

// CIE 1931 x, y and CIE 1976 UCS u', v'.
struct cie_chromaticity {
    double x;
    double y;
    double u_prime;
    double v_prime;
};

// Fills `out` from X, Y, Z and returns 0; returns 1 and leaves `out` as it
// was when X + Y + Z or X + 15Y + 3Z is not positive, a value is not finite
// (or overflows on the way), or a pointer is null (so for every function
// below).
int32_t xyz_to_chromaticity(const double xyz[3], cie_chromaticity *out);

// CIE 1960 UCS u = 4X / (X + 15Y + 3Z), v = 6Y / (X + 15Y + 3Z); the same
// failure rule as above.
int32_t xyz_to_uv1960(const double xyz[3], double *u, double *v);

// The Planckian locus used for CCT: a blackbody (c2 = 1.4388e-2 m K) summed
// at 1 nm from 360 nm to 830 nm against the built-in CIE 1931 2 degree
// observer. Temperatures within [cct_min_k, cct_max_k] are searched.
constexpr double planck_c2_nm_k = 1.4388e7;
constexpr double cct_min_k = 500.0;
constexpr double cct_max_k = 100000.0;

// The CIE 1960 u, v of a blackbody at `t_k` kelvin; returns 1 (outputs
// untouched) when `t_k` is not a positive finite temperature.
int32_t planckian_uv1960(double t_k, double *u, double *v);

// Correlated colour temperature of a CIE 1960 (u, v): the temperature of the
// nearest point of the locus, and Δuv, the distance to it, positive above the
// locus (larger v). Returns 1 (outputs untouched) when the nearest point lies
// at either end of the searched range or the input is not finite.
int32_t uv1960_to_cct(double u, double v, double *cct_k, double *duv);
int32_t xyz_to_cct(const double xyz[3], double *cct_k, double *duv);
