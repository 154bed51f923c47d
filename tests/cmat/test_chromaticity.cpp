// Chromaticity coordinates, and CCT with Δuv against a Planckian locus
// computed here on its own.
#include <gtest/gtest.h>

#include <cmath>
#include <utility>

#include "cmat/chromaticity.h"
#include "cmat/observers.h"

namespace {

TEST(CmatChromaticity, Coordinates) {
    const double xyz[3] = {1.0, 2.0, 3.0};  // sum 6, X + 15Y + 3Z = 40
    cie_chromaticity c{};
    ASSERT_EQ(xyz_to_chromaticity(xyz, &c), 0);
    EXPECT_DOUBLE_EQ(c.x, 1.0 / 6.0);
    EXPECT_DOUBLE_EQ(c.y, 2.0 / 6.0);
    EXPECT_DOUBLE_EQ(c.u_prime, 4.0 / 40.0);
    EXPECT_DOUBLE_EQ(c.v_prime, 18.0 / 40.0);
    double u = 0.0;
    double v = 0.0;
    ASSERT_EQ(xyz_to_uv1960(xyz, &u, &v), 0);
    EXPECT_EQ(std::make_pair(u, v), std::make_pair(4.0 / 40.0, 12.0 / 40.0));
}

TEST(CmatChromaticity, RejectsDegenerateInputAndLeavesOutputs) {
    const double bad[][3] = {
        {0.0, 0.0, 0.0}, {-1.0, 0.0, 0.0}, {NAN, 1.0, 1.0}, {1.0, INFINITY, 1.0}};
    for (const auto &xyz : bad) {
        cie_chromaticity c{9.0, 9.0, 9.0, 9.0};
        EXPECT_EQ(xyz_to_chromaticity(xyz, &c), 1);
        EXPECT_EQ(c.x, 9.0);
        double cct = 9.0;
        double duv = 9.0;
        EXPECT_EQ(xyz_to_cct(xyz, &cct, &duv), 1);
        EXPECT_EQ(std::make_pair(cct, duv), std::make_pair(9.0, 9.0));
    }
    double u = 9.0;
    EXPECT_EQ(planckian_uv1960(0.0, &u, &u), 1);
    EXPECT_EQ(planckian_uv1960(NAN, &u, &u), 1);
    EXPECT_EQ(u, 9.0);
}

// Planck's law in SI units, summed over every tabulated nm (360 to 830).
std::pair<double, double> reference_planck(double t) {
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

TEST(CmatPlanck, LocusMatchesIndependentComputation) {
    for (double t : {500.0, 1000.0, 2856.0, 6504.0, 20000.0, 100000.0}) {
        std::pair<double, double> uv;
        ASSERT_EQ(planckian_uv1960(t, &uv.first, &uv.second), 0);
        EXPECT_NEAR(uv.first, reference_planck(t).first, 1e-12) << t;
        EXPECT_NEAR(uv.second, reference_planck(t).second, 1e-12) << t;
    }
}

// A point at distance `off` from the locus along its normal at t has t as its
// CCT and `off` as its Δuv (positive above the locus, where v is larger).
TEST(CmatCct, PointsOnTheNormalsOfTheLocus) {
    for (double t : {520, 1000, 1234, 1850, 2700, 4321, 6500, 11000, 20000, 50000, 99000}) {
        const auto [u0, v0] = reference_planck(t);
        const auto [u1, v1] = reference_planck(t * 0.9999);
        const auto [u2, v2] = reference_planck(t * 1.0001);
        const double len = std::hypot(u2 - u1, v2 - v1);
        for (double off : {-0.03, -0.006, 0.0, 0.004, 0.03}) {
            double cct = 0.0;
            double duv = 0.0;
            ASSERT_EQ(
                uv1960_to_cct(u0 + off * (v2 - v1) / len, v0 - off * (u2 - u1) / len, &cct, &duv),
                0)
                << t << " K, " << off;
            EXPECT_NEAR(cct, t, 1e-5 * t) << off;
            EXPECT_NEAR(duv, off, 1e-9) << t << " K";
        }
    }
}

// The search covers 500 K to 100000 K on a 1 % grid: a point nearest either
// end node fails, one nearest the node next to it does not.
TEST(CmatCct, EndsOfTheSearchedRange) {
    for (const auto &[t, result] : {std::pair{300.0, 1}, std::pair{99527.0, 0}, std::pair{505.0, 0},
                                    std::pair{100000.0, 1}}) {
        double u = 0.0;
        double v = 0.0;
        ASSERT_EQ(planckian_uv1960(t, &u, &v), 0);
        double cct = 9.0;
        double duv = 9.0;
        EXPECT_EQ(uv1960_to_cct(u, v, &cct, &duv), result) << t;
        EXPECT_NEAR(cct, result == 0 ? t : 9.0, 1e-6 * t) << t;
    }
    double cct = 9.0;
    double duv = 9.0;
    EXPECT_EQ(uv1960_to_cct(NAN, 0.3, &cct, &duv), 1);
    EXPECT_EQ(std::make_pair(cct, duv), std::make_pair(9.0, 9.0));
}

}  // namespace
