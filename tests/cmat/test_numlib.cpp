// General matrices and the 3x3 operations, also with their output aliasing an input.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>

#include "cmat/numlib.h"

namespace {

using m3 = std::array<double, 9>;

// Rows follow each other in one block, the slot before the first row holds
// the block, and every element can be written and read back. A high bound
// below the low one means a single row or column.
TEST(CmatDMatrix, LayoutAndAccess) {
    const std::array<int32_t, 4> ranges[] = {
        {1, 3, 1, 3}, {5, 2, 0, 0}, {0, 0, 0, 0}, {-2, 1, -3, -1}, {10, 14, 7, 3}};
    for (const auto &[row_lo, row_hi_asked, col_lo, col_hi_asked] : ranges) {
        double **m = dmatrix(row_lo, row_hi_asked, col_lo, col_hi_asked);
        ASSERT_NE(m, nullptr);
        const int32_t row_hi = std::max(row_hi_asked, row_lo);
        const int32_t col_hi = std::max(col_hi_asked, col_lo);
        const double *block = &m[row_lo][col_lo];
        EXPECT_EQ(m[row_lo - 1], block) << row_lo;
        for (int32_t i = row_lo; i <= row_hi; ++i) {
            EXPECT_EQ(&m[i][col_lo], block + (i - row_lo) * (col_hi - col_lo + 1)) << i;
            for (int32_t j = col_lo; j <= col_hi; ++j) m[i][j] = 100.0 * i + j;
        }
        for (int32_t i = row_lo; i <= row_hi; ++i)
            for (int32_t j = col_lo; j <= col_hi; ++j) EXPECT_EQ(m[i][j], 100.0 * i + j);
        free_dmatrix(m, row_lo, row_hi_asked, col_lo, col_hi_asked);
    }
    free_dmatrix(nullptr, 1, 3, 1, 3);
}

TEST(CmatDMatrix, CopyWindowTo3x3) {
    double **m = dmatrix(1, 4, 1, 4);
    for (int i = 1; i <= 4; ++i)
        for (int j = 1; j <= 4; ++j) m[i][j] = 10.0 * i + j;
    m3 out;
    out.fill(-1.0);
    copy_dmatrix_to3x3(out.data(), m, 1, 4, 1, 4);
    EXPECT_EQ(out, (m3{11, 12, 13, 21, 22, 23, 31, 32, 33}));
    out.fill(-1.0);
    copy_dmatrix_to3x3(out.data(), m, 3, 4, 2, 3);  // 2x2 window from (3, 2)
    EXPECT_EQ(out, (m3{32, 33, -1, 42, 43, -1, -1, -1, -1}));
    free_dmatrix(m, 1, 4, 1, 4);
}

template <auto F>
void two(double *out, const double *a, const double *b) {
    F(out, a, b);
}
template <auto F>
void one(double *out, const double *a, const double *) {
    F(out, a);
}

// Results worked out by hand; each operation gives the same in place.
TEST(CmatMatrix3x3, OperationsSeparateAndInPlace) {
    const m3 A = {2.0, -1.0, 0.5, 3.0, 4.0, -2.0, 1.5, 0.25, 5.0};
    const m3 B = {0.5, 7.0, -3.0, 1.0, 0.0, 2.0, -4.0, 6.0, 1.25};
    const m3 adj = {20.5, 5.125, 0.0, -18.0, 9.25, 5.5, -5.25, -2.0, 11.0};
    EXPECT_EQ(Det3x3(A.data()), 56.375);
    m3 inv;
    for (int k = 0; k < 9; ++k) inv[k] = adj[k] / 56.375;
    const m3 product = {-2.0, 17.0, -7.375, 13.5, 9.0, -3.5, -19.0, 40.5, 2.25};
    const struct {
        const char *name;
        void (*fn)(double *, const double *, const double *);
        int alias;  // in place: 1 writes over a, 2 over b
        m3 expected;
    } cases[] = {
        {"Mul3x3_2 (a)", two<Mul3x3_2>, 1, product},
        {"Mul3x3_2 (b)", two<Mul3x3_2>, 2, product},
        {"MulBy3x3", two<MulBy3x3>, 2, {-7.5, 35.5, -12.5, 1.0, 0.0, 2.0, -4.0, 6.0, 1.25}},
        {"adjust", one<adjust>, 1, adj},
        {"Inverse3x3", one<Inverse3x3>, 1, inv},
        {"Transpose3x3", one<Transpose3x3>, 1, {2.0, 3.0, 1.5, -1.0, 4.0, 0.25, 0.5, -2.0, 5.0}},
        {"Copy3x3", one<Copy3x3>, 1, A},
        {"Clamp3", one<Clamp3>, 1, {2.0, 0.0, 0.5, 3.0, 4.0, -2.0, 1.5, 0.25, 5.0}},
    };
    for (const auto &c : cases) {
        m3 separate = c.alias == 1 ? A : B;  // elements past a vector's three stay
        c.fn(separate.data(), A.data(), B.data());
        EXPECT_EQ(separate, c.expected) << c.name;
        m3 a = A;
        m3 b = B;
        c.fn(c.alias == 1 ? a.data() : b.data(), a.data(), b.data());
        EXPECT_EQ(c.alias == 1 ? a : b, c.expected) << c.name << " in place";
    }
    m3 unity;
    unity.fill(7.0);
    SetUnity3x3(unity.data());
    EXPECT_EQ(unity, (m3{1, 0, 0, 0, 1, 0, 0, 0, 1}));
}

// Singular below |det| 1e-8: 1 returned and the output left alone.
TEST(CmatMatrix3x3, InverseThreshold) {
    for (const double det : {0.5e-8, -0.5e-8, 0.0, 1e-8, -1e-8}) {
        const m3 m = {det, 0, 0, 0, 1, 0, 0, 0, 1};
        m3 out;
        out.fill(5.0);
        const bool singular = std::fabs(det) < 1e-8;
        EXPECT_EQ(Inverse3x3(out.data(), m.data()), singular ? 1 : 0) << det;
        EXPECT_EQ(out, singular ? (m3{5, 5, 5, 5, 5, 5, 5, 5, 5})
                                : (m3{1.0 / det, 0, 0, 0, 1, 0, 0, 0, 1}))
            << det;
    }
}

}  // namespace
