#include "report_html.h"

#include <algorithm>

#include "ca410_colour.h"
#include "ca410_host.h"
#include "report_charts.h"
#include "report_diagram.h"

namespace cli::report {

namespace {

constexpr const char *style = R"css(
:root { color-scheme: light; }
body { font: 15px/1.45 system-ui, sans-serif; color: #111; margin: 0 auto; max-width: 1180px;
       padding: 12px 16px; }
header h1 { font-size: 1.5em; margin: 0.2em 0; }
header dl { display: grid; grid-template-columns: max-content 1fr; gap: 2px 14px; margin: 0; }
header dt { color: #555; }
header dd { margin: 0; overflow-wrap: anywhere; }
h2 { font-size: 1.2em; border-bottom: 1px solid #bbb; margin-top: 1.6em; }
.verdict-PASS, .verdict-FAIL { font-weight: bold; padding: 0 0.35em; border-radius: 3px; }
.verdict-PASS { color: #14532d; background: #dcfce7; }
.verdict-FAIL { color: #7f1d1d; background: #fee2e2; }
.verdict-not-measured, .verdict-reported { color: #555; }
.table-wrap { overflow-x: auto; }
table { border-collapse: collapse; margin: 0.6em 0; font-variant-numeric: tabular-nums; }
th, td { border-bottom: 1px solid #ddd; padding: 3px 10px; text-align: left; }
td.number { text-align: right; white-space: nowrap; }
.pair { display: flex; flex-wrap: wrap; gap: 12px 24px; align-items: flex-start; }
.pair > * { flex: 1 1 420px; min-width: 0; }
figure { margin: 0.4em 0; break-inside: avoid; }
figure svg { width: 100%; height: auto; max-width: 620px; display: block; }
.note { color: #444; font-size: 0.92em; }
@media print {
  @page { size: A4; margin: 12mm; }
  body { font-size: 10pt; max-width: none; padding: 0; }
  section { break-before: page; }
  section#summary { break-before: auto; }
  figure svg { max-width: 88mm; }
  figure.diagram svg { max-width: 120mm; }
  table { break-inside: auto; }
  tr { break-inside: avoid; }
}
@media (max-width: 600px) { body { font-size: 14px; padding: 8px; } th, td { padding: 2px 5px; } }
)css";

std::string verdict_cell(verdict v) {
    std::string name = verdict_text(v);
    std::replace(name.begin(), name.end(), ' ', '-');
    return "<td class=\"verdict-" + name + "\">" + verdict_text(v) + "</td>";
}

std::string cell(const std::string &text, bool number = true) {
    return std::string(number ? "<td class=\"number\">" : "<td>") + escape_html(text) + "</td>";
}

std::string checks_table(const std::vector<check> &checks) {
    std::string out =
        "<div class=\"table-wrap\"><table>\n<thead><tr><th>Figure</th><th>Measured</th>"
        "<th>Target</th><th>Tolerance</th><th>Verdict</th></tr></thead>\n<tbody>\n";
    for (const check &c : checks) {
        out += "<tr>" + cell(c.figure, false) + cell(value_text(c.of, c.measured)) +
               cell(value_text(c.of, c.target)) + cell(tolerance_text(c)) + verdict_cell(c.result) +
               "</tr>\n";
    }
    return out + "</tbody></table></div>\n";
}

std::string figure(const std::string &svg, const char *kind = "chart") {
    if (svg.empty()) return "";
    return std::string("<figure class=\"") + kind + "\">\n" + svg + "</figure>\n";
}

std::string not_measured(const char *what) {
    return std::string("<p class=\"note\">") + what + ": not measured.</p>\n";
}

verdict worst_of(const std::vector<check> &checks) {
    verdict v = verdict::not_measured;
    for (const check &c : checks) {
        if (c.result == verdict::fail) return verdict::fail;
        if (c.result == verdict::pass)
            v = verdict::pass;
        else if (c.result == verdict::reported && v == verdict::not_measured)
            v = c.result;
    }
    return v;
}

std::string header(const evaluation &e, const report_source &s) {
    const measurement_header &h = s.header;
    std::string out = "<header>\n<h1>Display report: <span class=\"verdict-" +
                      std::string(verdict_text(e.overall)) + "\">" + verdict_text(e.overall) +
                      "</span></h1>\n<dl>\n";
    const std::pair<const char *, std::string> rows[] = {
        {"Instrument", h.instrumentation.empty() ? "—" : h.instrumentation},
        {"Measured", h.created.empty() ? "—" : h.created},
        {"Measurement file", s.file},
        {"Description", h.descriptor.empty() ? "—" : h.descriptor},
        {"Profile", e.prof.name + ": " + e.prof.description},
        {"Report made", s.generated + " by ca410 " + ca410_version()},
    };
    for (const auto &[label, value] : rows)
        out += std::string("<dt>") + label + "</dt><dd>" + escape_html(value) + "</dd>\n";
    return out + "</dl>\n</header>\n";
}

diagram gamut_diagram(const evaluation &e, plane on) {
    diagram d;
    d.on = on;
    const std::string space = space_of(e.prof).shown;
    if (e.triangle) d.measured = diagram_gamut{"measured gamut", *e.triangle};
    d.references.push_back({"target: " + space, e.prof.primaries});
    for (const colour_patch &c : e.gamut) {
        if (c.xy && std::max({c.rgb[0], c.rgb[1], c.rgb[2]}) == 1.0)
            d.points.push_back({c.name.empty() ? c.id : c.name, *c.xy, "#ffffff"});
    }
    d.whites.push_back({"target white (x " + fixed(e.prof.white_xy[0], 4) + ", y " +
                            fixed(e.prof.white_xy[1], 4) + ")",
                        e.prof.white_xy, true});
    ca410_chromaticity w{};
    if (e.white && ca410ColourChromaticity(e.white->data(), &w) == CA_COLOUR_OK)
        d.whites.push_back({"measured white (x " + fixed(w.x, 4) + ", y " + fixed(w.y, 4) + ")",
                            {w.x, w.y},
                            false});
    return d;
}

std::string section(const char *id, const char *title, verdict v, const std::string &body) {
    return std::string("<section id=\"") + id + "\">\n<h2>" + title + " <span class=\"verdict-" +
           (v == verdict::fail   ? "FAIL"
            : v == verdict::pass ? "PASS"
                                 : "not-measured") +
           "\">" + verdict_text(v) + "</span></h2>\n" + body + "</section>\n";
}

std::string white_section(const evaluation &e) {
    const std::string body =
        "<div class=\"pair\">\n" + figure(diagram_svg(gamut_diagram(e, plane::xy)), "diagram") +
        "<div>" + checks_table(e.white_checks) +
        "<p class=\"note\">The target white is the profile's white point at the measured "
        "white's luminance; ΔE2000 in CIELAB relative to it.</p></div>\n</div>\n";
    return section("white", "White and black", worst_of(e.white_checks), body);
}

std::string grey_table(const evaluation &e) {
    std::string out =
        "<div class=\"table-wrap\"><table>\n<thead><tr><th>Level</th><th>Luminance</th>"
        "<th>Target</th><th>Point gamma</th><th>Target</th><th>ΔE2000</th><th>Δu′v′</th>"
        "<th>Verdict</th></tr></thead>\n<tbody>\n";
    for (const grey_level &g : e.grey) {
        auto figure_of = [&](const char *id) -> std::optional<double> {
            for (const check &c : g.checks)
                if (c.id == id) return c.measured;
            return std::nullopt;
        };
        out += "<tr>" + cell(fixed(100.0 * g.level, 1) + " %") +
               cell(value_text(quantity::luminance, g.xyz[1])) +
               cell(value_text(quantity::luminance, g.target_luminance)) +
               cell(value_text(quantity::gamma, g.point_gamma)) +
               cell(value_text(quantity::gamma, g.target_point_gamma)) +
               cell(value_text(quantity::delta_e, figure_of("grey.delta_e"))) +
               cell(value_text(quantity::delta_uv, figure_of("grey.delta_uv"))) +
               verdict_cell(g.checks.empty() ? verdict::reported : worst_of(g.checks)) + "</tr>\n";
    }
    return out + "</tbody></table></div>\n";
}

std::string grey_section(const evaluation &e) {
    if (e.grey.empty())
        return section("grey", "Grey scale", verdict::not_measured, not_measured("The grey scale"));
    std::vector<const check *> de;
    std::vector<std::string> labels;
    std::vector<check> all = e.grey_checks;
    for (const grey_level &g : e.grey) {
        all.insert(all.end(), g.checks.begin(), g.checks.end());
        for (const check &c : g.checks) {
            if (c.id != "grey.delta_e") continue;
            de.push_back(&c);
            labels.push_back(fixed(100.0 * g.level, 0) + " %");
        }
    }
    const std::string body =
        "<div class=\"pair\">\n" + figure(grey_luminance_chart(e)) + figure(point_gamma_chart(e)) +
        figure(rgb_balance_chart(e)) +
        figure(delta_e_bars("bars grey-delta-e", "Grey scale: balance ΔE2000 per level",
                            bars_of(de, labels), e.prof.tolerances[tol_grey_delta_e])) +
        "</div>\n" + checks_table(e.grey_checks) + grey_table(e) +
        "<p class=\"note\">Target luminance: the tone curve (" +
        escape_html(tone_curve_shown(e.prof)) +
        ") between the target black and the measured white. Balance: each level's chromaticity "
        "against the target white at the level's own luminance.</p>\n";
    return section("grey", "Grey scale", worst_of(all), body);
}

std::string patch_table(const std::vector<colour_patch> &patches) {
    std::string out =
        "<div class=\"table-wrap\"><table>\n<thead><tr><th>Patch</th><th>x, y</th>"
        "<th>Target x, y</th><th>ΔE2000</th><th>Tolerance</th><th>Verdict</th></tr></thead>\n"
        "<tbody>\n";
    auto xy_text = [](const std::optional<std::array<double, 2>> &xy) {
        return xy ? fixed((*xy)[0], 4) + ", " + fixed((*xy)[1], 4) : std::string("—");
    };
    for (const colour_patch &c : patches) {
        out += "<tr>" + cell(c.delta_e.figure.substr(0, c.delta_e.figure.rfind(':')), false) +
               cell(xy_text(c.xy)) + cell(xy_text(c.target_xy)) +
               cell(value_text(quantity::delta_e, c.delta_e.measured)) +
               cell(tolerance_text(c.delta_e)) + verdict_cell(c.delta_e.result) + "</tr>\n";
    }
    return out + "</tbody></table></div>\n";
}

std::string patch_bars(const char *role, const char *title, const std::vector<colour_patch> &ps,
                       std::optional<double> tolerance, bool by_id) {
    std::vector<const check *> checks;
    std::vector<std::string> labels;
    for (const colour_patch &c : ps) {
        checks.push_back(&c.delta_e);
        labels.push_back(by_id || c.name.empty() ? c.id : c.name);
    }
    return delta_e_bars(role, title, bars_of(checks, labels), tolerance);
}

std::vector<check> with_patches(std::vector<check> checks, const std::vector<colour_patch> &ps) {
    for (const colour_patch &c : ps) checks.push_back(c.delta_e);
    return checks;
}

std::string gamut_section(const evaluation &e) {
    if (e.gamut.empty())
        return section("gamut", "Gamut", verdict::not_measured,
                       not_measured("Primaries and secondaries"));
    const std::string body =
        "<div class=\"pair\">\n" + figure(diagram_svg(gamut_diagram(e, plane::uv)), "diagram") +
        figure(patch_bars("bars gamut-delta-e", "Primaries and secondaries: ΔE2000", e.gamut,
                          e.prof.tolerances[tol_gamut_delta_e], true)) +
        figure(swatches("swatches gamut-swatches", "Primaries and secondaries", e.gamut,
                        e.target_white)) +
        "</div>\n" + checks_table(e.gamut_checks) + patch_table(e.gamut);
    return section("gamut", "Gamut", worst_of(with_patches(e.gamut_checks, e.gamut)), body);
}

std::string checker_section(const evaluation &e) {
    if (e.checker.empty())
        return section("checker", "Colour checker", verdict::not_measured,
                       not_measured("The colour checker"));
    const std::string body =
        "<div class=\"pair\">\n" +
        figure(patch_bars("bars checker-delta-e", "Colour checker: ΔE2000 per patch", e.checker,
                          e.prof.tolerances[tol_checker_delta_e_max], true)) +
        figure(swatches("swatches checker-swatches", "Colour checker", e.checker, e.target_white)) +
        "</div>\n" + checks_table(e.checker_checks) + patch_table(e.checker);
    return section("checker", "Colour checker", worst_of(with_patches(e.checker_checks, e.checker)),
                   body);
}

}  // namespace

std::string report_html(const evaluation &e, const report_source &source) {
    std::string out =
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
        "<title>Display report: " +
        escape_html(source.file) + "</title>\n<style>" + style + "</style>\n</head>\n<body>\n" +
        header(e, source);
    out += "<section id=\"summary\">\n<h2>Summary</h2>\n" + checks_table(e.summary) +
           "<p class=\"note\">Lines marked “not measured” lack their patches in the file; "
           "“reported” lines have no tolerance in the profile. Grey scale, gamut and checker "
           "lines show each group's worst.</p>\n</section>\n";
    out += white_section(e) + grey_section(e) + gamut_section(e) + checker_section(e);
    return out + "</body>\n</html>\n";
}

}  // namespace cli::report
