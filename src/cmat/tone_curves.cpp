#include "cmat/tone_curves.h"

#include <cmath>

#include "cmat/checked_map.h"

namespace {

// Everything a curve needs, worked out once per call from its parameters.
struct curve_state {
    double gamma;
    double white;
    double black;
    double bt1886_a;  // BT.1886 L = a * max(V + b, 0)^2.4
    double bt1886_b;
    double hlg_beta;  // HLG black lift: sqrt(3 (Lb / Lw)^(1 / gamma))
};

double srgb_eotf(double v, const curve_state &) {
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

double srgb_inverse(double l, const curve_state &) {
    return l <= 0.0031308 ? 12.92 * l : 1.055 * std::pow(l, 1.0 / 2.4) - 0.055;
}

double gamma_eotf(double v, const curve_state &s) {
    return std::pow(v, s.gamma);
}

double gamma_inverse(double l, const curve_state &s) {
    return std::pow(l, 1.0 / s.gamma);
}

constexpr double bt1886_gamma = 2.4;

double bt1886_eotf(double v, const curve_state &s) {
    return s.bt1886_a * std::pow(std::fmax(v + s.bt1886_b, 0.0), bt1886_gamma);
}

double bt1886_inverse(double l, const curve_state &s) {
    return std::pow(l / s.bt1886_a, 1.0 / bt1886_gamma) - s.bt1886_b;
}

// SMPTE ST 2084 constants, exact as the standard writes them.
constexpr double pq_m1 = 2610.0 / 16384.0;
constexpr double pq_m2 = 2523.0 / 4096.0 * 128.0;
constexpr double pq_c1 = 3424.0 / 4096.0;
constexpr double pq_c2 = 2413.0 / 4096.0 * 32.0;
constexpr double pq_c3 = 2392.0 / 4096.0 * 32.0;
constexpr double pq_peak = 10000.0;

double pq_eotf(double v, const curve_state &) {
    const double p = std::pow(v, 1.0 / pq_m2);
    return pq_peak * std::pow(std::fmax(p - pq_c1, 0.0) / (pq_c2 - pq_c3 * p), 1.0 / pq_m1);
}

double pq_inverse(double l, const curve_state &) {
    const double y = std::pow(l / pq_peak, pq_m1);
    return std::pow((pq_c1 + pq_c2 * y) / (1.0 + pq_c3 * y), pq_m2);
}

// BT.2100 HLG OETF constants.
constexpr double hlg_a = 0.17883277;
constexpr double hlg_b = 1.0 - 4.0 * hlg_a;
const double hlg_c = 0.5 - hlg_a * std::log(4.0 * hlg_a);

double hlg_inverse_oetf(double v, const curve_state &) {
    return v <= 0.5 ? v * v / 3.0 : (std::exp((v - hlg_c) / hlg_a) + hlg_b) / 12.0;
}

double hlg_oetf(double e, const curve_state &) {
    return e <= 1.0 / 12.0 ? std::sqrt(3.0 * e) : hlg_a * std::log(12.0 * e - hlg_b) + hlg_c;
}

// The EOTF of BT.2100 (2018 revision) for a grey, R = G = B: the black lift
// beta on the signal, the inverse OETF, then the OOTF Lw * E^gamma.
double hlg_display_eotf(double v, const curve_state &s) {
    const double e = hlg_inverse_oetf(std::fmax(0.0, (1.0 - s.hlg_beta) * v + s.hlg_beta), s);
    return s.white * std::pow(e, s.gamma);
}

double hlg_display_inverse(double l, const curve_state &s) {
    const double v = hlg_oetf(std::pow(l / s.white, 1.0 / s.gamma), s);
    return (v - s.hlg_beta) / (1.0 - s.hlg_beta);
}

using curve_fn = double (*)(double, const curve_state &);

enum class needs { nothing, gamma, white_black };

struct curve_def {
    tone_curve id;
    curve_fn eotf;
    curve_fn inverse;
    needs params;
};

const curve_def curves[] = {
    {tone_curve::srgb, srgb_eotf, srgb_inverse, needs::nothing},
    {tone_curve::gamma, gamma_eotf, gamma_inverse, needs::gamma},
    {tone_curve::bt1886, bt1886_eotf, bt1886_inverse, needs::white_black},
    {tone_curve::pq, pq_eotf, pq_inverse, needs::nothing},
    {tone_curve::hlg, hlg_inverse_oetf, hlg_oetf, needs::nothing},
    {tone_curve::hlg_display, hlg_display_eotf, hlg_display_inverse, needs::white_black},
};

const curve_def *find_curve(int32_t id) {
    for (const auto &c : curves)
        if (static_cast<int32_t>(c.id) == id) return &c;
    return nullptr;
}

// Fills `s` from the caller's parameters; false when they do not fit.
bool prepare(const curve_def &c, const tone_curve_params *p, curve_state *s) {
    *s = {};
    if (c.params == needs::nothing) return true;
    if (!p) return false;
    if (c.params == needs::gamma) {
        s->gamma = p->gamma;
        return std::isfinite(p->gamma) && p->gamma > 0.0;
    }
    if (!std::isfinite(p->white) || !std::isfinite(p->black) || !(p->black >= 0.0) ||
        !(p->white > p->black))
        return false;
    s->white = p->white;
    s->black = p->black;
    const double rw = std::pow(p->white, 1.0 / bt1886_gamma);
    const double rb = std::pow(p->black, 1.0 / bt1886_gamma);
    s->bt1886_a = std::pow(rw - rb, bt1886_gamma);
    s->bt1886_b = rb / (rw - rb);
    s->gamma = hlg_system_gamma(p->white);
    s->hlg_beta = std::sqrt(3.0 * std::pow(p->black / p->white, 1.0 / s->gamma));
    return std::isfinite(s->bt1886_a) && s->bt1886_a > 0.0 && std::isfinite(s->bt1886_b) &&
           std::isfinite(s->gamma) && s->gamma > 0.0 && s->hlg_beta < 1.0;
}

}  // namespace

double hlg_system_gamma(double white) {
    return 1.2 + 0.42 * std::log10(white / 1000.0);
}

int32_t apply_tone_curve(int32_t curve, const tone_curve_params *params, bool inverse,
                         const double *in, double *out, size_t count) {
    const curve_def *c = find_curve(curve);
    if (!c) return 2;
    curve_state s;
    if (!prepare(*c, params, &s)) return 2;
    if (count == 0) return 0;
    if (!in || !out) return 1;
    // The luminance range is the curve's own image of 0 to 1, and for a
    // display the black and white it was given, which rounding (and HLG's
    // published constants) may miss by a hair.
    double lo = inverse ? c->eotf(0.0, s) : 0.0;
    double hi = inverse ? c->eotf(1.0, s) : 1.0;
    if (inverse && c->params == needs::white_black) {
        lo = std::fmin(lo, s.black);
        hi = std::fmax(hi, s.white);
    }
    const curve_fn fn = inverse ? c->inverse : c->eotf;
    const auto in_range = [&](size_t i) { return in[i] >= lo && in[i] <= hi; };
    const auto kernel = [&](size_t i, double *r) {
        if (!in_range(i)) return false;
        const double v = fn(in[i], s);
        if (!std::isfinite(v)) return false;
        // Rounding may carry a signal at either end a hair past it.
        *r = inverse ? std::fmin(std::fmax(v, 0.0), 1.0) : v;
        return true;
    };
    return checked_map<1>(count, out, kernel, in_range) ? 0 : 1;
}
