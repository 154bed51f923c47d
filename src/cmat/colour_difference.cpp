#include "cmat/colour_difference.h"

#include <cmath>

#include "cmat/checked_map.h"

namespace {

constexpr double pi = 3.14159265358979323846;
constexpr double degrees = 180.0 / pi;
constexpr double radians = pi / 180.0;
constexpr double pow25_7 = 6103515625.0;  // 25^7

// Values within this bound keep every formula here far from overflow: C^7
// stays below 1e110 and every square below 1e32.
constexpr double tame_limit = 1e15;

double pow7(double c) {
    const double c2 = c * c;
    const double c3 = c2 * c;
    return c3 * c3 * c;
}

// sqrt(C^7 / (C^7 + 25^7)), the chroma weight shared by G and R_C; an
// overflowing C^7 is all chroma.
double chroma_weight(double c) {
    const double c7 = pow7(c);
    return std::isfinite(c7) ? std::sqrt(c7 / (c7 + pow25_7)) : 1.0;
}

bool finite6(const double *a, const double *b) {
    return std::isfinite(a[0]) && std::isfinite(a[1]) && std::isfinite(a[2]) &&
           std::isfinite(b[0]) && std::isfinite(b[1]) && std::isfinite(b[2]);
}

bool tame(const double *a, const double *b) {
    return std::fabs(a[0]) <= tame_limit && std::fabs(a[1]) <= tame_limit &&
           std::fabs(a[2]) <= tame_limit && std::fabs(b[0]) <= tame_limit &&
           std::fabs(b[1]) <= tame_limit && std::fabs(b[2]) <= tame_limit;
}

struct vec2 {
    double x;
    double y;
};

// The paper works with the hue angles h'1, h'2 and takes the mean hue h̄'
// and the hue difference Δh' the short way round. Here both come from the
// hue vectors (a', b), with no angle to round: h̄' points along the bisector
// of the short arc (the other hue when one colour has no chroma), and
// ΔH' = 2 sqrt(C'1 C'2) sin(Δh'/2) is found from their dot and cross
// products. Hues exactly opposite (a zero cross product, a negative dot
// product) have no short way: the paper's rule for |h'1 - h'2| = 180 takes
// the plain mean, 90 degrees past the hue below 180, and Δh' = h'2 - h'1.
struct hue_terms {
    vec2 mean;      // unit vector of h̄' ((1, 0) when neither has chroma)
    double big_dh;  // ΔH'
};

// Along the bisector of the short arc between hue vectors p and q: the sum
// of their unit vectors (p + q when one is zero), scaled by c1 c2 > 0. Hues
// more than 90 degrees apart take it square to the difference of the unit
// vectors instead, which does not cancel as the sum does near opposite hues;
// the cross product says which way round.
vec2 bisector(vec2 p, vec2 q, double c1, double c2, double cross, double dot) {
    if (!(c1 * c2 > 0.0)) return {p.x + q.x, p.y + q.y};
    if (dot > 0.0) return {p.x * c2 + q.x * c1, p.y * c2 + q.y * c1};
    const vec2 d{q.x * c1 - p.x * c2, q.y * c1 - p.y * c2};
    return cross >= 0.0 ? vec2{d.y, -d.x} : vec2{-d.y, d.x};
}

hue_terms hue_mean_and_difference(vec2 p, vec2 q, double c1, double c2) {
    const double product = c1 * c2;
    const double cross = p.x * q.y - q.x * p.y;
    const double dot = p.x * q.x + p.y * q.y;
    vec2 m = bisector(p, q, c1, c2, cross, dot);
    double sign = cross < 0.0 ? -1.0 : 1.0;
    if (product > 0.0 && cross == 0.0 && dot < 0.0) {
        const bool first_below_180 = p.y > 0.0 || (p.y == 0.0 && p.x > 0.0);
        const vec2 low = first_below_180 ? p : q;
        m = {-low.y, low.x};
        sign = first_below_180 ? 1.0 : -1.0;
    }
    const double norm = std::sqrt(m.x * m.x + m.y * m.y);
    const double inverse = norm > 0.0 ? 1.0 / norm : 0.0;
    const vec2 mean = norm > 0.0 ? vec2{m.x * inverse, m.y * inverse} : vec2{1.0, 0.0};
    // Each form where it keeps its precision: the cross product for hues
    // within 90 degrees, the chord for hues further apart.
    const double big_dh = dot > 0.0 ? cross / std::sqrt(0.5 * (product + dot))
                                    : sign * std::sqrt(2.0 * (product - dot));
    return {mean, big_dh};
}

// The angle of a unit vector in degrees, 0 to 360: atan of the ratio with
// the quadrant put back costs about half of atan2.
double angle_degrees(vec2 u) {
    if (u.x == 0.0) return u.y > 0.0 ? 90.0 : u.y < 0.0 ? 270.0 : 0.0;
    const double h = std::atan(u.y / u.x) * degrees;
    return u.x < 0.0 ? h + 180.0 : h < 0.0 ? h + 360.0 : h;
}

// sin x for 0 <= x <= pi / 3 (the range of 2 Δθ): its Taylor series to
// x^17, whose remainder stays below a quarter of the last place there.
double sin_to_60_degrees(double x) {
    constexpr double k[] = {
        1.0 / 355687428096000.0, -1.0 / 1307674368000.0, 1.0 / 6227020800.0, -1.0 / 39916800.0,
        1.0 / 362880.0,          -1.0 / 5040.0,          1.0 / 120.0,        -1.0 / 6.0};
    const double x2 = x * x;
    double p = k[0];
    for (int i = 1; i < 8; ++i) p = p * x2 + k[i];
    return x + x * x2 * p;
}

// T of the mean hue from its unit vector, by the multiple-angle identities:
// cos(h - 30), cos 2h, cos(3h + 6), cos(4h - 63).
double hue_weight(vec2 h) {
    const double c1 = h.x, s1 = h.y;
    const double c2 = c1 * c1 - s1 * s1, s2 = 2.0 * s1 * c1;
    const double c3 = c2 * c1 - s2 * s1, s3 = s2 * c1 + c2 * s1;
    const double c4 = c2 * c2 - s2 * s2, s4 = 2.0 * s2 * c2;
    // cos(x + k) = cos x cos k - sin x sin k, with the fixed angles' values.
    constexpr double cos30 = 0.86602540378443864676, sin30 = 0.5;
    constexpr double cos6 = 0.99452189536827333692, sin6 = 0.10452846326765347140;
    constexpr double cos63 = 0.45399049973954679156, sin63 = 0.89100652418836786236;
    return 1.0 - 0.17 * (c1 * cos30 + s1 * sin30) + 0.24 * c2 + 0.32 * (c3 * cos6 - s3 * sin6) -
           0.20 * (c4 * cos63 + s4 * sin63);
}

double cie76(const double *p, const double *q) {
    const double dl = q[0] - p[0], da = q[1] - p[1], db = q[2] - p[2];
    return std::sqrt(dl * dl + da * da + db * db);
}

// Graphic arts: kL = 1, K1 = 0.045, K2 = 0.015; the chroma weights come
// from the reference (the first colour). ΔH² is found as
// Δa² + Δb² - ΔC², never below 0.
double cie94(const double *p, const double *q) {
    const double c1 = std::sqrt(p[1] * p[1] + p[2] * p[2]);
    const double c2 = std::sqrt(q[1] * q[1] + q[2] * q[2]);
    const double dl = q[0] - p[0], dc = c2 - c1, da = q[1] - p[1], db = q[2] - p[2];
    const double dh2 = std::fmax(0.0, da * da + db * db - dc * dc);
    const double sc = 1.0 + 0.045 * c1, sh = 1.0 + 0.015 * c1;
    return std::sqrt(dl * dl + (dc / sc) * (dc / sc) + dh2 / (sh * sh));
}

double ciede2000_value(const double *p, const double *q) {
    ciede2000_terms t;
    ciede2000(p, q, &t);
    return t.delta_e;
}

using formula_fn = double (*)(const double *, const double *);
using pairs_fn = bool (*)(const double *, const double *, double *, size_t);

// One loop per formula, so that each calls its formula directly.
template <formula_fn Fn>
bool pairs(const double *lab1, const double *lab2, double *out, size_t count) {
    const auto kernel = [&](size_t i, double *r) {
        *r = Fn(lab1 + 3 * i, lab2 + 3 * i);
        return std::isfinite(*r);
    };
    const auto vouched = [&](size_t i) { return tame(lab1 + 3 * i, lab2 + 3 * i); };
    return checked_map<1>(count, out, kernel, vouched);
}

struct formula_def {
    delta_e_formula id;
    formula_fn one;
    pairs_fn many;
};

const formula_def formulas[] = {
    {delta_e_formula::cie76, cie76, pairs<cie76>},
    {delta_e_formula::cie94, cie94, pairs<cie94>},
    {delta_e_formula::ciede2000, ciede2000_value, pairs<ciede2000_value>},
};

const formula_def *find_formula(int32_t id) {
    for (const auto &f : formulas)
        if (static_cast<int32_t>(f.id) == id) return &f;
    return nullptr;
}

}  // namespace

bool ciede2000(const double lab1[3], const double lab2[3], ciede2000_terms *t) {
    const double c_bar = 0.5 * (std::sqrt(lab1[1] * lab1[1] + lab1[2] * lab1[2]) +
                                std::sqrt(lab2[1] * lab2[1] + lab2[2] * lab2[2]));
    const double g = 0.5 * (1.0 - chroma_weight(c_bar));
    const double a1 = (1.0 + g) * lab1[1], a2 = (1.0 + g) * lab2[1];
    const double c1 = std::sqrt(a1 * a1 + lab1[2] * lab1[2]);
    const double c2 = std::sqrt(a2 * a2 + lab2[2] * lab2[2]);
    const hue_terms hue = hue_mean_and_difference({a1, lab1[2]}, {a2, lab2[2]}, c1, c2);
    const double h_bar = angle_degrees(hue.mean);

    const double l50 = 0.5 * (lab1[0] + lab2[0]) - 50.0;
    const double c_mean = 0.5 * (c1 + c2);
    const double sl = 1.0 + 0.015 * l50 * l50 / std::sqrt(20.0 + l50 * l50);
    const double sc = 1.0 + 0.045 * c_mean;
    const double sh = 1.0 + 0.015 * c_mean * hue_weight(hue.mean);
    const double z = (h_bar - 275.0) * (1.0 / 25.0);
    const double rt =
        -sin_to_60_degrees(2.0 * radians * 30.0 * std::exp(-z * z)) * 2.0 * chroma_weight(c_mean);
    // One division for the three weights: the divider is this loop's bottleneck.
    const double inverse = 1.0 / (sl * sc * sh);
    const double tl = (lab2[0] - lab1[0]) * (sc * sh) * inverse;
    const double tc = (c2 - c1) * (sl * sh) * inverse;
    const double th = hue.big_dh * (sl * sc) * inverse;
    *t = {{a1, a2}, {c1, c2}, h_bar, std::sqrt(tl * tl + tc * tc + th * th + rt * tc * th)};
    return std::isfinite(t->delta_e);
}

int32_t delta_e(int32_t formula, const double lab1[3], const double lab2[3], double *out) {
    const formula_def *f = find_formula(formula);
    if (!f) return 2;
    if (!lab1 || !lab2 || !out || !finite6(lab1, lab2)) return 1;
    const double d = f->one(lab1, lab2);
    if (!std::isfinite(d)) return 1;
    *out = d;
    return 0;
}

int32_t delta_e_pairs(int32_t formula, const double *lab1, const double *lab2, double *out,
                      size_t count) {
    const formula_def *f = find_formula(formula);
    if (!f) return 2;
    if (count == 0) return 0;
    if (!lab1 || !lab2 || !out) return 1;
    return f->many(lab1, lab2, out, count) ? 0 : 1;
}
