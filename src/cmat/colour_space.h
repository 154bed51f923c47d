// CIE 1976 L*a*b* and L*u*v* against a reference white, and the cylindrical
// L, C, h form of either.
#pragma once

#include <cstddef>
#include <cstdint>

// Each single-colour function returns 0 and fills its output (which may be
// its input) when the result exists and is finite; returns 1 and leaves the
// output untouched otherwise. A white is X, Y, Z, all positive and finite,
// on the same scale as the colours.
//
// Lab and Luv use the CIE's exact constants, epsilon = 216/24389 and
// kappa = 24389/27, so the two pieces of the lightness function meet.
int32_t xyz_to_lab(const double xyz[3], const double white[3], double lab[3]);
int32_t lab_to_xyz(const double lab[3], const double white[3], double xyz[3]);
// Black (X = Y = Z = 0) is L* = u* = v* = 0; another colour needs
// X + 15Y + 3Z above 0.
int32_t xyz_to_luv(const double xyz[3], const double white[3], double luv[3]);
// L* = 0 with u* or v* not 0 is no colour.
int32_t luv_to_xyz(const double luv[3], const double white[3], double xyz[3]);
// L, a, b (or L, u, v) to L, C, h with h in degrees, 0 <= h < 360 (0 for a
// grey), and back; a negative C is no colour.
int32_t to_lch(const double lab[3], double lch[3]);
int32_t from_lch(const double lch[3], double lab[3]);

// The conversions by number, for converting arrays.
enum class colour_conversion : int32_t {
    xyz_to_lab = 1,
    lab_to_xyz = 2,
    xyz_to_luv = 3,
    luv_to_xyz = 4,
    to_lch = 5,
    from_lch = 6
};

// Converts `count` colours, three doubles each, from `in` to `out` (which may
// be `in`). Returns 0; returns 1 with `out` untouched when any colour has no
// answer, and 2 for an unknown conversion. `white` is used by the
// conversions from and to X, Y, Z and may be null for the others.
int32_t convert_colours(int32_t conversion, const double white[3], const double *in, double *out,
                        size_t count);
