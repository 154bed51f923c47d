// Colour metrics of the colour library: CIEDE2000 against the published test
// pairs, round trips and reference points of Lab, Luv and the tone curves,
// grey-ramp gamma, and the domain error wherever finite values overflow.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ca410_colour.h"
#include "cmat/colour_difference.h"

namespace {

using v3 = std::vector<double>;
const v3 d65 = {95.047, 100.0, 108.883};

// Sharma, Wu and Dalal's 34 pairs: ΔE to 4 decimals, a', C' and the mean hue
// (the table worked them from inputs before rounding: 2e-3 for the hue).
TEST(ColourDeltaE, Ciede2000PublishedPairs) {
    std::ifstream file(CMAT_TEST_DATA_DIR "/ciede2000_pairs.txt");
    std::string line;
    v3 lab1, lab2, want;
    while (std::getline(file, line)) {
        std::istringstream in(line);
        double v[15];
        if (line[0] == '#' || !(in >> v[0] >> v[1] >> v[2] >> v[3] >> v[4] >> v[5] >> v[6] >>
                                v[7] >> v[8] >> v[9] >> v[10] >> v[11] >> v[12] >> v[13] >> v[14]))
            continue;
        ciede2000_terms t{};
        ASSERT_TRUE(ciede2000(v + 1, v + 4, &t));
        const double got[] = {t.a_prime[0], t.a_prime[1], t.c_prime[0], t.c_prime[1], t.h_bar};
        for (int k = 0; k < 5; ++k)
            EXPECT_NEAR(got[k], v[7 + k + (k == 4 ? 2 : 0)], k == 4 ? 2e-3 : 1e-4) << v[0];
        EXPECT_NEAR(t.delta_e, v[14], 5e-5) << "pair " << v[0];
        lab1.insert(lab1.end(), v + 1, v + 4);
        lab2.insert(lab2.end(), v + 4, v + 7);
        want.push_back(t.delta_e);
    }
    ASSERT_EQ(want.size(), 34u);
    // The array call gives the single results, and the same with the pair swapped.
    v3 got(34);
    ASSERT_EQ(ca410ColourDeltaEArray(CA_DELTA_E_2000, lab1.data(), lab2.data(), got.data(), 34),
              CA_COLOUR_OK);
    EXPECT_EQ(got, want);
    ASSERT_EQ(ca410ColourDeltaEArray(CA_DELTA_E_2000, lab2.data(), lab1.data(), got.data(), 34),
              CA_COLOUR_OK);
    for (size_t k = 0; k < 34; ++k) EXPECT_NEAR(got[k], want[k], 1e-12) << k;
}

// CIE76 and CIE94 against ΔH from the hue angles, the other way to it.
TEST(ColourDeltaE, Cie76AndCie94) {
    const v3 ref = {50.0, 20.0, -30.0}, sample = {55.0, 10.0, -36.0};
    const double c1 = std::hypot(20, -30), c2 = std::hypot(10, -36);
    const double dh =
        2 * std::sqrt(c1 * c2) * std::sin(0.5 * (std::atan2(-36, 10) - std::atan2(-30, 20)));
    const double want94 = std::sqrt(25 + std::pow((c2 - c1) / (1 + 0.045 * c1), 2) +
                                    std::pow(dh / (1 + 0.015 * c1), 2));
    double d76 = 0, d94 = 0, back = 0;
    ASSERT_EQ(ca410ColourDeltaE(CA_DELTA_E_76, ref.data(), sample.data(), &d76), CA_COLOUR_OK);
    ASSERT_EQ(ca410ColourDeltaE(CA_DELTA_E_94, ref.data(), sample.data(), &d94), CA_COLOUR_OK);
    ASSERT_EQ(ca410ColourDeltaE(CA_DELTA_E_94, sample.data(), ref.data(), &back), CA_COLOUR_OK);
    EXPECT_DOUBLE_EQ(d76, std::sqrt(25.0 + 100.0 + 36.0));
    EXPECT_NEAR(d94, want94, 1e-12);
    EXPECT_GT(std::fabs(back - d94), 0.01);  // the reference's chroma weighs
    EXPECT_EQ(ca410ColourDeltaE(4, ref.data(), sample.data(), &d76), CA_COLOUR_E_ARGS);
}

// sRGB red against D65 (published: Lab 53.2408 80.0925 67.2032, Luv 53.2408
// 175.0151 37.7564), and round trips of every conversion, dark colours too.
TEST(ColourSpace, ReferenceValuesAndRoundTrips) {
    const v3 red = {41.2456, 21.2673, 1.9334};
    v3 lab(3), luv(3);
    ASSERT_EQ(ca410ColourXYZToLab(red.data(), d65.data(), lab.data()), CA_COLOUR_OK);
    ASSERT_EQ(ca410ColourXYZToLuv(red.data(), d65.data(), luv.data()), CA_COLOUR_OK);
    const v3 want_lab = {53.2408, 80.0925, 67.2032}, want_luv = {53.2408, 175.0151, 37.7564};
    for (int k = 0; k < 3; ++k) {
        EXPECT_NEAR(lab[k], want_lab[k], 1e-3);
        EXPECT_NEAR(luv[k], want_luv[k], 1e-3);
    }
    const v3 xyz = {41.2456, 21.2673, 1.9334, 95.047, 100,  108.883, 0.01, 0.02,
                    0.005,   0.0,     0.0,    0.0,    30.0, 20.0,    90.0};
    const std::pair<int32_t, int32_t> trips[] = {{CA_CONVERT_XYZ_TO_LAB, CA_CONVERT_LAB_TO_XYZ},
                                                 {CA_CONVERT_XYZ_TO_LUV, CA_CONVERT_LUV_TO_XYZ},
                                                 {CA_CONVERT_TO_LCH, CA_CONVERT_FROM_LCH}};
    for (const auto &[there, back] : trips) {
        v3 out(15), again(15);
        ASSERT_EQ(ca410ColourConvertArray(there, d65.data(), xyz.data(), out.data(), 5),
                  CA_COLOUR_OK);
        again = out;  // back in place
        ASSERT_EQ(ca410ColourConvertArray(back, d65.data(), again.data(), again.data(), 5),
                  CA_COLOUR_OK);
        for (int k = 0; k < 15; ++k)
            EXPECT_NEAR(again[k], xyz[k], 1e-12 * (1 + xyz[k])) << there << " " << k;
    }
    v3 lch(3);  // the white: L* 100, no chroma, hue 0
    ASSERT_EQ(ca410ColourXYZToLab(d65.data(), d65.data(), lab.data()), CA_COLOUR_OK);
    ASSERT_EQ(ca410ColourToLCh(lab.data(), lch.data()), CA_COLOUR_OK);
    EXPECT_EQ(lch, v3({100.0, 0.0, 0.0}));
}

struct curve_case {
    int32_t curve;
    ca410_curve_params params;
    double signal;
    double luminance;
    double tolerance;
};

// Reference points: PQ 100, 203 and 1000 cd/m2 at their well-known code values;
// HLG E' = 0.5 at E = 1/12, 75 % at 203 cd/m2 on a 1000 cd/m2 display; sRGB
// mid grey; BT.1886 meets the display's black and white.
TEST(ColourCurves, ReferencePointsAndRoundTrips) {
    const ca410_curve_params none{}, g22{2.2, 0, 0}, display{0, 1000, 0}, lit{0, 120, 0.05};
    const curve_case cases[] = {{CA_CURVE_PQ, none, 0.0, 0.0, 0},
                                {CA_CURVE_PQ, none, 1.0, 10000.0, 1e-9},
                                {CA_CURVE_PQ, none, 0.50808, 100.0, 0.01},
                                {CA_CURVE_PQ, none, 0.58069, 203.0, 0.01},
                                {CA_CURVE_PQ, none, 0.75183, 1000.0, 0.05},
                                {CA_CURVE_HLG, none, 0.5, 1.0 / 12, 1e-15},
                                {CA_CURVE_HLG_DISPLAY, display, 0.75, 203.0, 0.5},
                                {CA_CURVE_SRGB, none, 0.5, 0.214041, 1e-6},
                                {CA_CURVE_SRGB, none, 0.04045, 0.04045 / 12.92, 1e-15},
                                {CA_CURVE_GAMMA, g22, 0.5, std::pow(0.5, 2.2), 1e-15},
                                {CA_CURVE_BT1886, lit, 0.0, 0.05, 1e-12},
                                {CA_CURVE_BT1886, lit, 1.0, 120.0, 1e-12},
                                {CA_CURVE_HLG_DISPLAY, lit, 0.0, 0.05, 1e-12},
                                {CA_CURVE_HLG_DISPLAY, lit, 1.0, 120.0, 1e-5}};
    for (const auto &c : cases) {
        double l = -1;
        ASSERT_EQ(ca410ColourEOTF(c.curve, &c.params, &c.signal, &l, 1), CA_COLOUR_OK) << c.curve;
        EXPECT_NEAR(l, c.luminance, c.tolerance) << c.curve << " at " << c.signal;
        v3 ramp(101), out(101), back(101);
        for (int k = 0; k <= 100; ++k) ramp[k] = k / 100.0;
        ASSERT_EQ(ca410ColourEOTF(c.curve, &c.params, ramp.data(), out.data(), 101), CA_COLOUR_OK);
        ASSERT_EQ(ca410ColourInverseEOTF(c.curve, &c.params, out.data(), back.data(), 101),
                  CA_COLOUR_OK);
        ASSERT_EQ(ca410ColourEOTF(c.curve, &c.params, back.data(), back.data(), 101), CA_COLOUR_OK);
        double ends[2] = {c.params.black_cd_m2, c.params.white_cd_m2};  // given, not computed
        if (c.curve == CA_CURVE_BT1886 || c.curve == CA_CURVE_HLG_DISPLAY) {
            EXPECT_EQ(ca410ColourInverseEOTF(c.curve, &c.params, ends, ends, 2), CA_COLOUR_OK);
        }
        for (int k = 0; k <= 100; ++k)
            EXPECT_NEAR(back[k], out[k], 1e-12 * (1 + out[k])) << c.curve << " " << k;
    }
}

// A 2.2 display with a black of 0.4 cd/m2; a noisy near-black level the fit leaves out.
TEST(ColourRamp, GammaOfASyntheticRampAndContrast) {
    v3 level, y;
    for (int k = 0; k <= 20; ++k) {
        level.push_back(k / 20.0);
        y.push_back(0.4 + 199.6 * std::pow(k / 20.0, 2.2) + (k == 1 ? 0.3 : 0.0));
    }
    v3 points(21);
    double fit = 0, ratio = 0;
    ASSERT_EQ(ca410ColourPointGamma(level.data(), y.data(), 21, points.data()), CA_COLOUR_OK);
    ASSERT_EQ(ca410ColourFitGamma(level.data(), y.data(), 21, &fit), CA_COLOUR_OK);
    EXPECT_NEAR(fit, 2.2, 1e-12);
    EXPECT_TRUE(std::isnan(points[0]) && std::isnan(points[20]));
    EXPECT_LT(points[1], 2.0);
    for (int k = 2; k < 20; ++k) EXPECT_NEAR(points[k], 2.2, 1e-12) << k;
    ASSERT_EQ(ca410ColourContrastRatio(y[20], y[0], &ratio), CA_COLOUR_OK);
    EXPECT_DOUBLE_EQ(ratio, 500.0);
    ASSERT_EQ(ca410ColourContrastRatio(100, 0, &ratio), CA_COLOUR_OK);
    EXPECT_EQ(ratio, HUGE_VAL);
    // No levels: no black and white to judge by, but no wrong argument either.
    EXPECT_EQ(ca410ColourPointGamma(level.data(), y.data(), 0, points.data()), CA_COLOUR_E_DOMAIN);
    EXPECT_EQ(ca410ColourPointGamma(level.data(), y.data(), -1, points.data()), CA_COLOUR_E_ARGS);
    const v3 before = points;
    y[20] = 0.1;  // white below black
    EXPECT_EQ(ca410ColourFitGamma(level.data(), y.data(), 21, &ratio), CA_COLOUR_E_DOMAIN);
    EXPECT_EQ(ca410ColourPointGamma(level.data(), y.data(), 20, points.data()), CA_COLOUR_E_DOMAIN);
    EXPECT_EQ(ca410ColourFitGamma(level.data(), y.data(), 20, &ratio), CA_COLOUR_E_DOMAIN);
    EXPECT_EQ(
        std::make_pair(std::memcmp(points.data(), before.data(), 21 * sizeof(double)) == 0, ratio),
        std::make_pair(true, HUGE_VAL));
}

// Finite values whose results overflow, and values outside a curve: the
// domain error, and the caller's buffer as it was.
TEST(ColourApi, OverflowAndOutOfRangeGiveTheDomainError) {
    const double big[3] = {1e308, 1e308, 1e308}, tiny_white[3] = {1e-300, 1e-300, 1e-300};
    const double huge_xy[6] = {0, 0, 1e308, 0, 0, 1e308},
                 srgb[6] = {0.64, 0.33, 0.3, 0.6, 0.15, 0.06};
    const double lab[6] = {50, 1.5e308, 1.5e308, 50, -1.5e308, -1.5e308};
    ca410_chromaticity c{};
    double a = 7, b = 7, out[6] = {7, 7, 7, 7, 7, 7}, spectrum[99];
    std::fill(spectrum, spectrum + 99, 1e308);
    EXPECT_EQ(ca410ColourChromaticity(big, &c), CA_COLOUR_E_DOMAIN);
    EXPECT_EQ(ca410ColourCCT(big, &a, &b), CA_COLOUR_E_DOMAIN);
    EXPECT_EQ(ca410ColourSpectrumToXYZ(2, 500, 1, spectrum, 99, out), CA_COLOUR_E_DOMAIN);
    EXPECT_EQ(ca410ColourTriangleArea(huge_xy, &a), CA_COLOUR_E_DOMAIN);
    EXPECT_EQ(ca410ColourGamutAreaRatio(huge_xy, srgb, &a), CA_COLOUR_E_DOMAIN);
    EXPECT_EQ(ca410ColourGamutCoverage(srgb, huge_xy, &a), CA_COLOUR_E_DOMAIN);
    EXPECT_EQ(ca410ColourXYZToLab(big, tiny_white, out), CA_COLOUR_E_DOMAIN);
    EXPECT_EQ(ca410ColourToLCh(lab, out), CA_COLOUR_E_DOMAIN);
    EXPECT_EQ(ca410ColourDeltaE(CA_DELTA_E_76, lab, lab + 3, &a), CA_COLOUR_E_DOMAIN);
    EXPECT_EQ(ca410ColourContrastRatio(1e300, 1e-300, &a), CA_COLOUR_E_DOMAIN);
    // One bad item among good ones: nothing of the array written.
    const double xyz[6] = {1, 1, 1, 1e300, 1, 1};
    EXPECT_EQ(ca410ColourConvertArray(CA_CONVERT_XYZ_TO_LAB, tiny_white, xyz, out, 2),
              CA_COLOUR_E_DOMAIN);
    for (int32_t f : {CA_DELTA_E_76, CA_DELTA_E_94, CA_DELTA_E_2000})
        EXPECT_EQ(ca410ColourDeltaEArray(f, lab, lab + 3, out, 1), CA_COLOUR_E_DOMAIN);
    const double signal[2] = {0.5, 1.0000001};
    const ca410_curve_params zero_gamma{0, 0, 0}, dark{0, 100, 100};
    EXPECT_EQ(ca410ColourEOTF(CA_CURVE_PQ, nullptr, signal, out, 2), CA_COLOUR_E_DOMAIN);
    EXPECT_EQ(ca410ColourInverseEOTF(CA_CURVE_SRGB, nullptr, signal, out, 2), CA_COLOUR_E_DOMAIN);
    EXPECT_EQ(std::vector<double>(out, out + 6), std::vector<double>(6, 7.0));
    EXPECT_EQ(std::make_pair(a, b), std::make_pair(7.0, 7.0));
    EXPECT_EQ(ca410ColourEOTF(CA_CURVE_GAMMA, nullptr, signal, out, 1), CA_COLOUR_E_ARGS);
    EXPECT_EQ(ca410ColourEOTF(CA_CURVE_GAMMA, &zero_gamma, signal, out, 1), CA_COLOUR_E_ARGS);
    EXPECT_EQ(ca410ColourEOTF(CA_CURVE_BT1886, &dark, signal, out, 1), CA_COLOUR_E_ARGS);
    EXPECT_EQ(ca410ColourEOTF(7, nullptr, signal, out, 1), CA_COLOUR_E_ARGS);
    EXPECT_EQ(ca410ColourEOTF(CA_CURVE_PQ, nullptr, nullptr, out, 1), CA_COLOUR_E_ARGS);
    EXPECT_EQ(ca410ColourDeltaEArray(CA_DELTA_E_76, lab, lab, out, -1), CA_COLOUR_E_ARGS);
    EXPECT_EQ(ca410ColourConvertArray(CA_CONVERT_LAB_TO_XYZ, nullptr, lab, out, 1),
              CA_COLOUR_E_ARGS);
}

}  // namespace
