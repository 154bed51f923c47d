// The colour library: chromaticity and CCT against a Planckian locus computed here,
// gamuts, spectra, and its C functions.
#include <gtest/gtest.h>

#include <cmath>
#include <tuple>
#include <utility>
#include <vector>

#include "ca410_colour.h"
#include "cmat/chromaticity.h"
#include "cmat/observers.h"

namespace {

using uv = std::pair<double, double>;

TEST(ColourChromaticity, CoordinatesDegenerateInputsAndD65) {
    const double xyz[3] = {1.0, 2.0, 3.0};  // sum 6, X + 15Y + 3Z = 40
    cie_chromaticity c{};
    ASSERT_EQ(xyz_to_chromaticity(xyz, &c), 0);
    EXPECT_EQ(std::make_tuple(c.x, c.y, c.u_prime, c.v_prime),
              std::make_tuple(1.0 / 6.0, 2.0 / 6.0, 4.0 / 40.0, 18.0 / 40.0));
    uv p;
    ASSERT_EQ(xyz_to_uv1960(xyz, &p.first, &p.second), 0);
    EXPECT_EQ(p, uv(4.0 / 40.0, 12.0 / 40.0));
    c.x = 9.0;  // rejected, the outputs left alone
    p = uv(9.0, 9.0);
    for (const auto &bad : {uv(0.0, 0.0), uv(-1.0, 0.0), uv(NAN, 1.0), uv(1.0, INFINITY)}) {
        const double xyz[3] = {bad.first, bad.second, 0.0};
        EXPECT_EQ(xyz_to_chromaticity(xyz, &c), 1);
        EXPECT_EQ(xyz_to_cct(xyz, &p.first, &p.second), 1);
    }
    EXPECT_EQ(planckian_uv1960(0.0, &p.first, &p.second), 1);
    EXPECT_EQ(planckian_uv1960(NAN, &p.first, &p.second), 1);
    EXPECT_EQ(uv1960_to_cct(NAN, 0.3, &p.first, &p.second), 1);
    EXPECT_EQ(std::make_pair(c.x, p), std::make_pair(9.0, uv(9.0, 9.0)));
    // Published figures for D65: x, y, u', v', CCT 6504 K just above the locus.
    const double d65[3] = {95.047, 100.0, 108.883};
    ca410_chromaticity d{};
    ASSERT_EQ(ca410ColourChromaticity(d65, &d), CA_COLOUR_OK);
    EXPECT_NEAR(d.x, 0.31273, 1e-5);
    EXPECT_NEAR(d.y, 0.32902, 1e-5);
    EXPECT_NEAR(d.u_prime, 0.19783, 1e-5);
    EXPECT_NEAR(d.v_prime, 0.46833, 1e-5);
    ASSERT_EQ(ca410ColourCCT(d65, &p.first, &p.second), CA_COLOUR_OK);
    EXPECT_NEAR(p.first, 6504.0, 2.0);
    EXPECT_NEAR(p.second, 0.0032, 1e-4);
}

// Planck's law (c2 in m K; c1 cancels out), summed over every tabulated nm.
uv reference_planck(double t) {
    constexpr double c2 = 1.4388e-2;
    double s[3] = {0.0, 0.0, 0.0};
    for (int nm = 360; nm <= 830; ++nm) {
        const double l = nm * 1e-9;
        const double m = 1.0 / (std::pow(l, 5) * (std::exp(c2 / (l * t)) - 1.0));
        for (int j = 0; j < 3; ++j) s[j] += m * ob_CIE_1931_2[j].values[nm - 360];
    }
    const double d = s[0] + 15.0 * s[1] + 3.0 * s[2];
    return {4.0 * s[0] / d, 6.0 * s[1] / d};
}

// The locus matches. A point at distance `off` from it along its normal at t
// has t as its CCT and `off` as its Δuv (positive above, where v is larger),
// except next to the end nodes of the search's 1 % grid from 500 to 100000 K.
TEST(ColourCct, PointsOnTheNormalsOfTheLocus) {
    for (double t : {500.0, 505.0, 1e3, 1850.0, 2856.0, 4321.0, 6504.0, 2e4, 5e4, 99527.0, 1e5}) {
        const auto [u0, v0] = reference_planck(t);
        uv p;
        ASSERT_EQ(planckian_uv1960(t, &p.first, &p.second), 0);
        EXPECT_LT(std::hypot(p.first - u0, p.second - v0), 1e-12) << t;
        const auto [u1, v1] = reference_planck(t * 0.9999);
        const auto [u2, v2] = reference_planck(t * 1.0001);
        const double len = std::hypot(u2 - u1, v2 - v1);
        for (double off : {-0.03, -0.006, 0.0, 0.004, 0.03}) {
            double cct = 9.0, duv = 9.0;
            const bool end = t == 500.0 || t == 1e5;
            EXPECT_EQ(
                uv1960_to_cct(u0 + off * (v2 - v1) / len, v0 - off * (u2 - u1) / len, &cct, &duv),
                end ? 1 : 0)
                << t << " K, " << off;
            EXPECT_NEAR(cct, end ? 9.0 : t, 1e-5 * t) << t << " K, " << off;
            EXPECT_NEAR(duv, end ? 9.0 : off, 1e-9) << t << " K, " << off;
        }
    }
}

using tri = std::vector<double>;

double hand_area(const tri &t) {
    return 0.5 * std::fabs(t[0] * (t[3] - t[5]) + t[2] * (t[5] - t[1]) + t[4] * (t[1] - t[3]));
}

// Against areas worked out here: sRGB lies inside DCI-P3; two equilateral
// triangles about one centre, one turned by 180°, overlap by 2/3.
TEST(ColourGamut, AreaRatioCoverageAndReferences) {
    tri srgb(6), p3(6), white(2);
    ASSERT_EQ(ca410ColourReferenceGamut(CA_GAMUT_SRGB, srgb.data(), nullptr), CA_COLOUR_OK);
    ASSERT_EQ(ca410ColourReferenceGamut(CA_GAMUT_DCI_P3, p3.data(), white.data()), CA_COLOUR_OK);
    EXPECT_EQ(white, tri({0.314, 0.351}));
    const double in_p3 = hand_area(srgb) / hand_area(p3), r = 0.2, h = std::sqrt(0.75) * r;
    const tri up = {0.3, 0.3 + r, 0.3 - h, 0.3 - r / 2, 0.3 + h, 0.3 - r / 2};
    const tri down = {0.3, 0.3 - r, 0.3 + h, 0.3 + r / 2, 0.3 - h, 0.3 + r / 2};
    const std::tuple<tri, tri, double, double> cases[] = {
        {srgb, srgb, 1.0, 1.0},
        {{srgb[0], srgb[1], srgb[4], srgb[5], srgb[2], srgb[3]}, srgb, 1.0, 1.0},  // clockwise
        {srgb, p3, in_p3, in_p3},
        {p3, srgb, 1.0 / in_p3, 1.0},
        {up, down, 1.0, 2.0 / 3.0},
        {{0, 0, 1, 0, 0, 1}, {0, 0, 1, 0, 1, 1}, 1.0, 0.5},                  // halves of a square
        {{0, 0, 0.1, 0, 0, 0.1}, {0.5, 0.5, 0.6, 0.5, 0.5, 0.6}, 1.0, 0.0},  // apart
        {{0, 0, 0.5, 0.5, 1, 1}, srgb, 0.0, 0.0}};                           // a line
    for (const auto &[t, ref, ratio, coverage] : cases) {
        double got[2] = {-1.0, -1.0};
        ASSERT_EQ(ca410ColourGamutAreaRatio(t.data(), ref.data(), &got[0]), CA_COLOUR_OK);
        ASSERT_EQ(ca410ColourGamutCoverage(t.data(), ref.data(), &got[1]), CA_COLOUR_OK);
        EXPECT_NEAR(got[0], ratio, 1e-12) << t[0] << " " << ref[0];
        EXPECT_NEAR(got[1], coverage, 1e-12) << t[0] << " " << ref[0];
    }
    double area = 0.0;  // the figures the header quotes
    ASSERT_EQ(ca410ColourTriangleArea(srgb.data(), &area), CA_COLOUR_OK);
    EXPECT_NEAR(area, 0.11205, 1e-12);
    EXPECT_NEAR(in_p3, 0.7372, 5e-5);
    for (const auto &[id, name] : {std::pair{1, "sRGB"}, {2, "DCI-P3"}, {3, "BT.2020"}})
        EXPECT_STREQ(ca410ColourGamutName(id), name);
    EXPECT_EQ(ca410ColourGamutName(0), nullptr);
    EXPECT_EQ(ca410ColourReferenceGamut(4, srgb.data(), nullptr), CA_COLOUR_E_ARGS);
}

// Every whole nm from 380 nm to 780 nm, and nothing outside, against the table.
TEST(ColourApi, SpectrumToXyzCoversOnlyTheSpectrumsRange) {
    const std::vector<double> flat(81, 2.0);  // 380 nm to 780 nm at 5 nm
    for (const auto &[observer, cmf] : {std::pair{CA_OBSERVER_CIE1931_2, ob_CIE_1931_2},
                                        std::pair{CA_OBSERVER_CIE1964_10, ob_CIE_1964_10}}) {
        double xyz[3] = {};
        ASSERT_EQ(ca410ColourSpectrumToXYZ(observer, 380, 5, flat.data(), 81, xyz), CA_COLOUR_OK);
        for (int j = 0; j < 3; ++j) {
            double want = 0.0;
            for (int nm = 380; nm <= 780; ++nm) want += 2.0 * 0.683002 * cmf[j].values[nm - 360];
            EXPECT_NEAR(xyz[j], want, 1e-9 * want) << j;
        }
    }
}

// Counted, then filled: 520 nm, the top of the horseshoe, from the published x̄ ȳ z̄.
TEST(ColourApi, SpectralLocus) {
    int32_t n = 0;
    std::vector<double> nm(471), xy(2 * 471);
    ASSERT_EQ(ca410ColourSpectralLocus(2, nullptr, nullptr, 0, &n), CA_COLOUR_OK);
    EXPECT_EQ(ca410ColourSpectralLocus(2, nm.data(), xy.data(), n - 1, &n), CA_COLOUR_E_SIZE);
    EXPECT_EQ(nm[0], 0.0);  // nothing written
    ASSERT_EQ(ca410ColourSpectralLocus(2, nm.data(), xy.data(), n, &n), CA_COLOUR_OK);
    EXPECT_EQ(std::make_tuple(nm[0], nm[160], nm[470]), std::make_tuple(360.0, 520.0, 830.0));
    EXPECT_NEAR(xy[320], 0.074302, 1e-5);
    EXPECT_NEAR(xy[321], 0.833800, 1e-5);
}

TEST(ColourApi, ResultCodes) {
    const double one[3] = {1, 1, 1}, black[3] = {0, 0, 0}, nan3[3] = {1, NAN, 1};
    const double deep_blue[3] = {0.15, 0.06, 0.79};  // nearest the locus's 100000 K end
    const double bad_xy[6] = {0, 0, NAN, 0, 0, 1}, flat_xy[6] = {0, 0, 0.5, 0.5, 1, 1};
    ca410_chromaticity c{};
    double a = 0, b = 0, xyz[3] = {};
    int32_t n = 0;
    EXPECT_EQ(ca410ColourChromaticity(nullptr, &c), CA_COLOUR_E_ARGS);
    EXPECT_EQ(ca410ColourChromaticity(black, &c), CA_COLOUR_E_DOMAIN);
    EXPECT_EQ(ca410ColourCCT(one, &a, nullptr), CA_COLOUR_E_ARGS);
    EXPECT_EQ(ca410ColourCCT(black, &a, &b), CA_COLOUR_E_DOMAIN);
    EXPECT_EQ(ca410ColourCCT(deep_blue, &a, &b), CA_COLOUR_E_DOMAIN);
    EXPECT_EQ(ca410ColourSpectrumToXYZ(1964, 400, 1, one, 3, xyz), CA_COLOUR_E_ARGS);
    EXPECT_EQ(ca410ColourSpectrumToXYZ(2, 400, 1, one, 1, xyz), CA_COLOUR_E_ARGS);
    EXPECT_EQ(ca410ColourSpectrumToXYZ(2, 400, 0, one, 3, xyz), CA_COLOUR_E_ARGS);
    EXPECT_EQ(ca410ColourSpectrumToXYZ(2, 400, 1, nan3, 3, xyz), CA_COLOUR_E_DOMAIN);
    EXPECT_EQ(ca410ColourSpectrumToXYZ(2, 0, 1e308, one, 3, xyz), CA_COLOUR_E_DOMAIN);
    EXPECT_EQ(ca410ColourSpectrumToXYZ(2, 900, 1, one, 3, xyz), CA_COLOUR_E_DOMAIN);
    EXPECT_EQ(ca410ColourTriangleArea(bad_xy, &a), CA_COLOUR_E_DOMAIN);
    EXPECT_EQ(ca410ColourGamutAreaRatio(bad_xy, nullptr, &a), CA_COLOUR_E_ARGS);
    EXPECT_EQ(ca410ColourGamutAreaRatio(flat_xy, flat_xy, &a), CA_COLOUR_E_DOMAIN);
    EXPECT_EQ(ca410ColourGamutCoverage(bad_xy, flat_xy, &a), CA_COLOUR_E_DOMAIN);
    EXPECT_EQ(ca410ColourSpectralLocus(0, nullptr, nullptr, 0, &n), CA_COLOUR_E_ARGS);
    EXPECT_EQ(ca410ColourSpectralLocus(2, nullptr, nullptr, 0, nullptr), CA_COLOUR_E_ARGS);
}

}  // namespace
