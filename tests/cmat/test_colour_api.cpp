// The colour library's C functions: gamut figures against areas worked out
// here by hand, the reference gamuts, spectra, the locus and the result codes.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "ca410_colour.h"
#include "cmat/observers.h"

namespace {

using tri = std::vector<double>;

// Shoelace, written out for three corners.
double hand_area(const tri &t) {
    return 0.5 * std::fabs(t[0] * (t[3] - t[5]) + t[2] * (t[5] - t[1]) + t[4] * (t[1] - t[3]));
}

TEST(ColourGamut, ReferenceGamuts) {
    const struct {
        int32_t id;
        const char *name;
        tri xy, white;
    } known[] = {
        {CA_GAMUT_SRGB, "sRGB", {0.64, 0.33, 0.3, 0.6, 0.15, 0.06}, {0.3127, 0.329}},
        {CA_GAMUT_DCI_P3, "DCI-P3", {0.68, 0.32, 0.265, 0.69, 0.15, 0.06}, {0.314, 0.351}},
        {CA_GAMUT_BT2020, "BT.2020", {0.708, 0.292, 0.17, 0.797, 0.131, 0.046}, {0.3127, 0.329}}};
    for (const auto &k : known) {
        tri xy(6), white(2);
        ASSERT_EQ(ca410ColourReferenceGamut(k.id, xy.data(), white.data()), CA_COLOUR_OK);
        EXPECT_EQ(xy, k.xy);
        EXPECT_EQ(white, k.white);
        EXPECT_STREQ(ca410ColourGamutName(k.id), k.name);
    }
    double xy[6] = {};
    EXPECT_EQ(ca410ColourReferenceGamut(0, xy, nullptr), CA_COLOUR_E_ARGS);
    EXPECT_EQ(ca410ColourReferenceGamut(4, xy, nullptr), CA_COLOUR_E_ARGS);
    EXPECT_EQ(ca410ColourGamutName(0), nullptr);
}

TEST(ColourGamut, AreaRatioAndCoverage) {
    tri srgb(6), p3(6);
    ca410ColourReferenceGamut(CA_GAMUT_SRGB, srgb.data(), nullptr);
    ca410ColourReferenceGamut(CA_GAMUT_DCI_P3, p3.data(), nullptr);
    const double srgb_in_p3 = hand_area(srgb) / hand_area(p3);  // sRGB lies inside DCI-P3
    // Two equilateral triangles about one centre, one turned by 180°: a
    // hexagram whose overlap is 2/3 of either.
    const double r = 0.2;
    const double h = std::sqrt(3.0) / 2.0;
    const tri up = {0.3, 0.3 + r, 0.3 - h * r, 0.3 - r / 2, 0.3 + h * r, 0.3 - r / 2};
    const tri down = {0.3, 0.3 - r, 0.3 + h * r, 0.3 + r / 2, 0.3 - h * r, 0.3 + r / 2};
    const struct {
        tri t, ref;
        double ratio, coverage;
    } cases[] = {
        {srgb, srgb, 1.0, 1.0},
        {{srgb[0], srgb[1], srgb[4], srgb[5], srgb[2], srgb[3]}, srgb, 1.0, 1.0},  // clockwise
        {srgb, p3, srgb_in_p3, srgb_in_p3},
        {p3, srgb, 1.0 / srgb_in_p3, 1.0},
        {up, down, 1.0, 2.0 / 3.0},
        {{0, 0, 1, 0, 0, 1}, {0, 0, 1, 0, 1, 1}, 1.0, 0.5},                  // halves of a square
        {{0, 0, 0.1, 0, 0, 0.1}, {0.5, 0.5, 0.6, 0.5, 0.5, 0.6}, 1.0, 0.0},  // apart
        {{0, 0, 0.5, 0.5, 1, 1}, srgb, 0.0, 0.0},                            // a line
    };
    for (const auto &c : cases) {
        double ratio = -1.0;
        double coverage = -1.0;
        ASSERT_EQ(ca410ColourGamutAreaRatio(c.t.data(), c.ref.data(), &ratio), CA_COLOUR_OK);
        ASSERT_EQ(ca410ColourGamutCoverage(c.t.data(), c.ref.data(), &coverage), CA_COLOUR_OK);
        EXPECT_NEAR(ratio, c.ratio, 1e-12) << c.t[0] << " " << c.ref[0];
        EXPECT_NEAR(coverage, c.coverage, 1e-12) << c.t[0] << " " << c.ref[0];
    }
    // The figures the header quotes.
    double area = 0.0;
    ASSERT_EQ(ca410ColourTriangleArea(srgb.data(), &area), CA_COLOUR_OK);
    EXPECT_NEAR(area, 0.11205, 1e-12);
    EXPECT_NEAR(srgb_in_p3, 0.7372, 5e-5);
}

// Published figures for D65: x, y, u', v', CCT 6504 K just above the locus.
TEST(ColourApi, ChromaticityAndCctOfD65) {
    const double d65[3] = {95.047, 100.0, 108.883};
    ca410_chromaticity c{};
    ASSERT_EQ(ca410ColourChromaticity(d65, &c), CA_COLOUR_OK);
    EXPECT_NEAR(c.x, 0.31273, 1e-5);
    EXPECT_NEAR(c.y, 0.32902, 1e-5);
    EXPECT_NEAR(c.u_prime, 0.19783, 1e-5);
    EXPECT_NEAR(c.v_prime, 0.46833, 1e-5);
    double cct = 0.0;
    double duv = 0.0;
    ASSERT_EQ(ca410ColourCCT(d65, &cct, &duv), CA_COLOUR_OK);
    EXPECT_NEAR(cct, 6504.0, 2.0);
    EXPECT_NEAR(duv, 0.0032, 1e-4);
}

// Every whole nm of a flat spectrum from 380 nm to 780 nm, and nothing
// outside it, summed against the table.
TEST(ColourApi, SpectrumToXyzCoversOnlyTheSpectrumsRange) {
    const std::vector<double> flat(81, 2.0);  // 380 nm to 780 nm at 5 nm
    for (const auto &[observer, type] : {std::pair{CA_OBSERVER_CIE1931_2, observer_cie_1931_2},
                                         std::pair{CA_OBSERVER_CIE1964_10, observer_cie_1964_10}}) {
        const xspect *cmf[3] = {};
        ASSERT_EQ(standardObserver(cmf, type), 0);
        double xyz[3] = {};
        ASSERT_EQ(ca410ColourSpectrumToXYZ(observer, 380.0, 5.0, flat.data(), 81, xyz),
                  CA_COLOUR_OK);
        for (int j = 0; j < 3; ++j) {
            double want = 0.0;
            for (int nm = 380; nm <= 780; ++nm) want += 2.0 * 0.683002 * cmf[j]->values[nm - 360];
            EXPECT_NEAR(xyz[j], want, 1e-9 * want) << j;
        }
    }
}

TEST(ColourApi, SpectralLocus) {
    int32_t n = 0;
    ASSERT_EQ(ca410ColourSpectralLocus(CA_OBSERVER_CIE1931_2, nullptr, nullptr, 0, &n),
              CA_COLOUR_OK);
    ASSERT_EQ(n, 471);
    std::vector<double> nm(n), xy(2 * n);
    EXPECT_EQ(ca410ColourSpectralLocus(2, nm.data(), xy.data(), n - 1, &n), CA_COLOUR_E_SIZE);
    EXPECT_EQ(n, 471);
    EXPECT_EQ(nm[0], 0.0);  // untouched
    ASSERT_EQ(ca410ColourSpectralLocus(2, nm.data(), xy.data(), n, &n), CA_COLOUR_OK);
    EXPECT_EQ(nm[0], 360.0);
    EXPECT_EQ(nm[470], 830.0);
    // 520 nm, the top of the horseshoe, from the published table's x̄ ȳ z̄.
    EXPECT_EQ(nm[160], 520.0);
    EXPECT_NEAR(xy[320], 0.074302, 1e-5);
    EXPECT_NEAR(xy[321], 0.833800, 1e-5);
}

TEST(ColourApi, ResultCodes) {
    const double one[3] = {1, 1, 1};
    const double black[3] = {0, 0, 0};
    const double deep_blue[3] = {0.15, 0.06, 0.79};  // nearest the locus's 100000 K end
    const double nan3[3] = {1, NAN, 1};
    const double bad_xy[6] = {0, 0, NAN, 0, 0, 1};
    const double flat_xy[6] = {0, 0, 0.5, 0.5, 1, 1};
    const double good_xy[6] = {0.64, 0.33, 0.3, 0.6, 0.15, 0.06};
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
    EXPECT_EQ(xyz[0], 0.0);
    EXPECT_EQ(ca410ColourTriangleArea(bad_xy, &a), CA_COLOUR_E_DOMAIN);
    EXPECT_EQ(ca410ColourGamutAreaRatio(good_xy, nullptr, &a), CA_COLOUR_E_ARGS);
    EXPECT_EQ(ca410ColourGamutAreaRatio(good_xy, flat_xy, &a), CA_COLOUR_E_DOMAIN);
    EXPECT_EQ(ca410ColourGamutCoverage(bad_xy, good_xy, &a), CA_COLOUR_E_DOMAIN);
    EXPECT_EQ(ca410ColourSpectralLocus(0, nullptr, nullptr, 0, &n), CA_COLOUR_E_ARGS);
    EXPECT_EQ(ca410ColourSpectralLocus(2, nullptr, nullptr, 0, nullptr), CA_COLOUR_E_ARGS);
}

}  // namespace
