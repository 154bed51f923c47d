#include "cmat/gamut.h"

#include <cmath>

namespace {

struct point {
    double x;
    double y;
};

// Twice the signed area: positive when the corners run anticlockwise.
double signed_area2(const point *p, size_t n) {
    double s = 0.0;
    for (size_t i = 0; i < n; ++i) {
        const point &a = p[i];
        const point &b = p[(i + 1) % n];
        s += a.x * b.y - b.x * a.y;
    }
    return s;
}

// The triangle's corners, anticlockwise, so that "inside" is to the left of
// every edge whichever way the caller listed them.
void corners_anticlockwise(const xy_triangle &t, point out[3]) {
    for (int i = 0; i < 3; ++i) out[i] = {t.v[2 * i], t.v[2 * i + 1]};
    if (signed_area2(out, 3) < 0.0) {
        const point swap = out[1];
        out[1] = out[2];
        out[2] = swap;
    }
}

double cross(const point &a, const point &b, const point &p) {
    return (b.x - a.x) * (p.y - a.y) - (b.y - a.y) * (p.x - a.x);
}

bool finite(const xy_triangle &t) {
    for (double c : t.v)
        if (!std::isfinite(c)) return false;
    return true;
}

// Clipping a triangle by three half-planes adds at most one corner per edge.
constexpr size_t max_corners = 6;

const reference_gamut_def reference_gamuts[] = {
    {reference_gamut::srgb, "sRGB", {{0.640, 0.330, 0.300, 0.600, 0.150, 0.060}}, {0.3127, 0.3290}},
    {reference_gamut::dci_p3,
     "DCI-P3",
     {{0.680, 0.320, 0.265, 0.690, 0.150, 0.060}},
     {0.314, 0.351}},
    {reference_gamut::bt2020,
     "BT.2020",
     {{0.708, 0.292, 0.170, 0.797, 0.131, 0.046}},
     {0.3127, 0.3290}},
};

}  // namespace

double triangle_area(const xy_triangle &t) {
    point p[3];
    corners_anticlockwise(t, p);
    return 0.5 * signed_area2(p, 3);
}

double triangle_intersection_area(const xy_triangle &a, const xy_triangle &b) {
    point clip[3];
    corners_anticlockwise(b, clip);
    point poly[max_corners + 1];
    corners_anticlockwise(a, poly);
    size_t n = 3;
    // Sutherland-Hodgman: keep the part of the polygon left of each edge of
    // the (convex) clip triangle. Points on an edge count as inside, so
    // identical triangles come through whole.
    for (int e = 0; e < 3 && n > 0; ++e) {
        const point &c0 = clip[e];
        const point &c1 = clip[(e + 1) % 3];
        point next[max_corners + 1];
        size_t m = 0;
        for (size_t i = 0; i < n; ++i) {
            const point &p = poly[i];
            const point &q = poly[(i + 1) % n];
            const double dp = cross(c0, c1, p);
            const double dq = cross(c0, c1, q);
            if (dp >= 0.0) next[m++] = p;
            if ((dp >= 0.0) != (dq >= 0.0) && m <= max_corners) {
                const double t = dp / (dp - dq);
                next[m++] = {p.x + t * (q.x - p.x), p.y + t * (q.y - p.y)};
            }
        }
        n = m;
        for (size_t i = 0; i < n; ++i) poly[i] = next[i];
    }
    return n < 3 ? 0.0 : 0.5 * std::fabs(signed_area2(poly, n));
}

int32_t gamut_area_ratio(const xy_triangle &t, const xy_triangle &ref, double *ratio) {
    if (!ratio || !finite(t) || !finite(ref)) return 1;
    const double ref_area = triangle_area(ref);
    if (!(ref_area > 0.0) || !std::isfinite(ref_area)) return 1;
    const double r = triangle_area(t) / ref_area;
    if (!std::isfinite(r)) return 1;
    *ratio = r;
    return 0;
}

int32_t gamut_coverage(const xy_triangle &t, const xy_triangle &ref, double *coverage) {
    if (!coverage || !finite(t) || !finite(ref)) return 1;
    const double ref_area = triangle_area(ref);
    if (!(ref_area > 0.0) || !std::isfinite(ref_area)) return 1;
    // Rounding in the clipped corners may carry a contained reference a hair
    // past its own area.
    const double shared = triangle_intersection_area(t, ref);
    if (!std::isfinite(shared)) return 1;
    *coverage = std::fmin(1.0, shared / ref_area);
    return 0;
}

const reference_gamut_def *find_reference_gamut(int32_t id) {
    for (const auto &g : reference_gamuts)
        if (static_cast<int32_t>(g.id) == id) return &g;
    return nullptr;
}

size_t spectral_locus_size(const xspect *const cmf[3]) {
    return cmf[0]->count > 0 ? static_cast<size_t>(cmf[0]->count) : 0;
}

void spectral_locus(const xspect *const cmf[3], double *nm, double *xy) {
    const size_t n = spectral_locus_size(cmf);
    const double step = n > 1 ? (cmf[0]->wl_long - cmf[0]->wl_short) / (n - 1) : 0.0;
    for (size_t k = 0; k < n; ++k) {
        if (nm) nm[k] = cmf[0]->wl_short + k * step;
        if (!xy) continue;
        const double x = cmf[0]->values[k];
        const double y = cmf[1]->values[k];
        const double sum = x + y + cmf[2]->values[k];
        xy[2 * k] = x / sum;
        xy[2 * k + 1] = y / sum;
    }
}
