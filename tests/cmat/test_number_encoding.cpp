// Number encodings against independent references: the FPU's own conversion
// to float with rounding toward zero, the bit patterns of doubles and floats,
// and the 3-byte format's definition.
#include <gtest/gtest.h>

#include <array>
#include <cfenv>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <random>
#include <vector>

#include "cmat/number_encoding.h"

namespace {

template <class To, class From>
To bits(From from) {
    static_assert(sizeof(To) == sizeof(From));
    To to;
    std::memcpy(&to, &from, sizeof to);
    return to;
}

// Same bits, or both NaN with the same sign.
::testing::AssertionResult same_value(double got, double expect) {
    if (std::isnan(expect) ? std::isnan(got) && std::signbit(got) == std::signbit(expect)
                           : bits<uint64_t>(got) == bits<uint64_t>(expect))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << std::hexfloat << got << " != " << expect;
}

// The hardware's conversion with the rounding mode set to toward zero; the
// volatile operands keep the compiler from folding it at another mode.
std::vector<uint32_t> hardware_truncated(const std::vector<double> &in) {
    std::vector<uint32_t> out(in.size());
    const int saved = std::fegetround();
    std::fesetround(FE_TOWARDZERO);
    for (size_t k = 0; k < in.size(); ++k) {
        volatile double d = in[k];
        volatile float f = static_cast<float>(d);
        out[k] = bits<uint32_t>(float(f));
    }
    std::fesetround(saved);
    return out;
}

// A million doubles: uniform bit patterns (every exponent), values around the
// float range (subnormals and overflow included), the neighbours of floats,
// and the boundaries themselves.
std::vector<double> test_doubles() {
    std::mt19937_64 rng(20240517);
    std::vector<double> v;
    v.reserve(1000000);
    for (double b : std::initializer_list<double>{0.0, -0.0, 1.0, -2.0, 8.0, 1e-40, 1e39,
                                                  static_cast<double>(FLT_MAX), 0x1p128, 0x1p-126,
                                                  0x1p-149, 0x1p-150, DBL_MIN, DBL_TRUE_MIN,
                                                  DBL_MAX, INFINITY, -INFINITY, NAN}) {
        for (double x : {b, -b, std::nextafter(b, 0.0), std::nextafter(b, INFINITY),
                         -std::nextafter(b, 0.0)}) {
            v.push_back(x);
        }
    }
    std::uniform_int_distribution<int> exponent(-155, 130);
    std::uniform_real_distribution<double> mantissa(1.0, 2.0);
    while (v.size() < 350000) v.push_back(bits<double>(rng()));
    while (v.size() < 750000) {
        const double x = std::ldexp(mantissa(rng), exponent(rng));
        v.push_back(rng() & 1 ? -x : x);
    }
    while (v.size() < 1000000) {
        const double f = bits<float>(static_cast<uint32_t>(rng()));
        if (!std::isfinite(f)) continue;
        v.push_back(f);
        v.push_back(std::nextafter(f, INFINITY));
        v.push_back(std::nextafter(f, -INFINITY));
    }
    return v;
}

// An anchor that does not lean on the FPU reference below.
TEST(CmatIeee754Single, KnownPatterns) {
    EXPECT_EQ(doubletoIEEE754(1.0), 0x3F800000u);
    EXPECT_EQ(doubletoIEEE754(-2.0), 0xC0000000u);
    EXPECT_EQ(doubletoIEEE754(-0.0), 0u);
    EXPECT_EQ(doubletoIEEE754(-NAN), 0x7FC00000u);
    EXPECT_EQ(doubletoIEEE754(1e39), 0x7F800000u);
    EXPECT_EQ(IEEE754todouble(0xC0000000u), -2.0);
}

TEST(CmatIeee754Single, MatchesHardwareTruncationOverAMillionDoubles) {
    const std::vector<double> in = test_doubles();
    const std::vector<uint32_t> hw = hardware_truncated(in);
    size_t failures = 0;
    for (size_t k = 0; k < in.size() && failures < 10; ++k) {
        const double x = in[k];
        uint32_t expect = hw[k];
        // Where the format's own rules differ from the hardware's.
        if (std::isnan(x)) {
            expect = 0x7FC00000u;
        } else if (x == 0.0) {
            expect = 0;  // -0.0 is not negative
        } else if (std::fabs(x) >= 0x1p128) {
            expect = (x < 0 ? 0x80000000u : 0u) | 0x7F800000u;  // the hardware stops at FLT_MAX
        }
        const uint32_t got = doubletoIEEE754(x);
        if (got != expect) {
            ADD_FAILURE() << std::hexfloat << x << ": got 0x" << std::hex << got << ", expected 0x"
                          << expect;
            ++failures;
        }
    }
    EXPECT_EQ(failures, 0u);
}

// Reading back, over every exponent first and then random patterns.
TEST(CmatIeee754, PatternsReadBackAsTheFloatOrDoubleWithThoseBits) {
    std::mt19937_64 rng(11);
    for (uint32_t k = 0; k < 1000000; ++k) {
        const auto b32 = k < 512 ? (k << 23) | (k & 1) : static_cast<uint32_t>(rng());
        ASSERT_TRUE(same_value(IEEE754todouble(b32), bits<float>(b32))) << std::hex << b32;
        const uint64_t b64 =
            k < 4096 ? (uint64_t{k} << 52) | (k & 1 ? 1u : 0xFFFFFFFFFFFFFull) : rng();
        ASSERT_TRUE(same_value(IEEE754_64todouble(b64), bits<double>(b64))) << std::hex << b64;
    }
}

// --- 3-byte float -----------------------------------------------------------

using bytes3 = std::array<uint8_t, 3>;

bytes3 encode(double x) {
    bytes3 b = {0xAA, 0xAA, 0xAA};
    Float2Bytes3Buf(b.data(), x);
    return b;
}

struct Bytes3Case {
    double value;
    bytes3 bytes;
    bool reads_back;  // decoding the bytes gives `value` back
};

class CmatBytes3Known : public ::testing::TestWithParam<Bytes3Case> {};

TEST_P(CmatBytes3Known, EncodesAndDecodes) {
    const Bytes3Case &c = GetParam();
    EXPECT_EQ(encode(c.value), c.bytes);
    // The scale is e^(E ln 2), which can miss 2^E by an ulp.
    if (c.reads_back) {
        EXPECT_DOUBLE_EQ(Bytes3Buf2Float(c.bytes.data()), c.value);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Values, CmatBytes3Known,
    ::testing::Values(
        Bytes3Case{1.0, {0x40, 0x00, 0x01}, true}, Bytes3Case{-1.0, {0xC0, 0x00, 0x01}, true},
        Bytes3Case{0.0, {0x00, 0x00, 0x00}, true}, Bytes3Case{-0.0, {0x00, 0x00, 0x00}, false},
        Bytes3Case{0.75, {0x30, 0x00, 0x01}, true},  // not normalised: m = 0.375
        Bytes3Case{8.0, {0x40, 0x00, 0x04}, true}, Bytes3Case{0.5, {0x40, 0x00, 0x00}, true},
        Bytes3Case{0.25, {0x40, 0x00, 0xFF}, true}, Bytes3Case{-3.0, {0xE0, 0x00, 0x02}, true},
        // Beyond the format: clamped to the largest and smallest magnitudes.
        Bytes3Case{1e300, {0x7F, 0xFF, 0x80}, false},
        Bytes3Case{-INFINITY, {0xFF, 0xFF, 0x80}, false},
        Bytes3Case{0x1p128, {0x7F, 0xFF, 0x80}, false},
        Bytes3Case{1e-300, {0x00, 0x01, 0x81}, false},
        Bytes3Case{-DBL_TRUE_MIN, {0x80, 0x01, 0x81}, false},
        Bytes3Case{NAN, {0x00, 0x00, 0x00}, false}));

TEST(CmatBytes3, ExtremeExponentsDecode) {
    const bytes3 largest = {0x7F, 0xFF, 0x80};
    EXPECT_NEAR(Bytes3Buf2Float(largest.data()) / (32767.0 / 32768.0 * 0x1p128), 1.0, 1e-13);
    const bytes3 smallest = {0x00, 0x01, 0x81};
    EXPECT_NEAR(Bytes3Buf2Float(smallest.data()) / 0x1p-142, 1.0, 1e-13);
}

// Decoded values stay within one unit of the 15-bit mantissa of the input.
TEST(CmatBytes3, RoundTripWithinOneMantissaUnit) {
    std::mt19937_64 rng(3);
    std::uniform_int_distribution<int> exponent(-127, 127);
    std::uniform_real_distribution<double> mantissa(1.0, 2.0);
    for (int k = 0; k < 200000; ++k) {
        double x = std::ldexp(mantissa(rng), exponent(rng));
        if (k & 1) x = -x;
        const bytes3 b = encode(x);
        const int e = b[2] > 128 ? b[2] - 256 : b[2];
        const double unit = std::ldexp(1.0, e - 15);
        ASSERT_LE(std::fabs(Bytes3Buf2Float(b.data()) - x), unit) << std::hexfloat << x;
        ASSERT_EQ((b[0] & 0x80) != 0, x < 0) << std::hexfloat << x;
    }
}

}  // namespace
