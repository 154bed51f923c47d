#include "cgats.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>

#include "ca410_version.h"

namespace cli {

// ---- Problems ------------------------------------------------------------

namespace {

constexpr const char *problem_keywords[] = {"io",
                                            "too_large",
                                            "line_too_long",
                                            "truncated",
                                            "missing_end_data",
                                            "field_count",
                                            "set_count",
                                            "duplicate_id",
                                            "not_a_number",
                                            "unknown_field",
                                            "unterminated_string",
                                            "syntax",
                                            "missing_field",
                                            "out_of_range",
                                            "no_patches",
                                            "mismatch"};
static_assert(std::size(problem_keywords) == static_cast<std::size_t>(file_problem::mismatch) + 1);

std::string where(const std::string &file, std::size_t line) {
    return line ? file + ":" + std::to_string(line) : file;
}

std::string system_reason(const char *what) {
    return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

const char *problem_keyword(file_problem p) {
    return problem_keywords[static_cast<std::size_t>(p)];
}

file_error::file_error(const std::string &file, std::size_t line, file_problem problem,
                       const std::string &reason)
    : std::runtime_error(where(file, line) + ": " + reason),
      file(file),
      line(line),
      problem(problem) {}

// ---- Text files ----------------------------------------------------------

namespace {

constexpr std::string_view utf8_bom = "\xEF\xBB\xBF";

std::string too_long_reason() {
    return "line longer than " + std::to_string(max_line_bytes / 1024) + " KiB (not a text file?)";
}

using file_ptr = std::unique_ptr<std::FILE, int (*)(std::FILE *)>;

file_ptr open_file(const std::string &path, const char *mode) {
    file_ptr f(std::fopen(path.c_str(), mode), &std::fclose);
    if (!f) throw file_error(path, 0, file_problem::io, system_reason("cannot open"));
    return f;
}

}  // namespace

text_file read_text_file(const std::string &path) {
    const file_ptr f = open_file(path, "rb");
    std::string content;
    std::size_t line_start = 0, line = 1;
    char buf[64 * 1024];
    std::size_t got;
    // The caps are checked as the bytes come: /dev/zero is refused after one line's worth.
    while ((got = std::fread(buf, 1, sizeof buf, f.get())) > 0) {
        for (const char *p = buf;
             (p = static_cast<const char *>(std::memchr(p, '\n', buf + got - p))); ++p, ++line)
            line_start = content.size() + static_cast<std::size_t>(p - buf) + 1;
        content.append(buf, got);
        if (content.size() - line_start > max_line_bytes + 1)
            throw file_error(path, line, file_problem::line_too_long, too_long_reason());
        if (content.size() > max_file_bytes)
            throw file_error(path, 0, file_problem::too_large,
                             "larger than " + std::to_string(max_file_bytes >> 20) + " MiB");
    }
    if (std::ferror(f.get()))
        throw file_error(path, 0, file_problem::io, system_reason("cannot read"));
    return split_lines(path, content);
}

text_file split_lines(const std::string &name, std::string_view content) {
    text_file t;
    t.name = name;
    std::size_t pos = content.substr(0, utf8_bom.size()) == utf8_bom ? utf8_bom.size() : 0;
    while (pos < content.size()) {
        const std::size_t nl = content.find('\n', pos);
        const std::size_t end = nl == std::string_view::npos ? content.size() : nl;
        std::string_view line = content.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.size() > max_line_bytes)
            throw file_error(name, t.lines.size() + 1, file_problem::line_too_long,
                             too_long_reason());
        t.lines.emplace_back(line);
        t.last_line_open = nl == std::string_view::npos;
        pos = t.last_line_open ? end : nl + 1;
        t.ends.push_back(pos);
    }
    return t;
}

// ---- Numbers ---------------------------------------------------------------

namespace {

// [+-]digits[.digits][(e|E)[+-]digits], with digits on at least one side of the point.
bool is_decimal(std::string_view s) {
    std::size_t i = 0, digits = 0;
    auto run_of_digits = [&] {
        const std::size_t from = i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
        return i - from;
    };
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    digits = run_of_digits();
    if (i < s.size() && s[i] == '.') ++i, digits += run_of_digits();
    if (digits == 0) return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        if (run_of_digits() == 0) return false;
    }
    return i == s.size();
}

std::optional<double> read_double(std::string_view s) {
    double v = 0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (r.ec != std::errc{} || r.ptr != s.data() + s.size() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

// A double's shortest decimal: its significant digits and the power of ten
// of the first.
struct decimal {
    bool negative = false;
    std::string digits;
    int exponent = 0;
};

decimal shortest_decimal(double v) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
    std::string_view s(buf, static_cast<std::size_t>(r.ptr - buf));
    decimal d;
    d.negative = s[0] == '-';
    if (d.negative) s.remove_prefix(1);
    const std::size_t e = s.find('e');
    for (const char c : s.substr(0, e))
        if (c != '.') d.digits += c;
    std::string_view power = s.substr(e + 1);
    if (power[0] == '+') power.remove_prefix(1);
    std::from_chars(power.data(), power.data() + power.size(), d.exponent);
    return d;
}

// Fixed or with an exponent, whichever is shorter (fixed on a tie): the form
// std::to_chars gives the shortest text of a double.
std::string decimal_text(const decimal &d) {
    const int n = static_cast<int>(d.digits.size()), e = d.exponent;
    std::string fixed;
    if (e >= n - 1) {
        fixed = d.digits + std::string(static_cast<std::size_t>(e - n + 1), '0');
    } else if (e >= 0) {
        const auto point = static_cast<std::size_t>(e + 1);
        fixed = d.digits.substr(0, point) + "." + d.digits.substr(point);
    } else {
        fixed = "0." + std::string(static_cast<std::size_t>(-e - 1), '0') + d.digits;
    }
    const int magnitude = e < 0 ? -e : e;
    const std::string sci = d.digits.substr(0, 1) + (n > 1 ? "." + d.digits.substr(1) : "") +
                            (e < 0 ? "e-" : "e+") + (magnitude < 10 ? "0" : "") +
                            std::to_string(magnitude);
    return (d.negative ? "-" : "") + (fixed.size() <= sci.size() ? fixed : sci);
}

}  // namespace

std::string number_text(double v) {
    return decimal_text(shortest_decimal(v));
}

std::optional<double> parse_number(std::string_view text) {
    if (!is_decimal(text)) return std::nullopt;
    if (text[0] == '+') text.remove_prefix(1);  // from_chars takes no plus sign
    return read_double(text);
}

std::optional<long> parse_count(std::string_view text) {
    long v = 0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || text[0] == '-' || r.ec != std::errc{} || r.ptr != text.data() + text.size())
        return std::nullopt;
    return v;
}

// Percent by moving the decimal point of the drive value's shortest text,
// and back: no arithmetic, so no rounding on either way.
std::string percent_text(double drive) {
    decimal d = shortest_decimal(drive);
    if (d.digits != "0") d.exponent += 2;
    return decimal_text(d);
}

std::optional<double> parse_percent(std::string_view text) {
    if (!is_decimal(text)) return std::nullopt;
    if (text[0] == '+') text.remove_prefix(1);
    const std::size_t e = text.find_first_of("eE");
    long power = 0;
    if (e != std::string_view::npos) {
        std::string_view p = text.substr(e + 1);
        if (p[0] == '+') p.remove_prefix(1);
        const auto r = std::from_chars(p.data(), p.data() + p.size(), power);
        if (r.ec != std::errc{}) return std::nullopt;
    }
    return read_double(std::string(text.substr(0, e)) + "e" + std::to_string(power - 2));
}

// ---- CSV -------------------------------------------------------------------

std::string_view trimmed(std::string_view s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

std::optional<std::vector<std::string>> csv_cells(std::string_view line) {
    std::vector<std::string> cells;
    std::size_t i = 0;
    for (;;) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        std::string cell;
        if (i < line.size() && line[i] == '"') {
            for (++i;; ++i) {
                if (i >= line.size()) return std::nullopt;
                if (line[i] != '"') {
                    cell += line[i];
                } else if (i + 1 < line.size() && line[i + 1] == '"') {
                    cell += line[++i];
                } else {
                    break;
                }
            }
            const std::size_t comma = line.find(',', ++i);
            cell += trimmed(line.substr(i, comma - i));  // text after the quote, if any
            i = comma;
        } else {
            const std::size_t comma = line.find(',', i);
            cell = trimmed(line.substr(i, comma == std::string_view::npos ? comma : comma - i));
            i = comma;
        }
        cells.push_back(std::move(cell));
        if (i == std::string_view::npos) return cells;
        ++i;
    }
}

std::string csv_cell(std::string_view text) {
    const bool plain = text.find_first_of(",\"\r\n") == std::string_view::npos &&
                       trimmed(text).size() == text.size() && (text.empty() || text[0] != '#');
    if (plain) return std::string(text);
    std::string out = "\"";
    for (const char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + '"';
}

// ---- CGATS -----------------------------------------------------------------

namespace cgats {

namespace {

// The data format identifiers of CGATS.17; all hold numbers but the three
// text ones.
constexpr std::string_view standard_fields[] = {
    "SAMPLE_ID", "SAMPLE_NAME", "STRING",      "CMYK_C",      "CMYK_M",       "CMYK_Y",
    "CMYK_K",    "D_RED",       "D_GREEN",     "D_BLUE",      "D_VIS",        "D_MAJOR_FILTER",
    "RGB_R",     "RGB_G",       "RGB_B",       "SPECTRAL_NM", "SPECTRAL_PCT", "SPECTRAL_DEC",
    "XYZ_X",     "XYZ_Y",       "XYZ_Z",       "XYY_X",       "XYY_Y",        "XYY_CAPY",
    "LAB_L",     "LAB_A",       "LAB_B",       "LAB_C",       "LAB_H",        "LAB_DE",
    "LAB_DE_94", "LAB_DE_CMC",  "LAB_DE_2000", "MEAN_DE",     "STDEV_X",      "STDEV_Y",
    "STDEV_Z",   "STDEV_L",     "STDEV_A",     "STDEV_B",     "STDEV_DE",     "CHI_SQD_PAR"};
constexpr std::size_t text_field_count = 3;

// SPECTRAL_380 and the like: one field per wavelength.
bool is_spectral_band(std::string_view name) {
    constexpr std::string_view prefix = "SPECTRAL_";
    return name.substr(0, prefix.size()) == prefix && name.size() > prefix.size() &&
           name.find_first_not_of("0123456789", prefix.size()) == std::string_view::npos;
}

bool holds_numbers(std::string_view field) {
    const auto *const end = std::end(standard_fields);
    const auto *const it = std::find(std::begin(standard_fields), end, field);
    return is_spectral_band(field) ||
           (it != end && it - std::begin(standard_fields) >= std::ptrdiff_t{text_field_count});
}

struct token {
    std::string text;
    bool quoted;
};

class parser {
  public:
    parser(const text_file &text, bool partial) : text_(text), partial_(partial) {}
    document run();

  private:
    enum class section { identifier, header, format, data, after };

    [[noreturn]] void fail(file_problem p, const std::string &reason) const {
        throw file_error(text_.name, line_, p, reason);
    }
    std::vector<token> tokens_of(const std::string &line) const;
    void identifier_line(const std::vector<token> &t);
    void header_line(const std::vector<token> &t);
    void format_tokens(const std::vector<token> &t, std::size_t from);
    void begin_data();
    void data_line(const std::vector<token> &t);
    void end_data();
    void end_of_file();
    std::optional<long> keyword_count(const char *name) const;

    const text_file &text_;
    const bool partial_;
    document doc_;
    section section_ = section::identifier;
    std::size_t line_ = 0;
    std::set<std::string> ids_;
};

std::vector<token> parser::tokens_of(const std::string &line) const {
    std::vector<token> out;
    std::size_t i = 0;
    while (i < line.size()) {
        if (line[i] == ' ' || line[i] == '\t') {
            ++i;
        } else if (line[i] == '#') {
            break;
        } else if (line[i] == '"') {
            const std::size_t close = line.find('"', i + 1);
            if (close == std::string::npos)
                fail(file_problem::unterminated_string, "a string without its closing quote");
            out.push_back({line.substr(i + 1, close - i - 1), true});
            i = close + 1;
        } else {
            const std::size_t end = std::min(line.find_first_of(" \t#\"", i), line.size());
            out.push_back({line.substr(i, end - i), false});
            i = end;
        }
    }
    return out;
}

document parser::run() {
    // A partial file's unfinished last line is what the interruption cut.
    const std::size_t usable = text_.lines.size() - (partial_ && text_.last_line_open ? 1 : 0);
    for (line_ = 1; line_ <= usable; ++line_) {
        const std::vector<token> t = tokens_of(text_.lines[line_ - 1]);
        if (t.empty()) continue;
        switch (section_) {
            case section::identifier:
                identifier_line(t);
                break;
            case section::header:
                header_line(t);
                break;
            case section::format:
                format_tokens(t, 0);
                break;
            case section::data:
                data_line(t);
                break;
            case section::after:
                fail(file_problem::syntax, "text after END_DATA (one table per file)");
        }
    }
    line_ = usable;
    end_of_file();
    return std::move(doc_);
}

void parser::identifier_line(const std::vector<token> &t) {
    if (t.size() != 1 || t[0].quoted)
        fail(file_problem::syntax, "the first line names the file type alone (e.g. CGATS.17)");
    doc_.identifier = t[0].text;
    section_ = section::header;
}

std::optional<long> parser::keyword_count(const char *name) const {
    const keyword *k = doc_.find(name);
    if (!k) return std::nullopt;
    const auto n = k->quoted ? std::nullopt : parse_count(k->value);
    if (!n)
        fail(file_problem::not_a_number,
             std::string(name) + " needs a count, not " + shown(k->value));
    return n;
}

void parser::header_line(const std::vector<token> &t) {
    const std::string &word = t[0].text;
    if (t[0].quoted) fail(file_problem::syntax, "a string where a keyword belongs");
    if (word == "BEGIN_DATA_FORMAT") {
        section_ = section::format;
        doc_.format_line = line_;
        return format_tokens(t, 1);
    }
    if (word == "BEGIN_DATA" && t.size() == 1) return begin_data();
    if (t.size() != 2) fail(file_problem::syntax, shown(word) + " needs one value");
    if (word == "KEYWORD") {
        if (!t[1].quoted) fail(file_problem::syntax, "KEYWORD needs a quoted name");
        doc_.declared.push_back(t[1].text);
        return;
    }
    doc_.keywords.push_back({word, t[1].text, t[1].quoted});
    if (word == "NUMBER_OF_FIELDS" || word == "NUMBER_OF_SETS") keyword_count(word.c_str());
}

void parser::format_tokens(const std::vector<token> &t, std::size_t from) {
    for (std::size_t i = from; i < t.size(); ++i) {
        const std::string &name = t[i].text;
        if (name == "END_DATA_FORMAT" && !t[i].quoted) {
            if (i + 1 != t.size()) fail(file_problem::syntax, "text after END_DATA_FORMAT");
            section_ = section::header;
            return;
        }
        if (!is_standard_field(name) &&
            std::find(doc_.declared.begin(), doc_.declared.end(), name) == doc_.declared.end())
            fail(file_problem::unknown_field,
                 "unknown field " + shown(name) + " (neither CGATS.17's nor declared by KEYWORD)");
        if (doc_.field(name)) fail(file_problem::syntax, "field " + shown(name) + " named twice");
        doc_.fields.push_back(name);
    }
}

void parser::begin_data() {
    if (doc_.fields.empty()) fail(file_problem::syntax, "BEGIN_DATA before the data format");
    const auto declared = keyword_count("NUMBER_OF_FIELDS");
    if (declared && static_cast<std::size_t>(*declared) != doc_.fields.size())
        fail(file_problem::field_count, "NUMBER_OF_FIELDS is " + std::to_string(*declared) +
                                            " but the data format names " +
                                            std::to_string(doc_.fields.size()) + " fields");
    keyword_count("NUMBER_OF_SETS");
    section_ = section::data;
    doc_.data_end = text_.ends[line_ - 1];
}

void parser::data_line(const std::vector<token> &t) {
    if (t.size() == 1 && !t[0].quoted && t[0].text == "END_DATA") return end_data();
    if (t.size() != doc_.fields.size())
        fail(file_problem::field_count, "a row of " + std::to_string(t.size()) + " values, " +
                                            std::to_string(doc_.fields.size()) + " fields");
    const auto sets = keyword_count("NUMBER_OF_SETS");
    if (sets && doc_.rows.size() >= static_cast<std::size_t>(*sets))
        fail(file_problem::set_count,
             "more rows than NUMBER_OF_SETS (" + std::to_string(*sets) + ")");
    std::vector<std::string> row;
    for (std::size_t i = 0; i < t.size(); ++i) {
        if (holds_numbers(doc_.fields[i]) && (t[i].quoted || !parse_number(t[i].text)))
            fail(file_problem::not_a_number,
                 doc_.fields[i] + " " + shown(t[i].text) + " is not a number");
        row.push_back(t[i].text);
    }
    const auto id = doc_.field("SAMPLE_ID");
    if (id && !ids_.insert(row[*id]).second)
        fail(file_problem::duplicate_id, "SAMPLE_ID " + shown(row[*id]) + " appears twice");
    doc_.rows.push_back(std::move(row));
    doc_.row_lines.push_back(line_);
    doc_.data_end = text_.ends[line_ - 1];
}

void parser::end_data() {
    const auto sets = keyword_count("NUMBER_OF_SETS");
    if (sets && static_cast<std::size_t>(*sets) != doc_.rows.size())
        fail(file_problem::set_count, "NUMBER_OF_SETS is " + std::to_string(*sets) + " but " +
                                          std::to_string(doc_.rows.size()) + " rows came");
    section_ = section::after;
}

void parser::end_of_file() {
    switch (section_) {
        case section::identifier:
            fail(file_problem::truncated, "an empty file");
        case section::header:
            fail(file_problem::truncated,
                 partial_ ? "the file stops before its data" : "the file ends before BEGIN_DATA");
        case section::format:
            fail(file_problem::truncated, "the file ends inside the data format");
        case section::data:
            if (!partial_) fail(file_problem::missing_end_data, "the file ends without END_DATA");
            doc_.complete = false;
            break;
        case section::after:
            break;
    }
}

}  // namespace

const keyword *document::find(std::string_view name) const {
    for (const keyword &k : keywords)
        if (k.name == name) return &k;
    return nullptr;
}

std::optional<std::size_t> document::field(std::string_view name) const {
    const auto it = std::find(fields.begin(), fields.end(), name);
    if (it == fields.end()) return std::nullopt;
    return static_cast<std::size_t>(it - fields.begin());
}

bool is_standard_field(std::string_view name) {
    return is_spectral_band(name) ||
           std::find(std::begin(standard_fields), std::end(standard_fields), name) !=
               std::end(standard_fields);
}

document parse(const text_file &text, bool partial) {
    return parser(text, partial).run();
}

document read(const std::string &path, bool partial) {
    return parse(read_text_file(path), partial);
}

}  // namespace cgats

}  // namespace cli

namespace cli {

std::string shown(std::string_view text) {
    constexpr std::size_t most = 40;
    std::string out = "\"";
    for (const char c : text.substr(0, most)) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X",
                          static_cast<unsigned>(static_cast<unsigned char>(c)));
            out += buf;
        } else {
            out += c;
        }
    }
    return out + (text.size() > most ? "\"..." : "\"");
}

// ---- Measurement files: what they hold -------------------------------------

namespace {

// The header keywords of all three formats; PATCH_SET is ours, so a CGATS
// file declares it.
struct header_keyword {
    const char *name;
    std::string measurement_header::*member;
    bool declared;
    bool compared_on_resume;
};
const header_keyword header_keywords[] = {
    {"ORIGINATOR", &measurement_header::originator, false, true},
    {"CREATED", &measurement_header::created, false, false},
    {"INSTRUMENTATION", &measurement_header::instrumentation, false, true},
    {"DESCRIPTOR", &measurement_header::descriptor, false, true},
    {"PATCH_SET", &measurement_header::patch_set, true, true},
};
constexpr const char *sets_keyword = "NUMBER_OF_SETS";

// The fields of a row, in the order they are written, with the range each
// value must be in (RGB in percent as files carry it).
enum class kind { text, percent, number, count };
using triple = std::array<double, 3> patch_reading::*;
struct field_def {
    const char *name;
    kind k;
    bool required;
    std::string patch_reading::*text;
    triple values;
    std::size_t at;
    double low, high;
};
constexpr double unlimited = HUGE_VAL;
const field_def fields[] = {
    {"SAMPLE_ID", kind::text, true, &patch_reading::id, nullptr, 0, 0, 0},
    {"SAMPLE_NAME", kind::text, false, &patch_reading::name, nullptr, 0, 0, 0},
    {"RGB_R", kind::percent, true, nullptr, &patch_reading::rgb, 0, 0, 100},
    {"RGB_G", kind::percent, true, nullptr, &patch_reading::rgb, 1, 0, 100},
    {"RGB_B", kind::percent, true, nullptr, &patch_reading::rgb, 2, 0, 100},
    {"XYZ_X", kind::number, true, nullptr, &patch_reading::xyz, 0, -unlimited, unlimited},
    {"XYZ_Y", kind::number, true, nullptr, &patch_reading::xyz, 1, -unlimited, unlimited},
    {"XYZ_Z", kind::number, true, nullptr, &patch_reading::xyz, 2, -unlimited, unlimited},
    {"STDEV_X", kind::number, false, nullptr, &patch_reading::sd, 0, 0, unlimited},
    {"STDEV_Y", kind::number, false, nullptr, &patch_reading::sd, 1, 0, unlimited},
    {"STDEV_Z", kind::number, false, nullptr, &patch_reading::sd, 2, 0, unlimited},
    {"READINGS", kind::count, false, nullptr, nullptr, 0, 1, unlimited},
};
constexpr std::size_t field_count = std::size(fields);

std::string cell_text(const patch_reading &r, const field_def &f) {
    switch (f.k) {
        case kind::text:
            return r.*f.text;
        case kind::percent:
            return percent_text((r.*f.values)[f.at]);
        case kind::number:
            return number_text((r.*f.values)[f.at]);
        case kind::count:
            return std::to_string(r.n);
    }
    return {};
}

// One row's cells in the order of `fields`; absent ones empty.
using cells = std::array<std::optional<std::string>, field_count>;

struct row_place {
    const std::string &file;
    std::size_t line;
    [[noreturn]] void fail(file_problem p, const std::string &reason) const {
        throw file_error(file, line, p, reason);
    }
};

void set_cell(patch_reading &r, const field_def &f, const std::string &v, const row_place &at) {
    if (f.k == kind::text) {
        r.*f.text = v;
        return;
    }
    const auto x = f.k == kind::count ? std::optional<double>(parse_count(v)) : parse_number(v);
    if (!x)
        at.fail(file_problem::not_a_number,
                std::string(f.name) + " " + shown(v) + " is not a number");
    if (*x < f.low || *x > f.high)
        at.fail(file_problem::out_of_range, std::string(f.name) + " " + shown(v) + " is outside " +
                                                number_text(f.low) + ".." + number_text(f.high));
    if (f.k == kind::count)
        r.n = static_cast<long>(*x);
    else
        (r.*f.values)[f.at] = f.k == kind::percent ? *parse_percent(v) : *x;
}

patch_reading reading_of(const cells &c, const row_place &at) {
    patch_reading r;
    r.n = 1;
    for (std::size_t i = 0; i < field_count; ++i) {
        if (c[i])
            set_cell(r, fields[i], *c[i], at);
        else if (fields[i].required)
            at.fail(file_problem::missing_field, std::string("no ") + fields[i].name);
    }
    return r;
}

// Which of our fields a file's columns hold; unknown columns are refused,
// other CGATS fields are left aside.
std::array<std::optional<std::size_t>, field_count> columns_of(
    const std::vector<std::string> &names, const row_place &at, bool cgats_checked) {
    std::array<std::optional<std::size_t>, field_count> columns;
    for (std::size_t c = 0; c < names.size(); ++c) {
        const auto *const f = std::find_if(std::begin(fields), std::end(fields),
                                           [&](const field_def &d) { return names[c] == d.name; });
        if (f == std::end(fields)) {
            if (!cgats_checked && !cgats::is_standard_field(names[c]))
                at.fail(file_problem::unknown_field, "unknown field " + shown(names[c]));
            continue;
        }
        auto &column = columns[static_cast<std::size_t>(f - std::begin(fields))];
        if (column) at.fail(file_problem::syntax, "field " + names[c] + " named twice");
        column = c;
    }
    for (std::size_t i = 0; i < field_count; ++i)
        if (!columns[i] && fields[i].required)
            at.fail(file_problem::missing_field, std::string("no ") + fields[i].name + " field");
    return columns;
}

cells cells_of(const std::vector<std::string> &row,
               const std::array<std::optional<std::size_t>, field_count> &columns) {
    cells c;
    for (std::size_t i = 0; i < field_count; ++i)
        if (columns[i]) c[i] = row[*columns[i]];
    return c;
}

// What each format's reader hands on: the header, the rows' cells and
// where each row stands.
struct table {
    measurement_header header;
    std::optional<long> sets;
    std::vector<cells> rows;
    std::vector<std::size_t> lines;
    bool ended = true;  // CGATS: END_DATA seen
    std::size_t resume_from = 0;
    std::size_t last_line = 0;
};

bool is_header_keyword(std::string_view name, std::string measurement_header::**member) {
    for (const header_keyword &k : header_keywords)
        if (name == k.name) {
            *member = k.member;
            return true;
        }
    return false;
}

std::size_t usable_lines(const text_file &t, bool partial) {
    return t.lines.size() - (partial && t.last_line_open ? 1 : 0);
}

// ---- CGATS -----------------------------------------------------------------

std::string cgats_string(const std::string &text) {
    return "\"" + text + "\"";
}

std::string cgats_header(const measurement_header &h) {
    std::string s =
        "CGATS.17\n"
        "# ca410 measurements: XYZ absolute (Y in cd/m2), RGB drive values in percent,\n"
        "# STDEV_X/Y/Z the sample standard deviation of READINGS readings\n";
    for (const header_keyword &k : header_keywords) {
        if (k.declared) s += std::string("KEYWORD \"") + k.name + "\"\n";
        s += std::string(k.name) + " " + cgats_string(h.*k.member) + "\n";
    }
    s += "KEYWORD \"NORMALIZED_TO_Y_100\"\nNORMALIZED_TO_Y_100 \"NO\"\n";
    std::string names;
    for (const field_def &f : fields) {
        if (!cgats::is_standard_field(f.name)) s += std::string("KEYWORD \"") + f.name + "\"\n";
        names += names.empty() ? f.name : std::string(" ") + f.name;
    }
    return s + "NUMBER_OF_FIELDS " + std::to_string(field_count) + "\nBEGIN_DATA_FORMAT\n" + names +
           "\nEND_DATA_FORMAT\n" + sets_keyword + " " + std::to_string(h.number_of_sets) +
           "\nBEGIN_DATA\n";
}

std::string cgats_row(const patch_reading &r) {
    std::string s;
    for (const field_def &f : fields) {
        if (!s.empty()) s += ' ';
        s += f.k == kind::text ? cgats_string(r.*f.text) : cell_text(r, f);
    }
    return s + "\n";
}

table cgats_table(const text_file &t, bool partial) {
    const cgats::document d = cgats::parse(t, partial);
    table out;
    for (const header_keyword &k : header_keywords)
        if (const cgats::keyword *kw = d.find(k.name)) out.header.*k.member = kw->value;
    if (const cgats::keyword *kw = d.find(sets_keyword)) out.sets = parse_count(kw->value);
    const auto columns = columns_of(d.fields, {t.name, d.format_line}, true);
    for (std::size_t i = 0; i < d.rows.size(); ++i) {
        out.rows.push_back(cells_of(d.rows[i], columns));
        out.lines.push_back(d.row_lines[i]);
    }
    out.ended = d.complete;
    out.resume_from = d.data_end;
    return out;
}

// ---- CSV -------------------------------------------------------------------

// "#KEYWORD," opens a CSV measurement file; other "#" lines are comments.
bool is_csv_keyword_line(std::string_view s) {
    const std::size_t comma = s.find(',');
    return comma != std::string_view::npos && comma > 1 &&
           s.substr(1, comma - 1).find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ_") ==
               std::string_view::npos;
}

std::string csv_header(const measurement_header &h) {
    std::string s;
    for (const header_keyword &k : header_keywords)
        s += std::string("#") + k.name + "," + csv_cell(h.*k.member) + "\n";
    s += std::string("#") + sets_keyword + "," + std::to_string(h.number_of_sets) + "\n";
    for (const field_def &f : fields) s += std::string(&f == fields ? "" : ",") + f.name;
    return s + "\n";
}

std::string csv_row(const patch_reading &r) {
    std::string s;
    for (const field_def &f : fields)
        s +=
            (&f == fields ? "" : ",") + (f.k == kind::text ? csv_cell(r.*f.text) : cell_text(r, f));
    return s + "\n";
}

std::vector<std::string> csv_row_cells(const std::string &line, const row_place &at) {
    auto c = csv_cells(line);
    if (!c) at.fail(file_problem::unterminated_string, "a quoted cell without its closing quote");
    return *c;
}

// "#KEYWORD,value" before the field names.
void csv_keyword(const std::string &line, table &out, const row_place &at) {
    const std::vector<std::string> c = csv_row_cells(line.substr(1), at);
    std::string measurement_header::*member = nullptr;
    if (c.size() != 2) return;  // a comment
    if (is_header_keyword(c[0], &member)) out.header.*member = c[1];
    if (c[0] != sets_keyword) return;
    out.sets = parse_count(c[1]);
    if (!out.sets)
        at.fail(file_problem::not_a_number, std::string(sets_keyword) + " needs a count");
}

table csv_table(const text_file &t, bool partial) {
    table out;
    std::optional<std::array<std::optional<std::size_t>, field_count>> columns;
    std::size_t names = 0;
    for (std::size_t i = 0; i < usable_lines(t, partial); ++i) {
        const row_place at{t.name, i + 1};
        const std::string &line = t.lines[i];
        if (trimmed(line).empty()) continue;
        if (line[0] == '#') {
            if (!columns && is_csv_keyword_line(line)) csv_keyword(line, out, at);
            continue;
        }
        const std::vector<std::string> c = csv_row_cells(line, at);
        if (!columns) {
            columns = columns_of(c, at, false);
            names = c.size();
            out.resume_from = t.ends[i];
            continue;
        }
        if (c.size() != names)
            at.fail(file_problem::field_count, "a row of " + std::to_string(c.size()) + " cells, " +
                                                   std::to_string(names) + " fields");
        out.rows.push_back(cells_of(c, *columns));
        out.lines.push_back(i + 1);
        out.resume_from = t.ends[i];
    }
    if (!columns)
        throw file_error(t.name, usable_lines(t, partial), file_problem::truncated,
                         "the file ends before its field names");
    return out;
}

// ---- JSON Lines ------------------------------------------------------------

std::string json_string(const std::string &text) {
    return nlohmann::json(text).dump();
}

std::string json_header(const measurement_header &h) {
    std::string s = "{";
    for (const header_keyword &k : header_keywords)
        s += json_string(k.name) + ": " + json_string(h.*k.member) + ", ";
    return s + json_string(sets_keyword) + ": " + std::to_string(h.number_of_sets) + "}\n";
}

std::string json_row(const patch_reading &r) {
    std::string s = "{";
    for (const field_def &f : fields)
        s += (&f == fields ? "" : ", ") + json_string(f.name) + ": " +
             (f.k == kind::text ? json_string(r.*f.text) : cell_text(r, f));
    return s + "}\n";
}

// A JSON value of a flat object: strings unescaped, numbers as written (a
// drive value's percent text must reach parse_percent digit for digit).
enum class json_type { string, integer, number, other };
struct json_entry {
    std::string key;
    json_type type;
    std::string text;
};

// Collects the entries of one flat JSON object.
class flat_object : public nlohmann::json_sax<nlohmann::json> {
  public:
    std::vector<json_entry> entries;
    std::string error;

    bool null() override { return add(json_type::other, "null"); }
    bool boolean(bool) override { return add(json_type::other, "a boolean"); }
    bool number_integer(number_integer_t v) override {
        return add(json_type::integer, std::to_string(v));
    }
    bool number_unsigned(number_unsigned_t v) override {
        return add(json_type::integer, std::to_string(v));
    }
    bool number_float(number_float_t, const string_t &text) override {
        // The parser hands the number on with the locale's decimal point.
        std::string written = text;
        for (char &c : written)
            if (std::string_view("0123456789+-eE").find(c) == std::string_view::npos) c = '.';
        return add(json_type::number, std::move(written));
    }
    bool string(string_t &v) override { return add(json_type::string, v); }
    bool binary(binary_t &) override { return add(json_type::other, "binary"); }
    bool start_object(std::size_t) override { return ++depth_ == 1 || refuse(); }
    bool key(string_t &k) override {
        key_ = k;
        return true;
    }
    bool end_object() override { return --depth_ == 0; }
    bool start_array(std::size_t) override { return refuse(); }
    bool end_array() override { return false; }
    bool parse_error(std::size_t, const std::string &,
                     const nlohmann::detail::exception &e) override {
        const std::string what = e.what();
        error = "not JSON: " + what.substr(what.find("] ") + 2);
        return false;
    }

  private:
    bool refuse() {
        error = "a flat JSON object per line";
        return false;
    }
    bool add(json_type type, std::string text) {
        if (depth_ != 1) return refuse();
        entries.push_back({key_, type, std::move(text)});
        return true;
    }
    int depth_ = 0;
    std::string key_;
};

std::vector<json_entry> json_object(const std::string &line, const row_place &at) {
    flat_object object;
    if (!nlohmann::json::sax_parse(line, &object) || !object.error.empty())
        at.fail(file_problem::syntax,
                object.error.empty() ? "a JSON object per line" : object.error);
    return object.entries;
}

void json_header_line(const std::string &line, table &out, const row_place &at) {
    for (const json_entry &e : json_object(line, at)) {
        std::string measurement_header::*member = nullptr;
        if (is_header_keyword(e.key, &member) && e.type == json_type::string) {
            out.header.*member = e.text;
        } else if (e.key == sets_keyword && e.type == json_type::integer && parse_count(e.text)) {
            out.sets = parse_count(e.text);
        } else {
            at.fail(file_problem::syntax,
                    "header entry " + shown(e.key) + " unknown or of the wrong type");
        }
    }
}

cells json_row_cells(const std::string &line, const row_place &at) {
    cells c;
    for (const json_entry &e : json_object(line, at)) {
        const auto *const f = std::find_if(std::begin(fields), std::end(fields),
                                           [&](const field_def &d) { return e.key == d.name; });
        if (f == std::end(fields))
            at.fail(file_problem::unknown_field, "unknown field " + shown(e.key));
        const bool fits = f->k == kind::text ? e.type == json_type::string
                          : f->k == kind::count
                              ? e.type == json_type::integer
                              : e.type == json_type::integer || e.type == json_type::number;
        if (!fits) at.fail(file_problem::not_a_number, e.key + " has a value of the wrong type");
        c[static_cast<std::size_t>(f - std::begin(fields))] = e.text;
    }
    return c;
}

table json_table(const text_file &t, bool partial) {
    table out;
    bool header = false;
    for (std::size_t i = 0; i < usable_lines(t, partial); ++i) {
        const row_place at{t.name, i + 1};
        if (trimmed(t.lines[i]).empty()) continue;
        if (header) {
            out.rows.push_back(json_row_cells(t.lines[i], at));
            out.lines.push_back(i + 1);
        } else {
            json_header_line(t.lines[i], out, at);
            header = true;
        }
        out.resume_from = t.ends[i];
    }
    if (!header)
        throw file_error(t.name, usable_lines(t, partial), file_problem::truncated,
                         "the file ends before its header");
    return out;
}

}  // namespace

// The three formats behind one interface.
struct measurement_writer::backend {
    file_format format;
    std::string (*header)(const measurement_header &);
    std::string (*row)(const patch_reading &);
    const char *end;
    table (*read)(const text_file &, bool partial);
    bool carries_quotes;
};

namespace {

const measurement_writer::backend backends[] = {
    {file_format::cgats, cgats_header, cgats_row, "END_DATA\n", cgats_table, false},
    {file_format::csv, csv_header, csv_row, "", csv_table, true},
    {file_format::json, json_header, json_row, "", json_table, true},
};

const measurement_writer::backend &backend_of(file_format f) {
    return backends[static_cast<std::size_t>(f)];
}

}  // namespace

file_format detect_format(const text_file &t) {
    for (const std::string &line : t.lines) {
        const std::string_view s = trimmed(line);
        if (s.empty()) continue;
        if (s[0] == '{') return file_format::json;
        if (s[0] != '#')
            return s.find(',') == std::string_view::npos ? file_format::cgats : file_format::csv;
        if (is_csv_keyword_line(s)) return file_format::csv;
    }
    return file_format::cgats;
}

const std::array<const char *, 3> file_format_names = {"cgats", "csv", "json"};

std::optional<file_format> file_format_named(std::string_view name) {
    for (std::size_t i = 0; i < file_format_names.size(); ++i)
        if (name == file_format_names[i]) return static_cast<file_format>(i);
    return std::nullopt;
}

// ---- Reading ---------------------------------------------------------------

namespace {

measurement_file measurements_of(const text_file &t, bool partial) {
    measurement_file m;
    m.format = detect_format(t);
    table tab = backend_of(m.format).read(t, partial);
    std::set<std::string> ids;
    for (std::size_t i = 0; i < tab.rows.size(); ++i) {
        const row_place at{t.name, tab.lines[i]};
        m.readings.push_back(reading_of(tab.rows[i], at));
        if (!ids.insert(m.readings.back().id).second)
            at.fail(file_problem::duplicate_id,
                    "SAMPLE_ID " + shown(m.readings.back().id) + " appears twice");
        if (tab.sets && i >= static_cast<std::size_t>(*tab.sets))
            at.fail(file_problem::set_count,
                    "more rows than NUMBER_OF_SETS (" + std::to_string(*tab.sets) + ")");
    }
    const row_place end{t.name, t.lines.size()};
    if (!tab.sets && partial) end.fail(file_problem::missing_field, "no NUMBER_OF_SETS");
    m.header = tab.header;
    m.header.number_of_sets = tab.sets ? static_cast<std::size_t>(*tab.sets) : m.readings.size();
    m.complete = tab.ended && m.readings.size() == m.header.number_of_sets;
    if (!m.complete && !partial)
        end.fail(file_problem::set_count,
                 "NUMBER_OF_SETS is " + std::to_string(m.header.number_of_sets) + " but " +
                     std::to_string(m.readings.size()) + " rows came (an interrupted run?)");
    m.resume_from = tab.resume_from;
    return m;
}

}  // namespace

measurement_file read_measurements(const std::string &path) {
    return measurements_of(read_text_file(path), false);
}

measurement_file read_partial_measurements(const std::string &path) {
    return measurements_of(read_text_file(path), true);
}

// ---- Resuming --------------------------------------------------------------

namespace {

std::string utc_now() {
    const std::time_t now = std::time(nullptr);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&now));
    return buf;
}

measurement_header filled(measurement_header h, const patch_list &patches) {
    if (h.originator.empty()) h.originator = "ca410 " CA410_VERSION_STRING;
    if (h.created.empty()) h.created = utc_now();
    h.number_of_sets = patches.size();
    return h;
}

std::string drive_text(const std::array<double, 3> &rgb) {
    return percent_text(rgb[0]) + " " + percent_text(rgb[1]) + " " + percent_text(rgb[2]) + " %";
}

// Drive values closer than this are one colour on any display.
constexpr double same_drive = 1e-9;

bool same_patch(const patch_reading &r, const patch &p) {
    for (std::size_t c = 0; c < 3; ++c)
        if (!(std::fabs(r.rgb[c] - p.rgb[c]) <= same_drive)) return false;
    return r.id == p.id;
}

}  // namespace

std::vector<std::string> resume_differences(const measurement_file &recorded,
                                            const measurement_header &run,
                                            const patch_list &patches) {
    std::vector<std::string> out;
    const measurement_header planned = filled(run, patches);
    for (const header_keyword &k : header_keywords)
        if (k.compared_on_resume && recorded.header.*k.member != planned.*k.member)
            out.push_back(std::string(k.name) + ": the file has " +
                          shown(recorded.header.*k.member) + ", this run " +
                          shown(planned.*k.member));
    if (recorded.header.number_of_sets != planned.number_of_sets)
        out.push_back(std::string(sets_keyword) + ": the file has " +
                      std::to_string(recorded.header.number_of_sets) + ", this run " +
                      std::to_string(planned.number_of_sets));
    for (std::size_t i = 0; i < std::min(recorded.readings.size(), patches.size()); ++i) {
        const patch_reading &r = recorded.readings[i];
        if (!same_patch(r, patches[i]))
            out.push_back("patch " + std::to_string(i + 1) + ": the file has " + shown(r.id) +
                          " (" + drive_text(r.rgb) + "), this run " + shown(patches[i].id) + " (" +
                          drive_text(patches[i].rgb) + ")");
    }
    return out;
}

// ---- Writing ---------------------------------------------------------------

namespace {

// Texts go into every format unchanged, or the file is not written: UTF-8
// without control characters (rows are lines), and in CGATS no double quote.
void check_text(const std::string &path, const char *what, const std::string &text,
                const measurement_writer::backend &b) {
    const row_place at{path, 0};
    const bool control = std::any_of(text.begin(), text.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
    });
    if (control)
        at.fail(file_problem::syntax,
                std::string(what) + " " + shown(text) + " holds a control character");
    if (!b.carries_quotes && text.find('"') != std::string::npos)
        at.fail(file_problem::syntax, std::string(what) + " " + shown(text) +
                                          " holds a double quote, which CGATS cannot carry");
    try {
        json_string(text);
    } catch (const nlohmann::json::type_error &) {
        at.fail(file_problem::syntax, std::string(what) + " " + shown(text) + " is not UTF-8");
    }
}

void check_texts(const std::string &path, const measurement_header &h, const patch_list &patches,
                 const measurement_writer::backend &b) {
    for (const header_keyword &k : header_keywords) check_text(path, k.name, h.*k.member, b);
    for (const patch &p : patches) {
        check_text(path, "SAMPLE_ID", p.id, b);
        check_text(path, "SAMPLE_NAME", p.name, b);
    }
}

}  // namespace

measurement_writer::measurement_writer(std::string path, std::FILE *file, const backend &b,
                                       measurement_header header, const patch_list &patches,
                                       std::size_t next)
    : path_(std::move(path)),
      file_(file),
      backend_(b),
      header_(std::move(header)),
      patches_(patches),
      next_(next) {}

measurement_writer::~measurement_writer() {
    if (file_) std::fclose(file_);
}

std::unique_ptr<measurement_writer> measurement_writer::create(const std::string &path,
                                                               file_format format,
                                                               measurement_header header,
                                                               const patch_list &patches) {
    const backend &b = backend_of(format);
    header = filled(std::move(header), patches);
    check_texts(path, header, patches, b);
    file_ptr f = open_file(path, "wb");
    std::unique_ptr<measurement_writer> w(
        new measurement_writer(path, f.release(), b, std::move(header), patches, 0));
    w->put(b.header(w->header_));
    return w;
}

std::unique_ptr<measurement_writer> measurement_writer::resume(const std::string &path,
                                                               const measurement_file &recorded,
                                                               const measurement_header &run,
                                                               const patch_list &patches) {
    const std::vector<std::string> differences = resume_differences(recorded, run, patches);
    if (!differences.empty()) {
        std::string reason = "not the run being resumed:";
        for (const std::string &d : differences) reason += "\n  " + d;
        throw file_error(path, 0, file_problem::mismatch, reason);
    }
    const backend &b = backend_of(recorded.format);
    check_texts(path, recorded.header, patches, b);
    // What the interruption left of an unfinished row goes.
    std::error_code ec;
    std::filesystem::resize_file(path, recorded.resume_from, ec);
    if (ec)
        throw file_error(path, 0, file_problem::io,
                         "cannot cut the unfinished row: " + ec.message());
    file_ptr f = open_file(path, "ab");
    return std::unique_ptr<measurement_writer>(new measurement_writer(
        path, f.release(), b, recorded.header, patches, recorded.readings.size()));
}

void measurement_writer::put(const std::string &text) {
    if (std::fwrite(text.data(), 1, text.size(), file_) != text.size() || std::fflush(file_) != 0)
        throw file_error(path_, 0, file_problem::io, system_reason("cannot write"));
}

void measurement_writer::append(const patch_reading &reading) {
    if (finished_ || next_ >= patches_.size() || !same_patch(reading, patches_[next_]))
        throw std::logic_error("measurement_writer: a reading of " + shown(reading.id) +
                               " where the patch list has none");
    const auto finite = [](const std::array<double, 3> &v) {
        return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]);
    };
    if (!finite(reading.xyz) || !finite(reading.sd) || reading.n < 1)
        throw std::invalid_argument("measurement_writer: reading of " + shown(reading.id) +
                                    " without finite values or readings");
    patch_reading r = reading;
    r.rgb = patches_[next_].rgb;  // the planned drive values, bit for bit
    r.name = patches_[next_].name;
    put(backend_.row(r));
    ++next_;
}

void measurement_writer::finish() {
    if (finished_) return;
    if (next_ != patches_.size())
        throw std::logic_error("measurement_writer: finish after " + std::to_string(next_) +
                               " of " + std::to_string(patches_.size()) + " patches");
    put(backend_.end);
    finished_ = true;
    std::FILE *f = file_;
    file_ = nullptr;
    if (std::fclose(f) != 0)
        throw file_error(path_, 0, file_problem::io, system_reason("cannot close"));
}

}  // namespace cli
