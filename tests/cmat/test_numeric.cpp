// Number encodings against independent references, and the matrix operations.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cfenv>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <iterator>
#include <random>
#include <tuple>

#include "cmat/number_encoding.h"
#include "cmat/numlib.h"

namespace {

template <class To, class From>
To bits(From from) {
    static_assert(sizeof(To) == sizeof(From));
    To to;
    std::memcpy(&to, &from, sizeof to);
    return to;
}

// The FPU's conversion toward zero, but NaN has one pattern, -0.0 is 0, no FLT_MAX limit.
uint32_t reference_single(double x) {
    if (std::isnan(x)) return 0x7FC00000u;
    if (x == 0.0) return 0;
    if (std::fabs(x) >= 0x1p128) return (x < 0 ? 0x80000000u : 0u) | 0x7F800000u;
    const int saved = std::fegetround();
    std::fesetround(FE_TOWARDZERO);
    volatile double d = x;  // not folded at another rounding mode
    volatile float f = static_cast<float>(d);
    std::fesetround(saved);
    return bits<uint32_t>(float(f));
}

// Boundaries, random bit patterns, values around the float range, floats' neighbours;
// read back, the same bits (NaN: NaN of the same sign) over every exponent, then random.
TEST(CmatIeee754, MatchesHardwareTruncationAndReadsBackTheBits) {
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
    auto same = [](double got, double want) {
        return std::isnan(want) ? std::isnan(got) && std::signbit(got) == std::signbit(want)
                                : bits<uint64_t>(got) == bits<uint64_t>(want);
    };
    for (uint32_t k = 0; k < 1000000; ++k) {
        const auto b32 = k < 512 ? (k << 23) | (k & 1) : static_cast<uint32_t>(rng());
        ASSERT_TRUE(same(IEEE754todouble(b32), bits<float>(b32))) << std::hex << b32;
        const uint64_t b64 =
            k < 4096 ? (uint64_t{k} << 52) | (k & 1 ? 1 : 0xFFFFFFFFFFFFFull) : rng();
        ASSERT_TRUE(same(IEEE754_64todouble(b64), bits<double>(b64))) << std::hex << b64;
    }
}

// Decoding scales by e^(E ln 2), which can miss 2^E by an ulp.
TEST(CmatBytes3, KnownValues) {
    using bytes3 = std::array<uint8_t, 3>;
    const std::tuple<double, bytes3, double> cases[] = {
        {1.0, {0x40, 0x00, 0x01}, 1.0},
        {0.0, {0x00, 0x00, 0x00}, 0.0},
        {-0.0, {0x00, 0x00, 0x00}, 0.0},
        {0.75, {0x30, 0x00, 0x01}, 0.75},  // not normalised: m = 0.375
        {0.5, {0x40, 0x00, 0x00}, 0.5},
        {0.25, {0x40, 0x00, 0xFF}, 0.25},
        {-3.0, {0xE0, 0x00, 0x02}, -3.0},
        {2.0 - 0x1p-20, {0x40, 0x00, 0x02}, 2.0},  // rounds up to the next exponent
        // Beyond the format: clamped to the largest and smallest magnitudes.
        {1e300, {0x7F, 0xFF, 0x80}, 32767.0 / 32768.0 * 0x1p128},
        {-INFINITY, {0xFF, 0xFF, 0x80}, -32767.0 / 32768.0 * 0x1p128},
        {1e-300, {0x00, 0x01, 0x81}, 0x1p-142},
        {-DBL_TRUE_MIN, {0x80, 0x01, 0x81}, -0x1p-142},
        {NAN, {0x00, 0x00, 0x00}, 0.0}};
    for (const auto &[value, want, decoded] : cases) {
        bytes3 got = {0xAA, 0xAA, 0xAA};
        Float2Bytes3Buf(got.data(), value);
        EXPECT_EQ(got, want) << value;
        EXPECT_NEAR(Bytes3Buf2Float(want.data()), decoded, 1e-13 * std::fabs(decoded)) << value;
    }
}

using m3 = std::array<double, 9>;

// Rows follow each other in one block; a high bound below the low one means one.
TEST(CmatDMatrix, LayoutAndCopyTo3x3) {
    for (const auto &[row_lo, row_hi, col_lo, col_hi] :
         {std::array<int32_t, 4>{1, 4, 1, 4}, {5, 2, 0, 0}, {-2, 1, -3, -1}, {10, 14, 7, 3}}) {
        double **m = dmatrix(row_lo, row_hi, col_lo, col_hi);
        const int32_t rows = std::max(row_hi, row_lo) - row_lo + 1;
        const int32_t cols = std::max(col_hi, col_lo) - col_lo + 1;
        for (int32_t k = 0; k < rows * cols; ++k) m[row_lo + k / cols][col_lo + k % cols] = k;
        for (int32_t k = 0; k < rows * cols; ++k) EXPECT_EQ(m[row_lo][col_lo + k], k);
        m3 out{};
        copy_dmatrix_to3x3(out.data(), m, row_lo + 2, row_hi, col_lo, col_hi);  // 2 x 3 of 4 x 4
        EXPECT_TRUE(rows * cols != 16 || out == (m3{8, 9, 10, 12, 13, 14, 0, 0, 0})) << row_lo;
        free_dmatrix(m, row_lo, row_hi, col_lo, col_hi);
    }
    free_dmatrix(nullptr, 1, 3, 1, 3);
}

template <auto F>
void two(double *out, const double *a, const double *b) {
    F(out, a, b);
}
template <auto F>
void one(double *out, const double *a, const double *) {
    F(out, a);
}

// Results worked out by hand; the same with the output over an input.
TEST(CmatMatrix3x3, OperationsSeparateAndInPlace) {
    const m3 A = {2.0, -1.0, 0.5, 3.0, 4.0, -2.0, 1.5, 0.25, 5.0};
    const m3 B = {0.5, 7.0, -3.0, 1.0, 0.0, 2.0, -4.0, 6.0, 1.25};
    const m3 adj = {20.5, 5.125, 0.0, -18.0, 9.25, 5.5, -5.25, -2.0, 11.0};
    EXPECT_EQ(Det3x3(A.data()), 56.375);
    m3 inv;
    for (int k = 0; k < 9; ++k) inv[k] = adj[k] / 56.375;
    const m3 product = {-2.0, 17.0, -7.375, 13.5, 9.0, -3.5, -19.0, 40.5, 2.25};
    // In place, alias 1 writes over a, 2 over b.
    const std::tuple<void (*)(double *, const double *, const double *), int, m3> cases[] = {
        {two<Mul3x3_2>, 1, product},
        {two<Mul3x3_2>, 2, product},
        {two<MulBy3x3>, 2, {-7.5, 35.5, -12.5, 1.0, 0.0, 2.0, -4.0, 6.0, 1.25}},
        {one<adjust>, 1, adj},
        {one<Inverse3x3>, 1, inv},
        {one<Transpose3x3>, 1, {2.0, 3.0, 1.5, -1.0, 4.0, 0.25, 0.5, -2.0, 5.0}},
        {one<Copy3x3>, 1, A},
        {one<Clamp3>, 1, {2.0, 0.0, 0.5, 3.0, 4.0, -2.0, 1.5, 0.25, 5.0}}};
    for (size_t row = 0; row < std::size(cases); ++row) {
        const auto &[fn, alias, expected] = cases[row];
        m3 separate = alias == 1 ? A : B;  // elements past a vector's three stay
        fn(separate.data(), A.data(), B.data());
        EXPECT_EQ(separate, expected) << row;
        m3 a = A, b = B;
        fn(alias == 1 ? a.data() : b.data(), a.data(), b.data());
        EXPECT_EQ(alias == 1 ? a : b, expected) << row << " in place";
    }
    m3 m = {-1e-8, 0, 0, 0, 1, 0, 0, 0, 1};
    SetUnity3x3(inv.data());
    EXPECT_EQ(inv, (m3{1, 0, 0, 0, 1, 0, 0, 0, 1}));
    EXPECT_EQ(Inverse3x3(inv.data(), m.data()), 0);
    EXPECT_EQ(inv[0], -1e8);
    m[0] = 0.99e-8;  // singular below |det| 1e-8: output left alone
    EXPECT_EQ(Inverse3x3(inv.data(), m.data()), 1);
    EXPECT_EQ(inv[0], -1e8);
}

}  // namespace
