// Colour differences between two CIELAB colours: CIE76 (ΔE*ab), CIE94 with
// the graphic-arts weights, and CIEDE2000 as Sharma, Wu and Dalal (2005) set
// it out, with its working values.
#pragma once

#include <cstddef>
#include <cstdint>

enum class delta_e_formula : int32_t { cie76 = 1, cie94 = 2, ciede2000 = 3 };

// Working values of CIEDE2000 for one pair: a', C' of each colour, the mean
// hue h̄' in degrees (0 to 360), and the result.
struct ciede2000_terms {
    double a_prime[2];
    double c_prime[2];
    double h_bar;
    double delta_e;
};

// CIEDE2000 of lab1 and lab2 (kL = kC = kH = 1), with its working values.
// Returns false when the result is not finite.
bool ciede2000(const double lab1[3], const double lab2[3], ciede2000_terms *terms);

// ΔE of lab2 against lab1, the reference (CIE94 weighs chroma by lab1's).
// Returns 0 and writes *out; 1 (nothing written) when a value is not finite
// or the result overflows; 2 for an unknown formula.
int32_t delta_e(int32_t formula, const double lab1[3], const double lab2[3], double *out);

// The same over `count` pairs, three doubles per colour in lab1 and lab2 and
// one result per pair in `out` (which may be lab1 or lab2). Nothing is
// written unless every pair has a finite answer.
int32_t delta_e_pairs(int32_t formula, const double *lab1, const double *lab2, double *out,
                      size_t count);
