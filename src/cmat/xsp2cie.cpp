#include "cmat/xsp2cie.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "cmat/xsp_sampler.h"

namespace {

// The maximum luminous efficacy, 683.002 lm/W, over 1000, per nm of step.
constexpr double emissive_scale = 0.683002;

// Beyond this magnitude adding a 1 nm step to a wavelength could leave it
// unchanged, and the integration would never end.
constexpr double max_wavelength = 4503599627370496.0;  // 2^52

void say(const char *message) {
    std::fputs(message, stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

bool integration_range_valid(const xsp2cie &conv) {
    return conv.step >= 1 && std::fabs(conv.wl_start) < max_wavelength &&
           std::fabs(conv.wl_end) < max_wavelength;
}

}  // namespace

xsp2cie *new_xsp2cie(observer_type type, const xspect *custom, int32_t out_type) {
    auto *conv = static_cast<xsp2cie *>(std::calloc(1, sizeof(xsp2cie)));
    if (!conv) {
        say("new_xsp2cie:  calloc err");
        return nullptr;
    }
    if (type == observer_custom) {
        if (!custom) {
            std::free(conv);
            say("new_xsp2cie: custom observer tables missing");
            return nullptr;
        }
        for (int j = 0; j < 3; ++j) conv->observer[j] = custom[j];
    } else {
        const xspect *tables[3] = {};
        if (standardObserver(tables, type) != 0) {
            std::free(conv);
            say("new_xsp2cie: standardObserver  err");
            return nullptr;
        }
        for (int j = 0; j < 3; ++j) conv->observer[j] = *tables[j];
    }
    conv->emissive = 1;
    conv->illum = il_none;
    if (out_type != 0) {
        say("new_xsp2cie: output cie type != XYZ");
        std::free(conv);
        return nullptr;
    }
    conv->out_type = 0;
    conv->clamp = 1;
    conv->step = 1;
    conv->wl_start = conv->observer[1].wl_short;
    conv->wl_end = conv->observer[1].wl_long;
    conv->del = xsp2cie_del;
    conv->convert = xsp2cie_convert;
    return conv;
}

void xsp2cie_sconvert(const xsp2cie *conv, xspect *sout, double xyz[3], const xspect *in) {
    if (!xyz) return;
    if (!conv || !in) {
        xyz[0] = xyz[1] = xyz[2] = 0.0;
        return;
    }
    double sums[3] = {0.0, 0.0, 0.0};
    double norm_sum = 0.0;
    const bool valid = integration_range_valid(*conv);
    if (valid) {
        const xspect_sampler illum(conv->illum);
        const xspect_sampler observer[3] = {xspect_sampler(conv->observer[0]),
                                            xspect_sampler(conv->observer[1]),
                                            xspect_sampler(conv->observer[2])};
        const xspect_sampler input(*in);
        const double step = conv->step;
        // One sweep serves X, Y and Z: every lookup is a pure function of the
        // wavelength and each sum still accumulates in wavelength order, so
        // this gives exactly what three separate passes would.
        for (double w = conv->wl_start; w < conv->wl_end; w += step) {
            double s = 1.0;
            if (!conv->emissive) illum.normalised(w, &s);
            double v = 0.0;
            input.normalised(w, &v);
            for (int j = 0; j < 3; ++j) {
                double o = 0.0;
                observer[j].normalised(w, &o);
                sums[j] += s * o * v;
                if (j == 1) norm_sum += s * o;
            }
        }
    }
    const double scale = !valid           ? 0.0
                         : conv->emissive ? emissive_scale * conv->step
                                          : 1.0 / norm_sum;
    for (int j = 0; j < 3; ++j) {
        double value = sums[j] * scale;
        if (conv->clamp && value < 0.0) value = 0.0;
        xyz[j] = value;
    }
    if (sout && sout != in) *sout = *in;
}

void xsp2cie_convert(const xsp2cie *conv, double xyz[3], const xspect *in) {
    xsp2cie_sconvert(conv, nullptr, xyz, in);
}

void xsp2cie_del(xsp2cie *conv) {
    std::free(conv);
}
