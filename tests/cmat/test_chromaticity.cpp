// Chromaticity coordinates, and CCT with Δuv against a brute-force search of
// a Planckian locus computed here on its own.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "cmat/chromaticity.h"
#include "cmat/observers.h"

namespace {

TEST(CmatChromaticity, CoordinatesOfEqualEnergy) {
    const double equal[3] = {2.0, 2.0, 2.0};
    cie_chromaticity c{};
    ASSERT_EQ(xyz_to_chromaticity(equal, &c), 0);
    EXPECT_DOUBLE_EQ(c.x, 1.0 / 3.0);
    EXPECT_DOUBLE_EQ(c.y, 1.0 / 3.0);
    EXPECT_DOUBLE_EQ(c.u_prime, 4.0 / 19.0);
    EXPECT_DOUBLE_EQ(c.v_prime, 9.0 / 19.0);
    double u = 0.0;
    double v = 0.0;
    ASSERT_EQ(xyz_to_uv1960(equal, &u, &v), 0);
    EXPECT_DOUBLE_EQ(u, 4.0 / 19.0);
    EXPECT_DOUBLE_EQ(v, 6.0 / 19.0);
}

TEST(CmatChromaticity, RejectsDegenerateInputAndLeavesOutputs) {
    const double bad[][3] = {
        {0.0, 0.0, 0.0}, {-1.0, 0.0, 0.0}, {NAN, 1.0, 1.0}, {1.0, INFINITY, 1.0}};
    for (const auto &xyz : bad) {
        cie_chromaticity c{9.0, 9.0, 9.0, 9.0};
        EXPECT_EQ(xyz_to_chromaticity(xyz, &c), 1);
        EXPECT_EQ(c.x, 9.0);
        EXPECT_EQ(c.v_prime, 9.0);
        double cct = 9.0;
        double duv = 9.0;
        EXPECT_EQ(xyz_to_cct(xyz, &cct, &duv), 1);
        EXPECT_EQ(cct, 9.0);
        EXPECT_EQ(duv, 9.0);
    }
    double u = 9.0;
    EXPECT_EQ(planckian_uv1960(0.0, &u, &u), 1);
    EXPECT_EQ(planckian_uv1960(NAN, &u, &u), 1);
    EXPECT_EQ(u, 9.0);
}

// --- reference --------------------------------------------------------------

// Planck's law in SI units, summed over every tabulated nm (360 to 830).
struct uv {
    double u;
    double v;
};

uv reference_planck(double t) {
    constexpr double c1 = 3.741771852e-16;  // W m^2
    constexpr double c2 = 1.4388e-2;        // m K
    double s[3] = {0.0, 0.0, 0.0};
    for (int nm = 360; nm <= 830; ++nm) {
        const double l = nm * 1e-9;
        const double m = c1 / (std::pow(l, 5) * (std::exp(c2 / (l * t)) - 1.0));
        for (int j = 0; j < 3; ++j) s[j] += m * ob_CIE_1931_2[j].values[nm - 360];
    }
    const double d = s[0] + 15.0 * s[1] + 3.0 * s[2];
    return {4.0 * s[0] / d, 6.0 * s[1] / d};
}

double dist(uv a, double u, double v) {
    return std::hypot(u - a.u, v - a.v);
}

// Nearest temperature by plain scanning: a coarse sweep, then two finer
// sweeps around the best point, down to steps of 2.5e-7 relative.
struct brute_result {
    double t;
    double duv;
};

struct locus_node {
    double t;
    uv p;
};

const std::vector<locus_node> &coarse_locus() {
    static const std::vector<locus_node> nodes = [] {
        std::vector<locus_node> n;
        for (double t = 900.0; t <= 25000.0; t *= 1.0025) n.push_back({t, reference_planck(t)});
        return n;
    }();
    return nodes;
}

brute_result brute_force_cct(double u, double v) {
    double best_t = 0.0;
    double best_d = INFINITY;
    for (const locus_node &n : coarse_locus()) {
        const double d = dist(n.p, u, v);
        if (d < best_d) best_d = d, best_t = n.t;
    }
    for (double rel : {0.0025 / 100, 0.0025 / 10000}) {
        const double centre = best_t;
        for (int k = -100; k <= 100; ++k) {
            const double t = centre * (1.0 + k * rel);
            const double d = dist(reference_planck(t), u, v);
            if (d < best_d) best_d = d, best_t = t;
        }
    }
    const uv p = reference_planck(best_t);
    return {best_t, v >= p.v ? best_d : -best_d};
}

TEST(CmatPlanck, LocusMatchesIndependentComputation) {
    for (double t : {500.0, 1000.0, 2856.0, 6504.0, 20000.0, 100000.0}) {
        double u = 0.0;
        double v = 0.0;
        ASSERT_EQ(planckian_uv1960(t, &u, &v), 0);
        const uv r = reference_planck(t);
        EXPECT_NEAR(u, r.u, 1e-12) << t;
        EXPECT_NEAR(v, r.v, 1e-12) << t;
    }
}

// A published anchor for the reference locus below: D65, above the locus.
TEST(CmatCct, D65) {
    const double d65[3] = {95.047, 100.0, 108.883};
    double cct = 0.0;
    double duv = 0.0;
    ASSERT_EQ(xyz_to_cct(d65, &cct, &duv), 0);
    EXPECT_NEAR(cct, 6504.0, 3.0);
    EXPECT_NEAR(duv, 0.0032, 1e-4);
}

TEST(CmatCct, AgreesWithBruteForceFrom1000To20000K) {
    const std::vector<double> temps = {1000, 1234, 1850, 2700,  3500,  4321,
                                       5000, 6500, 8000, 11000, 15000, 20000};
    const std::vector<double> offsets = {-0.03, -0.006, 0.0, 0.004, 0.03};
    for (double t : temps) {
        // A point off the locus along its rough normal at t.
        const uv p = reference_planck(t);
        const uv q = reference_planck(t * 1.001);
        const double tu = q.u - p.u;
        const double tv = q.v - p.v;
        const double len = std::hypot(tu, tv);
        for (double off : offsets) {
            const double u = p.u + off * tv / len;
            const double v = p.v - off * tu / len;
            const brute_result ref = brute_force_cct(u, v);
            double cct = 0.0;
            double duv = 0.0;
            ASSERT_EQ(uv1960_to_cct(u, v, &cct, &duv), 0) << t << " " << off;
            EXPECT_LT(std::fabs(cct - ref.t), 0.5) << t << " " << off;
            EXPECT_LT(std::fabs(duv - ref.duv), 1e-5) << t << " " << off;
            if (off != 0.0) {
                EXPECT_EQ(duv > 0, off > 0) << t << " " << off;
            }
        }
    }
}

TEST(CmatCct, OutsideTheSearchedRangeFails) {
    double u = 0.0;
    double v = 0.0;
    ASSERT_EQ(planckian_uv1960(300.0, &u, &v), 0);
    double cct = 9.0;
    double duv = 9.0;
    EXPECT_EQ(uv1960_to_cct(u, v, &cct, &duv), 1);
    EXPECT_EQ(uv1960_to_cct(NAN, v, &cct, &duv), 1);
    EXPECT_EQ(cct, 9.0);
    EXPECT_EQ(duv, 9.0);
}

}  // namespace
