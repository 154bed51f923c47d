// Conversions between doubles and compact number encodings: IEEE 754 single
// and double precision bit patterns, and a 3-byte float of the library's own.
#pragma once

#include <cstdint>

// A single-precision pattern's exact value. An all-ones exponent gives the
// signed infinity (zero fraction) or a NaN carrying the pattern's sign.
double IEEE754todouble(uint32_t bits);

// The single-precision pattern of `x`, truncated toward zero (subnormals
// included). -0.0 gives 0; magnitudes of 2^128 or more give the signed
// infinity; infinities give 0x7F800000 / 0xFF800000, NaN gives 0x7FC00000.
uint32_t doubletoIEEE754(double x);

// A double-precision pattern's value: exactly the double with those bits for
// every finite pattern; an all-ones exponent gives the signed infinity or a
// NaN carrying the pattern's sign.
double IEEE754_64todouble(uint64_t bits);

// 3-byte float: byte 0 the sign (bit 7) and the upper 7 bits of a 15-bit
// mantissa, byte 1 its lower 8 bits, byte 2 the exponent E (0..128 as is,
// 129..255 meaning byte - 256). Value: +-(mantissa / 32768) * 2^E; zero is
// three zero bytes. 2^E is computed as e^(E ln 2), the format's own scaling,
// so a power of two can come back an ulp off. Null gives 0.0.
double Bytes3Buf2Float(const uint8_t buf[3]);

// Encodes `x` with the mantissa rounded to nearest (halves up). Magnitudes
// beyond the format are clamped: above the largest value to the largest
// (mantissa 32767, E = 128), below the smallest non-zero one to the smallest
// (mantissa 1, E = -127), keeping the sign; infinities count as beyond. NaN
// is encoded as zero. A null `buf` is left alone.
void Float2Bytes3Buf(uint8_t buf[3], double x);
