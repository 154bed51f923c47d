// Spectra: lookups and their clamping, the choice of interpolation, the dump
// layout, and the built-in tables against the published CIE data.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cmat/observers.h"
#include "cmat/xsp.h"

namespace {

xspect make_spectrum(double wl_short, double wl_long, const std::vector<double> &values,
                     double norm = 1.0) {
    xspect sp{};
    sp.count = static_cast<int32_t>(values.size());
    sp.wl_short = wl_short;
    sp.wl_long = wl_long;
    sp.norm = norm;
    for (size_t k = 0; k < values.size(); ++k) sp.values[k] = values[k];
    return sp;
}

// --- observer types -------------------------------------------------------

struct ObserverCase {
    observer_type type;
    int32_t result;
    const xspect *tables;  // null when none
    const char *description;
};

class CmatObserverTypes : public ::testing::TestWithParam<ObserverCase> {};

TEST_P(CmatObserverTypes, TablesAndDescription) {
    const ObserverCase &c = GetParam();
    const xspect sentinel{};
    const xspect *tables[3] = {&sentinel, &sentinel, &sentinel};
    EXPECT_EQ(standardObserver(tables, c.type), c.result);
    for (int j = 0; j < 3; ++j) EXPECT_EQ(tables[j], c.tables ? &c.tables[j] : &sentinel) << j;
    EXPECT_STREQ(stardardObserverDescription(c.type), c.description);
}

INSTANTIATE_TEST_SUITE_P(
    AllTypes, CmatObserverTypes,
    ::testing::Values(ObserverCase{0, 0, ob_CIE_1931_2, "CIE 1931 2 degree observer"},
                      ObserverCase{1, 1, nullptr, "No observer"},
                      ObserverCase{2, 1, nullptr, "Custom observer"},
                      ObserverCase{3, 0, ob_CIE_1931_2, "CIE 1931 2 degree observer"},
                      ObserverCase{4, 0, ob_CIE_1964_10, "CIE 1964 10 degree observer"},
                      ObserverCase{5, 1, nullptr, "CIE 2012 2 degree observer"},
                      ObserverCase{6, 1, nullptr, "CIE 2012 10 degree observer"},
                      ObserverCase{7, 1, nullptr, "Unknown observer"},
                      ObserverCase{-1, 1, nullptr, "Unknown observer"}));

// --- built-in tables ------------------------------------------------------

TEST(CmatBuiltInTables, ShapeAndUnusedSlots) {
    for (const xspect *set : {ob_CIE_1931_2, ob_CIE_1964_10}) {
        for (int j = 0; j < 3; ++j) {
            const xspect &sp = set[j];
            EXPECT_EQ(sp.count, 471);
            EXPECT_EQ(sp.wl_short, 360.0);
            EXPECT_EQ(sp.wl_long, 830.0);
            EXPECT_EQ(sp.norm, 1.0);
            for (int k = sp.count; k < xspect_max_count; ++k) ASSERT_EQ(sp.values[k], 0.0) << k;
        }
    }
    EXPECT_EQ(il_none.count, 531);
    EXPECT_EQ(il_none.wl_short, 300.0);
    EXPECT_EQ(il_none.wl_long, 830.0);
    EXPECT_EQ(il_none.norm, 1.0);
    for (int k = 0; k < xspect_max_count; ++k)
        ASSERT_EQ(il_none.values[k], k < 531 ? 1.0 : 0.0) << k;
}

// Every value equals the double nearest to the published decimal text.
TEST(CmatBuiltInTables, EqualThePublishedCsv) {
    const std::string dir = CMAT_CIE_DATA_DIR;
    const std::pair<const char *, const xspect *> files[] = {
        {"cie1931_2deg_1nm.csv", ob_CIE_1931_2}, {"cie1964_10deg_1nm.csv", ob_CIE_1964_10}};
    for (const auto &[name, tables] : files) {
        std::ifstream in(dir + "/" + name);
        ASSERT_TRUE(in) << "CIE table missing: " << dir << "/" << name;
        std::string line;
        std::getline(in, line);  // header
        int k = 0;
        while (std::getline(in, line)) {
            if (line.empty()) continue;
            std::stringstream row(line);
            std::string field;
            std::getline(row, field, ',');
            ASSERT_EQ(std::stoi(field), 360 + k) << name;
            for (int j = 0; j < 3; ++j) {
                std::getline(row, field, ',');
                ASSERT_EQ(tables[j].values[k], std::strtod(field.c_str(), nullptr))
                    << name << " row " << k;
            }
            ++k;
        }
        EXPECT_EQ(k, 471) << name;
    }
}

// --- lookups --------------------------------------------------------------

using lookup_fn = int32_t (*)(const xspect *, double *, double);

// At and between samples, at the ends, outside the range (the end value and
// 0 reported), the norm, and a cubic asked of three samples (linear instead).
TEST(CmatLookup, TableOfLookups) {
    const xspect &ybar = ob_CIE_1931_2[1];
    const xspect sp = make_spectrum(400.0, 430.0, {2.0, 6.0, 3.0, 9.0});
    const xspect normed = make_spectrum(400.0, 410.0, {3.0, 5.0}, 4.0);
    const xspect three = make_spectrum(400.0, 440.0, {0.0, 1.0, 4.0});
    const struct {
        lookup_fn fn;
        const xspect *sp;
        double wl;
        int32_t result;
        double value;
    } cases[] = {
        {getval_xspec, &ybar, 555.0, 1, 1.0},
        {getval_xspec, &ybar, 300.0, 0, ybar.values[0]},
        {getval_xspec, &ybar, 900.0, 0, ybar.values[470]},
        {getval_xspec, &ybar, 830.0, 1, ybar.values[470]},
        {getval_raw_xspec_lin, &sp, 405.0, 1, 4.0},
        {getval_raw_xspec_lin, &sp, 417.5, 1, 3.75},
        {getval_raw_xspec_lin, &sp, 430.0, 1, 9.0},
        {getval_raw_xspec_lin, &sp, 399.0, 0, 2.0},
        {getval_raw_xspec_poly3, &sp, 1e9, 0, 9.0},
        {getval_raw_xspec_poly3, &sp, -INFINITY, 0, 2.0},
        {getval_raw_xspec, &normed, 405.0, 1, 4.0},
        {getval_xspec, &normed, 405.0, 1, 1.0},
        {getval_raw_xspec_poly3, &three, 410.0, 1, 0.5},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.wl);
        double v = -1.0;
        EXPECT_EQ(c.fn(c.sp, &v, c.wl), c.result);
        EXPECT_DOUBLE_EQ(v, c.value);
    }
}

// Squares: a line between samples 0 and 1 gives 0.5 at the middle, a cubic 0.25.
struct SpacingCase {
    double wl_short;  // 5 samples
    double wl_long;
    double wl;
    double expected;
};

class CmatMethodBySpacing : public ::testing::TestWithParam<SpacingCase> {};

TEST_P(CmatMethodBySpacing, ChoosesLinearBelow501) {
    const SpacingCase &c = GetParam();
    const xspect sp = make_spectrum(c.wl_short, c.wl_long, {0.0, 1.0, 4.0, 9.0, 16.0});
    double v = -1.0;
    EXPECT_EQ(getval_raw_xspec(&sp, &v, c.wl), 1);
    EXPECT_NEAR(v, c.expected, 1e-12);
}

// From 0 nm the spacing is exactly the double nearest 5.009 or 5.01.
INSTANTIATE_TEST_SUITE_P(Spacings, CmatMethodBySpacing,
                         ::testing::Values(SpacingCase{400.0, 420.0, 402.5, 0.5},  // 5 nm: linear
                                           SpacingCase{0.0, 20.036, 2.5045,
                                                       0.5},  // 5.009 nm: linear
                                           SpacingCase{0.0, 20.04, 2.505, 0.25},  // 5.01 nm: cubic
                                           SpacingCase{400.0, 440.0, 405.0, 0.25},   // 10 nm: cubic
                                           SpacingCase{400.0, 440.0, 435.0, 12.25},  // last gap
                                           SpacingCase{400.0, 440.0, 420.0, 4.0}));  // at a sample

TEST(CmatLookup, CubicAtSampleIsExactAndWindowsStayInside) {
    const xspect sp = make_spectrum(400.0, 440.0, {0.3, 1.7, 0.2, 5.5, 4.1});
    for (int k = 0; k < sp.count; ++k) {
        double v = 0.0;
        EXPECT_EQ(getval_raw_xspec_poly3(&sp, &v, 400.0 + 10.0 * k), 1);
        EXPECT_EQ(v, sp.values[k]) << k;
    }
    // Near each end the four points are the first or last four: a cubic there
    // is reproduced although the other end is wild.
    auto cubic = [](double x) { return 0.5 * x * x * x - x + 2.0; };
    const xspect low =
        make_spectrum(0.0, 50.0, {cubic(0), cubic(10), cubic(20), cubic(30), 1e6, -1e6});
    const xspect high =
        make_spectrum(0.0, 50.0, {1e6, -1e6, cubic(20), cubic(30), cubic(40), cubic(50)});
    double v = 0.0;
    getval_raw_xspec_poly3(&low, &v, 3.0);
    EXPECT_NEAR(v, cubic(3.0), 1e-9);
    getval_raw_xspec_poly3(&high, &v, 47.0);
    EXPECT_NEAR(v, cubic(47.0), 1e-9);
}

// Invalid spectra store 0 and report 0; a NaN wavelength gives NaN.
TEST(CmatLookup, InvalidInputs) {
    const lookup_fn lookups[] = {getval_raw_xspec_lin, getval_raw_xspec_poly3, getval_raw_xspec,
                                 getval_xspec};
    xspect too_many = make_spectrum(400.0, 700.0, {1.0, 2.0});
    too_many.count = xspect_max_count + 1;
    const xspect invalid[] = {make_spectrum(400.0, 700.0, {}),
                              make_spectrum(400.0, 700.0, {5.0}),
                              make_spectrum(500.0, 500.0, {5.0, 6.0, 7.0}),
                              too_many,
                              make_spectrum(400.0, INFINITY, {1.0, 2.0}),
                              make_spectrum(NAN, 700.0, {1.0, 2.0})};
    for (const lookup_fn fn : lookups) {
        for (const xspect &sp : invalid) {
            double v = -1.0;
            EXPECT_EQ(fn(&sp, &v, 500.0), 0);
            EXPECT_EQ(v, 0.0);
        }
        const xspect ok = make_spectrum(400.0, 700.0, {1.0, 2.0});
        double v = 0.0;
        EXPECT_EQ(fn(&ok, &v, NAN), 0);
        EXPECT_TRUE(std::isnan(v));
        EXPECT_EQ(fn(nullptr, &v, 500.0), 0);
        EXPECT_EQ(v, 0.0);
        EXPECT_EQ(fn(&ok, nullptr, 500.0), 0);
    }
}

// --- dump -----------------------------------------------------------------

TEST(CmatDump, SevenSamples) {
    const xspect sp = make_spectrum(400.0, 460.0, {1.0, 2.0, 3.0, 4.0, 5.0, 6.5, 7.25}, 2.0);
    ::testing::internal::CaptureStdout();
    xspect_dump(&sp);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "\t7, 400.000000, 460.000000\n"
              "\t2.000000\n"
              "\t\t1.000000, 2.000000, 3.000000, 4.000000, 5.000000, \n"
              "\t\t6.500000, 7.250000 \n"
              "\n");
}

}  // namespace
