// Spectrum to CIE XYZ converter: integrates a spectrum against an observer's
// colour-matching functions.
#pragma once

#include <cstdint>

#include "cmat/observers.h"
#include "cmat/xsp.h"

struct xsp2cie;

typedef void (*xsp2cie_del_fn)(xsp2cie *conv);
typedef void (*xsp2cie_convert_fn)(const xsp2cie *conv, double xyz[3], const xspect *in);

// Allocated zero-filled by new_xsp2cie and owned by its caller until
// xsp2cie_del. A holder may change the fields between conversions.
struct xsp2cie {
    xspect illum;                // illuminant; il_none from the constructor
    int32_t emissive;            // non-zero: illuminant not applied, absolute scale
    xspect observer[3];          // x̄, ȳ, z̄
    int32_t out_type;            // 0: XYZ, the only output
    int32_t clamp;               // non-zero: negative results become 0
    int32_t step;                // integration step, whole nm
    double wl_start;             // first integration wavelength, nm
    double wl_end;               // integration limit, nm, not itself included
    xsp2cie_del_fn del;          // xsp2cie_del
    xsp2cie_convert_fn convert;  // xsp2cie_convert
};

// A new converter for observer `type` (for type 2 the three consecutive
// records at `custom`, copied, so they may be discarded afterwards), with no
// illuminant, emissive scaling, clamping, a 1 nm step over ȳ's range (the end
// excluded). `out_type` must be 0. Returns null after printing the reason on
// standard output: no memory, an observer without tables (also type 2 with a
// null `custom`), or another output type.
xsp2cie *new_xsp2cie(observer_type type, const xspect *custom, int32_t out_type);

// Integrates `in` into xyz[0..2] (X, Y, Z). Emissive: scaled by
// 0.683002 * step; otherwise weighted by the illuminant and normalised so that
// the illuminant itself gives Y = 1. When `sout` is not null, `in` is copied
// to it. Allocates nothing. A step below 1, a bound of 2^52 nm or more in
// magnitude (or not a number), or a null `conv` or `in` gives X = Y = Z = 0.
void xsp2cie_sconvert(const xsp2cie *conv, xspect *sout, double xyz[3], const xspect *in);
// xsp2cie_sconvert with a null `sout`.
void xsp2cie_convert(const xsp2cie *conv, double xyz[3], const xspect *in);
// Frees the converter; null is accepted.
void xsp2cie_del(xsp2cie *conv);
