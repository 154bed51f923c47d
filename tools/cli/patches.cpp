#include "patches.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <optional>
#include <set>
#include <stdexcept>

#include "cgats.h"

namespace cli {

namespace {

// ---- Built-in sets ----------------------------------------------------------

constexpr long max_grey_steps = 4096;

// 50 %, 6.2 %: a drive level for a name, to 0.1 %.
std::string level_name(double fraction) {
    char buf[32];
    const auto r =
        std::to_chars(buf, buf + sizeof buf, fraction * 100, std::chars_format::fixed, 1);
    std::string s(buf, r.ptr);
    if (s.size() > 2 && s.compare(s.size() - 2, 2, ".0") == 0) s.resize(s.size() - 2);
    return s + "%";
}

patch_list grey(long steps) {
    patch_list out;
    for (long i = 0; i < steps; ++i) {
        const double v = static_cast<double>(i) / static_cast<double>(steps - 1);
        out.push_back({"N" + std::to_string(i + 1), "grey " + level_name(v), {v, v, v}});
    }
    return out;
}

struct primary {
    const char *name;
    char letter;
    std::array<double, 3> mask;
};
constexpr primary primaries_table[] = {{"red", 'R', {1, 0, 0}},     {"green", 'G', {0, 1, 0}},
                                       {"blue", 'B', {0, 0, 1}},    {"cyan", 'C', {0, 1, 1}},
                                       {"magenta", 'M', {1, 0, 1}}, {"yellow", 'Y', {1, 1, 0}}};
constexpr int primary_levels[] = {25, 50, 75, 100};

patch_list primaries() {
    patch_list out;
    for (const primary &p : primaries_table)
        for (const int level : primary_levels) {
            const double v = level / 100.0;
            out.push_back({p.letter + std::to_string(level),
                           std::string(p.name) + " " + std::to_string(level) + "%",
                           {p.mask[0] * v, p.mask[1] * v, p.mask[2] * v}});
        }
    return out;
}

// The classic 24-patch colour checker: its published 8-bit sRGB values.
struct checker_patch {
    const char *name;
    int r, g, b;
};
constexpr checker_patch checker_table[] = {
    {"dark skin", 115, 82, 68},   {"light skin", 194, 150, 130},  {"blue sky", 98, 122, 157},
    {"foliage", 87, 108, 67},     {"blue flower", 133, 128, 177}, {"bluish green", 103, 189, 170},
    {"orange", 214, 126, 44},     {"purplish blue", 80, 91, 166}, {"moderate red", 193, 90, 99},
    {"purple", 94, 60, 108},      {"yellow green", 157, 188, 64}, {"orange yellow", 224, 163, 46},
    {"blue", 56, 61, 150},        {"green", 70, 148, 73},         {"red", 175, 54, 60},
    {"yellow", 231, 199, 31},     {"magenta", 187, 86, 149},      {"cyan", 8, 133, 161},
    {"white", 243, 243, 242},     {"neutral 8", 200, 200, 200},   {"neutral 6.5", 160, 160, 160},
    {"neutral 5", 122, 122, 121}, {"neutral 3.5", 85, 85, 85},    {"black", 52, 52, 52}};

patch_list checker() {
    patch_list out;
    for (const checker_patch &c : checker_table) {
        const std::size_t n = out.size() + 1;
        out.push_back({std::string(n < 10 ? "CC0" : "CC") + std::to_string(n),
                       c.name,
                       {c.r / 255.0, c.g / 255.0, c.b / 255.0}});
    }
    return out;
}

patch_list full(long grey_steps) {
    patch_list out;
    for (const patch_list &set : {grey(grey_steps), primaries(), checker()})
        for (const patch &p : set)
            if (std::none_of(out.begin(), out.end(),
                             [&](const patch &q) { return q.rgb == p.rgb; }))
                out.push_back(p);
    return out;
}

struct builtin_set {
    const char *name;
    bool takes_steps;
    patch_list (*make)(long steps);
};
const builtin_set builtin_sets[] = {
    {"grey", true, grey},
    {"primaries", false, [](long) { return primaries(); }},
    {"checker", false, [](long) { return checker(); }},
    {"full", true, full},
};

const builtin_set *builtin_named(std::string_view base) {
    for (const builtin_set &s : builtin_sets)
        if (base == s.name) return &s;
    return nullptr;
}

// ---- Patch files ------------------------------------------------------------

struct row_place {
    const std::string &file;
    std::size_t line;
    [[noreturn]] void fail(file_problem p, const std::string &reason) const {
        throw file_error(file, line, p, reason);
    }
};

// id, name, R, G, B: the columns a CSV patch file may have.
constexpr const char *csv_columns[] = {"id", "name", "r", "g", "b"};
enum csv_column : std::size_t { col_id, col_name, col_r, col_g, col_b, csv_column_count };
using column_map = std::array<std::optional<std::size_t>, csv_column_count>;
constexpr const char *channel_names[] = {"R", "G", "B"};

std::string lower(std::string s) {
    for (char &c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

column_map named_columns(const std::vector<std::string> &names, const row_place &at) {
    column_map m;
    for (std::size_t c = 0; c < names.size(); ++c) {
        const std::string n = lower(names[c]);
        const auto *const it = std::find_if(std::begin(csv_columns), std::end(csv_columns),
                                            [&](const char *k) { return n == k; });
        if (it == std::end(csv_columns))
            at.fail(file_problem::unknown_field,
                    "unknown column " + shown(names[c]) + " (id, name, R, G, B)");
        auto &slot = m[static_cast<std::size_t>(it - std::begin(csv_columns))];
        if (slot) at.fail(file_problem::syntax, "column " + shown(names[c]) + " named twice");
        slot = c;
    }
    for (std::size_t k = col_r; k <= col_b; ++k)
        if (!m[k])
            at.fail(file_problem::missing_field, std::string("no ") + csv_columns[k] + " column");
    return m;
}

// Without a header line: R,G,B / id,R,G,B / id,name,R,G,B.
column_map default_columns(std::size_t count, const row_place &at) {
    if (count < 3 || count > 5)
        at.fail(file_problem::field_count,
                std::to_string(count) + " columns: R,G,B with an optional id and name before them");
    column_map m;
    if (count >= 4) m[col_id] = 0;
    if (count == 5) m[col_name] = 1;
    for (std::size_t k = 0; k < 3; ++k) m[col_r + k] = count - 3 + k;
    return m;
}

// "# bits: 8"; nullopt for any other comment.
std::optional<int> bits_line(std::string_view line, const row_place &at) {
    constexpr std::string_view key = "bits:";
    const std::string text = lower(std::string(trimmed(line.substr(1))));
    if (text.compare(0, key.size(), key) != 0) return std::nullopt;
    const std::string_view value = trimmed(std::string_view(text).substr(key.size()));
    const auto n = parse_count(value);
    if (!n || *n < 1 || *n > 16)
        at.fail(file_problem::out_of_range, "bits " + shown(value) + ": 1 to 16");
    return static_cast<int>(*n);
}

double drive_value(const std::string &text, int bits, const char *channel, const row_place &at) {
    const std::string what = std::string(channel) + " " + shown(text);
    if (bits == 0) {
        const auto v = parse_number(text);
        if (!v) at.fail(file_problem::not_a_number, what + " is not a number");
        if (*v < 0 || *v > 1) at.fail(file_problem::out_of_range, what + " is outside 0..1");
        return *v;
    }
    const long top = (1L << bits) - 1;
    const auto n = parse_count(text);
    if (!n)
        at.fail(file_problem::not_a_number,
                what + " is not a " + std::to_string(bits) + "-bit integer");
    if (*n > top) at.fail(file_problem::out_of_range, what + " is above " + std::to_string(top));
    return static_cast<double>(*n) / static_cast<double>(top);
}

bool all_text(const std::vector<std::string> &cells) {
    return std::none_of(cells.begin(), cells.end(),
                        [](const std::string &c) { return parse_number(c).has_value(); });
}

patch_list csv_patches(const text_file &t, int bits) {
    patch_list out;
    std::optional<column_map> columns;
    std::size_t width = 0;
    for (std::size_t i = 0; i < t.lines.size(); ++i) {
        const row_place at{t.name, i + 1};
        const std::string &line = t.lines[i];
        if (line.find_first_not_of(" \t") == std::string::npos) continue;
        if (line[0] == '#') {
            const auto declared = bits_line(line, at);
            if (declared && !out.empty())
                at.fail(file_problem::syntax, "bits after the first patch");
            if (declared && bits && *declared != bits)
                at.fail(file_problem::syntax, "the file says " + std::to_string(*declared) +
                                                  " bits, the option " + std::to_string(bits));
            if (declared) bits = *declared;
            continue;
        }
        const auto cells = csv_cells(line);
        if (!cells)
            at.fail(file_problem::unterminated_string, "a quoted cell without its closing quote");
        if (!columns) {
            width = cells->size();
            const bool header = all_text(*cells);
            columns = header ? named_columns(*cells, at) : default_columns(width, at);
            if (header) continue;
        }
        if (cells->size() != width)
            at.fail(file_problem::field_count, std::to_string(cells->size()) + " cells, " +
                                                   std::to_string(width) + " columns");
        const column_map &m = *columns;
        patch p;
        p.id = m[col_id] ? (*cells)[*m[col_id]] : std::to_string(out.size() + 1);
        if (m[col_name]) p.name = (*cells)[*m[col_name]];
        for (std::size_t c = 0; c < 3; ++c)
            p.rgb[c] = drive_value((*cells)[*m[col_r + c]], bits, channel_names[c], at);
        if (p.id.empty()) at.fail(file_problem::syntax, "an empty id");
        if (std::any_of(out.begin(), out.end(), [&](const patch &q) { return q.id == p.id; }))
            at.fail(file_problem::duplicate_id, "id " + shown(p.id) + " appears twice");
        out.push_back(std::move(p));
    }
    return out;
}

patch_list cgats_patches(const text_file &t) {
    const cgats::document d = cgats::parse(t);
    const auto id = d.field("SAMPLE_ID"), name = d.field("SAMPLE_NAME");
    std::array<std::size_t, 3> rgb{};
    for (std::size_t c = 0; c < 3; ++c) {
        const char *field = c == 0 ? "RGB_R" : c == 1 ? "RGB_G" : "RGB_B";
        const auto column = d.field(field);
        if (!column)
            throw file_error(t.name, d.format_line, file_problem::missing_field,
                             std::string("no ") + field + " field");
        rgb[c] = *column;
    }
    patch_list out;
    for (std::size_t r = 0; r < d.rows.size(); ++r) {
        const row_place at{t.name, d.row_lines[r]};
        const std::vector<std::string> &row = d.rows[r];
        patch p{id ? row[*id] : std::to_string(r + 1), name ? row[*name] : "", {}};
        for (std::size_t c = 0; c < 3; ++c) {
            const double v = *parse_number(row[rgb[c]]);  // the parser checked it is a number
            if (v < 0 || v > 100)
                at.fail(file_problem::out_of_range,
                        d.fields[rgb[c]] + " " + shown(row[rgb[c]]) + " is outside 0..100");
            p.rgb[c] = *parse_percent(row[rgb[c]]);
        }
        out.push_back(std::move(p));
    }
    return out;
}

}  // namespace

bool is_builtin_set(std::string_view name) {
    return builtin_named(name.substr(0, name.find(':'))) != nullptr;
}

patch_list builtin_patches(std::string_view name) {
    const std::size_t colon = name.find(':');
    const builtin_set *set = builtin_named(name.substr(0, colon));
    if (!set)
        throw std::invalid_argument("unknown patch set " + shown(name) +
                                    " (grey[:N], primaries, checker, full[:N])");
    long steps = default_grey_steps;
    if (colon != std::string_view::npos) {
        const auto n = set->takes_steps ? parse_count(name.substr(colon + 1)) : std::nullopt;
        if (!n || *n < 2 || *n > max_grey_steps)
            throw std::invalid_argument(
                "patch set " + shown(name) + ": " +
                (set->takes_steps ? "the steps are 2 to 4096" : "this set takes no step count"));
        steps = *n;
    }
    return set->make(steps);
}

patch_list read_patch_file(const std::string &path, int bits) {
    if (bits < 0 || bits > 16) throw std::invalid_argument("bits: 1 to 16");
    const text_file t = read_text_file(path);
    patch_list out;
    switch (detect_format(t)) {
        case file_format::csv:
            out = csv_patches(t, bits);
            break;
        case file_format::cgats:
            out = cgats_patches(t);
            break;
        case file_format::json:
            throw file_error(path, 1, file_problem::syntax,
                             "a patch file is CSV or CGATS, not JSON");
    }
    if (out.empty()) throw file_error(path, 0, file_problem::no_patches, "no patches");
    return out;
}

patch_list load_patches(const std::string &name_or_path, int bits) {
    return is_builtin_set(name_or_path) ? builtin_patches(name_or_path)
                                        : read_patch_file(name_or_path, bits);
}

}  // namespace cli
