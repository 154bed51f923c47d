// Spectra and the spectrum-to-XYZ converter: the built-in tables against the
// published CIE data, lookups and their interpolation, the converter's
// messages, integration range and scaling.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "cmat/xsp.h"
#include "cmat/xsp2cie.h"

namespace {

xspect make_spectrum(double wl_short, double wl_long, const std::vector<double> &values,
                     double norm = 1.0) {
    xspect sp{static_cast<int32_t>(values.size()), wl_short, wl_long, norm, {}};
    for (size_t k = 0; k < values.size(); ++k) sp.values[k] = values[k];
    return sp;
}

bool same_record(const xspect &a, const xspect &b) {
    return std::memcmp(&a, &b, sizeof(xspect)) == 0;
}

// Every value equals the double nearest to the published decimal text.
TEST(CmatBuiltInTables, EqualThePublishedCsv) {
    const std::pair<const char *, const xspect *> files[] = {
        {"cie1931_2deg_1nm.csv", ob_CIE_1931_2}, {"cie1964_10deg_1nm.csv", ob_CIE_1964_10}};
    for (const auto &[name, tables] : files) {
        std::ifstream in(std::string(CMAT_CIE_DATA_DIR) + "/" + name);
        std::string line;
        ASSERT_TRUE(std::getline(in, line)) << "CIE table missing: " << name;
        int k = 0;
        for (; std::getline(in, line) && !line.empty(); ++k) {
            std::stringstream row(line);
            std::string field;
            std::getline(row, field, ',');
            ASSERT_EQ(std::stoi(field), 360 + k) << name;
            for (int j = 0; j < 3; ++j) {
                std::getline(row, field, ',');
                ASSERT_EQ(tables[j].values[k], std::strtod(field.c_str(), nullptr)) << name << k;
            }
        }
        for (int j = 0; j < 3; ++j) {
            EXPECT_EQ(tables[j].count, k) << name;
            EXPECT_EQ(std::make_pair(tables[j].wl_short, tables[j].wl_long),
                      std::make_pair(360.0, 830.0));
            EXPECT_EQ(tables[j].values[k], 0.0);
        }
    }
    EXPECT_TRUE(same_record(il_none, make_spectrum(300, 830, std::vector<double>(531, 1.0))));
}

TEST(CmatObserver, TablesAndDescriptions) {
    const struct {
        observer_type type;
        const xspect *tables;  // null: none, 1 returned
        const char *description;
    } cases[] = {{0, ob_CIE_1931_2, "CIE 1931 2 degree observer"},
                 {1, nullptr, "No observer"},
                 {2, nullptr, "Custom observer"},
                 {3, ob_CIE_1931_2, "CIE 1931 2 degree observer"},
                 {4, ob_CIE_1964_10, "CIE 1964 10 degree observer"},
                 {5, nullptr, "CIE 2012 2 degree observer"},
                 {6, nullptr, "CIE 2012 10 degree observer"},
                 {-1, nullptr, "Unknown observer"}};
    for (const auto &c : cases) {
        const xspect *tables[3] = {};
        EXPECT_EQ(standardObserver(tables, c.type), c.tables ? 0 : 1) << c.type;
        for (int j = 0; j < 3; ++j) EXPECT_EQ(tables[j], c.tables ? &c.tables[j] : nullptr);
        EXPECT_STREQ(stardardObserverDescription(c.type), c.description);
    }
}

using lookup_fn = int32_t (*)(const xspect *, double *, double);

// Squares 0, 1, 4, 9, 16: a line between samples 0 and 1 gives 0.5 at the
// middle, a cubic 0.25. Spacings below 5.01 nm interpolate linearly.
TEST(CmatLookup, TableOfLookups) {
    const std::vector<double> squares = {0.0, 1.0, 4.0, 9.0, 16.0};
    const xspect &ybar = ob_CIE_1931_2[1];
    const xspect sp = make_spectrum(400.0, 430.0, {2.0, 6.0, 3.0, 9.0});
    const xspect normed = make_spectrum(400.0, 410.0, {3.0, 5.0}, 4.0);
    const xspect three = make_spectrum(400.0, 440.0, {0.0, 1.0, 4.0});
    const xspect sq5 = make_spectrum(400.0, 420.0, squares);
    const xspect sq5009 = make_spectrum(0.0, 20.036, squares);  // 4 x 5.009 exactly
    const xspect sq501 = make_spectrum(0.0, 20.04, squares);
    const xspect sq10 = make_spectrum(400.0, 440.0, squares);
    const struct {
        lookup_fn fn;
        const xspect *sp;
        double wl;
        int32_t result;
        double value;
    } cases[] = {
        {getval_xspec, &ybar, 555.0, 1, 1.0},
        {getval_xspec, &ybar, 300.0, 0, ybar.values[0]},  // outside: the end value, 0
        {getval_xspec, &ybar, 900.0, 0, ybar.values[470]},
        {getval_xspec, &ybar, 830.0, 1, ybar.values[470]},
        {getval_raw_xspec_lin, &sp, 417.5, 1, 3.75},
        {getval_raw_xspec_lin, &sp, 399.0, 0, 2.0},
        {getval_raw_xspec_poly3, &sp, 1e9, 0, 9.0},
        {getval_raw_xspec_poly3, &sp, -INFINITY, 0, 2.0},
        {getval_raw_xspec, &normed, 405.0, 1, 4.0},
        {getval_xspec, &normed, 405.0, 1, 1.0},
        {getval_raw_xspec_poly3, &three, 410.0, 1, 0.5},  // three samples: linear
        {getval_raw_xspec, &sq5, 402.5, 1, 0.5},
        {getval_raw_xspec, &sq5009, 2.5045, 1, 0.5},
        {getval_raw_xspec, &sq501, 2.505, 1, 0.25},
        {getval_raw_xspec, &sq10, 435.0, 1, 12.25},
        {getval_raw_xspec, &sq10, 420.0, 1, 4.0},
    };
    for (const auto &c : cases) {
        double v = -1.0;
        EXPECT_EQ(c.fn(c.sp, &v, c.wl), c.result) << c.wl;
        EXPECT_NEAR(v, c.value, 1e-12) << c.wl;
    }
    // Near each end the cubic takes the first or last four samples.
    auto cubic = [](double x) { return 0.5 * x * x * x - x + 2.0; };
    const xspect wild =
        make_spectrum(0, 50, {cubic(0), cubic(10), cubic(20), cubic(30), 1e6, -1e6});
    double v = 0.0;
    getval_raw_xspec_poly3(&wild, &v, 3.0);
    EXPECT_NEAR(v, cubic(3.0), 1e-9);
}

// Invalid spectra store 0 and report 0; a NaN wavelength gives NaN.
TEST(CmatLookup, InvalidInputs) {
    xspect too_many = make_spectrum(400.0, 700.0, {1.0, 2.0});
    too_many.count = xspect_max_count + 1;
    const xspect invalid[] = {
        make_spectrum(400.0, 700.0, {5.0}), make_spectrum(500.0, 500.0, {5.0, 6.0, 7.0}), too_many,
        make_spectrum(400.0, INFINITY, {1.0, 2.0}), make_spectrum(NAN, 700.0, {1.0, 2.0})};
    for (const lookup_fn fn :
         {getval_raw_xspec_lin, getval_raw_xspec_poly3, getval_raw_xspec, getval_xspec}) {
        double v = -1.0;
        for (const xspect *sp : {&invalid[0], &invalid[1], &invalid[2], &invalid[3], &invalid[4],
                                 static_cast<const xspect *>(nullptr)}) {
            EXPECT_EQ(fn(sp, &v, 500.0), 0);
            EXPECT_EQ(v, 0.0);
        }
        EXPECT_EQ(fn(&ob_CIE_1931_2[0], &v, NAN), 0);
        EXPECT_TRUE(std::isnan(v));
        EXPECT_EQ(fn(&ob_CIE_1931_2[0], nullptr, 500.0), 0);
    }
}

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

using conv_ptr = std::unique_ptr<xsp2cie, void (*)(xsp2cie *)>;

conv_ptr make(observer_type type, const xspect *custom = nullptr) {
    return conv_ptr(new_xsp2cie(type, custom, 0), xsp2cie_del);
}

xspect flat(double value, double wl_short = 300.0, double wl_long = 830.0) {
    return make_spectrum(wl_short, wl_long,
                         std::vector<double>(static_cast<size_t>(wl_long - wl_short + 1), value));
}

// Sum of a 1 nm table's column over [first, last] nm, every step-th nm.
double table_sum(const xspect &sp, int first, int last, int step = 1) {
    double s = 0.0;
    for (int nm = first; nm <= last; nm += step) s += sp.values[nm - 360];
    return s;
}

// An observer failure is reported before the output type.
TEST(CmatNewXsp2cie, DefaultsAndFailures) {
    for (const auto &[type, tables] :
         {std::pair{0, ob_CIE_1931_2}, std::pair{3, ob_CIE_1931_2}, std::pair{4, ob_CIE_1964_10}}) {
        conv_ptr c = make(type);
        EXPECT_TRUE(same_record(c->illum, il_none));
        for (int j = 0; j < 3; ++j) EXPECT_TRUE(same_record(c->observer[j], tables[j])) << j;
        EXPECT_EQ(std::make_tuple(c->emissive, c->out_type, c->clamp, c->step, c->wl_start,
                                  c->wl_end, c->del, c->convert),
                  std::make_tuple(1, 0, 1, 1, 360.0, 830.0, xsp2cie_del, xsp2cie_convert));
    }
    const struct {
        observer_type type;
        int32_t out_type;
        const char *message;
    } failures[] = {{0, 1, "new_xsp2cie: output cie type != XYZ\n"},
                    {4, -1, "new_xsp2cie: output cie type != XYZ\n"},
                    {1, 0, "new_xsp2cie: standardObserver  err\n"},
                    {7, 1, "new_xsp2cie: standardObserver  err\n"},
                    {2, 0, "new_xsp2cie: custom observer tables missing\n"}};
    for (const auto &f : failures) {
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(new_xsp2cie(f.type, nullptr, f.out_type), nullptr);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), f.message) << f.type;
    }
    xsp2cie_del(nullptr);
}

TEST(CmatNewXsp2cie, CustomTablesAreCopied) {
    auto custom = std::make_unique<xspect[]>(3);
    for (int j = 0; j < 3; ++j) custom[j] = flat(j + 1.0, 400.0, 700.0);
    conv_ptr c = make(2, custom.get());
    custom.reset();  // the converter must not need them any more
    EXPECT_EQ(std::make_pair(c->wl_start, c->wl_end), std::make_pair(400.0, 700.0));
    double xyz[3];
    const xspect in = flat(1.0);
    xsp2cie_convert(c.get(), xyz, &in);
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(xyz[j], 0.683002 * 300 * (j + 1.0), 1e-10) << j;
}

// Every step-th nm from 360 nm up to 829 nm (830 nm left out), the input
// divided by its norm, for both built-in observers.
TEST(CmatConvert, FlatSpectrumGivesScaledObserverSums) {
    xspect in = flat(1.5);
    in.norm = 3.0;
    for (const auto &[type, tables] : {std::pair{0, ob_CIE_1931_2}, std::pair{4, ob_CIE_1964_10}}) {
        for (int step : {1, 3}) {
            conv_ptr c = make(type);
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

// Positive below 500 nm, negative from there: x̄'s long-wave lobe wins.
TEST(CmatConvert, NegativeResultClampedUnlessDisabled) {
    conv_ptr c = make(0);
    xspect in = flat(1.0);
    for (int nm = 500; nm <= 830; ++nm) in.values[nm - 300] = -1.0;
    double xyz[3];
    xsp2cie_convert(c.get(), xyz, &in);
    EXPECT_EQ(xyz[0], 0.0);
    EXPECT_GT(xyz[2], 0.0);
    c->clamp = 0;
    xsp2cie_convert(c.get(), xyz, &in);
    const xspect &xbar = ob_CIE_1931_2[0];
    EXPECT_DOUBLE_EQ(xyz[0], 0.683002 * (table_sum(xbar, 360, 499) - table_sum(xbar, 500, 829)));
}

// Reflective: divided by the illuminant's ȳ sum. sconvert also copies its input.
TEST(CmatConvert, ReflectiveAndCopy) {
    conv_ptr c = make(3);
    c->emissive = 0;
    c->illum = flat(3.0);
    xspect half = flat(0.5);
    half.values[600] = 42.0;  // a slot past count travels too
    xspect copy = flat(9.0);
    double xyz[3];
    xsp2cie_sconvert(c.get(), &copy, xyz, &half);
    EXPECT_TRUE(same_record(copy, half));
    EXPECT_DOUBLE_EQ(xyz[1], 0.5);
    const xspect *cmf = ob_CIE_1931_2;
    EXPECT_NEAR(xyz[0], 0.5 * table_sum(cmf[0], 360, 829) / table_sum(cmf[1], 360, 829), 1e-12);
}

TEST(CmatConvert, UnusableRangeOrNullGivesZeros) {
    conv_ptr c = make(0);
    const xspect in = flat(1.0);
    for (auto change :
         {+[](xsp2cie &x) { x.step = 0; }, +[](xsp2cie &x) { x.step = -3; },
          +[](xsp2cie &x) { x.wl_end = INFINITY; }, +[](xsp2cie &x) { x.wl_start = 1e300; }}) {
        xsp2cie copy = *c;
        change(copy);
        double out[3] = {7.0, 7.0, 7.0};
        xsp2cie_convert(&copy, out, &in);
        EXPECT_EQ(std::vector<double>(out, out + 3), std::vector<double>(3, 0.0));
    }
    double out[3] = {7.0, 7.0, 7.0};
    xsp2cie_convert(c.get(), out, nullptr);
    EXPECT_EQ(out[0], 0.0);
    out[1] = 7.0;
    xsp2cie_convert(nullptr, out, &in);
    EXPECT_EQ(out[1], 0.0);
}

}  // namespace
