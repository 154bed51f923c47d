#include "cmat/chromaticity.h"

#include <array>
#include <cmath>
#include <cstddef>

#include "cmat/observers.h"

namespace {

bool finite3(const double xyz[3]) {
    return std::isfinite(xyz[0]) && std::isfinite(xyz[1]) && std::isfinite(xyz[2]);
}

// A sum of finite values that overflowed is no denominator.
bool positive_finite(double v) {
    return v > 0.0 && std::isfinite(v);
}

struct uv_point {
    double u;
    double v;
};

// Planckian (u, v) of a temperature already known to be valid.
uv_point planck_point(double t_k) {
    const xspect *cmf = ob_CIE_1931_2;
    double sums[3] = {0.0, 0.0, 0.0};
    const double step = (cmf[0].wl_long - cmf[0].wl_short) / (cmf[0].count - 1);
    for (int32_t k = 0; k < cmf[0].count; ++k) {
        const double nm = cmf[0].wl_short + k * step;
        // Relative spectral exitance; the constant factor c1 cancels out.
        const double m = 1.0 / ((nm * nm * nm * nm * nm) * std::expm1(planck_c2_nm_k / (nm * t_k)));
        for (int j = 0; j < 3; ++j) sums[j] += m * cmf[j].values[k];
    }
    const double d = sums[0] + 15.0 * sums[1] + 3.0 * sums[2];
    return {4.0 * sums[0] / d, 6.0 * sums[1] / d};
}

double distance2(const uv_point &p, double u, double v) {
    const double du = u - p.u;
    const double dv = v - p.v;
    return du * du + dv * dv;
}

// The locus on a 1 % geometric grid of temperatures: close enough that the
// nearest node brackets the nearest point between its neighbours.
constexpr double grid_ratio = 1.01;
constexpr size_t grid_size = 534;  // cct_min_k * 1.01^533 just reaches cct_max_k

struct locus_grid {
    std::array<double, grid_size> log_t;
    std::array<uv_point, grid_size> uv;
};

const locus_grid &grid() {
    static const locus_grid g = [] {
        locus_grid built{};
        const double log_min = std::log(cct_min_k);
        const double log_max = std::log(cct_max_k);
        const double log_step = std::log(grid_ratio);
        for (size_t k = 0; k < grid_size; ++k) {
            const double lt =
                k + 1 == grid_size ? log_max : std::fmin(log_min + k * log_step, log_max);
            built.log_t[k] = lt;
            built.uv[k] = planck_point(std::exp(lt));
        }
        return built;
    }();
    return g;
}

}  // namespace

int32_t xyz_to_chromaticity(const double xyz[3], cie_chromaticity *out) {
    if (!xyz || !out || !finite3(xyz)) return 1;
    const double sum = xyz[0] + xyz[1] + xyz[2];
    const double ucs = xyz[0] + 15.0 * xyz[1] + 3.0 * xyz[2];
    if (!positive_finite(sum) || !positive_finite(ucs)) return 1;
    const cie_chromaticity c = {xyz[0] / sum, xyz[1] / sum, 4.0 * xyz[0] / ucs, 9.0 * xyz[1] / ucs};
    if (!std::isfinite(c.x) || !std::isfinite(c.y) || !std::isfinite(c.u_prime) ||
        !std::isfinite(c.v_prime))
        return 1;
    *out = c;
    return 0;
}

int32_t xyz_to_uv1960(const double xyz[3], double *u, double *v) {
    if (!xyz || !u || !v || !finite3(xyz)) return 1;
    const double ucs = xyz[0] + 15.0 * xyz[1] + 3.0 * xyz[2];
    if (!positive_finite(ucs)) return 1;
    const double uu = 4.0 * xyz[0] / ucs;
    const double vv = 6.0 * xyz[1] / ucs;
    if (!std::isfinite(uu) || !std::isfinite(vv)) return 1;
    *u = uu;
    *v = vv;
    return 0;
}

int32_t planckian_uv1960(double t_k, double *u, double *v) {
    if (!u || !v || !std::isfinite(t_k) || !(t_k > 0.0)) return 1;
    const uv_point p = planck_point(t_k);
    *u = p.u;
    *v = p.v;
    return 0;
}

int32_t uv1960_to_cct(double u, double v, double *cct_k, double *duv) {
    if (!cct_k || !duv || !std::isfinite(u) || !std::isfinite(v)) return 1;
    const locus_grid &g = grid();
    size_t nearest = 0;
    double best = distance2(g.uv[0], u, v);
    for (size_t k = 1; k < grid_size; ++k) {
        const double d2 = distance2(g.uv[k], u, v);
        if (d2 < best) {
            best = d2;
            nearest = k;
        }
    }
    if (nearest == 0 || nearest + 1 == grid_size) return 1;

    // Golden-section search of the squared distance over ln T between the
    // nearest node's neighbours: the distance is unimodal there, and ln T
    // keeps the relative precision even across the range.
    constexpr double inv_phi = 0.6180339887498949;
    double a = g.log_t[nearest - 1];
    double b = g.log_t[nearest + 1];
    double c = b - inv_phi * (b - a);
    double d = a + inv_phi * (b - a);
    double fc = distance2(planck_point(std::exp(c)), u, v);
    double fd = distance2(planck_point(std::exp(d)), u, v);
    while (b - a > 1e-10) {
        if (fc < fd) {
            b = d;
            d = c;
            fd = fc;
            c = b - inv_phi * (b - a);
            fc = distance2(planck_point(std::exp(c)), u, v);
        } else {
            a = c;
            c = d;
            fc = fd;
            d = a + inv_phi * (b - a);
            fd = distance2(planck_point(std::exp(d)), u, v);
        }
    }
    const double t = std::exp(0.5 * (a + b));
    const uv_point p = planck_point(t);
    const double dist = std::sqrt(distance2(p, u, v));
    *cct_k = t;
    *duv = v >= p.v ? dist : -dist;
    return 0;
}

int32_t xyz_to_cct(const double xyz[3], double *cct_k, double *duv) {
    double u = 0.0;
    double v = 0.0;
    if (xyz_to_uv1960(xyz, &u, &v) != 0) return 1;
    return uv1960_to_cct(u, v, cct_k, duv);
}
