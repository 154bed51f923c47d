// The exported colour metrics: argument checks and result codes over the
// Lab/Luv, colour difference, tone curve and grey ramp maths of cmat.
#include <cstddef>

#include "ca410_colour.h"
#include "cmat/colour_difference.h"
#include "cmat/colour_space.h"
#include "cmat/grey_ramp.h"
#include "cmat/tone_curves.h"

namespace {

// cmat's 0 / 1 (no answer) / 2 (unknown kind) as result codes.
int32_t result(int32_t rc) {
    return rc == 0 ? CA_COLOUR_OK : rc == 1 ? CA_COLOUR_E_DOMAIN : CA_COLOUR_E_ARGS;
}

using white_conversion = int32_t (*)(const double *, const double *, double *);

int32_t convert_one(white_conversion fn, const double *in, const double *white, double *out) {
    if (!in || !white || !out) return CA_COLOUR_E_ARGS;
    return result(fn(in, white, out));
}

// An array argument may be NULL only when it holds nothing.
bool array_ok(const void *p, int32_t count) {
    return count >= 0 && (p || count == 0);
}

int32_t curve(int32_t id, const ca410_curve_params *p, bool inverse, const double *in, double *out,
              int32_t count) {
    if (!array_ok(in, count) || !array_ok(out, count)) return CA_COLOUR_E_ARGS;
    const tone_curve_params params =
        p ? tone_curve_params{p->gamma, p->white_cd_m2, p->black_cd_m2} : tone_curve_params{};
    return result(
        apply_tone_curve(id, p ? &params : nullptr, inverse, in, out, static_cast<size_t>(count)));
}

}  // namespace

extern "C" {

CA410_COLOUR_API int32_t CA410_COLOUR_CALL ca410ColourXYZToLab(const double *xyz,
                                                               const double *white_xyz,
                                                               double *lab) {
    return convert_one(xyz_to_lab, xyz, white_xyz, lab);
}

CA410_COLOUR_API int32_t CA410_COLOUR_CALL ca410ColourLabToXYZ(const double *lab,
                                                               const double *white_xyz,
                                                               double *xyz) {
    return convert_one(lab_to_xyz, lab, white_xyz, xyz);
}

CA410_COLOUR_API int32_t CA410_COLOUR_CALL ca410ColourXYZToLuv(const double *xyz,
                                                               const double *white_xyz,
                                                               double *luv) {
    return convert_one(xyz_to_luv, xyz, white_xyz, luv);
}

CA410_COLOUR_API int32_t CA410_COLOUR_CALL ca410ColourLuvToXYZ(const double *luv,
                                                               const double *white_xyz,
                                                               double *xyz) {
    return convert_one(luv_to_xyz, luv, white_xyz, xyz);
}

CA410_COLOUR_API int32_t CA410_COLOUR_CALL ca410ColourToLCh(const double *lab, double *lch) {
    if (!lab || !lch) return CA_COLOUR_E_ARGS;
    return result(to_lch(lab, lch));
}

CA410_COLOUR_API int32_t CA410_COLOUR_CALL ca410ColourFromLCh(const double *lch, double *lab) {
    if (!lch || !lab) return CA_COLOUR_E_ARGS;
    return result(from_lch(lch, lab));
}

CA410_COLOUR_API int32_t CA410_COLOUR_CALL ca410ColourConvertArray(int32_t conversion,
                                                                   const double *white_xyz,
                                                                   const double *in, double *out,
                                                                   int32_t count) {
    const bool uses_white = conversion != CA_CONVERT_TO_LCH && conversion != CA_CONVERT_FROM_LCH;
    if (!array_ok(in, count) || !array_ok(out, count) || (uses_white && !white_xyz))
        return CA_COLOUR_E_ARGS;
    return result(convert_colours(conversion, white_xyz, in, out, static_cast<size_t>(count)));
}

CA410_COLOUR_API int32_t CA410_COLOUR_CALL ca410ColourDeltaE(int32_t formula, const double *lab1,
                                                             const double *lab2, double *delta_e) {
    if (!lab1 || !lab2 || !delta_e) return CA_COLOUR_E_ARGS;
    return result(::delta_e(formula, lab1, lab2, delta_e));
}

CA410_COLOUR_API int32_t CA410_COLOUR_CALL ca410ColourDeltaEArray(int32_t formula,
                                                                  const double *lab1,
                                                                  const double *lab2,
                                                                  double *delta_e, int32_t count) {
    if (!array_ok(lab1, count) || !array_ok(lab2, count) || !array_ok(delta_e, count))
        return CA_COLOUR_E_ARGS;
    return result(delta_e_pairs(formula, lab1, lab2, delta_e, static_cast<size_t>(count)));
}

CA410_COLOUR_API int32_t CA410_COLOUR_CALL ca410ColourEOTF(int32_t curve_id,
                                                           const ca410_curve_params *params,
                                                           const double *signal, double *luminance,
                                                           int32_t count) {
    return curve(curve_id, params, false, signal, luminance, count);
}

CA410_COLOUR_API int32_t CA410_COLOUR_CALL ca410ColourInverseEOTF(int32_t curve_id,
                                                                  const ca410_curve_params *params,
                                                                  const double *luminance,
                                                                  double *signal, int32_t count) {
    return curve(curve_id, params, true, luminance, signal, count);
}

CA410_COLOUR_API int32_t CA410_COLOUR_CALL ca410ColourPointGamma(const double *levels,
                                                                 const double *y, int32_t count,
                                                                 double *gamma) {
    if (!levels || !y || !gamma || count < 0) return CA_COLOUR_E_ARGS;
    return result(point_gamma(levels, y, static_cast<size_t>(count), gamma));
}

CA410_COLOUR_API int32_t CA410_COLOUR_CALL ca410ColourFitGamma(const double *levels,
                                                               const double *y, int32_t count,
                                                               double *gamma) {
    if (!levels || !y || !gamma || count < 0) return CA_COLOUR_E_ARGS;
    return result(fit_gamma(levels, y, static_cast<size_t>(count), gamma));
}

CA410_COLOUR_API int32_t CA410_COLOUR_CALL ca410ColourContrastRatio(double white_y, double black_y,
                                                                    double *ratio) {
    if (!ratio) return CA_COLOUR_E_ARGS;
    return result(contrast_ratio(white_y, black_y, ratio));
}

}  // extern "C"
