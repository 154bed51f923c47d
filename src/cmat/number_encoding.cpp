#include "cmat/number_encoding.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace {

// ln 2 as the 3-byte format's scaling has always used it.
constexpr double ln2 = 0.6931471805599453;

constexpr int32_t bytes3_max_exponent = 128;
constexpr int32_t bytes3_min_exponent = -127;
constexpr int32_t bytes3_mantissa_one = 32768;  // mantissa of 1.0, one past the largest

double with_sign(bool negative, double magnitude) {
    return negative ? -magnitude : magnitude;
}

void store_bytes3(uint8_t buf[3], bool negative, int32_t q, int32_t e) {
    buf[0] = static_cast<uint8_t>(q / 256 + (negative ? 128 : 0));
    buf[1] = static_cast<uint8_t>(q - 256 * (q / 256));
    buf[2] = static_cast<uint8_t>(e < 0 ? e + 256 : e);
}

}  // namespace

double IEEE754todouble(uint32_t bits) {
    const bool negative = (bits >> 31) != 0;
    const uint32_t e = (bits >> 23) & 0xFFu;
    const uint32_t f = bits & 0x7FFFFFu;
    if (e == 0xFFu) {
        return with_sign(negative, f ? std::numeric_limits<double>::quiet_NaN()
                                     : std::numeric_limits<double>::infinity());
    }
    // (f + 2^23) / 2^23 * 2^(e - 127), or f / 2^23 * 2^-126; ldexp keeps both exact.
    const double magnitude = e ? std::ldexp(f + 8388608.0, static_cast<int>(e) - 150)
                               : std::ldexp(static_cast<double>(f), -149);
    return with_sign(negative, magnitude);
}

uint32_t doubletoIEEE754(double x) {
    if (std::isnan(x)) return 0x7FC00000u;
    uint32_t sign = 0;
    if (x < 0.0) {
        sign = 0x80000000u;
        x = -x;
    }
    if (std::isinf(x)) return sign | 0x7F800000u;
    if (x == 0.0) return sign;
    int frexp_exponent = 0;
    std::frexp(x, &frexp_exponent);
    const int e = frexp_exponent - 1;  // 2^e <= x < 2^(e+1)
    if (x < 0x1p-126) {
        // Subnormal: the fraction counts units of 2^-149, below 2^23.
        return sign | static_cast<uint32_t>(std::ldexp(x, 149));
    }
    if (e + 127 > 254) return sign | 0x7F800000u;
    const auto fraction = static_cast<uint32_t>(std::ldexp(x, 23 - e)) & 0x7FFFFFu;
    return sign | (static_cast<uint32_t>(e + 127) << 23) | fraction;
}

double IEEE754_64todouble(uint64_t bits) {
    const bool negative = (bits >> 63) != 0;
    const auto e = static_cast<int>((bits >> 52) & 0x7FFu);
    const uint64_t f = bits & 0xFFFFFFFFFFFFFull;
    if (e == 0x7FF) {
        return with_sign(negative, f ? std::numeric_limits<double>::quiet_NaN()
                                     : std::numeric_limits<double>::infinity());
    }
    // f < 2^52, so f + 2^52 is exact in a double.
    const double magnitude = e ? std::ldexp(static_cast<double>(f) + 4503599627370496.0, e - 1075)
                               : std::ldexp(static_cast<double>(f), -1074);
    return with_sign(negative, magnitude);
}

double Bytes3Buf2Float(const uint8_t buf[3]) {
    if (!buf) return 0.0;
    int32_t high = buf[0];
    double sign = 1.0;
    if (high >= 128) {
        sign = -1.0;
        high -= 128;
    }
    const int32_t mantissa = high * 256 + buf[1];
    int32_t e = buf[2];
    if (e > bytes3_max_exponent) e -= 256;
    return sign * mantissa / bytes3_mantissa_one * std::exp(e * ln2);
}

void Float2Bytes3Buf(uint8_t buf[3], double x) {
    if (!buf) return;
    if (x == 0.0 || std::isnan(x)) {
        buf[0] = buf[1] = buf[2] = 0;
        return;
    }
    const bool negative = x < 0.0;
    if (negative) x = -x;
    if (std::isinf(x)) {
        store_bytes3(buf, negative, bytes3_mantissa_one - 1, bytes3_max_exponent);
        return;
    }
    // Finite and positive, so the logarithm lies within about [-745, 710].
    int32_t e = static_cast<int32_t>(std::trunc(std::log(x) / ln2)) + 1;
    if (e > bytes3_max_exponent) {
        store_bytes3(buf, negative, bytes3_mantissa_one - 1, bytes3_max_exponent);
        return;
    }
    // Below the smallest exponent the mantissa carries the rest, unnormalised.
    if (e < bytes3_min_exponent) e = bytes3_min_exponent;
    const double m = x / std::exp(e * ln2);
    auto q = static_cast<int32_t>(m * bytes3_mantissa_one + 0.5);
    if (q >= bytes3_mantissa_one) {
        q /= 2;
        e += 1;
    }
    if (e > bytes3_max_exponent) {
        store_bytes3(buf, negative, bytes3_mantissa_one - 1, bytes3_max_exponent);
        return;
    }
    if (q == 0) q = 1;  // never let a non-zero value vanish
    store_bytes3(buf, negative, q, e);
}
