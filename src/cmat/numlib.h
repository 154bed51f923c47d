// Matrices of doubles: a general matrix with arbitrary index ranges, and
// fixed 3x3 operations on caller-owned storage.
#pragma once

#include <cstdint>

// A matrix m[i][j] with rows row_lo..row_hi and columns col_lo..col_hi, all
// inclusive and possibly negative; a high bound below its low one is raised
// to it. One block holds the elements, row after row; the row table has one
// extra slot, just before row row_lo, that holds the block's start. The
// elements are not initialised. Returns null, with nothing allocated, when
// memory runs out or the size cannot be represented.
double **dmatrix(int32_t row_lo, int32_t row_hi, int32_t col_lo, int32_t col_hi);
// Frees a matrix from dmatrix; only row_lo is used. Null is accepted.
void free_dmatrix(double **m, int32_t row_lo, int32_t row_hi, int32_t col_lo, int32_t col_hi);
// Copies the window m[row_lo..][col_lo..], cut to at most 3x3, to the top
// left of `out`; elements of `out` outside a smaller window are kept. Does
// nothing when either is null.
void copy_dmatrix_to3x3(double out[9], double **m, int32_t row_lo, int32_t row_hi, int32_t col_lo,
                        int32_t col_hi);

// A 3x3 matrix is 9 doubles in row-major order, element (i, j) at 3 * i + j.
// Every operation below accepts its output aliasing any input.

// Negative elements become 0.0; others (NaN included) are copied.
void Clamp3(double out[3], const double in[3]);
void SetUnity3x3(double m[9]);
void Copy3x3(double dst[9], const double src[9]);
// out = m * v.
void MulBy3x3(double out[3], const double m[9], const double v[3]);
// out = a * b.
void Mul3x3_2(double out[9], const double a[9], const double b[9]);
// Expansion along the first row.
double Det3x3(const double m[9]);
// The adjugate (transposed cofactors).
void adjust(double out[9], const double m[9]);
// Returns 1 and leaves `out` untouched when |det| < 1e-8; else stores the
// inverse and returns 0.
int32_t Inverse3x3(double out[9], const double m[9]);
void Transpose3x3(double out[9], const double m[9]);
