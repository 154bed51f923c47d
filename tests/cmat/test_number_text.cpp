// Numbers as text without the locale: the C library's own results in the
// "C" locale are the reference, for random and edge-case input, and stay
// the results when a locale with a decimal comma is set.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdarg>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "cmat/number_text.h"

namespace {

struct parsed {
    double d;
    long l0, l10, l16;
    std::ptrdiff_t d_end, l0_end;
};

bool same(const parsed &a, const parsed &b) {
    const bool same_d =
        std::memcmp(&a.d, &b.d, sizeof a.d) == 0 ||
        (std::isnan(a.d) && std::isnan(b.d) && std::signbit(a.d) == std::signbit(b.d));
    return same_d && a.l0 == b.l0 && a.l10 == b.l10 && a.l16 == b.l16 && a.d_end == b.d_end &&
           a.l0_end == b.l0_end;
}

parsed with_c_library(const std::string &s) {
    char *d_end = nullptr, *l_end = nullptr;
    const char *t = s.c_str();
    return {std::strtod(t, &d_end),
            std::strtol(t, &l_end, 0),
            std::strtol(t, nullptr, 10),
            std::strtol(t, nullptr, 16),
            d_end - t,
            l_end - t};
}

parsed with_ours(const std::string &s) {
    char *d_end = nullptr, *l_end = nullptr;
    const char *t = s.c_str();
    return {strtod_c(t, &d_end),
            strtol_c(t, &l_end, 0),
            strtol_c(t, nullptr, 10),
            strtol_c(t, nullptr, 16),
            d_end - t,
            l_end - t};
}

// Blanks, signs, bases, points, exponents, words and extremes, joined at random.
std::vector<std::string> inputs() {
    std::vector<std::string> out{"",
                                 "  +1.5",
                                 "-0",
                                 "0x1A",
                                 "010",
                                 "08",
                                 "95.050000",
                                 " 108.9,x",
                                 "1e309",
                                 "-1e309",
                                 "1e-330",
                                 "4e-324",
                                 "1e-310",
                                 "nan(12)",
                                 "-nan",
                                 "INFINITY",
                                 "0x1p-1080",
                                 "0x.8",
                                 "99999999999999999999",
                                 "-9223372036854775809",
                                 "2147483648",
                                 "-2147483649",
                                 "0x",
                                 "+-1"};
    const char *const pieces[] = {"0",  "1",   "9",    "5",   ".",     "e",  "E",     "-", "+",
                                  " ",  "x",   "X",    "a",   "f",     "p",  "i",     "n", "inf",
                                  "in", "nan", "(",    ")",   "0x",    "\t", "7",     "8", "1e400",
                                  "e-", "g",   "e308", "1,5", "e-320", "00", "1e-400"};
    std::mt19937 rng(410);
    for (int i = 0; i < 100000; ++i) {
        std::string s;
        for (int k = static_cast<int>(rng() % 7); k > 0; --k)
            s += pieces[rng() % std::size(pieces)];
        out.push_back(s);
    }
    return out;
}

const char *const kFloatFormats[] = {
    "%f",       "%9f",     "%.7f",  "%.4f",  "%e",   "%g",    "%G", "%E",    "%+f",   "% f",
    "%-12.3f|", "%012.3f", "%#.0f", "%#.0e", "%.0g", "%.10g", "%a", "%+.2e", "%*.*f", "%.255f"};

std::vector<double> doubles() {
    std::vector<double> out{0.0,       -0.0, 95.05,    100.0,     108.9, 1e38, 0.5,
                            2.5,       -2.5, 1e300,    5e-324,    NAN,   -NAN, INFINITY,
                            -INFINITY, 0.1,  999999.5, 9.9999995, 1e16};
    std::mt19937_64 rng(410);
    while (out.size() < 20000) {
        const uint64_t bits = rng();
        double d;
        std::memcpy(&d, &bits, sizeof d);
        if (!std::isnan(d)) out.push_back(d);
    }
    return out;
}

std::string formatted(const char *format, double v) {
    char out[1024];
    // Every format takes a width and a precision first when it asks for them.
    if (std::strstr(format, "*")) {
        snprintf_c(out, sizeof out, format, 12, 3, v);
    } else {
        snprintf_c(out, sizeof out, format, v);
    }
    return out;
}

std::string reference(const char *format, double v) {
    char out[1024];
    if (std::strstr(format, "*")) {
        std::snprintf(out, sizeof out, format, 12, 3, v);
    } else {
        std::snprintf(out, sizeof out, format, v);
    }
    return out;
}

// snprintf_c without the compiler's check of the format.
void unchecked(char *out, size_t size, const char *format, ...) {
    va_list args;
    va_start(args, format);
    vsnprintf_c(out, size, format, args);
    va_end(args);
}

TEST(number_text, ReadsAsTheCLibraryDoesInTheCLocale) {
    int differ = 0;
    for (const std::string &s : inputs()) {
        if (!same(with_ours(s), with_c_library(s)) && ++differ <= 10)
            ADD_FAILURE() << "[" << s << "]";
    }
    EXPECT_EQ(differ, 0);
}

TEST(number_text, FormatsAsTheCLibraryDoesInTheCLocale) {
    int differ = 0;
    for (const char *format : kFloatFormats) {
        for (double v : doubles()) {
            const std::string ours = formatted(format, v), theirs = reference(format, v);
            if (ours != theirs && ++differ <= 10)
                ADD_FAILURE() << format << ": " << ours << " != " << theirs;
        }
    }
    EXPECT_EQ(differ, 0);
    char out[256];
    const char *const mixed = "%d %i %u %x %X %o %05d %+d %hhd %ld %lld %zu %c|%-3c|%.2s|%6s|%%";
    snprintf_c(out, sizeof out, mixed, -42, 42, 42u, 255u, 255u, 8u, -7, 7, 300, -5L, 1LL << 40,
               size_t{9}, 'A', 'b', "hello", "x");
    EXPECT_STREQ(out, "-42 42 42 ff FF 10 -0007 +7 44 -5 1099511627776 9 A|b  |he|     x|%");
    // glibc drops the zeros that '#' keeps when rounding adds a digit; C keeps them.
    snprintf_c(out, sizeof out, "%#g %#.3g %#g", 150.963, -1.3, 999999.5);
    EXPECT_STREQ(out, "150.963 -1.30 1.00000e+06");
    // Not a conversion: shown as written.
    unchecked(out, sizeof out, "%y|%5k|");
    EXPECT_STREQ(out, "%y|%k|");
    // The length a cut text would have had, and the cut text terminated.
    EXPECT_EQ(snprintf_c(out, 5, "%9f", 95.05), 9);
    EXPECT_STREQ(out, "95.0");
}

// Everything the library reads and writes is the same in a locale with a
// decimal comma, where the C library's own functions change.
TEST(number_text, AHostsCommaLocaleChangesNothing) {
    const std::vector<std::string> texts{"95.050000", "108.9", " -1.5e3", "0x10", "010"};
    std::vector<parsed> before;
    for (const auto &t : texts) before.push_back(with_ours(t));
    const std::string target_before = formatted("%9f", 95.05);

    const std::string saved = std::setlocale(LC_ALL, nullptr);
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8") && !std::setlocale(LC_ALL, "fr_FR.UTF-8"))
        GTEST_SKIP()
            << "SKIPPED: no de_DE.UTF-8 or fr_FR.UTF-8 locale (scripts/install-deps makes them)";
    EXPECT_EQ(std::strtod("108.9", nullptr), 108.0) << "the comma locale is not in effect";
    for (size_t i = 0; i < texts.size(); ++i)
        EXPECT_TRUE(same(with_ours(texts[i]), before[i])) << texts[i];
    EXPECT_EQ(formatted("%9f", 95.05), target_before);
    EXPECT_EQ(target_before, "95.050000");
    std::setlocale(LC_ALL, saved.c_str());
}

}  // namespace
