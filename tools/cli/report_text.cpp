#include "report_text.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace cli::report {

namespace {

// Each quantity: its unit (with the space that goes before it) and how
// many decimals (or, for luminance, significant digits) it is shown with.
struct quantity_format {
    quantity of;
    const char *unit;
    int digits;
    bool significant;
    bool sign;
};
constexpr std::array<quantity_format, 9> formats = {{
    {quantity::luminance, " cd/m²", 3, true, false},
    {quantity::delta_e, "", 2, false, false},
    {quantity::delta_uv, "", 4, false, false},
    {quantity::xy, "", 4, false, false},
    {quantity::cct, " K", 0, false, false},
    {quantity::duv, "", 4, false, true},
    {quantity::contrast, ":1", 0, false, false},
    {quantity::percent, " %", 1, false, false},
    {quantity::gamma, "", 2, false, false},
}};

const quantity_format &format_of(quantity q) {
    for (const quantity_format &f : formats)
        if (f.of == q) return f;
    return formats[1];
}

std::string number_in(quantity q, double v) {
    const quantity_format &f = format_of(q);
    std::string text = f.significant ? significant(v, f.digits) : fixed(v, f.digits);
    if (f.sign && v >= 0.0) text.insert(0, "+");
    return text;
}

}  // namespace

std::string fixed(double v, int decimals) {
    if (std::isinf(v)) return v > 0 ? "∞" : "-∞";
    if (std::isnan(v)) return "NaN";
    std::array<char, 64> buf{};
    const auto r =
        std::to_chars(buf.data(), buf.data() + buf.size(), v, std::chars_format::fixed, decimals);
    std::string text(buf.data(), r.ptr);
    if (text.find_first_not_of("-0.") == std::string::npos && text[0] == '-') text.erase(0, 1);
    return text;
}

std::string significant(double v, int digits) {
    if (v == 0.0 || !std::isfinite(v)) return fixed(v, digits - 1);
    const int magnitude = static_cast<int>(std::floor(std::log10(std::fabs(v))));
    return fixed(v, std::max(0, digits - 1 - magnitude));
}

const char *unit_of(quantity q) {
    return format_of(q).unit;
}

std::string value_text(quantity q, const std::optional<double> &v) {
    if (!v || std::isnan(*v)) return "—";
    return number_in(q, *v) + unit_of(q);
}

std::string tolerance_text(const check &c) {
    if (!c.tolerance || !c.limit) return "—";
    const tolerance_kind &k = tolerance_kinds[*c.tolerance];
    const std::string limit =
        number_in(k.of == quantity::duv ? quantity::delta_uv : k.of, *c.limit);
    switch (k.how) {
        case test::at_most:
            return "≤ " + limit + unit_of(k.of);
        case test::at_least:
            return "≥ " + limit + unit_of(k.of);
        case test::within:
            return "± " + limit + unit_of(k.of);
        case test::within_percent:
            return "± " + fixed(*c.limit, 1) + " %";
    }
    return "—";
}

bool write_text_file(const std::string &path, const std::string &content, std::string *error) {
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    const bool written = std::fwrite(content.data(), 1, content.size(), f) == content.size();
    if (std::fclose(f) != 0 || !written) {
        *error = path + ": writing failed";
        return false;
    }
    return true;
}

std::string escape_html(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        switch (ch) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7f)
                    out += "\xEF\xBF\xBD";
                else
                    out += ch;
        }
    }
    return out;
}

}  // namespace cli::report
