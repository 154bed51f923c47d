#include "options.h"

#include <charconv>
#include <climits>
#include <cstdio>
#include <fstream>

#include "output.h"

namespace cli {

namespace {

std::string hex_byte(unsigned char c) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\x%02x", c);
    return buf;
}

// The length of the UTF-8 sequence at `s[i]`, or 0 when it is not one.
std::size_t utf8_length(const std::string &s, std::size_t i) {
    const auto c = static_cast<unsigned char>(s[i]);
    const std::size_t n = c < 0x80         ? 1
                          : (c >> 5) == 6  ? 2
                          : (c >> 4) == 14 ? 3
                          : (c >> 3) == 30 ? 4
                                           : 0;
    if (n == 0 || i + n > s.size()) return 0;
    for (std::size_t k = 1; k < n; ++k) {
        if ((static_cast<unsigned char>(s[i + k]) & 0xc0) != 0x80) return 0;
    }
    return n;
}

CLI::Validator whole(long low, long high, const std::string &wanted) {
    return CLI::Validator(
        [low, high, wanted](std::string &text) -> std::string {
            long v = 0;
            const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
            if (r.ec != std::errc() || r.ptr != text.data() + text.size())
                return "must be a whole number, " + wanted + ", not '" + printable(text) + "'";
            if (v < low || v > high) return "must be " + wanted + ", not " + text;
            return {};
        },
        "");
}

}  // namespace

CLI::Validator whole_number(long low, long high) {
    return whole(low, high, std::to_string(low) + " to " + std::to_string(high));
}

CLI::Validator whole_number_from(long low) {
    return whole(low, LONG_MAX, std::to_string(low) + " or more");
}

CLI::Validator writable_file() {
    return CLI::Validator(
        [](std::string &path) -> std::string {
            std::string error;
            return output_path_ok(path, &error) ? std::string() : error;
        },
        "");
}

CLI::Option *add_display_option(CLI::App *sub, std::string &display, const std::string &what) {
    return sub->add_option("--display", display, what)
        ->type_name("DISPLAY")
        ->check(CLI::IsMember({"ideal", "imperfect"}));
}

void add_timing_options(CLI::App *sub, int &settle_ms, int &repeat) {
    sub->add_option("--settle", settle_ms, "wait this long after showing a patch, milliseconds")
        ->type_name("MS")
        ->default_str("200, 0 with --sim")
        ->check(whole_number(0, 600000));
    sub->add_option("--repeat", repeat, "readings per patch (mean and standard deviation)")
        ->type_name("N")
        ->check(whole_number(1, 1000));
}

std::string printable(const std::string &text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t n = utf8_length(text, i);
        if (n == 0 || c < 0x20 || c == 0x7f) {
            out += hex_byte(c);
            ++i;
        } else {
            out.append(text, i, n);
            i += n;
        }
    }
    return out;
}

std::string instrument_text(const std::string &text) {
    std::string out;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        out += c >= 0x20 && c < 0x7f ? std::string(1, ch) : hex_byte(c);
    }
    return out;
}

}  // namespace cli
