// Spectra and the spectrum-to-XYZ converter.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "cmat/xsp.h"
#include "cmat/xsp2cie.h"

namespace {

xspect spectrum(double wl_short, double wl_long, const std::vector<double> &values,
                double norm = 1.0) {
    xspect sp{static_cast<int32_t>(values.size()), wl_short, wl_long, norm, {}};
    for (size_t k = 0; k < values.size(); ++k) sp.values[k] = values[k];
    return sp;
}

xspect flat(double value, double wl_short = 300.0, double wl_long = 830.0) {
    return spectrum(wl_short, wl_long, std::vector<double>(size_t(wl_long - wl_short + 1), value));
}

bool same_record(const xspect &a, const xspect &b) {
    return std::memcmp(&a, &b, sizeof(xspect)) == 0;
}

// Every value equals the double nearest to the published decimal text.
TEST(CmatBuiltInTables, EqualThePublishedCsv) {
    for (const auto &[name, tables] : {std::pair{"cie1931_2deg_1nm.csv", ob_CIE_1931_2},
                                       std::pair{"cie1964_10deg_1nm.csv", ob_CIE_1964_10}}) {
        std::ifstream in(std::string(CMAT_CIE_DATA_DIR) + "/" + name);
        std::string line;
        ASSERT_TRUE(std::getline(in, line)) << "CIE table missing: " << name;
        std::vector<double> published[3];
        int nm = 0;
        double v[3];
        while (std::getline(in, line) &&
               std::sscanf(line.c_str(), "%d,%lf,%lf,%lf", &nm, &v[0], &v[1], &v[2]) == 4) {
            ASSERT_EQ(nm, 360 + int(published[0].size()));
            for (int j = 0; j < 3; ++j) published[j].push_back(v[j]);
        }
        for (int j = 0; j < 3; ++j)
            EXPECT_TRUE(same_record(tables[j], spectrum(360, 830, published[j]))) << name << j;
    }
    EXPECT_TRUE(same_record(il_none, flat(1.0)));
}

// Squares: linear 0.5, cubic 0.25 mid-gap; linear below 5.01 nm or 4 samples.
// Invalid spectra give 0 whatever their norm; a NaN wavelength gives NaN.
TEST(CmatLookup, Lookups) {
    const std::vector<double> squares = {0.0, 1.0, 4.0, 9.0, 16.0};
    const xspect &ybar = ob_CIE_1931_2[1];
    const xspect sp = spectrum(400.0, 430.0, {2.0, 6.0, 3.0, 9.0});
    const xspect normed = spectrum(400.0, 410.0, {3.0, 5.0}, 4.0);
    const xspect three = spectrum(400.0, 440.0, {0.0, 1.0, 4.0});
    const xspect sq5009 = spectrum(0.0, 20.036, squares);  // 4 x 5.009 exactly
    const xspect sq501 = spectrum(0.0, 20.04, squares);
    const xspect sq10 = spectrum(400.0, 440.0, squares);
    const std::tuple<int32_t (*)(const xspect *, double *, double), const xspect *, double, int32_t,
                     double>
        cases[] = {{getval_xspec, &ybar, 555.0, 1, 1.0},
                   {getval_raw_xspec_lin, &ybar, 830.0, 1, ybar.values[470]},
                   {getval_raw_xspec_poly3, &sp, -INFINITY, 0, 2.0},
                   {getval_raw_xspec_poly3, &sp, 1e9, 0, 9.0},
                   {getval_raw_xspec, &normed, 405.0, 1, 4.0},
                   {getval_xspec, &normed, 405.0, 1, 1.0},
                   {getval_raw_xspec_poly3, &three, 410.0, 1, 0.5},
                   {getval_raw_xspec, &sq5009, 2.5045, 1, 0.5},
                   {getval_raw_xspec, &sq501, 2.505, 1, 0.25},
                   {getval_raw_xspec, &sq10, 435.0, 1, 12.25},
                   {getval_raw_xspec_lin, nullptr, 500.0, 0, 0.0},
                   {getval_raw_xspec_poly3, &ybar, NAN, 0, NAN}};
    for (const auto &[fn, sp, wl, result, value] : cases) {
        double v = -1.0;
        EXPECT_EQ(fn(sp, &v, wl), result) << wl;
        EXPECT_TRUE(std::isnan(value) ? std::isnan(v) : std::fabs(v - value) < 1e-12) << wl;
    }
    xspect too_many = spectrum(400.0, 700.0, {1.0, 2.0}, 0.0);
    too_many.count = xspect_max_count + 1;
    for (const xspect &sp :
         {spectrum(400, 700, {5.0}, 0.0), spectrum(500, 500, {5, 6, 7}, 0.0), too_many,
          spectrum(400, INFINITY, {1, 2}, 0.0), spectrum(NAN, 700, {1, 2}, 0.0)}) {
        double v = -1.0;
        EXPECT_EQ(getval_xspec(&sp, &v, 500.0), 0);
        EXPECT_EQ(v, 0.0);
    }
    EXPECT_EQ(getval_xspec(&ybar, nullptr, 500.0), 0);
}

using conv_ptr = std::unique_ptr<xsp2cie, void (*)(xsp2cie *)>;

double table_sum(const xspect &sp, int first, int last, int step = 1) {  // every step-th nm
    double s = 0.0;
    for (int nm = first; nm <= last; nm += step) s += sp.values[nm - 360];
    return s;
}

// Observers, a converter's defaults; an observer failure is reported before the output type.
TEST(CmatObserverAndNewXsp2cie, DefaultsAndFailures) {
    const std::tuple<observer_type, const xspect *, const char *> cases[] = {
        {0, ob_CIE_1931_2, "CIE 1931 2 degree observer"},
        {1, nullptr, "No observer"},
        {2, nullptr, "Custom observer"},
        {3, ob_CIE_1931_2, "CIE 1931 2 degree observer"},
        {4, ob_CIE_1964_10, "CIE 1964 10 degree observer"},
        {5, nullptr, "CIE 2012 2 degree observer"},
        {6, nullptr, "CIE 2012 10 degree observer"},
        {-1, nullptr, "Unknown observer"}};
    for (const auto &[type, set, description] : cases) {
        const xspect *tables[3] = {};
        EXPECT_EQ(standardObserver(tables, type), set ? 0 : 1) << type;
        for (int j = 0; j < 3; ++j) EXPECT_EQ(tables[j], set ? &set[j] : nullptr) << type;
        EXPECT_STREQ(stardardObserverDescription(type), description);
        if (!set) continue;
        conv_ptr c(new_xsp2cie(type, nullptr, 0), xsp2cie_del);
        EXPECT_TRUE(same_record(c->illum, il_none));
        for (int j = 0; j < 3; ++j) EXPECT_TRUE(same_record(c->observer[j], set[j])) << j;
        EXPECT_EQ(std::make_tuple(c->emissive, c->out_type, c->clamp, c->step, c->wl_start,
                                  c->wl_end, c->del, c->convert),
                  std::make_tuple(1, 0, 1, 1, 360.0, 830.0, xsp2cie_del, xsp2cie_convert));
    }
    for (const auto &[type, out_type, message] :
         {std::tuple{0, 1, "new_xsp2cie: output cie type != XYZ\n"},
          std::tuple{1, 0, "new_xsp2cie: standardObserver  err\n"},
          std::tuple{7, 1, "new_xsp2cie: standardObserver  err\n"},
          std::tuple{2, 0, "new_xsp2cie: custom observer tables missing\n"}}) {
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(new_xsp2cie(type, nullptr, out_type), nullptr);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), message) << type;
    }
    xsp2cie_del(nullptr);
}

// Every step-th nm from 360 nm up to 829 nm, the input divided by its norm.
TEST(CmatConvert, FlatSpectrumGivesScaledObserverSums) {
    xspect in = flat(1.5);
    in.norm = 3.0;
    for (const auto &[type, tables] : {std::pair{0, ob_CIE_1931_2}, std::pair{4, ob_CIE_1964_10}}) {
        for (int step : {1, 3}) {
            conv_ptr c(new_xsp2cie(type, nullptr, 0), xsp2cie_del);
            c->step = step;
            double xyz[3];
            xsp2cie_convert(c.get(), xyz, &in);
            for (int j = 0; j < 3; ++j) {
                const double sum = table_sum(tables[j], 360, 829, step);
                EXPECT_NEAR(xyz[j], 0.683002 * step * 0.5 * sum, 1e-12 * sum) << type << step << j;
            }
        }
    }
}

// x̄'s long-wave lobe outweighs; reflective divides by the illuminant's ȳ sum;
// sconvert copies its input whole; an unusable range or a null gives zeros.
TEST(CmatConvert, ClampReflectiveCopyAndUnusableRanges) {
    conv_ptr c(new_xsp2cie(0, nullptr, 0), xsp2cie_del);
    xspect in = flat(1.0);
    for (int nm = 500; nm <= 830; ++nm) in.values[nm - 300] = -1.0;
    double xyz[4] = {7.0, 7.0, 7.0, 7.0};
    xsp2cie_convert(c.get(), xyz, &in);
    EXPECT_EQ(xyz[0], 0.0);
    EXPECT_GT(xyz[2], 0.0);
    c->clamp = 0;
    xsp2cie_convert(c.get(), xyz, &in);
    const xspect *cmf = ob_CIE_1931_2;
    // A difference of two large sums: equal up to their rounding (x87 keeps
    // more digits on the way than SSE does).
    const double long_wave = table_sum(cmf[0], 500, 829);
    EXPECT_NEAR(xyz[0], 0.683002 * (table_sum(cmf[0], 360, 499) - long_wave), 1e-13 * long_wave);
    c->emissive = 0;
    c->illum = flat(3.0);
    in = flat(0.5);
    in.values[600] = 42.0;  // a slot past count travels too
    xspect copy = flat(9.0);
    xsp2cie_sconvert(c.get(), &copy, xyz, &in);
    EXPECT_TRUE(same_record(copy, in));
    EXPECT_DOUBLE_EQ(xyz[1], 0.5);
    EXPECT_NEAR(xyz[0], 0.5 * table_sum(cmf[0], 360, 829) / table_sum(cmf[1], 360, 829), 1e-12);
    const std::tuple<int32_t, double, double> ranges[] = {
        {0, 360.0, 830.0}, {-3, 360.0, 830.0}, {1, 360.0, INFINITY}, {1, 1e300, 830.0}};
    for (const auto &[step, start, end] : ranges) {
        std::tie(c->step, c->wl_start, c->wl_end) = std::tie(step, start, end);
        xsp2cie_convert(c.get(), xyz, &in);
        EXPECT_EQ(std::vector<double>(xyz, xyz + 3), std::vector<double>(3, 0.0)) << step;
        xyz[0] = xyz[1] = xyz[2] = 7.0;
    }
    xsp2cie_convert(c.get(), xyz, nullptr);
    xsp2cie_convert(nullptr, xyz + 1, &in);
    EXPECT_EQ(std::vector<double>(xyz, xyz + 4), std::vector<double>(4, 0.0));
}

}  // namespace
