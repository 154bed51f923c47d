// Tone curves (electro-optical transfer functions) of displays and their
// inverses: signal (0 to 1) to luminance and back.
#pragma once

#include <cstddef>
#include <cstdint>

enum class tone_curve : int32_t {
    srgb = 1,         // IEC 61966-2-1 piecewise; relative luminance 0 to 1
    gamma = 2,        // L = V^gamma; relative luminance 0 to 1
    bt1886 = 3,       // ITU-R BT.1886 with the display's white and black, cd/m2
    pq = 4,           // SMPTE ST 2084, absolute cd/m2 from 0 to 10000
    hlg = 5,          // BT.2100 HLG inverse OETF: scene light E from 0 to 1
    hlg_display = 6,  // BT.2100 HLG EOTF of a grey: inverse OETF, then OOTF; cd/m2
};

// What the curves take besides the signal: gamma for `gamma`; the white and
// black luminance (cd/m2) for `bt1886` and `hlg_display`.
struct tone_curve_params {
    double gamma;
    double white;
    double black;
};

// Signal to luminance (`inverse` false) or luminance to signal (true) for
// `count` values; `out` may be `in`. The signal lies in 0 to 1, the
// luminance between the curve's values at 0 and at 1 (for a display's
// curve also anywhere from its black to its white). Returns 0; 1, with
// `out` untouched, when a value lies outside or is not finite; 2 for an
// unknown curve or parameters that do not fit it (gamma positive and
// finite; white above black, black at or above 0, both finite, and for HLG
// a black lift below 1). `params` may be null for curves that take none.
int32_t apply_tone_curve(int32_t curve, const tone_curve_params *params, bool inverse,
                         const double *in, double *out, size_t count);

// The HLG system gamma for a display of peak luminance `white` (cd/m2):
// 1.2 + 0.42 log10(white / 1000), as BT.2100 gives it (for 400 to 2000
// cd/m2; applied as is outside).
double hlg_system_gamma(double white);
