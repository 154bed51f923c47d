#include "sim_display.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>

#include "sim_color.h"
#include "sim_number.h"

namespace {

constexpr std::array<std::string_view, 3> channel_names{"red", "green", "blue"};

std::string_view trim(std::string_view s) {
    while (!s.empty() && sim::ascii_space(s.front())) s.remove_prefix(1);
    while (!s.empty() && sim::ascii_space(s.back())) s.remove_suffix(1);
    return s;
}

std::string range_problem(std::string_view what, std::string_view range, double value) {
    return std::string(what) + " is " + std::string(range) + ", not " + sim::format_number(value);
}

// Where a tone table breaks its rules; `lines` (may be null) names the file's
// lines, else the points are counted.
std::optional<std::string> table_problem(const sim_tone_table &table,
                                         const std::vector<int> *lines) {
    const auto at = [&](std::size_t i) {
        return lines ? "line " + std::to_string((*lines)[i]) + ": "
                     : "point " + std::to_string(i + 1) + ": ";
    };
    if (table.size() < 2) return std::string("needs at least two points, level 0 and level 1");
    for (std::size_t i = 0; i < table.size(); ++i) {
        const auto [level, value] = table[i];
        if (!(level >= 0.0 && level <= 1.0)) return at(i) + range_problem("level", "0 to 1", level);
        if (!(value >= 0.0)) return at(i) + range_problem("value", "0 or more", value);
        if (i > 0 && level <= table[i - 1].first)
            return at(i) + "level " + sim::format_number(level) + " does not ascend from " +
                   sim::format_number(table[i - 1].first);
    }
    if (table.front().first != 0.0 || table.back().first != 1.0)
        return std::string("the levels must run from 0 to 1");
    return std::nullopt;
}

std::optional<std::string> tone_problem(const sim_tone &tone, std::string_view channel) {
    if (!tone.table.empty()) {
        if (auto why = table_problem(tone.table, nullptr))
            return std::string(channel) + " tone table: " + *why;
        return std::nullopt;
    }
    if (!(tone.gamma > 0.0 && tone.gamma <= 10.0))
        return range_problem(std::string(channel) + " gamma", "more than 0 and at most 10",
                             tone.gamma);
    return std::nullopt;
}

std::array<double, 2> chromaticity(const sim_xyz &xyz) {
    const double sum = xyz[0] + xyz[1] + xyz[2];
    return {xyz[0] / sum, xyz[1] / sum};
}

sim_xyz white_of(const sim_display &d) {
    sim_xyz w{};
    for (const auto &p : d.primaries)
        for (int i = 0; i < 3; ++i) w[i] += p[i];
    return w;
}

// The channel gains that give grey at level v the drifted chromaticity at
// the white's luminance; (1, 1, 1) at level 1 or without a drift.
sim_xyz drift_gains(const sim_display &d, double v) {
    if (!d.grey_drift_xy) return {1.0, 1.0, 1.0};
    const sim_xyz white = white_of(d);
    const auto w = chromaticity(white);
    const double k = (1.0 - v) * (1.0 - v);
    const double x = w[0] + k * ((*d.grey_drift_xy)[0] - w[0]);
    const double y = w[1] + k * ((*d.grey_drift_xy)[1] - w[1]);
    const sim_xyz target{x / y * white[1], white[1], (1.0 - x - y) / y * white[1]};
    const auto inverse =
        sim::mat_inverse(sim::from_columns(d.primaries[0], d.primaries[1], d.primaries[2]));
    return inverse ? sim::mat_apply(*inverse, target) : sim_xyz{1.0, 1.0, 1.0};
}

std::optional<std::string> drift_problem(const sim_display &d) {
    if (!d.grey_drift_xy) return std::nullopt;
    const auto [x, y] = *d.grey_drift_xy;
    const std::string where = "grey drift " + sim::format_number(x) + "," + sim::format_number(y);
    const auto inverse =
        sim::mat_inverse(sim::from_columns(d.primaries[0], d.primaries[1], d.primaries[2]));
    if (!inverse) return where + ": the primaries make no gamut";
    // Inside the primaries' triangle every gain stays 0 or more on the way.
    const sim_xyz g = drift_gains(d, 0.0);
    if (!(y > 0.0) || !(std::min({g[0], g[1], g[2]}) >= 0.0))
        return where + " is outside the display's gamut";
    return std::nullopt;
}

struct bounded {
    std::string_view what, range;
    double sim_display::*field;
    double lo, hi;
};
constexpr bounded bounded_fields[] = {
    {"flare", "0 to 1", &sim_display::flare, 0.0, 1.0},
    {"additivity loss", "0 to 1", &sim_display::additivity_loss, 0.0, 1.0},
    {"noise", "0 to 0.5", &sim_display::noise, 0.0, 0.5},
    {"warm-up percent", "0 to 100", &sim_display::warmup_percent, 0.0, 100.0},
    {"warm-up seconds", "0 to 1e6", &sim_display::warmup_seconds, 0.0, 1e6},
};

}  // namespace

// The imperfect display's numbers are in tools/sim/README.md: change both together.
std::optional<sim_display> sim_display_preset(std::string_view name) {
    if (name == "ideal") return sim_display{};
    if (name != "imperfect") return std::nullopt;
    sim_display d;
    d.primaries = *sim::primaries_for_white({{{0.64, 0.33}, {0.31, 0.57}, {0.15, 0.06}}},
                                            {0.303, 0.319}, 100.0);
    d.tone[0].gamma = 2.5;
    d.tone[1].gamma = d.tone[2].gamma = 2.4;
    d.black = {0.76, 0.80, 0.87};
    d.additivity_loss = 0.02;
    d.grey_drift_xy = {{0.27, 0.28}};
    d.noise = 0.003;
    return d;
}

std::optional<std::string> sim_display_problem(const sim_display &d) {
    for (const auto &p : d.primaries)
        for (double v : p)
            if (!std::isfinite(v)) return std::string("the primaries must be finite");
    for (std::size_t c = 0; c < 3; ++c)
        if (auto why = tone_problem(d.tone[c], channel_names[c])) return why;
    for (double v : d.black)
        if (!(v >= 0.0 && std::isfinite(v))) return range_problem("black", "0 or more in X Y Z", v);
    for (const auto &b : bounded_fields)
        if (!(d.*b.field >= b.lo && d.*b.field <= b.hi))
            return range_problem(b.what, b.range, d.*b.field);
    return drift_problem(d);
}

std::optional<sim_tone_table> sim_parse_tone_table(std::string_view text, std::string *error) {
    std::vector<int> lines;
    auto table = sim::parse_number_pairs(text, "expected level,value", error, &lines);
    if (!table) return std::nullopt;
    if (auto why = table_problem(*table, &lines)) {
        if (error) *error = *why;
        return std::nullopt;
    }
    return table;
}

bool sim_read_tone_table(const std::string &path, sim_tone_table *table, std::string *error) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    if (!(in && text << in.rdbuf())) {
        if (error) *error = "cannot read " + path;
        return false;
    }
    std::string why;
    auto parsed = sim_parse_tone_table(text.str(), &why);
    if (!parsed) {
        if (error) *error = path + ": " + why;
        return false;
    }
    *table = std::move(*parsed);
    return true;
}

namespace sim {

std::optional<std::vector<std::pair<double, double>>> parse_number_pairs(std::string_view text,
                                                                         std::string_view form,
                                                                         std::string *error,
                                                                         std::vector<int> *lines) {
    std::vector<std::pair<double, double>> out;
    for (int line_no = 1; !text.empty(); ++line_no) {
        const auto nl = text.find('\n');
        const std::string_view line = trim(text.substr(0, nl));
        text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
        if (line.empty() || line.front() == '#') continue;
        const auto sep = line.find_first_of(",;\t");
        const auto a =
            sep == line.npos ? std::nullopt : parse_whole<double>(trim(line.substr(0, sep)));
        const auto b =
            sep == line.npos ? std::nullopt : parse_whole<double>(trim(line.substr(sep + 1)));
        if (!a || !b) {
            if (line_no == 1) continue;  // a header
            if (error) *error = "line " + std::to_string(line_no) + ": " + std::string(form);
            return std::nullopt;
        }
        out.emplace_back(*a, *b);
        if (lines) lines->push_back(line_no);
    }
    return out;
}

double tone_value(const sim_tone &tone, double level) {
    const double v = level > 0.0 ? std::min(level, 1.0) : 0.0;  // also NaN
    if (tone.table.empty()) return std::pow(v, tone.gamma);
    const auto &t = tone.table;
    const auto hi = std::lower_bound(t.begin(), t.end(), v,
                                     [](const auto &point, double l) { return point.first < l; });
    if (hi == t.begin()) return hi->second;
    if (hi == t.end()) return t.back().second;
    const auto lo = hi - 1;
    return lo->second + (hi->second - lo->second) * (v - lo->first) / (hi->first - lo->first);
}

sim_xyz display_light(const sim_display &d, const std::array<double, 3> &drive, double seconds_on) {
    std::array<double, 3> t{};
    for (std::size_t c = 0; c < 3; ++c) t[c] = tone_value(d.tone[c], drive[c]);
    const double lit = t[0] + t[1] + t[2];
    const double warm = d.warmup_seconds > 0.0 ? 1.0 - d.warmup_percent / 100.0 *
                                                           std::exp(-seconds_on / d.warmup_seconds)
                                               : 1.0;
    const sim_xyz white = white_of(d);
    sim_xyz out = d.black;
    for (int i = 0; i < 3; ++i) out[i] += d.flare * white[i];
    for (std::size_t c = 0; c < 3; ++c) {
        const double gain = drift_gains(d, drive[c])[c];
        const double share = t[c] * gain * (1.0 - d.additivity_loss / 2.0 * (lit - t[c])) * warm;
        for (int i = 0; i < 3; ++i) out[i] += share * d.primaries[c][i];
    }
    return out;
}

std::optional<std::array<sim_xyz, 3>> primaries_for_white(
    const std::array<std::array<double, 2>, 3> &xy, std::array<double, 2> white_xy,
    double white_y) {
    const auto unit = [](const std::array<double, 2> &c) {
        return sim_xyz{c[0] / c[1], 1.0, (1.0 - c[0] - c[1]) / c[1]};
    };
    std::array<sim_xyz, 3> p{unit(xy[0]), unit(xy[1]), unit(xy[2])};
    const auto inverse = mat_inverse(from_columns(p[0], p[1], p[2]));
    if (!inverse) return std::nullopt;
    sim_xyz w = unit(white_xy);
    for (double &v : w) v *= white_y;
    const sim_xyz k = mat_apply(*inverse, w);
    for (std::size_t c = 0; c < 3; ++c)
        for (double &v : p[c]) v *= k[c];
    return p;
}

sim_xyz measurement_noise::apply(double noise, const sim_xyz &xyz) {
    if (noise <= 0.0) return xyz;
    constexpr double two_pi = 6.283185307179586;
    sim_xyz out = xyz;
    for (double &v : out) {
        const double u1 = static_cast<double>((random_() >> 11) + 1) * 0x1.0p-53;  // (0, 1]
        const double u2 = static_cast<double>(random_() >> 11) * 0x1.0p-53;        // [0, 1)
        v *= 1.0 + noise * std::sqrt(-2.0 * std::log(u1)) * std::cos(two_pi * u2);
    }
    return out;
}

}  // namespace sim
