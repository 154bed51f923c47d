/*
 * ca410_colour.h - colour maths of the CA-410 driver library.
 *
 * A second, separate shared library (libca410_colour.so, ca410_colour.dll)
 * with the colorimetry a host needs around the instrument's X, Y, Z:
 *
 *   chromaticity   x, y (CIE 1931) and u', v' (CIE 1976 UCS) of X, Y, Z
 *   CCT and Δuv    correlated colour temperature and the signed distance from
 *                  the Planckian locus in the CIE 1960 (u, v) plane
 *   spectra        an emission spectrum to X, Y, Z under the CIE 1931 2° or
 *                  the CIE 1964 10° standard observer
 *   gamut          triangle areas in the CIE 1931 xy plane, the area ratio
 *                  against a reference triangle and the coverage of it, the
 *                  built-in reference primaries (sRGB, DCI-P3, BT.2020), and
 *                  the spectral locus for drawing the xy diagram
 *
 * Plain C (C99 or later, or C++), fixed-width types only. The functions keep
 * no state, allocate nothing that outlives the call and may be called from
 * any thread. It may be included together with ca410.h.
 *
 * Triangles
 *   A triangle is six doubles, its corners' chromaticities in the order
 *   red x, red y, green x, green y, blue x, blue y. Corners may go either way
 *   round. All figures are in the CIE 1931 xy plane.
 *
 * Result codes
 *   Every function but ca410ColourGamutName returns CA_COLOUR_OK (0) or one
 *   of the CA_COLOUR_E_* codes below, and writes its outputs only on success
 *   (except for the count of ca410ColourSpectralLocus; see there).
 */
#ifndef CA410_COLOUR_H
#define CA410_COLOUR_H

#include <stdint.h>

/* CA410_COLOUR_API marks the exported functions. Define CA410_COLOUR_STATIC
 * when linking the library statically; its own build defines
 * CA410_COLOUR_BUILDING_LIBRARY. */
#if defined(_WIN32)
#if defined(CA410_COLOUR_STATIC)
#define CA410_COLOUR_API
#elif defined(CA410_COLOUR_BUILDING_LIBRARY)
#define CA410_COLOUR_API __declspec(dllexport)
#else
#define CA410_COLOUR_API __declspec(dllimport)
#endif
/* One calling convention for every export; the export list names them plainly. */
#define CA410_COLOUR_CALL __cdecl
#else
#if defined(CA410_COLOUR_BUILDING_LIBRARY) && defined(__GNUC__) && __GNUC__ >= 4
#define CA410_COLOUR_API __attribute__((visibility("default")))
#else
#define CA410_COLOUR_API
#endif
#define CA410_COLOUR_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes. */
enum ca410_colour_result {
    CA_COLOUR_OK = 0,       /* success */
    CA_COLOUR_E_ARGS = 1,   /* a required pointer is NULL, or a count, step, observer or
                               reference gamut is not one the function takes */
    CA_COLOUR_E_DOMAIN = 2, /* the values have no answer: not finite, X + Y + Z (or
                               X + 15Y + 3Z) not positive, a CCT outside 500 K to 100000 K,
                               a reference triangle of no area */
    CA_COLOUR_E_SIZE = 3    /* the caller's buffer is too small; the count needed is written */
};

/* Standard observers: the number is the field of view in degrees. */
enum ca410_colour_observer {
    CA_OBSERVER_CIE1931_2 = 2,  /* CIE 1931 2° (what the instrument reports in) */
    CA_OBSERVER_CIE1964_10 = 10 /* CIE 1964 10° */
};

/* Built-in reference gamuts. */
enum ca410_colour_gamut {
    CA_GAMUT_SRGB = 1,   /* sRGB / BT.709: R 0.640 0.330, G 0.300 0.600, B 0.150 0.060; white D65 */
    CA_GAMUT_DCI_P3 = 2, /* DCI-P3: R 0.680 0.320, G 0.265 0.690, B 0.150 0.060; white 0.314 0.351 */
    CA_GAMUT_BT2020 = 3  /* BT.2020: R 0.708 0.292, G 0.170 0.797, B 0.131 0.046; white D65 */
};

/* Chromaticity of one colour. */
typedef struct ca410_chromaticity {
    double x;       /* CIE 1931 x = X / (X + Y + Z) */
    double y;       /* CIE 1931 y = Y / (X + Y + Z) */
    double u_prime; /* CIE 1976 u' = 4X / (X + 15Y + 3Z) */
    double v_prime; /* CIE 1976 v' = 9Y / (X + 15Y + 3Z) */
} ca410_chromaticity;

/* ---- One colour -------------------------------------------------------- */

/*
 * x, y, u', v' of a colour.
 *
 * xyz  three doubles X, Y, Z (any common scale); must not be NULL.
 * out  the caller's record; must not be NULL.
 *
 * Returns:
 *   CA_COLOUR_OK        *out filled
 *   CA_COLOUR_E_ARGS    xyz or out is NULL
 *   CA_COLOUR_E_DOMAIN  a value is not finite, or X + Y + Z or X + 15Y + 3Z is
 *                       not positive (black has no chromaticity)
 */
CA410_COLOUR_API int32_t CA410_COLOUR_CALL ca410ColourChromaticity(const double *xyz,
                                                                   ca410_chromaticity *out);

/*
 * Correlated colour temperature and Δuv of a colour: the temperature of the
 * nearest point of the Planckian locus in the CIE 1960 (u, v) plane (a
 * blackbody with c2 = 1.4388e-2 m K against the CIE 1931 2° observer), and
 * the distance to it, positive above the locus (greener), negative below
 * (pinker). D65 gives about 6504 K and +0.0032.
 *
 * xyz     three doubles X, Y, Z; must not be NULL.
 * cct_k   place for the temperature in kelvin; must not be NULL.
 * duv     place for Δuv; must not be NULL.
 *
 * Returns:
 *   CA_COLOUR_OK        both written
 *   CA_COLOUR_E_ARGS    a pointer is NULL
 *   CA_COLOUR_E_DOMAIN  no chromaticity (as above), or the nearest point of
 *                       the locus lies outside 500 K to 100000 K
 */
CA410_COLOUR_API int32_t CA410_COLOUR_CALL ca410ColourCCT(const double *xyz, double *cct_k,
                                                          double *duv);

/*
 * X, Y, Z of an emission spectrum: 0.683002 x the sum, over every whole
 * nanometre where both the spectrum and the observer (360 nm to 829 nm) are
 * defined, of the spectrum (interpolated between its samples) times the
 * colour-matching functions. So a spectral radiance in mW sr-1 m-2 nm-1 gives
 * Y in cd/m2. Negative results are clamped to 0.
 *
 * observer  CA_OBSERVER_CIE1931_2 or CA_OBSERVER_CIE1964_10.
 * first_nm  wavelength of values[0], nm.
 * step_nm   spacing of the samples, nm, above 0; values[k] lies at
 *           first_nm + k * step_nm.
 * values    count samples; must not be NULL, all finite.
 * count     2 to 601.
 * xyz       three doubles receiving X, Y, Z; must not be NULL.
 *
 * Returns:
 *   CA_COLOUR_OK        xyz filled
 *   CA_COLOUR_E_ARGS    a pointer is NULL, an unknown observer, count outside
 *                       2 to 601, or a step that is not positive
 *   CA_COLOUR_E_DOMAIN  a value, first_nm, step_nm or the last wavelength is
 *                       not finite, or the spectrum lies wholly outside
 *                       360 nm to 829 nm
 */
CA410_COLOUR_API int32_t CA410_COLOUR_CALL ca410ColourSpectrumToXYZ(int32_t observer,
                                                                    double first_nm,
                                                                    double step_nm,
                                                                    const double *values,
                                                                    int32_t count, double *xyz);

/* ---- Gamut ------------------------------------------------------------- */

/*
 * Area of a triangle in the xy plane (always >= 0; sRGB's is 0.11205).
 *
 * xy    six doubles (see Triangles above); must not be NULL, all finite.
 * area  place for the area; must not be NULL.
 *
 * Returns: CA_COLOUR_OK, CA_COLOUR_E_ARGS (NULL), CA_COLOUR_E_DOMAIN (not finite).
 */
CA410_COLOUR_API int32_t CA410_COLOUR_CALL ca410ColourTriangleArea(const double *xy,
                                                                   double *area);

/*
 * Area ratio: the area of triangle xy over that of ref_xy, as a fraction
 * (1.0 when equal; sRGB against DCI-P3 gives 0.7372).
 *
 * Returns: CA_COLOUR_OK, CA_COLOUR_E_ARGS (NULL), CA_COLOUR_E_DOMAIN (a value
 * not finite, or ref_xy has no area).
 */
CA410_COLOUR_API int32_t CA410_COLOUR_CALL ca410ColourGamutAreaRatio(const double *xy,
                                                                     const double *ref_xy,
                                                                     double *ratio);

/*
 * Coverage: the part of the reference triangle ref_xy that triangle xy
 * covers, the area of their intersection over the reference's area, as a
 * fraction from 0.0 to 1.0 (1.0 when xy contains ref_xy; sRGB covers 0.7372
 * of DCI-P3, DCI-P3 covers 1.0 of sRGB).
 *
 * Returns: CA_COLOUR_OK, CA_COLOUR_E_ARGS (NULL), CA_COLOUR_E_DOMAIN (a value
 * not finite, or ref_xy has no area).
 */
CA410_COLOUR_API int32_t CA410_COLOUR_CALL ca410ColourGamutCoverage(const double *xy,
                                                                    const double *ref_xy,
                                                                    double *coverage);

/*
 * The primaries of a built-in reference gamut, and its white point.
 *
 * gamut     CA_GAMUT_SRGB, CA_GAMUT_DCI_P3 or CA_GAMUT_BT2020.
 * xy        six doubles receiving the triangle; must not be NULL.
 * white_xy  two doubles receiving the white point's x, y; may be NULL.
 *
 * Returns: CA_COLOUR_OK, CA_COLOUR_E_ARGS (unknown gamut, or xy NULL).
 */
CA410_COLOUR_API int32_t CA410_COLOUR_CALL ca410ColourReferenceGamut(int32_t gamut, double *xy,
                                                                     double *white_xy);

/*
 * The display name of a built-in reference gamut ("sRGB", "DCI-P3",
 * "BT.2020"): a constant string, or NULL for an unknown one.
 */
CA410_COLOUR_API const char *CA410_COLOUR_CALL ca410ColourGamutName(int32_t gamut);

/*
 * The spectral locus of a standard observer, for drawing the xy diagram: the
 * chromaticity of monochromatic light at every whole nanometre from 360 nm
 * to 830 nm (471 points; close the outline with the purple line from the
 * last point back to the first).
 *
 * observer  CA_OBSERVER_CIE1931_2 (the xy diagram's) or CA_OBSERVER_CIE1964_10.
 * nm        place for the wavelengths (count doubles); may be NULL.
 * xy        place for the points, x and y of each in turn (2 * count
 *           doubles); may be NULL to ask for the count only.
 * capacity  the number of points nm and xy have room for.
 * count     place for the number of points; must not be NULL. Written on
 *           CA_COLOUR_OK and on CA_COLOUR_E_SIZE.
 *
 * Returns:
 *   CA_COLOUR_OK        *count written, and nm and xy filled when not NULL
 *   CA_COLOUR_E_ARGS    unknown observer, or count is NULL
 *   CA_COLOUR_E_SIZE    nm or xy is not NULL and capacity is below the count;
 *                       *count written, nothing else
 */
CA410_COLOUR_API int32_t CA410_COLOUR_CALL ca410ColourSpectralLocus(int32_t observer, double *nm,
                                                                    double *xy, int32_t capacity,
                                                                    int32_t *count);

#ifdef __cplusplus
}
#endif

#endif /* CA410_COLOUR_H */
