#include "cmat/numlib.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>

namespace {

// The row table and row pointers are positioned outside their allocations so
// that the caller's own index ranges reach the elements; that shift is done
// on addresses as integers, where wrapping is defined.
template <typename T>
T *shifted(T *p, int64_t elements) {
    const auto address = reinterpret_cast<uintptr_t>(p);
    return reinterpret_cast<T *>(address + static_cast<uintptr_t>(elements) * sizeof(T));
}

}  // namespace

double **dmatrix(int32_t row_lo, int32_t row_hi, int32_t col_lo, int32_t col_hi) {
    row_hi = std::max(row_hi, row_lo);
    col_hi = std::max(col_hi, col_lo);
    const int64_t rows = int64_t{row_hi} - row_lo + 1;
    const int64_t cols = int64_t{col_hi} - col_lo + 1;
    // Both counts fit 2^32, so the product fits int64; refuse what size_t
    // bytes cannot hold.
    const int64_t elements = rows * cols;
    const auto max_elements =
        static_cast<uint64_t>(std::numeric_limits<size_t>::max() / sizeof(double));
    if (static_cast<uint64_t>(elements) > max_elements) return nullptr;

    auto **table =
        static_cast<double **>(std::malloc(static_cast<size_t>(rows + 1) * sizeof(double *)));
    if (!table) return nullptr;
    auto *block =
        static_cast<double *>(std::malloc(static_cast<size_t>(elements) * sizeof(double)));
    if (!block) {
        std::free(table);
        return nullptr;
    }
    table[0] = block;
    for (int64_t r = 0; r < rows; ++r) table[r + 1] = shifted(block, r * cols - col_lo);
    return shifted(table, int64_t{1} - row_lo);
}

void free_dmatrix(double **m, int32_t row_lo, int32_t /*row_hi*/, int32_t /*col_lo*/,
                  int32_t /*col_hi*/) {
    if (!m) return;
    double **table = shifted(m, int64_t{row_lo} - 1);
    std::free(table[0]);
    std::free(table);
}

void copy_dmatrix_to3x3(double out[9], double **m, int32_t row_lo, int32_t row_hi, int32_t col_lo,
                        int32_t col_hi) {
    if (!out || !m) return;
    const int64_t last_row = std::min<int64_t>(row_hi, int64_t{row_lo} + 2);
    const int64_t last_col = std::min<int64_t>(col_hi, int64_t{col_lo} + 2);
    for (int64_t i = row_lo; i <= last_row; ++i) {
        const double *row = m[i];
        for (int64_t j = col_lo; j <= last_col; ++j) out[3 * (i - row_lo) + (j - col_lo)] = row[j];
    }
}

void Clamp3(double out[3], const double in[3]) {
    for (int k = 0; k < 3; ++k) out[k] = in[k] < 0.0 ? 0.0 : in[k];
}

void SetUnity3x3(double m[9]) {
    for (int k = 0; k < 9; ++k) m[k] = k % 4 == 0 ? 1.0 : 0.0;
}

void Copy3x3(double dst[9], const double src[9]) {
    if (dst == src) return;
    std::copy(src, src + 9, dst);
}

void MulBy3x3(double out[3], const double m[9], const double v[3]) {
    double t[3];
    for (int i = 0; i < 3; ++i) t[i] = m[3 * i] * v[0] + m[3 * i + 1] * v[1] + m[3 * i + 2] * v[2];
    std::copy(t, t + 3, out);
}

void Mul3x3_2(double out[9], const double a[9], const double b[9]) {
    double t[9];
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            double sum = 0.0;
            for (int k = 0; k < 3; ++k) sum += a[3 * i + k] * b[3 * k + j];
            t[3 * i + j] = sum;
        }
    }
    std::copy(t, t + 9, out);
}

double Det3x3(const double m[9]) {
    return m[0] * (m[4] * m[8] - m[7] * m[5]) - m[1] * (m[3] * m[8] - m[6] * m[5]) +
           m[2] * (m[3] * m[7] - m[6] * m[4]);
}

void adjust(double out[9], const double m[9]) {
    const double t[9] = {
        m[4] * m[8] - m[7] * m[5],    -(m[1] * m[8] - m[7] * m[2]), m[1] * m[5] - m[4] * m[2],
        -(m[3] * m[8] - m[6] * m[5]), m[0] * m[8] - m[6] * m[2],    -(m[0] * m[5] - m[3] * m[2]),
        m[3] * m[7] - m[6] * m[4],    -(m[0] * m[7] - m[6] * m[1]), m[0] * m[4] - m[3] * m[1],
    };
    std::copy(t, t + 9, out);
}

int32_t Inverse3x3(double out[9], const double m[9]) {
    const double d = Det3x3(m);
    if (std::fabs(d) < 1e-8) return 1;
    double t[9];
    adjust(t, m);
    for (double &e : t) e /= d;
    std::copy(t, t + 9, out);
    return 0;
}

void Transpose3x3(double out[9], const double m[9]) {
    double t[9];
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) t[3 * i + j] = m[3 * j + i];
    }
    std::copy(t, t + 9, out);
}
