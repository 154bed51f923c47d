// The exported colour functions: argument checks and result codes over the
// colorimetry module, which holds the maths.
#include "ca410_colour.h"

#include <cmath>
#include <memory>

#include "cmat/chromaticity.h"
#include "cmat/gamut.h"
#include "cmat/observers.h"
#include "cmat/xsp2cie.h"

namespace {

// The module's numbering of the observers behind the public one.
bool find_observer(int32_t observer, observer_type *type) {
    switch (observer) {
        case CA_OBSERVER_CIE1931_2:
            *type = observer_cie_1931_2;
            return true;
        case CA_OBSERVER_CIE1964_10:
            *type = observer_cie_1964_10;
            return true;
        default:
            return false;
    }
}

xy_triangle triangle(const double *xy) {
    xy_triangle t{};
    for (int i = 0; i < 6; ++i) t.v[i] = xy[i];
    return t;
}

bool finite(const double *v, int32_t n) {
    for (int32_t i = 0; i < n; ++i)
        if (!std::isfinite(v[i])) return false;
    return true;
}

using gamut_fn = int32_t (*)(const xy_triangle &, const xy_triangle &, double *);

int32_t against_reference(gamut_fn fn, const double *xy, const double *ref_xy, double *out) {
    if (!xy || !ref_xy || !out) return CA_COLOUR_E_ARGS;
    return fn(triangle(xy), triangle(ref_xy), out) == 0 ? CA_COLOUR_OK : CA_COLOUR_E_DOMAIN;
}

}  // namespace

extern "C" {

CA410_COLOUR_API int32_t CA410_COLOUR_CALL ca410ColourChromaticity(const double *xyz,
                                                                   ca410_chromaticity *out) {
    if (!xyz || !out) return CA_COLOUR_E_ARGS;
    cie_chromaticity c{};
    if (xyz_to_chromaticity(xyz, &c) != 0) return CA_COLOUR_E_DOMAIN;
    *out = {c.x, c.y, c.u_prime, c.v_prime};
    return CA_COLOUR_OK;
}

CA410_COLOUR_API int32_t CA410_COLOUR_CALL ca410ColourCCT(const double *xyz, double *cct_k,
                                                          double *duv) {
    if (!xyz || !cct_k || !duv) return CA_COLOUR_E_ARGS;
    return xyz_to_cct(xyz, cct_k, duv) == 0 ? CA_COLOUR_OK : CA_COLOUR_E_DOMAIN;
}

CA410_COLOUR_API int32_t CA410_COLOUR_CALL ca410ColourSpectrumToXYZ(int32_t observer,
                                                                    double first_nm, double step_nm,
                                                                    const double *values,
                                                                    int32_t count, double *xyz) {
    observer_type type = observer_default;
    if (!values || !xyz || !find_observer(observer, &type) || count < 2 ||
        count > xspect_max_count || !(step_nm > 0.0))
        return CA_COLOUR_E_ARGS;
    if (!std::isfinite(first_nm) || !std::isfinite(step_nm) || !finite(values, count))
        return CA_COLOUR_E_DOMAIN;
    const double last_nm = first_nm + (count - 1) * step_nm;
    if (!std::isfinite(last_nm)) return CA_COLOUR_E_DOMAIN;

    std::unique_ptr<xsp2cie, void (*)(xsp2cie *)> conv(new_xsp2cie(type, nullptr, 0), xsp2cie_del);
    if (!conv) return CA_COLOUR_E_ARGS;
    // The converter sweeps the observer's range and would stretch the
    // spectrum's end samples across what the spectrum does not cover: sweep
    // only the whole nanometres both cover (the converter's end stays
    // excluded).
    conv->wl_start = std::fmax(conv->wl_start, std::ceil(first_nm));
    conv->wl_end = std::fmin(conv->wl_end, std::floor(last_nm) + 1.0);
    if (!(conv->wl_start < conv->wl_end)) return CA_COLOUR_E_DOMAIN;

    auto in = std::make_unique<xspect>();
    in->count = count;
    in->wl_short = first_nm;
    in->wl_long = last_nm;
    in->norm = 1.0;
    for (int32_t k = 0; k < count; ++k) in->values[k] = values[k];
    double sum[3] = {};
    xsp2cie_convert(conv.get(), sum, in.get());
    if (!finite(sum, 3)) return CA_COLOUR_E_DOMAIN;
    for (int j = 0; j < 3; ++j) xyz[j] = sum[j];
    return CA_COLOUR_OK;
}

CA410_COLOUR_API int32_t CA410_COLOUR_CALL ca410ColourTriangleArea(const double *xy, double *area) {
    if (!xy || !area) return CA_COLOUR_E_ARGS;
    if (!finite(xy, 6)) return CA_COLOUR_E_DOMAIN;
    const double a = triangle_area(triangle(xy));
    if (!std::isfinite(a)) return CA_COLOUR_E_DOMAIN;
    *area = a;
    return CA_COLOUR_OK;
}

CA410_COLOUR_API int32_t CA410_COLOUR_CALL ca410ColourGamutAreaRatio(const double *xy,
                                                                     const double *ref_xy,
                                                                     double *ratio) {
    return against_reference(gamut_area_ratio, xy, ref_xy, ratio);
}

CA410_COLOUR_API int32_t CA410_COLOUR_CALL ca410ColourGamutCoverage(const double *xy,
                                                                    const double *ref_xy,
                                                                    double *coverage) {
    return against_reference(gamut_coverage, xy, ref_xy, coverage);
}

CA410_COLOUR_API int32_t CA410_COLOUR_CALL ca410ColourReferenceGamut(int32_t gamut, double *xy,
                                                                     double *white_xy) {
    const reference_gamut_def *g = find_reference_gamut(gamut);
    if (!g || !xy) return CA_COLOUR_E_ARGS;
    for (int i = 0; i < 6; ++i) xy[i] = g->primaries.v[i];
    if (white_xy) {
        white_xy[0] = g->white[0];
        white_xy[1] = g->white[1];
    }
    return CA_COLOUR_OK;
}

namespace {

struct colour_result {
    int32_t code;
    const char *name;
    const char *meaning;
};
#define CA410_COLOUR_RESULT_ROW(name, number, meaning) {name, #name, meaning},
constexpr colour_result colour_results[] = {CA410_COLOUR_RESULTS(CA410_COLOUR_RESULT_ROW)};
#undef CA410_COLOUR_RESULT_ROW

const colour_result *colour_result_find(int32_t code) {
    for (const auto &r : colour_results) {
        if (r.code == code) return &r;
    }
    return nullptr;
}

}  // namespace

CA410_COLOUR_API const char *CA410_COLOUR_CALL ca410ColourResultName(int32_t code) {
    const colour_result *r = colour_result_find(code);
    return r ? r->name : nullptr;
}

CA410_COLOUR_API const char *CA410_COLOUR_CALL ca410ColourResultText(int32_t code) {
    const colour_result *r = colour_result_find(code);
    return r ? r->meaning : nullptr;
}

CA410_COLOUR_API const char *CA410_COLOUR_CALL ca410ColourGamutName(int32_t gamut) {
    const reference_gamut_def *g = find_reference_gamut(gamut);
    return g ? g->name : nullptr;
}

CA410_COLOUR_API int32_t CA410_COLOUR_CALL ca410ColourSpectralLocus(int32_t observer, double *nm,
                                                                    double *xy, int32_t capacity,
                                                                    int32_t *count) {
    observer_type type = observer_default;
    const xspect *tables[3] = {};
    if (!count || !find_observer(observer, &type) || standardObserver(tables, type) != 0)
        return CA_COLOUR_E_ARGS;
    const auto n = static_cast<int32_t>(spectral_locus_size(tables));
    *count = n;
    if (!nm && !xy) return CA_COLOUR_OK;
    if (capacity < n) return CA_COLOUR_E_SIZE;
    spectral_locus(tables, nm, xy);
    return CA_COLOUR_OK;
}

}  // extern "C"
