// Numbers as text, read and written exactly as the C library does in the
// "C" locale, whatever locale the host process has chosen. The host owns the
// locale (a GUI toolkit may set one with a decimal comma at start-up); the
// instrument's protocol and every log line want a decimal point. Nothing
// here reads or changes the process's locale.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdio>

#if defined(__GNUC__)
#define NUMBER_TEXT_PRINTF(fmt_index, first_arg) \
    __attribute__((format(printf, fmt_index, first_arg)))
#else
#define NUMBER_TEXT_PRINTF(fmt_index, first_arg)
#endif

// strtod in the "C" locale: leading white space, a sign, then a decimal or
// "0x" hexadecimal number, "inf", "infinity" or "nan" (any case). Overflow
// gives the signed HUGE_VAL, underflow 0 or a subnormal. `*end` (may be
// null) receives the first character not used, or `text` when no number
// was read (0 is returned then).
double strtod_c(const char *text, char **end);

// strtol in the "C" locale, `base` 0 or 2 to 36. Base 0 detects the base as
// C literals do: "0x" hexadecimal, another leading 0 octal, else decimal.
// Values beyond `long` are clamped to LONG_MIN / LONG_MAX. A base outside
// the range reads nothing.
long strtol_c(const char *text, char **end, int base);

// Where formatted text goes: `put` receives it in pieces.
struct text_sink {
    void (*put)(void *context, const char *text, size_t length);
    void *context;
};

// printf formatting in the "C" locale: the conversions of C99 (%d %i %u %o
// %x %X %c %s %p %f %F %e %E %g %G %a %A %%, their flags, widths,
// precisions, '*' and length modifiers) with a decimal point in every
// floating-point number. %n, %lc and %ls write nothing. Widths and precisions are
// capped at 255. Returns the number of characters produced.
size_t vformat_c(const text_sink &sink, const char *format, va_list args);

// snprintf / vsnprintf in the "C" locale: at most `size` - 1 characters and
// a NUL (nothing when `size` is 0); returns the length the whole text has,
// so that a result of `size` or more means the text was cut.
int snprintf_c(char *out, size_t size, const char *format, ...) NUMBER_TEXT_PRINTF(3, 4);
int vsnprintf_c(char *out, size_t size, const char *format, va_list args);

// fprintf / vfprintf in the "C" locale; return the number of characters
// produced (write errors are not reported, as the log does not look).
int fprintf_c(std::FILE *stream, const char *format, ...) NUMBER_TEXT_PRINTF(2, 3);
int vfprintf_c(std::FILE *stream, const char *format, va_list args);
