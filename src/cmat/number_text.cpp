#include "cmat/number_text.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <system_error>

namespace {

// The "C" locale's white space, whatever isspace() says elsewhere.
bool is_space(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// The value of digit `c` in bases up to 36, or 99.
int digit_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'z') return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    return 99;
}

bool is_hex_digit(char c) {
    return digit_value(c) < 16;
}

// "0x" followed by a hexadecimal digit, or by a point and one.
bool hex_prefix(const char *p) {
    if (p[0] != '0' || (p[1] != 'x' && p[1] != 'X')) return false;
    return is_hex_digit(p[2]) || (p[2] == '.' && is_hex_digit(p[3]));
}

// Sign of the magnitude of an out-of-range number: the position of its
// first significant digit plus its exponent. Only the extremes are out of
// range, so positive means too large and otherwise too small.
bool too_large(const char *p, const char *last, bool hex) {
    const char exponent_mark = hex ? 'p' : 'e';
    long position = 0;  // of the first non-zero digit, relative to the point
    bool seen_point = false;
    bool seen_digit = false;
    for (; p < last; ++p) {
        if (*p == '.') {
            seen_point = true;
        } else if (digit_value(*p) < (hex ? 16 : 10)) {
            if (!seen_digit && *p != '0') seen_digit = true;
            if (seen_digit && !seen_point) ++position;
            if (!seen_digit && seen_point) --position;
        } else {
            break;
        }
    }
    long exponent = 0;
    if (p < last && (*p | 0x20) == exponent_mark) {
        ++p;
        const bool negative = p < last && *p == '-';
        if (p < last && (*p == '-' || *p == '+')) ++p;
        for (; p < last && *p >= '0' && *p <= '9'; ++p)
            exponent = std::min(exponent * 10 + (*p - '0'), 1L << 24);
        if (negative) exponent = -exponent;
    }
    return position * (hex ? 4 : 1) + exponent > 0;
}

// The end of the hexadecimal number at `p`: its digits, one point, and a
// binary exponent only when a digit follows the 'p' and its sign (the
// library's from_chars would also take "p+-3").
const char *hex_number_end(const char *p, const char *last) {
    bool point = false;
    for (; p < last && (is_hex_digit(*p) || (*p == '.' && !point)); ++p) point |= *p == '.';
    if (p == last || (*p | 0x20) != 'p') return p;
    const char *e = p + 1;
    if (e < last && (*e == '+' || *e == '-')) ++e;
    if (e == last || *e < '0' || *e > '9') return p;
    while (e < last && *e >= '0' && *e <= '9') ++e;
    return e;
}

}  // namespace

double strtod_c(const char *text, char **end) {
    if (end) *end = const_cast<char *>(text);
    if (!text) return 0.0;
    const char *p = text;
    while (is_space(*p)) ++p;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    // from_chars takes a sign of its own; one sign is all strtod reads.
    if (*p == '-' || *p == '+') return 0.0;
    const char *last = p + std::strlen(p);

    double value = 0.0;
    const char *stop = nullptr;
    if (hex_prefix(p)) {
        const auto r =
            std::from_chars(p + 2, hex_number_end(p + 2, last), value, std::chars_format::hex);
        if (r.ec == std::errc::invalid_argument) return 0.0;
        stop = r.ptr;
        if (r.ec == std::errc::result_out_of_range)
            value = too_large(p + 2, last, true) ? HUGE_VAL : 0.0;
    } else {
        const auto r = std::from_chars(p, last, value, std::chars_format::general);
        if (r.ec == std::errc::invalid_argument) return 0.0;
        stop = r.ptr;
        if (r.ec == std::errc::result_out_of_range)
            value = too_large(p, last, false) ? HUGE_VAL : 0.0;
    }
    if (end) *end = const_cast<char *>(stop);
    return negative ? -value : value;
}

long strtol_c(const char *text, char **end, int base) {
    if (end) *end = const_cast<char *>(text);
    if (!text || base < 0 || base == 1 || base > 36) return 0;
    const char *p = text;
    while (is_space(*p)) ++p;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    if ((base == 0 || base == 16) && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') &&
        is_hex_digit(p[2])) {
        p += 2;
        base = 16;
    } else if (base == 0) {
        base = p[0] == '0' ? 8 : 10;
    }
    // Accumulated as a magnitude; the limit of a negative value is one more.
    const unsigned long limit = negative ? static_cast<unsigned long>(LONG_MAX) + 1UL
                                         : static_cast<unsigned long>(LONG_MAX);
    unsigned long magnitude = 0;
    bool overflow = false;
    const char *first = p;
    for (int d; (d = digit_value(*p)) < base; ++p) {
        const auto digit = static_cast<unsigned long>(d);
        if (magnitude > (limit - digit) / static_cast<unsigned long>(base)) {
            overflow = true;
        } else {
            magnitude = magnitude * static_cast<unsigned long>(base) + digit;
        }
    }
    if (p == first) return 0;
    if (end) *end = const_cast<char *>(p);
    if (overflow) return negative ? LONG_MIN : LONG_MAX;
    if (!negative) return static_cast<long>(magnitude);
    return magnitude == limit ? LONG_MIN : -static_cast<long>(magnitude);
}

namespace {

constexpr int kMaxField = 255;

// One conversion directive, with '*' resolved.
struct conversion {
    bool left = false, plus = false, space = false, alternate = false, zero = false;
    int width = 0;
    int precision = -1;  // none
    char length[3] = {};
    char kind = 0;
};

class emitter {
  public:
    explicit emitter(const text_sink &sink) : sink_(sink) {}
    void put(const char *text, size_t n) {
        if (n == 0) return;
        sink_.put(sink_.context, text, n);
        count_ += n;
    }
    void repeat(char c, int n) {
        char run[32];
        std::memset(run, c, sizeof run);
        for (; n > 0; n -= static_cast<int>(sizeof run)) {
            put(run, static_cast<size_t>(std::min(n, static_cast<int>(sizeof run))));
        }
    }
    // Sign (or prefix) and body, padded to the width.
    void field(const conversion &c, const char *head, size_t head_len, const char *body,
               size_t body_len, bool zero_pad) {
        const int pad = c.width - static_cast<int>(head_len + body_len);
        if (!c.left && !zero_pad) repeat(' ', pad);
        put(head, head_len);
        if (!c.left && zero_pad) repeat('0', pad);
        put(body, body_len);
        if (c.left) repeat(' ', pad);
    }
    size_t count() const { return count_; }

  private:
    const text_sink &sink_;
    size_t count_ = 0;
};

// Reads flags, width, precision and length of the directive at `p`
// (just after the '%'); returns the character after it.
const char *read_conversion(const char *p, conversion *c, va_list *args) {
    for (;; ++p) {
        if (*p == '-')
            c->left = true;
        else if (*p == '+')
            c->plus = true;
        else if (*p == ' ')
            c->space = true;
        else if (*p == '#')
            c->alternate = true;
        else if (*p == '0')
            c->zero = true;
        else
            break;
    }
    if (*p == '*') {
        const int w = va_arg(*args, int);
        if (w < 0) c->left = true;
        c->width = w < 0 ? (w == INT_MIN ? INT_MAX : -w) : w;
        ++p;
    } else {
        for (; *p >= '0' && *p <= '9'; ++p) c->width = std::min(c->width * 10 + (*p - '0'), 100000);
    }
    if (*p == '.') {
        ++p;
        if (*p == '*') {
            const int q = va_arg(*args, int);
            c->precision = q < 0 ? -1 : q;
            ++p;
        } else {
            c->precision = 0;
            for (; *p >= '0' && *p <= '9'; ++p)
                c->precision = std::min(c->precision * 10 + (*p - '0'), 100000);
        }
    }
    c->width = std::min(c->width, kMaxField);
    c->precision = std::min(c->precision, kMaxField);
    if (*p == 'h' || *p == 'l') {
        c->length[0] = *p++;
        if (*p == c->length[0]) c->length[1] = *p++;  // hh, ll
    } else if (*p && std::strchr("jztL", *p)) {
        c->length[0] = *p++;
    }
    c->kind = *p;
    return *p ? p + 1 : p;
}

// The directive as text for snprintf, '*' resolved.
void directive_text(const conversion &c, char *out, size_t size) {
    char flags[6] = {};
    size_t n = 0;
    if (c.left) flags[n++] = '-';
    if (c.plus) flags[n++] = '+';
    if (c.space) flags[n++] = ' ';
    if (c.alternate) flags[n++] = '#';
    if (c.zero) flags[n++] = '0';
    if (c.precision >= 0) {
        std::snprintf(out, size, "%%%s%d.%d%s%c", flags, c.width, c.precision, c.length, c.kind);
    } else {
        std::snprintf(out, size, "%%%s%d%s%c", flags, c.width, c.length, c.kind);
    }
}

// Integers, pointers and wide characters: the C library's own conversion,
// which no locale changes.
void put_delegated(emitter &out, const conversion &c, va_list *args) {
    char directive[32];
    directive_text(c, directive, sizeof directive);
    char text[2 * kMaxField + 64];
    int n = 0;
    const bool is_signed = c.kind == 'd' || c.kind == 'i';
    const std::string_view len(c.length);
    if (c.kind == 'p') {
        n = std::snprintf(text, sizeof text, directive, va_arg(*args, void *));
    } else if (len == "l") {
        n = is_signed ? std::snprintf(text, sizeof text, directive, va_arg(*args, long))
                      : std::snprintf(text, sizeof text, directive, va_arg(*args, unsigned long));
    } else if (len == "ll") {
        n = is_signed
                ? std::snprintf(text, sizeof text, directive, va_arg(*args, long long))
                : std::snprintf(text, sizeof text, directive, va_arg(*args, unsigned long long));
    } else if (len == "j") {
        n = is_signed ? std::snprintf(text, sizeof text, directive, va_arg(*args, intmax_t))
                      : std::snprintf(text, sizeof text, directive, va_arg(*args, uintmax_t));
    } else if (len == "z") {
        n = std::snprintf(text, sizeof text, directive, va_arg(*args, size_t));
    } else if (len == "t") {
        n = std::snprintf(text, sizeof text, directive, va_arg(*args, ptrdiff_t));
    } else {
        n = is_signed ? std::snprintf(text, sizeof text, directive, va_arg(*args, int))
                      : std::snprintf(text, sizeof text, directive, va_arg(*args, unsigned));
    }
    if (n > 0) out.put(text, std::min(static_cast<size_t>(n), sizeof text - 1));
}

void put_string(emitter &out, const conversion &c, const char *s) {
    if (!s) s = "(null)";
    const size_t n =
        c.precision >= 0 ? strnlen(s, static_cast<size_t>(c.precision)) : std::strlen(s);
    out.field(c, "", 0, s, n, false);
}

// Digits of a non-negative finite `a` as %f, %e, %g or %a (lower case) with
// precision `precision` (-1: none), the '#' flag applied. Returns the length.
template <typename T>
size_t float_digits(char *buf, size_t size, T a, char kind, int precision, bool alternate) {
    char *const last = buf + size - 2;  // room for a point added by '#'
    std::to_chars_result r{};
    switch (kind) {
        case 'f':
            r = std::to_chars(buf, last, a, std::chars_format::fixed,
                              precision < 0 ? 6 : precision);
            break;
        case 'e':
            r = std::to_chars(buf, last, a, std::chars_format::scientific,
                              precision < 0 ? 6 : precision);
            break;
        case 'a':
            r = precision < 0 ? std::to_chars(buf, last, a, std::chars_format::hex)
                              : std::to_chars(buf, last, a, std::chars_format::hex, precision);
            break;
        default: {  // 'g'
            const int p = precision < 0 ? 6 : (precision == 0 ? 1 : precision);
            if (!alternate) {
                r = std::to_chars(buf, last, a, std::chars_format::general, p);
                break;
            }
            // '#' keeps the trailing zeros that to_chars's %g removes: choose
            // between %e and %f by the exponent, as C does.
            r = std::to_chars(buf, last, a, std::chars_format::scientific, p - 1);
            // The digits are not terminated: read the exponent within them.
            const char *e = std::find(buf, r.ptr, 'e') + 1;
            int x = 0;
            if (e < r.ptr && *e == '+') ++e;
            std::from_chars(e, r.ptr, x);
            if (x >= -4 && x < p) {
                r = std::to_chars(buf, last, a, std::chars_format::fixed, p - 1 - x);
            }
        }
    }
    if (r.ec != std::errc()) return 0;
    size_t n = static_cast<size_t>(r.ptr - buf);
    if (alternate && !std::memchr(buf, '.', n)) {
        // The point goes before the exponent, if there is one.
        char *mark = std::find_if(buf, buf + n, [](char ch) { return ch == 'e' || ch == 'p'; });
        std::memmove(mark + 1, mark, static_cast<size_t>(buf + n - mark));
        *mark = '.';
        ++n;
    }
    return n;
}

template <typename T>
void put_float(emitter &out, const conversion &c, T v) {
    const bool upper = std::isupper(static_cast<unsigned char>(c.kind)) != 0;
    const char kind = static_cast<char>(std::tolower(static_cast<unsigned char>(c.kind)));
    char head[4] = {};
    size_t head_len = 0;
    if (std::signbit(v))
        head[head_len++] = '-';
    else if (c.plus)
        head[head_len++] = '+';
    else if (c.space)
        head[head_len++] = ' ';
    std::array<char, 5300> digits;  // a long double in full, and 255 decimals
    size_t n = 0;
    const bool finite = std::isfinite(v);
    if (!finite) {
        n = 3;
        std::memcpy(digits.data(), std::isnan(v) ? "nan" : "inf", 3);
    } else {
        if (kind == 'a') {
            head[head_len++] = '0';
            head[head_len++] = 'x';
        }
        n = float_digits(digits.data(), digits.size(), std::fabs(v), kind, c.precision,
                         c.alternate);
    }
    if (upper) {
        for (size_t i = 0; i < head_len; ++i)
            head[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(head[i])));
        for (size_t i = 0; i < n; ++i)
            digits[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(digits[i])));
    }
    out.field(c, head, head_len, digits.data(), n, c.zero && !c.left && finite);
}

void put_conversion(emitter &out, const conversion &c, va_list *args) {
    switch (c.kind) {
        case 'f':
        case 'F':
        case 'e':
        case 'E':
        case 'g':
        case 'G':
        case 'a':
        case 'A':
            if (c.length[0] == 'L') {
                put_float(out, c, va_arg(*args, long double));
            } else {
                put_float(out, c, va_arg(*args, double));
            }
            return;
        case 's':
            if (c.length[0] == 'l') {  // wide text: not for a log line
                (void)va_arg(*args, const wchar_t *);
            } else {
                put_string(out, c, va_arg(*args, const char *));
            }
            return;
        case 'c': {
            const char ch = static_cast<char>(va_arg(*args, int));  // %lc's wint_t is promoted too
            if (c.length[0] != 'l') out.field(c, "", 0, &ch, 1, false);
            return;
        }
        case 'n':  // never writes through a pointer of the caller's format
            (void)va_arg(*args, void *);
            return;
        case 'd':
        case 'i':
        case 'u':
        case 'o':
        case 'x':
        case 'X':
        case 'p':
            break;
        default:  // not a conversion: shown as written
            out.put("%", 1);
            if (c.kind) out.put(&c.kind, 1);
            return;
    }
    put_delegated(out, c, args);
}

}  // namespace

size_t vformat_c(const text_sink &sink, const char *format, va_list args) {
    emitter out(sink);
    if (!format) return 0;
    va_list ap;
    va_copy(ap, args);
    for (const char *p = format; *p;) {
        const char *percent = std::strchr(p, '%');
        if (!percent) {
            out.put(p, std::strlen(p));
            break;
        }
        out.put(p, static_cast<size_t>(percent - p));
        if (percent[1] == '%') {
            out.put("%", 1);
            p = percent + 2;
            continue;
        }
        conversion c;
        p = read_conversion(percent + 1, &c, &ap);
        put_conversion(out, c, &ap);
    }
    va_end(ap);
    return out.count();
}

namespace {

struct buffer_sink {
    char *out;
    size_t size;
    size_t used = 0;

    static void put(void *context, const char *text, size_t n) {
        auto *b = static_cast<buffer_sink *>(context);
        if (b->used + 1 < b->size) {
            const size_t room = b->size - 1 - b->used;
            std::memcpy(b->out + b->used, text, std::min(room, n));
        }
        b->used += n;
    }
};

// Collects a message and writes it in as few writes as possible, so that
// the lines of several threads on an unbuffered stream do not mix.
struct stream_sink {
    std::FILE *stream;
    char pending[4096];
    size_t used = 0;

    void flush() {
        if (used) std::fwrite(pending, 1, used, stream);
        used = 0;
    }
    static void put(void *context, const char *text, size_t n) {
        auto *s = static_cast<stream_sink *>(context);
        if (s->used + n > sizeof s->pending) s->flush();
        if (n > sizeof s->pending) {
            std::fwrite(text, 1, n, s->stream);
            return;
        }
        std::memcpy(s->pending + s->used, text, n);
        s->used += n;
    }
};

int clamp_count(size_t n) {
    return n > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(n);
}

}  // namespace

int vsnprintf_c(char *out, size_t size, const char *format, va_list args) {
    buffer_sink b{out, size};
    const size_t n = vformat_c({buffer_sink::put, &b}, format, args);
    if (size > 0) out[std::min(n, size - 1)] = '\0';
    return clamp_count(n);
}

int snprintf_c(char *out, size_t size, const char *format, ...) {
    va_list args;
    va_start(args, format);
    const int n = vsnprintf_c(out, size, format, args);
    va_end(args);
    return n;
}

int vfprintf_c(std::FILE *stream, const char *format, va_list args) {
    stream_sink s{stream, {}};
    const size_t n = vformat_c({stream_sink::put, &s}, format, args);
    s.flush();
    return clamp_count(n);
}

int fprintf_c(std::FILE *stream, const char *format, ...) {
    va_list args;
    va_start(args, format);
    const int n = vfprintf_c(stream, format, args);
    va_end(args);
    return n;
}
