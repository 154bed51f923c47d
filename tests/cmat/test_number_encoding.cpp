// Number encodings against independent references: the FPU's own conversion
// to float with rounding toward zero, the bit patterns of doubles and floats,
// and the 3-byte format's definition.
#include <gtest/gtest.h>

#include <array>
#include <cfenv>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <random>

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
bool same_value(double got, double expect) {
    return std::isnan(expect) ? std::isnan(got) && std::signbit(got) == std::signbit(expect)
                              : bits<uint64_t>(got) == bits<uint64_t>(expect);
}

// What the format wants: the hardware's conversion rounding toward zero
// (volatile keeps the compiler from folding it at another mode), except that
// NaN has one pattern, -0.0 is 0 and the hardware stops at FLT_MAX.
uint32_t reference_single(double x) {
    if (std::isnan(x)) return 0x7FC00000u;
    if (x == 0.0) return 0;
    if (std::fabs(x) >= 0x1p128) return (x < 0 ? 0x80000000u : 0u) | 0x7F800000u;
    const int saved = std::fegetround();
    std::fesetround(FE_TOWARDZERO);
    volatile double d = x;
    volatile float f = static_cast<float>(d);
    std::fesetround(saved);
    return bits<uint32_t>(float(f));
}

// The boundaries and their neighbours, uniform bit patterns (every exponent),
// values around the float range, and the neighbours of random floats.
TEST(CmatIeee754Single, MatchesHardwareTruncationOverAMillionDoubles) {
    std::mt19937_64 rng(20240517);
    std::uniform_int_distribution<int> exponent(-155, 130);
    std::uniform_real_distribution<double> mantissa(1.0, 2.0);
    int failures = 0;
    auto check = [&](double x) {
        if (doubletoIEEE754(x) == reference_single(x) || ++failures > 10) return;
        ADD_FAILURE() << std::hexfloat << x << ": got 0x" << std::hex << doubletoIEEE754(x);
    };
    for (double b : {0.0, 1.0, 2.0, 8.0, 1e-40, 1e39, double(FLT_MAX), 0x1p128, 0x1p-126, 0x1p-149,
                     0x1p-150, DBL_MIN, DBL_TRUE_MIN, DBL_MAX, double(INFINITY), double(NAN)})
        for (double x :
             {b, -b, std::nextafter(b, 0.0), -std::nextafter(b, 0.0), std::nextafter(b, INFINITY)})
            check(x);
    for (int k = 0; k < 350000; ++k) check(bits<double>(rng()));
    for (int k = 0; k < 400000; ++k)
        check(std::ldexp(rng() & 1 ? -mantissa(rng) : mantissa(rng), exponent(rng)));
    for (int k = 0; k < 85000; ++k) {
        const double f = bits<float>(static_cast<uint32_t>(rng()));
        for (double x : {f, std::nextafter(f, INFINITY), std::nextafter(f, -INFINITY)}) check(x);
    }
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

using bytes3 = std::array<uint8_t, 3>;

bytes3 encode(double x) {
    bytes3 b = {0xAA, 0xAA, 0xAA};
    Float2Bytes3Buf(b.data(), x);
    return b;
}

// The decoding scale is e^(E ln 2), which can miss 2^E by an ulp.
TEST(CmatBytes3, KnownValues) {
    const struct {
        double value;
        bytes3 bytes;
        double decoded;
    } cases[] = {
        {1.0, {0x40, 0x00, 0x01}, 1.0},
        {-1.0, {0xC0, 0x00, 0x01}, -1.0},
        {0.0, {0x00, 0x00, 0x00}, 0.0},
        {-0.0, {0x00, 0x00, 0x00}, 0.0},
        {0.75, {0x30, 0x00, 0x01}, 0.75},  // not normalised: m = 0.375
        {8.0, {0x40, 0x00, 0x04}, 8.0},
        {0.5, {0x40, 0x00, 0x00}, 0.5},
        {0.25, {0x40, 0x00, 0xFF}, 0.25},
        {-3.0, {0xE0, 0x00, 0x02}, -3.0},
        // Beyond the format: clamped to the largest and smallest magnitudes.
        {1e300, {0x7F, 0xFF, 0x80}, 32767.0 / 32768.0 * 0x1p128},
        {-INFINITY, {0xFF, 0xFF, 0x80}, -32767.0 / 32768.0 * 0x1p128},
        {0x1p128, {0x7F, 0xFF, 0x80}, 32767.0 / 32768.0 * 0x1p128},
        {1e-300, {0x00, 0x01, 0x81}, 0x1p-142},
        {-DBL_TRUE_MIN, {0x80, 0x01, 0x81}, -0x1p-142},
        {NAN, {0x00, 0x00, 0x00}, 0.0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(encode(c.value), c.bytes);
        EXPECT_NEAR(Bytes3Buf2Float(c.bytes.data()), c.decoded, 1e-13 * std::fabs(c.decoded));
    }
}

// Decoded values stay within one unit of the 15-bit mantissa of the input.
TEST(CmatBytes3, RoundTripWithinOneMantissaUnit) {
    std::mt19937_64 rng(3);
    std::uniform_int_distribution<int> exponent(-127, 127);
    std::uniform_real_distribution<double> mantissa(1.0, 2.0);
    for (int k = 0; k < 200000; ++k) {
        const double x = std::ldexp(k & 1 ? -mantissa(rng) : mantissa(rng), exponent(rng));
        const bytes3 b = encode(x);
        const int e = b[2] > 128 ? b[2] - 256 : b[2];
        ASSERT_LE(std::fabs(Bytes3Buf2Float(b.data()) - x), std::ldexp(1.0, e - 15)) << x;
        ASSERT_EQ((b[0] & 0x80) != 0, x < 0) << std::hexfloat << x;
    }
}

}  // namespace
