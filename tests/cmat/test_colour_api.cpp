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

// Coordinate `i` of where line a-b crosses line c-d.
double crossing(const double *a, const double *b, const double *c, const double *d, int i) {
    const double t = ((c[0] - a[0]) * (d[1] - c[1]) - (c[1] - a[1]) * (d[0] - c[0])) /
                     ((b[0] - a[0]) * (d[1] - c[1]) - (b[1] - a[1]) * (d[0] - c[0]));
    return a[i] + t * (b[i] - a[i]);
}

tri reference(int32_t gamut) {
    tri t(6);
    EXPECT_EQ(ca410ColourReferenceGamut(gamut, t.data(), nullptr), CA_COLOUR_OK);
    return t;
}

struct overlap_case {
    const char *what;
    tri t;
    tri ref;
    double ratio;
    double coverage;
};

TEST(ColourGamut, AreaRatioAndCoverage) {
    const tri srgb = reference(CA_GAMUT_SRGB);
    const tri p3 = reference(CA_GAMUT_DCI_P3);
    const tri bt2020 = reference(CA_GAMUT_BT2020);
    const double *rg = &bt2020[0];  // BT.2020 red, then green
    const tri p3_red_sliver = {p3[0],
                               p3[1],
                               crossing(rg, rg + 2, &p3[0], &p3[2], 0),
                               crossing(rg, rg + 2, &p3[0], &p3[2], 1),
                               crossing(rg, rg + 2, &p3[0], &p3[4], 0),
                               crossing(rg, rg + 2, &p3[0], &p3[4], 1)};
    const tri srgb_clockwise = {srgb[0], srgb[1], srgb[4], srgb[5], srgb[2], srgb[3]};
    // Two equilateral triangles about one centre, one turned by 180°: a
    // hexagram whose overlap is 2/3 of either.
    const double r = 0.2;
    const double h = std::sqrt(3.0) / 2.0;
    const tri up = {0.3, 0.3 + r, 0.3 - h * r, 0.3 - r / 2, 0.3 + h * r, 0.3 - r / 2};
    const tri down = {0.3, 0.3 - r, 0.3 + h * r, 0.3 + r / 2, 0.3 - h * r, 0.3 + r / 2};
    const std::vector<overlap_case> cases = {
        {"sRGB itself", srgb, srgb, 1.0, 1.0},
        {"sRGB listed the other way round", srgb_clockwise, srgb, 1.0, 1.0},
        // sRGB lies inside DCI-P3 (checked corner by corner by hand), so one
        // covers all of the other and the other its area's share.
        {"sRGB against DCI-P3", srgb, p3, hand_area(srgb) / hand_area(p3),
         hand_area(srgb) / hand_area(p3)},
        {"DCI-P3 against sRGB", p3, srgb, hand_area(p3) / hand_area(srgb), 1.0},
        // DCI-P3's red lies just beyond BT.2020's red-green edge, which cuts
        // a sliver off it.
        {"DCI-P3 against BT.2020", p3, bt2020, hand_area(p3) / hand_area(bt2020),
         (hand_area(p3) - hand_area(p3_red_sliver)) / hand_area(bt2020)},
        {"hexagram", up, down, 1.0, 2.0 / 3.0},
        // Halves of the unit square share the triangle under its diagonals.
        {"square halves", {0, 0, 1, 0, 0, 1}, {0, 0, 1, 0, 1, 1}, 1.0, 0.5},
        {"apart", {0, 0, 0.1, 0, 0, 0.1}, {0.5, 0.5, 0.6, 0.5, 0.5, 0.6}, 1.0, 0.0},
        {"a line", {0, 0, 0.5, 0.5, 1, 1}, srgb, 0.0, 0.0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        double ratio = -1.0;
        double coverage = -1.0;
        ASSERT_EQ(ca410ColourGamutAreaRatio(c.t.data(), c.ref.data(), &ratio), CA_COLOUR_OK);
        ASSERT_EQ(ca410ColourGamutCoverage(c.t.data(), c.ref.data(), &coverage), CA_COLOUR_OK);
        EXPECT_NEAR(ratio, c.ratio, 1e-12);
        EXPECT_NEAR(coverage, c.coverage, 1e-12);
    }
    // The figures the header quotes.
    double area = 0.0;
    ASSERT_EQ(ca410ColourTriangleArea(srgb.data(), &area), CA_COLOUR_OK);
    EXPECT_NEAR(area, 0.11205, 1e-12);
    EXPECT_NEAR(hand_area(srgb) / hand_area(p3), 0.7372, 5e-5);
}

TEST(ColourGamut, ReferenceGamuts) {
    struct {
        int32_t id;
        const char *name;
        double red_x, white_x, white_y;
    } const known[] = {{CA_GAMUT_SRGB, "sRGB", 0.64, 0.3127, 0.3290},
                       {CA_GAMUT_DCI_P3, "DCI-P3", 0.68, 0.314, 0.351},
                       {CA_GAMUT_BT2020, "BT.2020", 0.708, 0.3127, 0.3290}};
    for (const auto &k : known) {
        double xy[6] = {};
        double white[2] = {};
        ASSERT_EQ(ca410ColourReferenceGamut(k.id, xy, white), CA_COLOUR_OK);
        EXPECT_EQ(xy[0], k.red_x);
        EXPECT_EQ(white[0], k.white_x);
        EXPECT_EQ(white[1], k.white_y);
        EXPECT_STREQ(ca410ColourGamutName(k.id), k.name);
    }
    double xy[6] = {};
    EXPECT_EQ(ca410ColourReferenceGamut(0, xy, nullptr), CA_COLOUR_E_ARGS);
    EXPECT_EQ(ca410ColourReferenceGamut(4, xy, nullptr), CA_COLOUR_E_ARGS);
    EXPECT_EQ(ca410ColourGamutName(0), nullptr);
}

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
        double want[3] = {0.0, 0.0, 0.0};
        for (int nm = 380; nm <= 780; ++nm)
            for (int j = 0; j < 3; ++j) want[j] += 2.0 * 0.683002 * cmf[j]->values[nm - 360];
        double xyz[3] = {};
        ASSERT_EQ(ca410ColourSpectrumToXYZ(observer, 380.0, 5.0, flat.data(), 81, xyz),
                  CA_COLOUR_OK);
        for (int j = 0; j < 3; ++j) EXPECT_NEAR(xyz[j], want[j], 1e-9 * want[j]) << j;
    }
}

TEST(ColourApi, SpectralLocus) {
    int32_t count = 0;
    ASSERT_EQ(ca410ColourSpectralLocus(CA_OBSERVER_CIE1931_2, nullptr, nullptr, 0, &count),
              CA_COLOUR_OK);
    ASSERT_EQ(count, 471);
    std::vector<double> nm(count), xy(2 * count);
    EXPECT_EQ(
        ca410ColourSpectralLocus(CA_OBSERVER_CIE1931_2, nm.data(), xy.data(), count - 1, &count),
        CA_COLOUR_E_SIZE);
    EXPECT_EQ(count, 471);
    EXPECT_EQ(nm[0], 0.0);  // untouched
    ASSERT_EQ(ca410ColourSpectralLocus(CA_OBSERVER_CIE1931_2, nm.data(), xy.data(), count, &count),
              CA_COLOUR_OK);
    EXPECT_EQ(nm[0], 360.0);
    EXPECT_EQ(nm[470], 830.0);
    // 520 nm, the top of the horseshoe, from the published table's x̄ ȳ z̄.
    EXPECT_EQ(nm[160], 520.0);
    EXPECT_NEAR(xy[320], 0.074302, 1e-5);
    EXPECT_NEAR(xy[321], 0.833800, 1e-5);
}

TEST(ColourApi, ResultCodes) {
    const double xyz[3] = {1, 1, 1};
    const double black[3] = {0, 0, 0};
    const double deep_blue[3] = {0.15, 0.06, 0.79};  // nearest the locus's 100000 K end
    const double bad_xy[6] = {0, 0, NAN, 0, 0, 1};
    const double flat_xy[6] = {0, 0, 0.5, 0.5, 1, 1};
    const double good_xy[6] = {0.64, 0.33, 0.3, 0.6, 0.15, 0.06};
    const double spectrum[3] = {1, 1, 1};
    const double nan_spectrum[3] = {1, NAN, 1};
    ca410_chromaticity c{};
    double a = 0, b = 0, xyz_out[3] = {};
    int32_t n = 0;
    const struct {
        const char *what;
        int32_t got, want;
    } cases[] = {
        {"chromaticity null", ca410ColourChromaticity(nullptr, &c), CA_COLOUR_E_ARGS},
        {"chromaticity black", ca410ColourChromaticity(black, &c), CA_COLOUR_E_DOMAIN},
        {"cct null", ca410ColourCCT(xyz, &a, nullptr), CA_COLOUR_E_ARGS},
        {"cct black", ca410ColourCCT(black, &a, &b), CA_COLOUR_E_DOMAIN},
        {"cct off the range", ca410ColourCCT(deep_blue, &a, &b), CA_COLOUR_E_DOMAIN},
        {"spectrum observer", ca410ColourSpectrumToXYZ(1964, 400, 1, spectrum, 3, xyz_out),
         CA_COLOUR_E_ARGS},
        {"spectrum count", ca410ColourSpectrumToXYZ(2, 400, 1, spectrum, 1, xyz_out),
         CA_COLOUR_E_ARGS},
        {"spectrum step", ca410ColourSpectrumToXYZ(2, 400, 0, spectrum, 3, xyz_out),
         CA_COLOUR_E_ARGS},
        {"spectrum NaN", ca410ColourSpectrumToXYZ(2, 400, 1, nan_spectrum, 3, xyz_out),
         CA_COLOUR_E_DOMAIN},
        {"spectrum too wide", ca410ColourSpectrumToXYZ(2, 0, 1e308, spectrum, 3, xyz_out),
         CA_COLOUR_E_DOMAIN},
        {"spectrum outside", ca410ColourSpectrumToXYZ(2, 900, 1, spectrum, 3, xyz_out),
         CA_COLOUR_E_DOMAIN},
        {"area NaN", ca410ColourTriangleArea(bad_xy, &a), CA_COLOUR_E_DOMAIN},
        {"ratio null", ca410ColourGamutAreaRatio(good_xy, nullptr, &a), CA_COLOUR_E_ARGS},
        {"ratio flat reference", ca410ColourGamutAreaRatio(good_xy, flat_xy, &a),
         CA_COLOUR_E_DOMAIN},
        {"coverage NaN", ca410ColourGamutCoverage(bad_xy, good_xy, &a), CA_COLOUR_E_DOMAIN},
        {"locus observer", ca410ColourSpectralLocus(0, nullptr, nullptr, 0, &n), CA_COLOUR_E_ARGS},
        {"locus count", ca410ColourSpectralLocus(2, nullptr, nullptr, 0, nullptr),
         CA_COLOUR_E_ARGS},
    };
    for (const auto &c : cases) EXPECT_EQ(c.got, c.want) << c.what;
    EXPECT_EQ(xyz_out[0], 0.0);
}

}  // namespace
