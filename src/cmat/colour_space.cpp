#include "cmat/colour_space.h"

#include <cmath>

#include "cmat/checked_map.h"

namespace {

constexpr double epsilon = 216.0 / 24389.0;
constexpr double kappa = 24389.0 / 27.0;
constexpr double pi = 3.14159265358979323846;
constexpr double degrees_per_radian = 180.0 / pi;

// Values within this bound, against a white within its reciprocal and
// itself, keep every conversion here far from overflow.
constexpr double tame_limit = 1e15;

bool finite3(const double v[3]) {
    return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]);
}

bool valid_white(const double w[3]) {
    return w && finite3(w) && w[0] > 0.0 && w[1] > 0.0 && w[2] > 0.0;
}

bool within(const double v[3], double limit) {
    return std::fabs(v[0]) <= limit && std::fabs(v[1]) <= limit && std::fabs(v[2]) <= limit;
}

bool store_if_finite(const double r[3], double out[3]) {
    if (!finite3(r)) return false;
    out[0] = r[0];
    out[1] = r[1];
    out[2] = r[2];
    return true;
}

// The lightness function f(t) and its inverse.
double lab_f(double t) {
    return t > epsilon ? std::cbrt(t) : (kappa * t + 16.0) / 116.0;
}

double lab_f_inverse(double f) {
    const double cube = f * f * f;
    return cube > epsilon ? cube : (116.0 * f - 16.0) / kappa;
}

// Y / Yn of a lightness L*.
double relative_luminance(double l) {
    return l > kappa * epsilon ? lab_f_inverse((l + 16.0) / 116.0) : l / kappa;
}

// CIE 1976 u', v' of X, Y, Z; false when X + 15Y + 3Z is not positive.
bool uv_prime(const double xyz[3], double *u, double *v) {
    const double d = xyz[0] + 15.0 * xyz[1] + 3.0 * xyz[2];
    if (!(d > 0.0)) return false;
    *u = 4.0 * xyz[0] / d;
    *v = 9.0 * xyz[1] / d;
    return true;
}

// Lab of many colours is the hot path: the kernel is called directly, and
// ordinary values against an ordinary white are vouched for.
int32_t lab_of_many(const double white[3], const double *xyz, double *lab, size_t count) {
    const bool white_tame = within(white, tame_limit) && white[0] >= 1.0 / tame_limit &&
                            white[1] >= 1.0 / tame_limit && white[2] >= 1.0 / tame_limit;
    const auto kernel = [&](size_t i, double *r) { return xyz_to_lab(xyz + 3 * i, white, r) == 0; };
    const auto tame = [&](size_t i) { return white_tame && within(xyz + 3 * i, tame_limit); };
    return checked_map<3>(count, lab, kernel, tame) ? 0 : 1;
}

using conversion_fn = int32_t (*)(const double *, const double *, double *);

int32_t to_lch_with_white(const double *in, const double *, double *out) {
    return to_lch(in, out);
}

int32_t from_lch_with_white(const double *in, const double *, double *out) {
    return from_lch(in, out);
}

struct conversion_def {
    colour_conversion id;
    conversion_fn fn;
    bool uses_white;
};

const conversion_def conversions[] = {
    {colour_conversion::xyz_to_lab, xyz_to_lab, true},
    {colour_conversion::lab_to_xyz, lab_to_xyz, true},
    {colour_conversion::xyz_to_luv, xyz_to_luv, true},
    {colour_conversion::luv_to_xyz, luv_to_xyz, true},
    {colour_conversion::to_lch, to_lch_with_white, false},
    {colour_conversion::from_lch, from_lch_with_white, false},
};

}  // namespace

int32_t xyz_to_lab(const double xyz[3], const double white[3], double lab[3]) {
    if (!xyz || !lab || !valid_white(white) || !finite3(xyz)) return 1;
    const double fx = lab_f(xyz[0] / white[0]);
    const double fy = lab_f(xyz[1] / white[1]);
    const double fz = lab_f(xyz[2] / white[2]);
    const double r[3] = {116.0 * fy - 16.0, 500.0 * (fx - fy), 200.0 * (fy - fz)};
    return store_if_finite(r, lab) ? 0 : 1;
}

int32_t lab_to_xyz(const double lab[3], const double white[3], double xyz[3]) {
    if (!lab || !xyz || !valid_white(white) || !finite3(lab)) return 1;
    const double fy = (lab[0] + 16.0) / 116.0;
    const double r[3] = {white[0] * lab_f_inverse(fy + lab[1] / 500.0),
                         white[1] * relative_luminance(lab[0]),
                         white[2] * lab_f_inverse(fy - lab[2] / 200.0)};
    return store_if_finite(r, xyz) ? 0 : 1;
}

int32_t xyz_to_luv(const double xyz[3], const double white[3], double luv[3]) {
    double un = 0.0, vn = 0.0, u = 0.0, v = 0.0;
    if (!xyz || !luv || !valid_white(white) || !finite3(xyz)) return 1;
    if (xyz[0] == 0.0 && xyz[1] == 0.0 && xyz[2] == 0.0) {
        luv[0] = luv[1] = luv[2] = 0.0;
        return 0;
    }
    if (!uv_prime(white, &un, &vn) || !uv_prime(xyz, &u, &v)) return 1;
    const double l = 116.0 * lab_f(xyz[1] / white[1]) - 16.0;
    const double r[3] = {l, 13.0 * l * (u - un), 13.0 * l * (v - vn)};
    return store_if_finite(r, luv) ? 0 : 1;
}

int32_t luv_to_xyz(const double luv[3], const double white[3], double xyz[3]) {
    double un = 0.0, vn = 0.0;
    if (!luv || !xyz || !valid_white(white) || !finite3(luv)) return 1;
    if (luv[0] == 0.0) {
        if (luv[1] != 0.0 || luv[2] != 0.0) return 1;
        xyz[0] = xyz[1] = xyz[2] = 0.0;
        return 0;
    }
    uv_prime(white, &un, &vn);
    const double u = luv[1] / (13.0 * luv[0]) + un;
    const double v = luv[2] / (13.0 * luv[0]) + vn;
    if (!std::isfinite(u) || !std::isfinite(v) || v == 0.0) return 1;
    const double y = white[1] * relative_luminance(luv[0]);
    const double r[3] = {y * 9.0 * u / (4.0 * v), y, y * (12.0 - 3.0 * u - 20.0 * v) / (4.0 * v)};
    return store_if_finite(r, xyz) ? 0 : 1;
}

int32_t to_lch(const double lab[3], double lch[3]) {
    if (!lab || !lch || !finite3(lab)) return 1;
    double h = std::atan2(lab[2], lab[1]) * degrees_per_radian;
    if (h < 0.0) h += 360.0;
    // A hue a hair below 0 rounds up to 360 itself.
    if (h >= 360.0) h = 0.0;
    const double r[3] = {lab[0], std::hypot(lab[1], lab[2]), h};
    return store_if_finite(r, lch) ? 0 : 1;
}

int32_t from_lch(const double lch[3], double lab[3]) {
    if (!lch || !lab || !finite3(lch) || lch[1] < 0.0) return 1;
    const double h = lch[2] / degrees_per_radian;
    const double r[3] = {lch[0], lch[1] * std::cos(h), lch[1] * std::sin(h)};
    return store_if_finite(r, lab) ? 0 : 1;
}

int32_t convert_colours(int32_t conversion, const double white[3], const double *in, double *out,
                        size_t count) {
    const conversion_def *def = nullptr;
    for (const auto &c : conversions)
        if (static_cast<int32_t>(c.id) == conversion) def = &c;
    if (!def) return 2;
    if (count == 0) return 0;
    if (!in || !out || (def->uses_white && !valid_white(white))) return 1;
    if (def->id == colour_conversion::xyz_to_lab) return lab_of_many(white, in, out, count);
    const auto kernel = [&](size_t i, double *r) { return def->fn(in + 3 * i, white, r) == 0; };
    return checked_map<3>(count, out, kernel, never_tame) ? 0 : 1;
}
