// Gamut figures in the CIE 1931 xy plane: triangle areas, their ratio, the
// part of a reference triangle another one covers, the built-in reference
// primaries, and the spectral locus of an observer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cmat/observers.h"

// A triangle: x, y of red, green and blue in turn. Either winding.
struct xy_triangle {
    double v[6];
};

// Unsigned shoelace area.
double triangle_area(const xy_triangle &t);

// Area of the intersection of two triangles (convex polygon clipping).
double triangle_intersection_area(const xy_triangle &a, const xy_triangle &b);

// area(t) / area(ref), and area(t ∩ ref) / area(ref). Both return 1 (output
// untouched) when a value is not finite, ref has no area, or an area or the
// result overflows; else 0.
int32_t gamut_area_ratio(const xy_triangle &t, const xy_triangle &ref, double *ratio);
int32_t gamut_coverage(const xy_triangle &t, const xy_triangle &ref, double *coverage);

// Built-in reference gamuts, with their white points.
enum class reference_gamut : int32_t { srgb = 1, dci_p3 = 2, bt2020 = 3 };

struct reference_gamut_def {
    reference_gamut id;
    const char *name;
    xy_triangle primaries;
    double white[2];
};

// The definition of `id`, or null for an unknown one.
const reference_gamut_def *find_reference_gamut(int32_t id);

// Points of the spectral locus of an observer's x̄, ȳ, z̄ (as standardObserver
// hands them out): one per sample of x̄ (at 1 nm from 360 nm to 830 nm for
// the built-in ones).
size_t spectral_locus_size(const xspect *const cmf[3]);
// Fills nm[k] (when not null) and xy[2k], xy[2k + 1] (when not null) for
// every sample.
void spectral_locus(const xspect *const cmf[3], double *nm, double *xy);
