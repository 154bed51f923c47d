// General matrices and the 3x3 operations, with their output aliasing an input.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>

#include "cmat/numlib.h"

namespace {

using m3 = std::array<double, 9>;
using v3 = std::array<double, 3>;

const m3 A = {2.0, -1.0, 0.5, 3.0, 4.0, -2.0, 1.5, 0.25, 5.0};
const m3 B = {0.5, 7.0, -3.0, 1.0, 0.0, 2.0, -4.0, 6.0, 1.25};

struct Range {
    int32_t row_lo, row_hi, col_lo, col_hi;
};

class CmatDMatrixRanges : public ::testing::TestWithParam<Range> {};

// Rows follow each other in one block, the slot before the first row holds
// the block, and every element can be written and read back.
TEST_P(CmatDMatrixRanges, LayoutAndAccess) {
    const Range r = GetParam();
    double **m = dmatrix(r.row_lo, r.row_hi, r.col_lo, r.col_hi);
    ASSERT_NE(m, nullptr);
    const int32_t row_hi = std::max(r.row_hi, r.row_lo);
    const int32_t col_hi = std::max(r.col_hi, r.col_lo);
    const int32_t cols = col_hi - r.col_lo + 1;
    const double *block = &m[r.row_lo][r.col_lo];
    EXPECT_EQ(m[r.row_lo - 1], block);
    for (int32_t i = r.row_lo; i <= row_hi; ++i) {
        EXPECT_EQ(&m[i][r.col_lo], block + (i - r.row_lo) * cols);
        for (int32_t j = r.col_lo; j <= col_hi; ++j) m[i][j] = 100.0 * i + j;
    }
    for (int32_t i = r.row_lo; i <= row_hi; ++i) {
        for (int32_t j = r.col_lo; j <= col_hi; ++j) EXPECT_EQ(m[i][j], 100.0 * i + j);
    }
    free_dmatrix(m, r.row_lo, r.row_hi, r.col_lo, r.col_hi);
}

INSTANTIATE_TEST_SUITE_P(Ranges, CmatDMatrixRanges,
                         ::testing::Values(Range{1, 3, 1, 3}, Range{5, 2, 0, 0}, Range{0, 0, 0, 0},
                                           Range{-2, 1, -3, -1}, Range{10, 14, 7, 3}));

TEST(CmatDMatrix, FreeAcceptsNull) {
    free_dmatrix(nullptr, 1, 3, 1, 3);
}

TEST(CmatDMatrix, CopyWindowTo3x3) {
    double **m = dmatrix(1, 4, 1, 4);
    for (int i = 1; i <= 4; ++i) {
        for (int j = 1; j <= 4; ++j) m[i][j] = 10.0 * i + j;
    }
    m3 out;
    out.fill(-1.0);
    copy_dmatrix_to3x3(out.data(), m, 1, 4, 1, 4);
    EXPECT_EQ(out, (m3{11, 12, 13, 21, 22, 23, 31, 32, 33}));
    out.fill(-1.0);
    copy_dmatrix_to3x3(out.data(), m, 3, 4, 2, 3);  // 2x2 window from (3, 2)
    EXPECT_EQ(out, (m3{32, 33, -1, 42, 43, -1, -1, -1, -1}));
    free_dmatrix(m, 1, 4, 1, 4);
}

TEST(CmatMatrix3x3, ClampUnityCopyDet) {
    v3 v = {-0.5, 0.0, 2.0};
    Clamp3(v.data(), v.data());
    EXPECT_EQ(v, (v3{0.0, 0.0, 2.0}));
    const v3 with_nan = {NAN, -INFINITY, 1.0};
    v3 out;
    Clamp3(out.data(), with_nan.data());
    EXPECT_TRUE(std::isnan(out[0]));
    EXPECT_EQ(out[1], 0.0);

    m3 u;
    u.fill(7.0);
    SetUnity3x3(u.data());
    EXPECT_EQ(u, (m3{1, 0, 0, 0, 1, 0, 0, 0, 1}));
    Copy3x3(u.data(), A.data());
    EXPECT_EQ(u, A);
    // 2(20 + 0.5) + 1(15 + 3) + 0.5(0.75 - 6)
    EXPECT_DOUBLE_EQ(Det3x3(A.data()), 41.0 + 18.0 - 2.625);
}

TEST(CmatMatrix3x3, ProductsAdjugateInverse) {
    m3 p;
    Mul3x3_2(p.data(), A.data(), B.data());
    EXPECT_EQ(p, (m3{-2.0, 17.0, -7.375, 13.5, 9.0, -3.5, -19.0, 40.5, 2.25}));
    const v3 v = {1.0, -2.0, 0.5};
    v3 mv;
    MulBy3x3(mv.data(), A.data(), v.data());
    EXPECT_EQ(mv, (v3{4.25, -6.0, 3.5}));

    // A * adj(A) = det(A) * I; A * inv(A) = I.
    m3 adj;
    adjust(adj.data(), A.data());
    Mul3x3_2(p.data(), A.data(), adj.data());
    const double det = Det3x3(A.data());
    for (int k = 0; k < 9; ++k) EXPECT_NEAR(p[k], k % 4 == 0 ? det : 0.0, 1e-12) << k;
    m3 inv;
    ASSERT_EQ(Inverse3x3(inv.data(), A.data()), 0);
    Mul3x3_2(p.data(), A.data(), inv.data());
    for (int k = 0; k < 9; ++k) EXPECT_NEAR(p[k], k % 4 == 0 ? 1.0 : 0.0, 1e-14) << k;
    m3 t;
    Transpose3x3(t.data(), A.data());
    EXPECT_EQ(t, (m3{2.0, 3.0, 1.5, -1.0, 4.0, 0.25, 0.5, -2.0, 5.0}));
}

struct InverseCase {
    double det;
    int32_t result;
};

class CmatInverseThreshold : public ::testing::TestWithParam<InverseCase> {};

TEST_P(CmatInverseThreshold, SingularBelow1e8) {
    const InverseCase c = GetParam();
    const m3 m = {c.det, 0, 0, 0, 1, 0, 0, 0, 1};
    ASSERT_EQ(Det3x3(m.data()), c.det);
    m3 out;
    out.fill(5.0);
    EXPECT_EQ(Inverse3x3(out.data(), m.data()), c.result);
    if (c.result == 1) {
        for (double e : out) EXPECT_EQ(e, 5.0);
    } else {
        EXPECT_EQ(out, (m3{1.0 / c.det, 0, 0, 0, 1, 0, 0, 0, 1}));
    }
}

INSTANTIATE_TEST_SUITE_P(Determinants, CmatInverseThreshold,
                         ::testing::Values(InverseCase{0.5e-8, 1}, InverseCase{-0.5e-8, 1},
                                           InverseCase{0.0, 1}, InverseCase{1e-8, 0},
                                           InverseCase{-1e-8, 0}));

// Each operation in place must give what it gives into a separate output.
struct AliasCase {
    const char *name;
    std::function<void(double *out, const double *a, const double *b)> op;
    int alias;  // 1: out is a, 2: out is b
    int size;   // elements of the result
};

class CmatInPlace : public ::testing::TestWithParam<AliasCase> {};

TEST_P(CmatInPlace, SameAsSeparateOutput) {
    const AliasCase &c = GetParam();
    m3 separate;
    separate.fill(0.0);
    c.op(separate.data(), A.data(), B.data());
    m3 a = A;
    m3 b = B;
    double *out = c.alias == 1 ? a.data() : b.data();
    c.op(out, a.data(), b.data());
    for (int k = 0; k < c.size; ++k) EXPECT_EQ(out[k], separate[k]) << c.name << " " << k;
}

INSTANTIATE_TEST_SUITE_P(
    Aliasing, CmatInPlace,
    ::testing::Values(
        AliasCase{"Mul3x3_2(a, a, b)",
                  [](double *o, const double *a, const double *b) { Mul3x3_2(o, a, b); }, 1, 9},
        AliasCase{"Mul3x3_2(b, a, b)",
                  [](double *o, const double *a, const double *b) { Mul3x3_2(o, a, b); }, 2, 9},
        AliasCase{"adjust", [](double *o, const double *a, const double *) { adjust(o, a); }, 1, 9},
        AliasCase{"Inverse3x3",
                  [](double *o, const double *a, const double *) { Inverse3x3(o, a); }, 1, 9},
        AliasCase{"Transpose3x3",
                  [](double *o, const double *a, const double *) { Transpose3x3(o, a); }, 1, 9},
        AliasCase{"MulBy3x3(v, m, v)",
                  [](double *o, const double *a, const double *b) { MulBy3x3(o, a, b); }, 2, 3},
        AliasCase{"Copy3x3", [](double *o, const double *a, const double *) { Copy3x3(o, a); }, 1,
                  9},
        AliasCase{"Clamp3", [](double *o, const double *a, const double *) { Clamp3(o, a); }, 1,
                  3}));

}  // namespace
