#include "report_profile.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>

#include "ca410_colour.h"
#include "cgats.h"

namespace cli::report {

// bindings/python/ca410/profiles.json, compiled in (report_profiles_data.cpp.in).
extern const char *const builtin_profiles_json;

const std::array<tolerance_kind, tolerance_count> tolerance_kinds = {{
    {"white_luminance_min", test::at_least, quantity::luminance, "the white's luminance"},
    {"white_delta_e", test::at_most, quantity::delta_e, "ΔE2000 of the white to the target white"},
    {"white_delta_uv", test::at_most, quantity::delta_uv, "Δu′v′ of the white to the target white"},
    {"white_cct_k", test::within, quantity::cct, "the white's CCT against the target white's"},
    {"white_duv", test::within, quantity::duv, "the white's Δuv against the target white's"},
    {"black_max", test::at_most, quantity::luminance, "the black's luminance"},
    {"contrast_min", test::at_least, quantity::contrast, "white over black luminance"},
    {"grey_luminance_percent", test::within_percent, quantity::luminance,
     "each grey level's luminance against the tone curve, % of the target"},
    {"gamma", test::within, quantity::gamma, "the gamma fitted to the grey scale"},
    {"point_gamma", test::within, quantity::gamma, "each grey level's point gamma"},
    {"grey_delta_e", test::at_most, quantity::delta_e,
     "ΔE2000 of each grey level's chromaticity to the target white"},
    {"grey_delta_uv", test::at_most, quantity::delta_uv,
     "Δu′v′ of each grey level to the target white"},
    {"gamut_delta_e", test::at_most, quantity::delta_e,
     "ΔE2000 of each primary and secondary to its target"},
    {"coverage_min", test::at_least, quantity::percent,
     "the part of the target gamut the display covers, %"},
    {"checker_delta_e_mean", test::at_most, quantity::delta_e, "mean ΔE2000 of the checker"},
    {"checker_delta_e_p95", test::at_most, quantity::delta_e,
     "95th percentile of the checker's ΔE2000"},
    {"checker_delta_e_max", test::at_most, quantity::delta_e,
     "largest ΔE2000 of the checker (and each patch's)"},
}};

const std::vector<colour_space> colour_spaces = {
    {"srgb", CA_GAMUT_SRGB, "sRGB / BT.709"},
    {"dci-p3-d65", CA_GAMUT_DCI_P3, "DCI-P3 D65"},
    {"bt2020", CA_GAMUT_BT2020, "BT.2020"},
};

namespace {

using json = nlohmann::json;

constexpr std::array<double, 2> d65_xy = {0.3127, 0.3290};
constexpr std::size_t max_profile_bytes = 1024 * 1024;

const std::array<std::pair<const char *, tone_curve>, 4> curve_keys = {{
    {"srgb", tone_curve::srgb},
    {"gamma", tone_curve::gamma},
    {"bt1886", tone_curve::bt1886},
    {"pq", tone_curve::pq},
}};

const std::array<const char *, 8> profile_keys = {
    "name", "base", "description", "gamut", "white", "tone_curve", "gamma", "tolerances"};

// The keys a built-in profile must give: it has no base to take them from.
const std::array<const char *, 4> complete_keys = {"description", "gamut", "white", "tone_curve"};

// A key from a file, its control characters escaped, for a message.
std::string unquoted(const std::string &key) {
    const std::string quoted = shown(key);
    return quoted.size() >= 2 ? quoted.substr(1, quoted.size() - 2) : quoted;
}

class reader {
  public:
    explicit reader(std::string source) : source_(std::move(source)) {}

    [[noreturn]] void fail(const std::string &key, const std::string &reason) const {
        throw profile_error(source_, key, reason);
    }

    std::string text(const json &v, const std::string &key) const {
        if (!v.is_string()) fail(key, "must be a string, not " + std::string(v.type_name()));
        return v.get<std::string>();
    }

    double number(const json &v, const std::string &key, double low, double high) const {
        if (!v.is_number()) fail(key, "must be a number, not " + std::string(v.type_name()));
        const double d = v.get<double>();
        if (!std::isfinite(d) || d < low || d > high)
            fail(key, (std::isinf(high)
                           ? "must be " + number_text(low) + " or more"
                           : "must be from " + number_text(low) + " to " + number_text(high)) +
                          ", not " + number_text(d));
        return d;
    }

    std::string choice(const json &v, const std::string &key,
                       const std::vector<std::string> &choices) const {
        const std::string t = text(v, key);
        if (std::find(choices.begin(), choices.end(), t) != choices.end()) return t;
        std::string list;
        for (const std::string &c : choices) list += (list.empty() ? "" : ", ") + c;
        fail(key, "must be one of " + list + ", not \"" + shown(t) + "\"");
    }

    std::array<double, 2> white(const json &v) const {
        if (v.is_string()) {
            choice(v, "white", {"D65"});
            return d65_xy;
        }
        if (!v.is_array() || v.size() != 2)
            fail("white", "must be \"D65\" or [x, y], not " + shown(v.dump()));
        const double x = number(v[0], "white", 1e-6, 1.0), y = number(v[1], "white", 1e-6, 1.0);
        if (x + y >= 1.0) fail("white", "x + y must be below 1");
        return {x, y};
    }

    void tolerances(const json &v, profile &p, bool complete) const {
        if (!v.is_object()) fail("tolerances", "must be an object");
        for (const auto &item : v.items()) {
            const auto kind =
                std::find_if(tolerance_kinds.begin(), tolerance_kinds.end(),
                             [&](const tolerance_kind &k) { return item.key() == k.key; });
            const std::string key = "tolerances." + unquoted(item.key());
            if (kind == tolerance_kinds.end()) fail(key, "is not a tolerance");
            auto &slot = p.tolerances[static_cast<std::size_t>(kind - tolerance_kinds.begin())];
            if (item.value().is_null())
                slot.reset();
            else
                slot = number(item.value(), key, 0.0, HUGE_VAL);
        }
        if (!complete) return;
        for (const tolerance_kind &k : tolerance_kinds) {
            if (!v.contains(k.key)) fail(std::string("tolerances.") + k.key, "is missing");
        }
    }

    void apply(const json &doc, profile &p, bool complete) const {
        if (!doc.is_object()) fail("(profile)", "must be a JSON object");
        for (const auto &item : doc.items()) {
            if (std::find(profile_keys.begin(), profile_keys.end(), item.key()) ==
                profile_keys.end())
                fail(unquoted(item.key()), "is not a profile key");
        }
        if (complete) {
            for (const char *key : complete_keys) {
                if (!doc.contains(key)) fail(key, "is missing");
            }
        }
        if (doc.contains("name")) p.name = text(doc["name"], "name");
        if (doc.contains("description")) p.description = text(doc["description"], "description");
        if (doc.contains("gamut")) set_gamut(doc["gamut"], p);
        if (doc.contains("white")) p.white_xy = white(doc["white"]);
        if (doc.contains("tone_curve")) {
            const std::string c =
                choice(doc["tone_curve"], "tone_curve", {"srgb", "gamma", "bt1886", "pq"});
            for (const auto &[key, curve] : curve_keys)
                if (c == key) p.curve = curve;
        }
        if (doc.contains("gamma")) p.gamma = number(doc["gamma"], "gamma", 0.1, 10.0);
        if (complete && p.curve == tone_curve::gamma && !doc.contains("gamma"))
            fail("gamma", "is missing (tone_curve gamma)");
        if (doc.contains("tolerances"))
            tolerances(doc["tolerances"], p, complete);
        else if (complete)
            fail("tolerances", "is missing");
    }

  private:
    void set_gamut(const json &v, profile &p) const {
        std::vector<std::string> keys;
        for (const colour_space &s : colour_spaces) keys.emplace_back(s.key);
        p.gamut = choice(v, "gamut", keys);
        ca410ColourReferenceGamut(space_of(p).reference_gamut, p.primaries.data(), nullptr);
    }

    std::string source_;
};

json parse_json(std::string_view text, const std::string &source) {
    try {
        return json::parse(text.begin(), text.end());
    } catch (const json::parse_error &e) {
        // e.what() carries the byte position; the text of the file stays out.
        throw profile_error(source, "(syntax)",
                            "not JSON: byte " + std::to_string(e.byte) + " is out of place");
    }
}

const json &builtin_document() {
    static const json doc = parse_json(builtin_profiles_json, "built-in profiles");
    return doc;
}

profile builtin(const std::string &name) {
    profile p;
    p.name = name;
    reader("built-in profile " + name).apply(builtin_document().at(name), p, true);
    return p;
}

std::string file_stem(const std::string &path) {
    const std::size_t slash = path.find_last_of("/\\");
    std::string stem = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::size_t dot = stem.rfind('.');
    return dot == std::string::npos || dot == 0 ? stem : stem.substr(0, dot);
}

std::string read_profile_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw profile_error(path, "(file)", "cannot be read");
    std::ostringstream content;
    content << in.rdbuf();
    if (content.str().size() > max_profile_bytes)
        throw profile_error(path, "(file)", "is larger than 1 MiB: not a profile");
    return content.str();
}

}  // namespace

profile_error::profile_error(const std::string &source, const std::string &key,
                             const std::string &reason)
    : std::runtime_error(source + ": " + key + " " + reason), key(key) {}

const char *tone_curve_key(tone_curve c) {
    for (const auto &[key, curve] : curve_keys)
        if (c == curve) return key;
    return "gamma";
}

std::string tone_curve_shown(const profile &p) {
    switch (p.curve) {
        case tone_curve::srgb:
            return "sRGB";
        case tone_curve::gamma:
            return "gamma " + number_text(p.gamma);
        case tone_curve::bt1886:
            return "BT.1886";
        case tone_curve::pq:
            return "PQ (ST 2084)";
    }
    return "";
}

const colour_space &space_of(const profile &p) {
    for (const colour_space &s : colour_spaces)
        if (p.gamut == s.key) return s;
    return colour_spaces.front();
}

std::vector<std::string> builtin_profile_names() {
    std::vector<std::string> names;
    for (const auto &item : builtin_document().items()) names.push_back(item.key());
    return names;
}

profile parse_profile(std::string_view text, const std::string &source) {
    const json doc = parse_json(text, source);
    const reader r(source);
    std::string base = "srgb";
    if (doc.is_object() && doc.contains("base")) {
        std::vector<std::string> names = builtin_profile_names();
        base = r.choice(doc["base"], "base", names);
    }
    profile p = builtin(base);
    p.name = file_stem(source);
    r.apply(doc, p, false);
    return p;
}

profile load_profile(const std::string &name_or_path) {
    const std::vector<std::string> names = builtin_profile_names();
    if (std::find(names.begin(), names.end(), name_or_path) != names.end())
        return builtin(name_or_path);
    return parse_profile(read_profile_file(name_or_path), name_or_path);
}

}  // namespace cli::report
