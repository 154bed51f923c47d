#include "report_json.h"

#include <cmath>

namespace cli::report {

namespace {

using json = nlohmann::ordered_json;

json number(const std::optional<double> &v) {
    if (!v || !std::isfinite(*v)) return nullptr;
    return *v;
}

template <std::size_t N>
json numbers(const std::array<double, N> &values) {
    json out = json::array();
    for (double v : values) out.push_back(number(v));
    return out;
}

template <std::size_t N>
json numbers(const std::optional<std::array<double, N>> &values) {
    return values ? numbers(*values) : json(nullptr);
}

const char *test_key(test t) {
    switch (t) {
        case test::at_most:
            return "at_most";
        case test::at_least:
            return "at_least";
        case test::within:
            return "within";
        case test::within_percent:
            return "within_percent";
    }
    return "";
}

json check_json(const check &c) {
    json out = {{"id", c.id},
                {"figure", c.figure},
                {"measured", number(c.measured)},
                {"target", number(c.target)},
                {"unit", unit_of(c.of)},
                {"tolerance", number(c.limit)},
                {"tolerance_key", nullptr},
                {"test", nullptr},
                {"verdict", verdict_text(c.result)}};
    if (c.tolerance) {
        out["tolerance_key"] = tolerance_kinds[*c.tolerance].key;
        out["test"] = test_key(tolerance_kinds[*c.tolerance].how);
    }
    return out;
}

json checks_json(const std::vector<check> &checks) {
    json out = json::array();
    for (const check &c : checks) out.push_back(check_json(c));
    return out;
}

json profile_json(const profile &p) {
    json tolerances = json::object();
    for (std::size_t i = 0; i < tolerance_count; ++i)
        tolerances[tolerance_kinds[i].key] = number(p.tolerances[i]);
    return {{"name", p.name},
            {"description", p.description},
            {"gamut", p.gamut},
            {"primaries", numbers(p.primaries)},
            {"white", numbers(p.white_xy)},
            {"tone_curve", tone_curve_key(p.curve)},
            {"gamma", p.gamma},
            {"tolerances", tolerances}};
}

json patches_json(const std::vector<colour_patch> &patches) {
    json out = json::array();
    for (const colour_patch &c : patches) {
        out.push_back({{"id", c.id},
                       {"name", c.name},
                       {"rgb", numbers(c.rgb)},
                       {"xyz", numbers(c.xyz)},
                       {"target_xyz", numbers(c.target_xyz)},
                       {"xy", numbers(c.xy)},
                       {"target_xy", numbers(c.target_xy)},
                       {"delta_e", check_json(c.delta_e)}});
    }
    return out;
}

json grey_json(const evaluation &e) {
    json levels = json::array();
    for (const grey_level &g : e.grey) {
        levels.push_back({{"level", g.level},
                          {"xyz", numbers(g.xyz)},
                          {"target_luminance", g.target_luminance},
                          {"point_gamma", number(g.point_gamma)},
                          {"target_point_gamma", number(g.target_point_gamma)},
                          {"balance", numbers(g.balance)},
                          {"checks", checks_json(g.checks)}});
    }
    return {{"levels", levels}, {"checks", checks_json(e.grey_checks)}};
}

}  // namespace

json report_json(const evaluation &e, const report_source &source) {
    const measurement_header &h = source.header;
    return {
        {"source",
         {{"file", source.file},
          {"instrument", h.instrumentation},
          {"created", h.created},
          {"descriptor", h.descriptor},
          {"originator", h.originator},
          {"generated", source.generated}}},
        {"profile", profile_json(e.prof)},
        {"verdict", verdict_text(e.overall)},
        {"summary", checks_json(e.summary)},
        {"white",
         {{"xyz", numbers(e.white)},
          {"black_xyz", numbers(e.black)},
          {"target_xyz", e.white ? numbers(e.target_white) : json(nullptr)},
          {"checks", checks_json(e.white_checks)}}},
        {"grey", grey_json(e)},
        {"gamut",
         {{"patches", patches_json(e.gamut)},
          {"triangle", numbers(e.triangle)},
          {"checks", checks_json(e.gamut_checks)}}},
        {"checker",
         {{"patches", patches_json(e.checker)}, {"checks", checks_json(e.checker_checks)}}},
    };
}

}  // namespace cli::report
