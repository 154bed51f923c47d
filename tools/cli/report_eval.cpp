#include "report_eval.h"

#include <algorithm>
#include <cmath>

#include "ca410_colour.h"
#include "patches.h"

namespace cli::report {

namespace {

using matrix = std::array<double, 9>;  // row-major

triple times(const matrix &m, const triple &v) {
    return {m[0] * v[0] + m[1] * v[1] + m[2] * v[2], m[3] * v[0] + m[4] * v[1] + m[5] * v[2],
            m[6] * v[0] + m[7] * v[1] + m[8] * v[2]};
}

matrix inverse(const matrix &m) {
    const matrix c = {
        m[4] * m[8] - m[5] * m[7], m[2] * m[7] - m[1] * m[8], m[1] * m[5] - m[2] * m[4],
        m[5] * m[6] - m[3] * m[8], m[0] * m[8] - m[2] * m[6], m[2] * m[3] - m[0] * m[5],
        m[3] * m[7] - m[4] * m[6], m[1] * m[6] - m[0] * m[7], m[0] * m[4] - m[1] * m[3]};
    const double det = m[0] * c[0] + m[1] * c[3] + m[2] * c[6];
    matrix out{};
    for (std::size_t i = 0; i < 9; ++i) out[i] = c[i] / det;
    return out;
}

triple xyz_of_xy(double x, double y, double luminance) {
    return {x / y * luminance, luminance, (1.0 - x - y) / y * luminance};
}

// What the profile asks of this display: its matrix scaled to the measured
// white, and each channel's relative light through the tone curve.
class target_model {
  public:
    target_model(const profile &p, double white_y, double black_y)
        : p_(p), white_y_(white_y), black_y_(black_y < white_y ? black_y : 0.0) {
        white_ = xyz_of_xy(p.white_xy[0], p.white_xy[1], white_y);
        matrix primaries{};
        for (std::size_t c = 0; c < 3; ++c) {
            const triple column = xyz_of_xy(p.primaries[2 * c], p.primaries[2 * c + 1], 1.0);
            for (std::size_t row = 0; row < 3; ++row) primaries[3 * row + c] = column[row];
        }
        const triple scale = times(inverse(primaries), white_);
        for (std::size_t i = 0; i < 9; ++i) to_xyz_[i] = primaries[i] * scale[i % 3];
        to_rgb_ = inverse(to_xyz_);
    }

    triple xyz(const triple &rgb) const {
        triple light{};
        for (std::size_t c = 0; c < 3; ++c) light[c] = relative_light(rgb[c]);
        return times(to_xyz_, light);
    }
    triple rgb_light(const triple &xyz) const { return times(to_rgb_, xyz); }
    const triple &white() const { return white_; }

  private:
    double relative_light(double v) const {
        ca410_curve_params params{p_.gamma, white_y_, black_y_};
        double out = 0.0;
        switch (p_.curve) {
            case tone_curve::srgb:
                ca410ColourEOTF(CA_CURVE_SRGB, nullptr, &v, &out, 1);
                break;
            case tone_curve::gamma:
                ca410ColourEOTF(CA_CURVE_GAMMA, &params, &v, &out, 1);
                break;
            case tone_curve::bt1886:
                ca410ColourEOTF(CA_CURVE_BT1886, &params, &v, &out, 1);
                out /= white_y_;
                break;
            case tone_curve::pq:
                ca410ColourEOTF(CA_CURVE_PQ, nullptr, &v, &out, 1);
                out = std::min(out, white_y_) / white_y_;
                break;
        }
        return out;
    }

    const profile &p_;
    double white_y_, black_y_;
    triple white_{};
    matrix to_xyz_{}, to_rgb_{};
};

triple lab_of(const triple &xyz, const triple &white) {
    triple lab{};
    ca410ColourXYZToLab(xyz.data(), white.data(), lab.data());
    return lab;
}

double delta_e_2000(const triple &reference, const triple &sample, const triple &white) {
    const triple a = lab_of(reference, white), b = lab_of(sample, white);
    double de = 0.0;
    ca410ColourDeltaE(CA_DELTA_E_2000, a.data(), b.data(), &de);
    return de;
}

std::optional<ca410_chromaticity> chromaticity(const triple &xyz) {
    ca410_chromaticity c{};
    if (ca410ColourChromaticity(xyz.data(), &c) != CA_COLOUR_OK) return std::nullopt;
    return c;
}

std::optional<double> delta_uv(const triple &a, const triple &b) {
    const auto ca = chromaticity(a), cb = chromaticity(b);
    if (!ca || !cb) return std::nullopt;
    return std::hypot(ca->u_prime - cb->u_prime, ca->v_prime - cb->v_prime);
}

std::optional<std::array<double, 2>> xy_of(const triple &xyz) {
    const auto c = chromaticity(xyz);
    if (!c) return std::nullopt;
    return std::array<double, 2>{c->x, c->y};
}

verdict judge(const check &c) {
    if (!c.measured || std::isnan(*c.measured)) return verdict::not_measured;
    if (!c.tolerance || !c.limit) return verdict::reported;
    const double m = *c.measured, t = c.target.value_or(0.0), limit = *c.limit;
    bool ok = false;
    switch (tolerance_kinds[*c.tolerance].how) {
        case test::at_most:
            ok = m <= limit;
            break;
        case test::at_least:
            ok = m >= limit;
            break;
        case test::within:
            ok = std::fabs(m - t) <= limit;
            break;
        case test::within_percent:
            ok = std::fabs(m - t) <= limit / 100.0 * std::fabs(t);
            break;
    }
    return ok ? verdict::pass : verdict::fail;
}

// How far a figure strays, on its tolerance's scale: the worst of a group
// is the one with the largest.
double badness(const check &c) {
    const double m = *c.measured, t = c.target.value_or(0.0);
    switch (tolerance_kinds[*c.tolerance].how) {
        case test::at_most:
            return m;
        case test::at_least:
            return -m;
        case test::within:
            return std::fabs(m - t);
        case test::within_percent:
            return t == 0.0 ? 0.0 : std::fabs(m - t) / std::fabs(t);
    }
    return 0.0;
}

class checker_of_profile {
  public:
    explicit checker_of_profile(const profile &p) : p_(p) {}
    check operator()(std::string id, std::string figure, quantity of,
                     std::optional<double> measured, std::optional<double> target,
                     std::optional<tolerance_id> tolerance) const {
        check c{std::move(id), std::move(figure), of,           measured,
                target,        tolerance,         std::nullopt, verdict::not_measured};
        if (tolerance) c.limit = p_.tolerances[*tolerance];
        c.result = judge(c);
        return c;
    }

  private:
    const profile &p_;
};

std::string level_text(double level) {
    return number_text(std::round(level * 1000.0) / 10.0) + " %";
}

const patch_reading *find_drive(const std::vector<patch_reading> &readings, const triple &rgb) {
    for (const patch_reading &r : readings) {
        if (std::fabs(r.rgb[0] - rgb[0]) < 1e-9 && std::fabs(r.rgb[1] - rgb[1]) < 1e-9 &&
            std::fabs(r.rgb[2] - rgb[2]) < 1e-9)
            return &r;
    }
    return nullptr;
}

// Primaries and secondaries in the order a report lists them, by which
// channels are on.
const std::array<std::pair<int, const char *>, 6> primary_masks = {
    {{1, "Red"}, {2, "Green"}, {4, "Blue"}, {6, "Cyan"}, {5, "Magenta"}, {3, "Yellow"}}};

// The rank of a drive triple among primary_masks, if it is one of them.
std::optional<std::size_t> primary_rank(const triple &rgb) {
    const double level = std::max({rgb[0], rgb[1], rgb[2]});
    if (level <= 0.0) return std::nullopt;
    int mask = 0;
    for (std::size_t c = 0; c < 3; ++c) {
        if (rgb[c] == level)
            mask |= 1 << c;
        else if (rgb[c] != 0.0)
            return std::nullopt;
    }
    for (std::size_t i = 0; i < primary_masks.size(); ++i)
        if (primary_masks[i].first == mask) return i;
    return std::nullopt;  // all three: a grey
}

class evaluator {
  public:
    evaluator(const std::vector<patch_reading> &readings, const profile &p)
        : readings_(readings), make_(p) {
        e_.prof = p;
    }

    evaluation run() {
        const patch_reading *white = find_drive(readings_, {1, 1, 1});
        const patch_reading *black = find_drive(readings_, {0, 0, 0});
        if (white) e_.white = white->xyz;
        if (black) e_.black = black->xyz;
        if (e_.white && e_.white->at(1) > 0.0) {
            target_.emplace(e_.prof, e_.white->at(1), e_.black ? e_.black->at(1) : 0.0);
            e_.target_white = target_->white();
            grey_levels();
            coloured_patches();
            e_.patches_used = recognised();
        }
        white_checks();
        grey_checks();
        gamut_checks();
        checker_checks();
        summary();
        return std::move(e_);
    }

  private:
    // The readings that are a patch of the report (the first of each drive triple).
    std::size_t recognised() const {
        const patch_list checker = builtin_patches("checker");
        return static_cast<std::size_t>(
            std::count_if(readings_.begin(), readings_.end(), [&](const patch_reading &r) {
                const bool known =
                    (r.rgb[0] == r.rgb[1] && r.rgb[1] == r.rgb[2]) || primary_rank(r.rgb) ||
                    std::any_of(checker.begin(), checker.end(),
                                [&](const patch &p) { return find_drive({r}, p.rgb); });
                return known && find_drive(readings_, r.rgb) == &r;
            }));
    }

    void white_checks() {
        const std::optional<triple> &w = e_.white;
        const triple &tw = e_.target_white;
        const auto wc = w ? chromaticity(*w) : std::nullopt;
        const auto tc = target_ ? chromaticity(tw) : std::nullopt;
        double cct = 0, duv = 0, target_cct = 0, target_duv = 0;
        const bool has_cct = w && ca410ColourCCT(w->data(), &cct, &duv) == CA_COLOUR_OK;
        if (target_) ca410ColourCCT(tw.data(), &target_cct, &target_duv);
        auto opt = [](bool has, double v) { return has ? std::optional<double>(v) : std::nullopt; };
        auto &out = e_.white_checks;
        out.push_back(make_("white.luminance", "White luminance", quantity::luminance,
                            opt(w.has_value(), w ? (*w)[1] : 0), std::nullopt,
                            tol_white_luminance_min));
        out.push_back(make_("white.x", "White x", quantity::xy, opt(wc.has_value(), wc ? wc->x : 0),
                            opt(tc.has_value(), tc ? tc->x : 0), std::nullopt));
        out.push_back(make_("white.y", "White y", quantity::xy, opt(wc.has_value(), wc ? wc->y : 0),
                            opt(tc.has_value(), tc ? tc->y : 0), std::nullopt));
        out.push_back(make_("white.cct", "White CCT", quantity::cct, opt(has_cct, cct),
                            opt(target_.has_value(), target_cct), tol_white_cct_k));
        out.push_back(make_("white.duv", "White Δuv", quantity::duv, opt(has_cct, duv),
                            opt(target_.has_value(), target_duv), tol_white_duv));
        out.push_back(make_("white.delta_uv", "White Δu′v′ to the target", quantity::delta_uv,
                            target_ ? delta_uv(*w, tw) : std::nullopt, std::nullopt,
                            tol_white_delta_uv));
        out.push_back(make_("white.delta_e", "White ΔE2000 to the target", quantity::delta_e,
                            opt(target_.has_value(), target_ ? delta_e_2000(tw, *w, tw) : 0),
                            std::nullopt, tol_white_delta_e));
        out.push_back(make_("black.luminance", "Black luminance", quantity::luminance,
                            opt(e_.black.has_value(), e_.black ? (*e_.black)[1] : 0), std::nullopt,
                            tol_black_max));
        std::optional<double> contrast;
        double ratio = 0.0;
        if (w && e_.black &&
            ca410ColourContrastRatio((*w)[1], (*e_.black)[1], &ratio) == CA_COLOUR_OK)
            contrast = ratio;
        out.push_back(make_("contrast", "Contrast ratio", quantity::contrast, contrast,
                            std::nullopt, tol_contrast_min));
    }

    void grey_levels() {
        for (const patch_reading &r : readings_) {
            if (r.rgb[0] != r.rgb[1] || r.rgb[1] != r.rgb[2]) continue;
            if (std::any_of(e_.grey.begin(), e_.grey.end(),
                            [&](const grey_level &g) { return g.level == r.rgb[0]; }))
                continue;
            grey_level g;
            g.level = r.rgb[0];
            g.xyz = r.xyz;
            g.target_luminance = target_->xyz({g.level, g.level, g.level})[1];
            e_.grey.push_back(g);
        }
        std::sort(e_.grey.begin(), e_.grey.end(),
                  [](const grey_level &a, const grey_level &b) { return a.level < b.level; });
        point_gammas();
        for (grey_level &g : e_.grey) grey_level_checks(g);
    }

    void point_gammas() {
        std::vector<double> levels, y, target_y;
        for (const grey_level &g : e_.grey) {
            levels.push_back(g.level);
            y.push_back(g.xyz[1]);
            target_y.push_back(g.target_luminance);
        }
        const auto n = static_cast<int32_t>(levels.size());
        std::vector<double> gamma(levels.size()), target_gamma(levels.size());
        if (ca410ColourPointGamma(levels.data(), y.data(), n, gamma.data()) != CA_COLOUR_OK ||
            ca410ColourPointGamma(levels.data(), target_y.data(), n, target_gamma.data()) !=
                CA_COLOUR_OK)
            return;
        for (std::size_t i = 0; i < e_.grey.size(); ++i) {
            if (std::isnan(target_gamma[i])) continue;
            e_.grey[i].point_gamma = gamma[i];
            e_.grey[i].target_point_gamma = target_gamma[i];
        }
        double fit = 0.0, target_fit = 0.0;
        if (ca410ColourFitGamma(levels.data(), y.data(), n, &fit) == CA_COLOUR_OK &&
            ca410ColourFitGamma(levels.data(), target_y.data(), n, &target_fit) == CA_COLOUR_OK) {
            fitted_ = fit;
            target_fitted_ = target_fit;
        }
    }

    void grey_level_checks(grey_level &g) {
        if (g.level <= 0.0) return;  // black: its own lines
        const std::string name = "Grey " + level_text(g.level) + ": ";
        const double y = g.xyz[1];
        const triple &tw = e_.target_white;
        const triple target = {tw[0] * y / tw[1], y, tw[2] * y / tw[1]};
        g.checks.push_back(make_("grey.luminance", name + "luminance", quantity::luminance, y,
                                 g.target_luminance, tol_grey_luminance_percent));
        if (g.point_gamma)
            g.checks.push_back(make_("grey.point_gamma", name + "point gamma", quantity::gamma,
                                     g.point_gamma, g.target_point_gamma, tol_point_gamma));
        if (!chromaticity(g.xyz)) return;
        g.checks.push_back(make_("grey.delta_e", name + "ΔE2000", quantity::delta_e,
                                 delta_e_2000(target, g.xyz, tw), std::nullopt, tol_grey_delta_e));
        g.checks.push_back(make_("grey.delta_uv", name + "Δu′v′", quantity::delta_uv,
                                 delta_uv(g.xyz, target), std::nullopt, tol_grey_delta_uv));
        triple balance = target_->rgb_light(g.xyz);
        for (double &c : balance) c *= 100.0 * tw[1] / y;
        g.balance = balance;
    }

    colour_patch coloured(const patch_reading &r, const std::string &id, const std::string &figure,
                          tolerance_id tolerance) {
        colour_patch c;
        c.id = r.id;
        c.name = r.name;
        c.rgb = r.rgb;
        c.xyz = r.xyz;
        c.target_xyz = target_->xyz(r.rgb);
        c.xy = xy_of(c.xyz);
        c.target_xy = xy_of(c.target_xyz);
        c.delta_e =
            make_(id, figure, quantity::delta_e, delta_e_2000(c.target_xyz, c.xyz, e_.target_white),
                  std::nullopt, tolerance);
        return c;
    }

    void coloured_patches() {
        std::vector<std::pair<std::pair<std::size_t, double>, colour_patch>> ranked;
        for (const patch_reading &r : readings_) {
            const auto rank = primary_rank(r.rgb);
            if (!rank || find_drive(readings_, r.rgb) != &r) continue;
            const double level = std::max({r.rgb[0], r.rgb[1], r.rgb[2]});
            const std::string figure =
                std::string(primary_masks[*rank].second) + " " + level_text(level) + ": ΔE2000";
            ranked.push_back(
                {{*rank, level}, coloured(r, "gamut.delta_e", figure, tol_gamut_delta_e)});
        }
        std::sort(ranked.begin(), ranked.end(),
                  [](const auto &a, const auto &b) { return a.first < b.first; });
        for (auto &item : ranked) e_.gamut.push_back(std::move(item.second));
        for (const patch &p : builtin_patches("checker")) {
            const patch_reading *r = find_drive(readings_, p.rgb);
            if (r)
                e_.checker.push_back(
                    coloured(*r, "checker.patch", p.name + ": ΔE2000", tol_checker_delta_e_max));
        }
    }

    void grey_checks() {
        e_.grey_checks.push_back(make_("gamma", "Gamma (fitted to the grey scale)", quantity::gamma,
                                       fitted_, target_fitted_, tol_gamma));
    }

    void gamut_checks() {
        std::array<double, 6> triangle{};
        std::size_t found = 0;
        for (const colour_patch &c : e_.gamut) {
            const auto rank = primary_rank(c.rgb);
            if (*rank < 3 && std::max({c.rgb[0], c.rgb[1], c.rgb[2]}) == 1.0 && c.xy) {
                triangle[2 * *rank] = (*c.xy)[0];
                triangle[2 * *rank + 1] = (*c.xy)[1];
                ++found;
            }
        }
        std::optional<double> coverage, area;
        double value = 0.0;
        const std::string shown = space_of(e_.prof).shown;
        if (found == 3) {
            e_.triangle = triangle;
            const double *ref = e_.prof.primaries.data();
            if (ca410ColourGamutCoverage(triangle.data(), ref, &value) == CA_COLOUR_OK)
                coverage = 100.0 * value;
            if (ca410ColourGamutAreaRatio(triangle.data(), ref, &value) == CA_COLOUR_OK)
                area = 100.0 * value;
        }
        e_.gamut_checks.push_back(make_("gamut.coverage", "Coverage of " + shown, quantity::percent,
                                        coverage, 100.0, tol_coverage_min));
        e_.gamut_checks.push_back(make_("gamut.area", "Gamut area relative to " + shown,
                                        quantity::percent, area, 100.0, std::nullopt));
    }

    void checker_checks() {
        std::vector<double> de;
        for (const colour_patch &c : e_.checker) de.push_back(*c.delta_e.measured);
        std::optional<double> mean, p95, max;
        if (!de.empty()) {
            double sum = 0.0;
            for (double d : de) sum += d;
            mean = sum / static_cast<double>(de.size());
            p95 = percentile(de, 95.0);
            max = *std::max_element(de.begin(), de.end());
        }
        auto &out = e_.checker_checks;
        out.push_back(make_("checker.mean", "Colour checker: mean ΔE2000", quantity::delta_e, mean,
                            std::nullopt, tol_checker_delta_e_mean));
        out.push_back(make_("checker.p95", "Colour checker: 95th percentile ΔE2000",
                            quantity::delta_e, p95, std::nullopt, tol_checker_delta_e_p95));
        out.push_back(make_("checker.max", "Colour checker: largest ΔE2000", quantity::delta_e, max,
                            std::nullopt, tol_checker_delta_e_max));
    }

    // The worst line of a group, or a "not measured" line when it has none.
    check worst(const std::vector<const check *> &group, const std::string &id,
                const std::string &figure, quantity of, tolerance_id tolerance) const {
        const check *worst = nullptr;
        for (const check *c : group) {
            if (c->id == id && c->measured && !std::isnan(*c->measured) &&
                (!worst || badness(*c) > badness(*worst)))
                worst = c;
        }
        if (worst) return *worst;
        return make_(id, figure, of, std::nullopt, std::nullopt, tolerance);
    }

    void summary() {
        std::vector<const check *> all;
        for (const grey_level &g : e_.grey)
            for (const check &c : g.checks) all.push_back(&c);
        for (const colour_patch &c : e_.gamut) all.push_back(&c.delta_e);
        for (const colour_patch &c : e_.checker) all.push_back(&c.delta_e);
        auto &s = e_.summary;
        s = e_.white_checks;
        s.insert(s.end(), e_.grey_checks.begin(), e_.grey_checks.end());
        s.push_back(worst(all, "grey.luminance", "Grey scale: luminance", quantity::luminance,
                          tol_grey_luminance_percent));
        s.push_back(worst(all, "grey.point_gamma", "Grey scale: point gamma", quantity::gamma,
                          tol_point_gamma));
        s.push_back(
            worst(all, "grey.delta_e", "Grey scale: ΔE2000", quantity::delta_e, tol_grey_delta_e));
        s.push_back(worst(all, "grey.delta_uv", "Grey scale: Δu′v′", quantity::delta_uv,
                          tol_grey_delta_uv));
        s.push_back(worst(all, "gamut.delta_e", "Primaries and secondaries: ΔE2000",
                          quantity::delta_e, tol_gamut_delta_e));
        s.insert(s.end(), e_.gamut_checks.begin(), e_.gamut_checks.end());
        s.insert(s.end(), e_.checker_checks.begin(), e_.checker_checks.end());
        for (const check &c : s) all.push_back(&c);
        e_.overall = std::any_of(all.begin(), all.end(),
                                 [](const check *c) { return c && c->result == verdict::fail; })
                         ? verdict::fail
                         : verdict::pass;
    }

    const std::vector<patch_reading> &readings_;
    checker_of_profile make_;
    evaluation e_;
    std::optional<target_model> target_;
    std::optional<double> fitted_, target_fitted_;
};

}  // namespace

const char *verdict_text(verdict v) {
    switch (v) {
        case verdict::pass:
            return "PASS";
        case verdict::fail:
            return "FAIL";
        case verdict::not_measured:
            return "not measured";
        case verdict::reported:
            return "reported";
    }
    return "";
}

double percentile(std::vector<double> values, double percent) {
    std::sort(values.begin(), values.end());
    const double at = (static_cast<double>(values.size()) - 1.0) * percent / 100.0;
    const auto low = static_cast<std::size_t>(std::floor(at));
    if (low + 1 >= values.size()) return values.back();
    return values[low] + (values[low + 1] - values[low]) * (at - static_cast<double>(low));
}

evaluation evaluate(const std::vector<patch_reading> &readings, const profile &p) {
    return evaluator(readings, p).run();
}

}  // namespace cli::report
