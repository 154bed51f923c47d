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
 *   Lab and Luv    CIE 1976 L*a*b* and L*u*v* against a reference white, their
 *                  L, C, h forms, and back; for one colour or many
 *   ΔE             colour differences CIE76, CIE94 and CIEDE2000, of one pair
 *                  or many
 *   tone curves    display transfer functions (sRGB, gamma, BT.1886, PQ, HLG)
 *                  and their inverses, over many values
 *   grey ramps     the gamma at each level, one fitted gamma, contrast ratio
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
 *   (except for the count of ca410ColourSpectralLocus; see there): a function
 *   over many values writes none of them unless every one has an answer.
 *   Results are finite (but for the contrast ratio of a black of 0, and the
 *   NaN of a level without a point gamma): finite values whose result would
 *   overflow give CA_COLOUR_E_DOMAIN.
 *
 * Arrays
 *   The functions over many values take a count (0 or more; 0 does nothing)
 *   and arrays of three doubles per colour, one after the other.
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
/* Result codes, one row each: name, number, meaning (ca410ColourResultText
 * gives the meaning at run time). */
#define CA410_COLOUR_RESULTS(X)                                                                  \
    X(CA_COLOUR_OK, 0, "success")                                                                \
    X(CA_COLOUR_E_ARGS, 1,                                                                       \
      "a required pointer is NULL, or a count, step, observer, reference gamut, conversion, "    \
      "formula, curve or curve parameter is not one the function takes")                         \
    X(CA_COLOUR_E_DOMAIN, 2,                                                                     \
      "the values have no answer: not finite, X + Y + Z (or X + 15Y + 3Z) not positive, a CCT " \
      "outside 500 K to 100000 K, a reference triangle of no area, a result that overflows, a "  \
      "signal or luminance outside its curve's range")                                           \
    X(CA_COLOUR_E_SIZE, 3, "the caller's buffer is too small; the count needed is written")

#define CA410_COLOUR_RESULT_ENUMERATOR(name, number, meaning) name = number,
enum ca410_colour_result { CA410_COLOUR_RESULTS(CA410_COLOUR_RESULT_ENUMERATOR) };
#undef CA410_COLOUR_RESULT_ENUMERATOR

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
 *                       not positive (black has no chromaticity) or overflows
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
 *                       not finite, the spectrum lies wholly outside
 *                       360 nm to 829 nm, or a sum overflows
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
 * Returns: CA_COLOUR_OK, CA_COLOUR_E_ARGS (NULL), CA_COLOUR_E_DOMAIN (a value
 * not finite, or the area overflows).
 */
CA410_COLOUR_API int32_t CA410_COLOUR_CALL ca410ColourTriangleArea(const double *xy,
                                                                   double *area);

/*
 * Area ratio: the area of triangle xy over that of ref_xy, as a fraction
 * (1.0 when equal; sRGB against DCI-P3 gives 0.7372).
 *
 * Returns: CA_COLOUR_OK, CA_COLOUR_E_ARGS (NULL), CA_COLOUR_E_DOMAIN (a value
 * not finite, ref_xy has no area, or an area overflows).
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
 * not finite, ref_xy has no area, or an area overflows).
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
 * The name ("CA_COLOUR_E_DOMAIN") and the meaning of a result code: constant
 * strings, or NULL for a number that is not one.
 */
CA410_COLOUR_API const char *CA410_COLOUR_CALL ca410ColourResultName(int32_t code);
CA410_COLOUR_API const char *CA410_COLOUR_CALL ca410ColourResultText(int32_t code);

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

/* ---- Lab, Luv and LCh -------------------------------------------------- */

/*
 * The white of these conversions is three doubles X, Y, Z, all positive and
 * finite, on the scale of the colours (a measured display white, or D65 as
 * 95.047, 100, 108.883). Lightness uses the CIE's exact constants
 * (epsilon = 216/24389, kappa = 24389/27).
 */

/* The conversions of ca410ColourConvertArray. */
enum ca410_colour_conversion {
    CA_CONVERT_XYZ_TO_LAB = 1, /* X, Y, Z to L*, a*, b* (uses the white) */
    CA_CONVERT_LAB_TO_XYZ = 2, /* L*, a*, b* to X, Y, Z (uses the white) */
    CA_CONVERT_XYZ_TO_LUV = 3, /* X, Y, Z to L*, u*, v* (uses the white) */
    CA_CONVERT_LUV_TO_XYZ = 4, /* L*, u*, v* to X, Y, Z (uses the white) */
    CA_CONVERT_TO_LCH = 5,     /* L, a, b (or L, u, v) to L, C, h; h in degrees, 0 <= h < 360 */
    CA_CONVERT_FROM_LCH = 6    /* L, C, h to L, a, b (or L, u, v); C must not be negative */
};

/*
 * CIELAB of a colour.
 *
 * xyz        three doubles X, Y, Z; must not be NULL.
 * white_xyz  the reference white (see above); must not be NULL.
 * lab        three doubles receiving L*, a*, b*; must not be NULL; may be xyz.
 *
 * Returns:
 *   CA_COLOUR_OK        lab filled
 *   CA_COLOUR_E_ARGS    a pointer is NULL
 *   CA_COLOUR_E_DOMAIN  a value is not finite, a white value is not positive,
 *                       or a result overflows
 */
CA410_COLOUR_API int32_t CA410_COLOUR_CALL ca410ColourXYZToLab(const double *xyz,
                                                               const double *white_xyz,
                                                               double *lab);

/*
 * X, Y, Z of a CIELAB colour against the white.
 *
 * lab        three doubles L*, a*, b*; must not be NULL.
 * white_xyz  the reference white; must not be NULL.
 * xyz        three doubles receiving X, Y, Z; must not be NULL; may be lab.
 *
 * Returns: CA_COLOUR_OK, CA_COLOUR_E_ARGS (NULL), CA_COLOUR_E_DOMAIN (as for
 * ca410ColourXYZToLab).
 */
CA410_COLOUR_API int32_t CA410_COLOUR_CALL ca410ColourLabToXYZ(const double *lab,
                                                               const double *white_xyz,
                                                               double *xyz);

/*
 * CIELUV of a colour. Black (X = Y = Z = 0) gives 0, 0, 0.
 *
 * xyz        three doubles X, Y, Z; must not be NULL.
 * white_xyz  the reference white; must not be NULL.
 * luv        three doubles receiving L*, u*, v*; must not be NULL; may be xyz.
 *
 * Returns:
 *   CA_COLOUR_OK        luv filled
 *   CA_COLOUR_E_ARGS    a pointer is NULL
 *   CA_COLOUR_E_DOMAIN  a value is not finite, a white value is not positive,
 *                       X + 15Y + 3Z is not positive (but for black), or a
 *                       result overflows
 */
CA410_COLOUR_API int32_t CA410_COLOUR_CALL ca410ColourXYZToLuv(const double *xyz,
                                                               const double *white_xyz,
                                                               double *luv);

/*
 * X, Y, Z of a CIELUV colour against the white. L* = 0 gives black.
 *
 * luv        three doubles L*, u*, v*; must not be NULL.
 * white_xyz  the reference white; must not be NULL.
 * xyz        three doubles receiving X, Y, Z; must not be NULL; may be luv.
 *
 * Returns:
 *   CA_COLOUR_OK        xyz filled
 *   CA_COLOUR_E_ARGS    a pointer is NULL
 *   CA_COLOUR_E_DOMAIN  a value is not finite, a white value is not positive,
 *                       L* = 0 with u* or v* not 0, v' = 0, or a result overflows
 */
CA410_COLOUR_API int32_t CA410_COLOUR_CALL ca410ColourLuvToXYZ(const double *luv,
                                                               const double *white_xyz,
                                                               double *xyz);

/*
 * L, C, h of a CIELAB (or CIELUV) colour: C = sqrt(a^2 + b^2), h the angle
 * of (a, b) in degrees, 0 <= h < 360, 0 for a grey.
 *
 * lab  three doubles L, a, b; must not be NULL.
 * lch  three doubles receiving L, C, h; must not be NULL; may be lab.
 *
 * Returns: CA_COLOUR_OK, CA_COLOUR_E_ARGS (NULL), CA_COLOUR_E_DOMAIN (a value
 * not finite, or C overflows).
 */
CA410_COLOUR_API int32_t CA410_COLOUR_CALL ca410ColourToLCh(const double *lab, double *lch);

/*
 * L, a, b (or L, u, v) of L, C, h (h in degrees, any finite angle).
 *
 * lch  three doubles L, C, h; must not be NULL.
 * lab  three doubles receiving L, a, b; must not be NULL; may be lch.
 *
 * Returns: CA_COLOUR_OK, CA_COLOUR_E_ARGS (NULL), CA_COLOUR_E_DOMAIN (a value
 * not finite, or C negative).
 */
CA410_COLOUR_API int32_t CA410_COLOUR_CALL ca410ColourFromLCh(const double *lch, double *lab);

/*
 * One of the conversions above over many colours.
 *
 * conversion  a CA_CONVERT_* value.
 * white_xyz   the reference white; must not be NULL for the conversions
 *             that use it, may be NULL for the others.
 * in          3 * count doubles; must not be NULL unless count is 0.
 * out         3 * count doubles receiving the results; must not be NULL
 *             unless count is 0; may be in.
 * count       the number of colours, 0 or more.
 *
 * Returns:
 *   CA_COLOUR_OK        out filled
 *   CA_COLOUR_E_ARGS    unknown conversion, a negative count, or a pointer
 *                       NULL that must not be
 *   CA_COLOUR_E_DOMAIN  a colour has no answer (as for the single-colour
 *                       function); out untouched
 */
CA410_COLOUR_API int32_t CA410_COLOUR_CALL ca410ColourConvertArray(int32_t conversion,
                                                                   const double *white_xyz,
                                                                   const double *in, double *out,
                                                                   int32_t count);

/* ---- Colour differences ------------------------------------------------ */

/* The formulas of ca410ColourDeltaE. */
enum ca410_colour_delta_e {
    CA_DELTA_E_76 = 1,  /* CIE76, ΔE*ab: the distance in CIELAB */
    CA_DELTA_E_94 = 2,  /* CIE94, graphic-arts weights: kL = 1, K1 = 0.045, K2 = 0.015;
                           the first colour is the reference, whose chroma sets SC and SH */
    CA_DELTA_E_2000 = 3 /* CIEDE2000 with kL = kC = kH = 1, as Sharma, Wu and Dalal (2005)
                           set it out (their 34 test pairs to 4 decimals) */
};

/*
 * The colour difference of two CIELAB colours.
 *
 * formula   a CA_DELTA_E_* value.
 * lab1      three doubles L*, a*, b* of the reference; must not be NULL.
 * lab2      three doubles L*, a*, b* of the sample; must not be NULL.
 * delta_e   place for ΔE; must not be NULL.
 *
 * Returns:
 *   CA_COLOUR_OK        *delta_e written
 *   CA_COLOUR_E_ARGS    unknown formula, or a pointer is NULL
 *   CA_COLOUR_E_DOMAIN  a value is not finite, or the result overflows
 */
CA410_COLOUR_API int32_t CA410_COLOUR_CALL ca410ColourDeltaE(int32_t formula, const double *lab1,
                                                             const double *lab2, double *delta_e);

/*
 * The colour differences of many pairs: delta_e[k] is ΔE of lab1[3k..3k+2]
 * (the reference) and lab2[3k..3k+2].
 *
 * formula   a CA_DELTA_E_* value.
 * lab1      3 * count doubles; must not be NULL unless count is 0.
 * lab2      3 * count doubles; must not be NULL unless count is 0.
 * delta_e   count doubles receiving the differences; must not be NULL
 *           unless count is 0; may be lab1 or lab2.
 * count     the number of pairs, 0 or more.
 *
 * Returns:
 *   CA_COLOUR_OK        delta_e filled
 *   CA_COLOUR_E_ARGS    unknown formula, a negative count, or a pointer NULL
 *                       that must not be
 *   CA_COLOUR_E_DOMAIN  a pair has no answer; delta_e untouched
 */
CA410_COLOUR_API int32_t CA410_COLOUR_CALL ca410ColourDeltaEArray(int32_t formula,
                                                                  const double *lab1,
                                                                  const double *lab2,
                                                                  double *delta_e, int32_t count);

/* ---- Tone curves ------------------------------------------------------- */

/* Display transfer functions: signal (0 to 1) to luminance. */
enum ca410_colour_curve {
    CA_CURVE_SRGB = 1,       /* IEC 61966-2-1 piecewise curve; relative luminance 0 to 1 */
    CA_CURVE_GAMMA = 2,      /* pure power V^gamma; relative luminance 0 to 1 */
    CA_CURVE_BT1886 = 3,     /* ITU-R BT.1886, a (max(V + b, 0))^2.4 fitted to the display's
                                white and black; cd/m2 from black to white */
    CA_CURVE_PQ = 4,         /* SMPTE ST 2084 (PQ); absolute cd/m2 from 0 to 10000 */
    CA_CURVE_HLG = 5,        /* ITU-R BT.2100 HLG inverse OETF only: scene light E from 0
                                to 1 (E' = 0.5 at E = 1/12) */
    CA_CURVE_HLG_DISPLAY = 6 /* BT.2100 (2018 revision) HLG EOTF of a grey, cd/m2: the black
                                lift beta = sqrt(3 (black / white)^(1 / gamma)), the inverse
                                OETF, then the OOTF white * E^gamma with the system gamma
                                1.2 + 0.42 log10(white / 1000), from black to white */
};

/* What the curves take besides the signal. */
typedef struct ca410_curve_params {
    double gamma;       /* CA_CURVE_GAMMA: the exponent, above 0 */
    double white_cd_m2; /* CA_CURVE_BT1886, CA_CURVE_HLG_DISPLAY: the display's white */
    double black_cd_m2; /* the same two: its black, 0 or more and below the white (for
                           HLG also small enough that beta stays below 1) */
} ca410_curve_params;

/*
 * A tone curve over many values: signal to luminance.
 *
 * curve      a CA_CURVE_* value.
 * params     the curve's parameters; may be NULL for sRGB, PQ and HLG.
 * signal     count values from 0 to 1; must not be NULL unless count is 0.
 * luminance  count doubles receiving the results; must not be NULL unless
 *            count is 0; may be signal.
 * count      the number of values, 0 or more.
 *
 * Returns:
 *   CA_COLOUR_OK        luminance filled
 *   CA_COLOUR_E_ARGS    unknown curve, params NULL or not fit for the curve,
 *                       a negative count, or a pointer NULL that must not be
 *   CA_COLOUR_E_DOMAIN  a signal outside 0 to 1 or not finite; luminance untouched
 */
CA410_COLOUR_API int32_t CA410_COLOUR_CALL ca410ColourEOTF(int32_t curve,
                                                           const ca410_curve_params *params,
                                                           const double *signal, double *luminance,
                                                           int32_t count);

/*
 * The inverse of a tone curve over many values: luminance to signal (for
 * CA_CURVE_HLG the OETF, scene light to signal).
 *
 * curve, params  as for ca410ColourEOTF.
 * luminance      count values within the curve's range (its luminance at
 *                signal 0 to that at 1; for BT.1886 and HLG display also
 *                anything from the black to the white given); must not be
 *                NULL unless count is 0.
 * signal         count doubles receiving the signals; must not be NULL
 *                unless count is 0; may be luminance.
 * count          the number of values, 0 or more.
 *
 * Returns:
 *   CA_COLOUR_OK        signal filled
 *   CA_COLOUR_E_ARGS    as for ca410ColourEOTF
 *   CA_COLOUR_E_DOMAIN  a luminance outside the range or not finite; signal untouched
 */
CA410_COLOUR_API int32_t CA410_COLOUR_CALL ca410ColourInverseEOTF(int32_t curve,
                                                                  const ca410_curve_params *params,
                                                                  const double *luminance,
                                                                  double *signal, int32_t count);

/* ---- Grey ramps -------------------------------------------------------- */

/*
 * A grey ramp is count signal levels (0 to 1) with the luminance Y measured
 * at each. It must hold level 0 and level 1: their Y (the first of each when
 * repeated) are the black and the white, and Y is normalised between them,
 * Yn = (Y - black) / (white - black).
 */

/*
 * The point gamma of every level of a ramp: log(Yn) / log(level); NaN where
 * it is undefined (levels 0 and 1, and where Yn is not positive).
 *
 * levels  count levels; must not be NULL.
 * y       count luminances; must not be NULL.
 * count   the number of levels, 0 or more.
 * gamma   count doubles receiving the point gammas; must not be NULL.
 *
 * Returns:
 *   CA_COLOUR_OK        gamma filled
 *   CA_COLOUR_E_ARGS    a pointer is NULL, or count is negative
 *   CA_COLOUR_E_DOMAIN  a value is not finite, a level lies outside 0 to 1,
 *                       level 0 or 1 is missing, the white is not above the
 *                       black, or a point gamma overflows
 */
CA410_COLOUR_API int32_t CA410_COLOUR_CALL ca410ColourPointGamma(const double *levels,
                                                                 const double *y, int32_t count,
                                                                 double *gamma);

/*
 * One gamma for a whole ramp: the least-squares fit of log(Yn) = gamma
 * log(level), a line through the origin, over the levels from 0.1 up to
 * (not including) 1 whose Yn is 0.01 or more. The near-black levels are
 * left out: there the measurement is mostly noise and black.
 *
 * levels, y, count  the ramp, as for ca410ColourPointGamma.
 * gamma             place for the fitted gamma; must not be NULL.
 *
 * Returns:
 *   CA_COLOUR_OK        *gamma written
 *   CA_COLOUR_E_ARGS    a pointer is NULL, or count is negative
 *   CA_COLOUR_E_DOMAIN  the ramp is not one as above, or no level is left
 *                       for the fit
 */
CA410_COLOUR_API int32_t CA410_COLOUR_CALL ca410ColourFitGamma(const double *levels,
                                                               const double *y, int32_t count,
                                                               double *gamma);

/*
 * Contrast ratio: white Y over black Y. A black of 0 gives +infinity
 * (HUGE_VAL).
 *
 * white_y  the white's luminance, above 0.
 * black_y  the black's luminance, 0 or more.
 * ratio    place for the ratio; must not be NULL.
 *
 * Returns:
 *   CA_COLOUR_OK        *ratio written
 *   CA_COLOUR_E_ARGS    ratio is NULL
 *   CA_COLOUR_E_DOMAIN  a value is not finite, the white is not positive, the
 *                       black is negative, or the ratio overflows
 */
CA410_COLOUR_API int32_t CA410_COLOUR_CALL ca410ColourContrastRatio(double white_y, double black_y,
                                                                    double *ratio);

#ifdef __cplusplus
}
#endif

#endif /* CA410_COLOUR_H */
