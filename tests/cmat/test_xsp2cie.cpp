// The spectrum-to-XYZ converter: construction and its messages, the
// integration range and scaling, clamping, and the copies it keeps.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>

#include "cmat/xsp2cie.h"

namespace {

struct conv_deleter {
    void operator()(xsp2cie *c) const { xsp2cie_del(c); }
};
using conv_ptr = std::unique_ptr<xsp2cie, conv_deleter>;

conv_ptr make(observer_type type, const xspect *custom = nullptr, int32_t out_type = 0) {
    return conv_ptr(new_xsp2cie(type, custom, out_type));
}

xspect flat(double wl_short, double wl_long, int32_t count, double value) {
    xspect sp{};
    sp.count = count;
    sp.wl_short = wl_short;
    sp.wl_long = wl_long;
    sp.norm = 1.0;
    for (int k = 0; k < count; ++k) sp.values[k] = value;
    return sp;
}

bool same_record(const xspect &a, const xspect &b) {
    return std::memcmp(&a, &b, sizeof(xspect)) == 0;
}

// Sum of a 1 nm table's column over [first, last] nm.
double table_sum(const xspect &sp, int first, int last) {
    double s = 0.0;
    for (int nm = first; nm <= last; ++nm) s += sp.values[nm - static_cast<int>(sp.wl_short)];
    return s;
}

TEST(CmatNewXsp2cie, DefaultsForBuiltInObservers) {
    for (const auto &[type, tables] :
         {std::pair{0, ob_CIE_1931_2}, std::pair{3, ob_CIE_1931_2}, std::pair{4, ob_CIE_1964_10}}) {
        conv_ptr c = make(type);
        ASSERT_TRUE(c) << type;
        EXPECT_TRUE(same_record(c->illum, il_none));
        for (int j = 0; j < 3; ++j)
            EXPECT_TRUE(same_record(c->observer[j], tables[j])) << type << " " << j;
        EXPECT_EQ(c->emissive, 1);
        EXPECT_EQ(c->out_type, 0);
        EXPECT_EQ(c->clamp, 1);
        EXPECT_EQ(c->step, 1);
        EXPECT_EQ(c->wl_start, 360.0);
        EXPECT_EQ(c->wl_end, 830.0);
    }
}

struct FailureCase {
    observer_type type;
    int32_t out_type;
    const char *message;
};

class CmatNewXsp2cieFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(CmatNewXsp2cieFailure, PrintsOneLineAndReturnsNull) {
    const FailureCase &c = GetParam();
    ::testing::internal::CaptureStdout();
    xsp2cie *conv = new_xsp2cie(c.type, nullptr, c.out_type);
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(conv, nullptr);
    EXPECT_EQ(out, std::string(c.message) + "\n");
    xsp2cie_del(conv);  // null is accepted
}

INSTANTIATE_TEST_SUITE_P(
    Failures, CmatNewXsp2cieFailure,
    ::testing::Values(FailureCase{0, 1, "new_xsp2cie: output cie type != XYZ"},
                      FailureCase{4, -1, "new_xsp2cie: output cie type != XYZ"},
                      FailureCase{1, 0, "new_xsp2cie: standardObserver  err"},
                      FailureCase{5, 0, "new_xsp2cie: standardObserver  err"},
                      FailureCase{-1, 0, "new_xsp2cie: standardObserver  err"},
                      // An observer failure is reported before the output type.
                      FailureCase{7, 1, "new_xsp2cie: standardObserver  err"},
                      FailureCase{2, 0, "new_xsp2cie: custom observer tables missing"}));

TEST(CmatNewXsp2cie, CustomTablesAreCopied) {
    auto custom = std::make_unique<xspect[]>(3);
    for (int j = 0; j < 3; ++j) custom[j] = flat(400.0, 700.0, 31, j + 1.0);
    conv_ptr c = make(2, custom.get());
    ASSERT_TRUE(c);
    custom.reset();  // the converter must not need them any more
    EXPECT_EQ(c->wl_start, 400.0);
    EXPECT_EQ(c->wl_end, 700.0);
    double xyz[3];
    const xspect in = flat(300.0, 800.0, 2, 1.0);
    xsp2cie_convert(c.get(), xyz, &in);
    // 10 nm custom tables are interpolated cubically: exact only to rounding.
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(xyz[j], 0.683002 * 300 * (j + 1.0), 1e-10) << j;
}

// The integration runs from 360 nm up to 829 nm: 830 nm is left out.
TEST(CmatConvert, FlatSpectrumGivesScaledObserverSums) {
    conv_ptr c = make(0);
    const xspect in = flat(300.0, 830.0, 531, 1.0);
    double xyz[3];
    xsp2cie_convert(c.get(), xyz, &in);
    for (int j = 0; j < 3; ++j)
        EXPECT_DOUBLE_EQ(xyz[j], 0.683002 * table_sum(ob_CIE_1931_2[j], 360, 829)) << j;
    EXPECT_NE(xyz[1], 0.683002 * table_sum(ob_CIE_1931_2[1], 360, 830));
}

// A ramp sampled every 10 nm from a fractional start: any interpolation the
// converter picks reproduces a straight line, so the result is the observer
// weighted by the ramp at every nm.
TEST(CmatConvert, RampAt10nmFromAFractionalStartIsInterpolatedExactly) {
    conv_ptr c = make(0);
    xspect in = flat(355.5, 835.5, 49, 0.0);
    for (int k = 0; k < 49; ++k) in.values[k] = (355.5 + 10.0 * k - 300.0) / 100.0;
    double xyz[3];
    xsp2cie_convert(c.get(), xyz, &in);
    for (int j = 0; j < 3; ++j) {
        double sum = 0.0;
        for (int nm = 360; nm <= 829; ++nm) {
            sum += ob_CIE_1931_2[j].values[nm - 360] * (nm - 300.0) / 100.0;
        }
        EXPECT_NEAR(xyz[j], 0.683002 * sum, 1e-9 * sum) << j;
    }
}

TEST(CmatConvert, NegativeResultClampedUnlessDisabled) {
    conv_ptr c = make(0);
    // Positive below 500 nm, negative from 500 nm: the long-wave lobe of x̄
    // outweighs the short one, z̄ lies almost all below 500 nm.
    xspect in = flat(360.0, 830.0, 471, 1.0);
    for (int nm = 500; nm <= 830; ++nm) in.values[nm - 360] = -1.0;
    double xyz[3];
    xsp2cie_convert(c.get(), xyz, &in);
    EXPECT_EQ(xyz[0], 0.0);
    EXPECT_GT(xyz[2], 0.0);
    c->clamp = 0;
    xsp2cie_convert(c.get(), xyz, &in);
    const xspect &xbar = ob_CIE_1931_2[0];
    EXPECT_DOUBLE_EQ(xyz[0], 0.683002 * (table_sum(xbar, 360, 499) - table_sum(xbar, 500, 829)));
    EXPECT_LT(xyz[0], 0.0);
}

TEST(CmatConvert, ReflectiveNormalisesByIlluminant) {
    conv_ptr c = make(3);
    c->emissive = 0;
    c->illum = flat(300.0, 830.0, 531, 3.0);
    const xspect half = flat(300.0, 830.0, 531, 0.5);
    double xyz[3];
    xsp2cie_convert(c.get(), xyz, &half);
    EXPECT_DOUBLE_EQ(xyz[1], 0.5);
    EXPECT_NEAR(xyz[0],
                0.5 * table_sum(ob_CIE_1931_2[0], 360, 829) / table_sum(ob_CIE_1931_2[1], 360, 829),
                1e-12);
}

TEST(CmatConvert, SconvertCopiesTheInputAndPointersWork) {
    conv_ptr c = make(0);
    xspect in = flat(380.0, 780.0, 401, 0.25);
    in.values[500] = 42.0;  // a slot past count travels too
    xspect out = flat(0.0, 1.0, 2, 9.0);
    double a[3];
    double b[3];
    xsp2cie_sconvert(c.get(), &out, a, &in);
    EXPECT_TRUE(same_record(out, in));
    c->convert(c.get(), b, &in);
    for (int j = 0; j < 3; ++j) EXPECT_EQ(a[j], b[j]);
    xsp2cie_sconvert(c.get(), &in, a, &in);  // the input as its own output
    EXPECT_EQ(in.values[500], 42.0);
    xsp2cie *raw = c.release();
    raw->del(raw);
}

// Every step-th nm from the start up to 829 nm, the input divided by its norm,
// for both built-in observers.
TEST(CmatConvert, StepNormAndObserver) {
    xspect in = flat(300.0, 830.0, 531, 1.5);
    in.norm = 3.0;
    for (const auto &[type, tables] : {std::pair{0, ob_CIE_1931_2}, std::pair{4, ob_CIE_1964_10}}) {
        conv_ptr c = make(type);
        c->step = 3;
        double xyz[3];
        xsp2cie_convert(c.get(), xyz, &in);
        for (int j = 0; j < 3; ++j) {
            double sum = 0.0;
            for (int nm = 360; nm < 830; nm += 3) sum += tables[j].values[nm - 360];
            EXPECT_NEAR(xyz[j], 0.683002 * 3 * 0.5 * sum, 1e-12 * sum) << type << " " << j;
        }
    }
}

TEST(CmatConvert, UnusableRangeOrNullGivesZeros) {
    conv_ptr c = make(0);
    const xspect in = flat(300.0, 830.0, 531, 1.0);
    double xyz[3] = {7.0, 7.0, 7.0};
    xsp2cie_convert(c.get(), xyz, nullptr);
    EXPECT_EQ(xyz[0], 0.0);
    xyz[1] = 7.0;
    xsp2cie_convert(nullptr, xyz, &in);
    EXPECT_EQ(xyz[1], 0.0);
    for (auto change :
         {+[](xsp2cie &x) { x.step = 0; }, +[](xsp2cie &x) { x.step = -3; },
          +[](xsp2cie &x) { x.wl_end = INFINITY; }, +[](xsp2cie &x) { x.wl_start = 1e300; }}) {
        xsp2cie copy = *c;
        change(copy);
        double out[3] = {7.0, 7.0, 7.0};
        xsp2cie_convert(&copy, out, &in);
        for (double v : out) EXPECT_EQ(v, 0.0);
    }
}

}  // namespace
