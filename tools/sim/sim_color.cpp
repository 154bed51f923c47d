#include "sim_color.h"

#include <algorithm>
#include <cmath>

namespace sim {

mat3 mat_mul(const mat3 &a, const mat3 &b) {
    mat3 r{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k) r[i * 3 + j] += a[i * 3 + k] * b[k * 3 + j];
    return r;
}

sim_xyz mat_apply(const mat3 &m, const sim_xyz &v) {
    return {m[0] * v[0] + m[1] * v[1] + m[2] * v[2], m[3] * v[0] + m[4] * v[1] + m[5] * v[2],
            m[6] * v[0] + m[7] * v[1] + m[8] * v[2]};
}

std::optional<mat3> mat_inverse(const mat3 &m) {
    const double c00 = m[4] * m[8] - m[5] * m[7];
    const double c01 = m[5] * m[6] - m[3] * m[8];
    const double c02 = m[3] * m[7] - m[4] * m[6];
    const double det = m[0] * c00 + m[1] * c01 + m[2] * c02;
    // Relative to the size of the entries, so that dim and bright colours
    // are judged alike.
    double scale = 0.0;
    for (double v : m) scale = std::max(scale, std::fabs(v));
    if (scale == 0.0 || !std::isfinite(det) || std::fabs(det) <= 1e-12 * scale * scale * scale)
        return std::nullopt;
    const double k = 1.0 / det;
    return mat3{c00 * k, (m[2] * m[7] - m[1] * m[8]) * k, (m[1] * m[5] - m[2] * m[4]) * k,
                c01 * k, (m[0] * m[8] - m[2] * m[6]) * k, (m[2] * m[3] - m[0] * m[5]) * k,
                c02 * k, (m[1] * m[6] - m[0] * m[7]) * k, (m[0] * m[4] - m[1] * m[3]) * k};
}

mat3 from_columns(const sim_xyz &c0, const sim_xyz &c1, const sim_xyz &c2) {
    return {c0[0], c1[0], c2[0], c0[1], c1[1], c2[1], c0[2], c1[2], c2[2]};
}

// With Mm the measured primaries (columns) and Mt the target primaries, find
// the weights km and kt that make each set add up to its own white:
// Mm km = m_w, Mt kt = t_w. The correction is
//     M = Mt diag(kt) (Mm diag(km))^-1,
// which takes m_w exactly to t_w and each measured primary to its target's
// chromaticity, scaled by kt/km. When the targets are additive (t_w the sum
// of the primaries' targets) and the measurements too, every weight is 1 and
// all four colours land on their targets.
std::optional<mat3> wrgb_matrix(const std::array<sim_xyz, 4> &measured,
                                const std::array<sim_xyz, 4> &target) {
    const mat3 mm = from_columns(measured[1], measured[2], measured[3]);
    const mat3 mt = from_columns(target[1], target[2], target[3]);
    const auto mm_inv = mat_inverse(mm);
    const auto mt_inv = mat_inverse(mt);
    if (!mm_inv || !mt_inv) return std::nullopt;
    const sim_xyz km = mat_apply(*mm_inv, measured[0]);
    const sim_xyz kt = mat_apply(*mt_inv, target[0]);
    mat3 ms = mm, ts = mt;
    for (int row = 0; row < 3; ++row)
        for (int col = 0; col < 3; ++col) {
            ms[row * 3 + col] *= km[col];
            ts[row * 3 + col] *= kt[col];
        }
    const auto ms_inv = mat_inverse(ms);
    if (!ms_inv) return std::nullopt;
    const mat3 m = mat_mul(ts, *ms_inv);
    for (double v : m)
        if (!std::isfinite(v)) return std::nullopt;
    return m;
}

bool valid_display_mode(int mode) {
    return mode == 0 || mode == 1 || (mode >= 5 && mode <= 8);
}

sim_xyz to_display_mode(int mode, const sim_xyz &xyz) {
    const double sum = xyz[0] + xyz[1] + xyz[2];
    switch (mode) {
        case 0:
            if (sum <= 0.0) return {0.0, 0.0, xyz[1]};
            return {xyz[0] / sum, xyz[1] / sum, xyz[1]};
        case 5: {
            const double d = xyz[0] + 15.0 * xyz[1] + 3.0 * xyz[2];
            if (d <= 0.0) return {0.0, 0.0, xyz[1]};
            return {4.0 * xyz[0] / d, 9.0 * xyz[1] / d, xyz[1]};
        }
        default:
            return xyz;
    }
}

std::optional<sim_xyz> from_display_mode(int mode, const sim_xyz &v) {
    for (double d : v)
        if (!std::isfinite(d)) return std::nullopt;
    switch (mode) {
        case 7:
            return v;
        case 0:  // x, y, Lv
            if (v[1] <= 0.0) return std::nullopt;
            return sim_xyz{v[0] * v[2] / v[1], v[2], (1.0 - v[0] - v[1]) * v[2] / v[1]};
        case 5:  // u', v', Lv
            if (v[1] <= 0.0) return std::nullopt;
            return sim_xyz{9.0 * v[0] * v[2] / (4.0 * v[1]), v[2],
                           (12.0 - 3.0 * v[0] - 20.0 * v[1]) * v[2] / (4.0 * v[1])};
        default:
            return std::nullopt;
    }
}

}  // namespace sim
