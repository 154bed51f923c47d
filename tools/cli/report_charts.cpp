#include "report_charts.h"

#include <algorithm>
#include <cmath>

#include "report_svg.h"
#include "report_text.h"

namespace cli::report {

namespace {

// Every chart's picture and plotting area, in pixels.
constexpr double chart_width = 560, chart_height = 380;
constexpr point plot_origin = {76, 44};
constexpr double plot_width = 456, plot_height = 248;

const axis level_axis = {0.0, 100.0, 10.0, "drive level (%)", 0};

constexpr const char *measured_line = "fill=\"none\" stroke=\"#1f4e8c\" stroke-width=\"2\"";
constexpr const char *target_line =
    "fill=\"none\" stroke=\"#444\" stroke-width=\"1.6\" stroke-dasharray=\"6,4\"";

std::vector<point> on_frame(const plot_frame &f, const std::vector<point> &data) {
    std::vector<point> out;
    for (const point &p : data) out.push_back(f.at(p[0], p[1]));
    return out;
}

void markers(svg &s, const std::vector<point> &at, const char *shape, const char *colour) {
    for (const point &p : at) {
        if (std::string_view(shape) == "square")
            s.rect({p[0] - 3.5, p[1] - 3.5}, 7, 7, std::string("fill=\"") + colour + "\"");
        else if (std::string_view(shape) == "triangle")
            s.polygon({{p[0], p[1] - 4.5}, {p[0] - 4.5, p[1] + 3.5}, {p[0] + 4.5, p[1] + 3.5}},
                      std::string("fill=\"") + colour + "\"");
        else
            s.circle(p, 3.8, std::string("fill=\"") + colour + "\" stroke=\"white\"");
    }
}

// A legend entry below the plotting area: a line sample and its text.
void key(svg &s, int column, std::string_view line_attributes, std::string_view text) {
    const double y = plot_origin[1] + plot_height + 62, x = 24 + 176 * column;
    s.line({x, y - 4}, {x + 26, y - 4}, line_attributes);
    s.text({x + 32, y}, text, "font-size=\"12\"");
}

void title(svg &s, std::string_view text) {
    s.text({chart_width / 2, 22}, text, "class=\"title\" text-anchor=\"middle\" font-size=\"15\"");
}

std::vector<const grey_level *> levels_with(const evaluation &e, bool (*has)(const grey_level &)) {
    std::vector<const grey_level *> out;
    for (const grey_level &g : e.grey)
        if (has(g)) out.push_back(&g);
    return out;
}

// At most `length` bytes of a UTF-8 text, cut between characters.
std::string shortened(const std::string &text, std::size_t length) {
    if (text.size() <= length) return text;
    while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
    return text.substr(0, length) + "…";
}

}  // namespace

std::string grey_luminance_chart(const evaluation &e) {
    if (e.grey.size() < 2) return "";
    std::vector<point> measured, target;
    double top = 0.0;
    for (const grey_level &g : e.grey) {
        measured.push_back({100.0 * g.level, g.xyz[1]});
        target.push_back({100.0 * g.level, g.target_luminance});
        top = std::max({top, g.xyz[1], g.target_luminance});
    }
    svg s(chart_width, chart_height, "chart grey-luminance", "Grey scale: luminance");
    title(s, "Grey scale: measured and target luminance");
    plot_frame f(s, plot_origin, plot_width, plot_height, level_axis,
                 nice_axis(0.0, top, "luminance (cd/m²)"));
    f.draw_axes();
    s.polyline(on_frame(f, target), target_line);
    s.polyline(on_frame(f, measured), measured_line);
    markers(s, on_frame(f, measured), "circle", "#1f4e8c");
    key(s, 0, measured_line, "measured");
    key(s, 1, target_line, "target: " + tone_curve_shown(e.prof));
    return s.finish();
}

std::string point_gamma_chart(const evaluation &e) {
    const auto levels = levels_with(e, [](const grey_level &g) {
        return g.point_gamma.has_value() && !std::isnan(*g.point_gamma);
    });
    if (levels.empty()) return "";
    const std::optional<double> tolerance = e.prof.tolerances[tol_point_gamma];
    std::vector<point> measured, target, band_high, band_low;
    double low = 1e9, high = -1e9;
    for (const grey_level *g : levels) {
        const double x = 100.0 * g->level, t = *g->target_point_gamma, tol = tolerance.value_or(0);
        measured.push_back({x, *g->point_gamma});
        target.push_back({x, t});
        band_high.push_back({x, t + tol});
        band_low.push_back({x, t - tol});
        low = std::min({low, *g->point_gamma, t - tol});
        high = std::max({high, *g->point_gamma, t + tol});
    }
    svg s(chart_width, chart_height, "chart point-gamma", "Grey scale: point gamma");
    title(s, "Grey scale: point gamma per level");
    plot_frame f(s, plot_origin, plot_width, plot_height, level_axis,
                 nice_axis(low - 0.1, high + 0.1, "point gamma"));
    f.draw_axes();
    if (tolerance) {
        std::vector<point> band = on_frame(f, band_high);
        const std::vector<point> lower = on_frame(f, band_low);
        band.insert(band.end(), lower.rbegin(), lower.rend());
        s.polygon(band, "class=\"tolerance-band\" fill=\"#999\" fill-opacity=\"0.22\"");
    }
    s.polyline(on_frame(f, target), target_line);
    s.polyline(on_frame(f, measured), measured_line);
    markers(s, on_frame(f, measured), "circle", "#1f4e8c");
    key(s, 0, measured_line, "measured");
    key(s, 1, target_line, "target: " + tone_curve_shown(e.prof));
    if (tolerance)
        key(s, 2, "stroke=\"#999\" stroke-opacity=\"0.5\" stroke-width=\"9\"",
            "tolerance ± " + fixed(*tolerance, 2));
    return s.finish();
}

std::string rgb_balance_chart(const evaluation &e) {
    const auto levels = levels_with(e, [](const grey_level &g) { return g.balance.has_value(); });
    if (levels.empty()) return "";
    struct channel {
        const char *name, *colour, *shape;
    };
    constexpr channel channels[3] = {
        {"R", "#c62828", "circle"}, {"G", "#2e7d32", "square"}, {"B", "#1565c0", "triangle"}};
    std::array<std::vector<point>, 3> lines;
    double low = 95.0, high = 105.0;
    for (const grey_level *g : levels) {
        for (std::size_t c = 0; c < 3; ++c) {
            const double v = (*g->balance)[c];
            lines[c].push_back({100.0 * g->level, v});
            low = std::min(low, v);
            high = std::max(high, v);
        }
    }
    svg s(chart_width, chart_height, "chart rgb-balance", "Grey scale: RGB balance");
    title(s, "Grey scale: RGB balance per level");
    plot_frame f(s, plot_origin, plot_width, plot_height, level_axis,
                 nice_axis(std::max(low, 0.0), std::min(high, 300.0), "share of the level (%)"));
    f.draw_axes();
    f.level_line(100.0, "target 100 %", "stroke=\"#444\" stroke-dasharray=\"6,4\"");
    for (std::size_t c = 0; c < 3; ++c) {
        const std::string attributes =
            std::string("fill=\"none\" stroke=\"") + channels[c].colour + "\" stroke-width=\"1.8\"";
        const std::vector<point> at = on_frame(f, lines[c]);
        s.polyline(at, attributes);
        markers(s, at, channels[c].shape, channels[c].colour);
        key(s, static_cast<int>(c), attributes,
            std::string(channels[c].name) + " (" + channels[c].shape + ")");
    }
    return s.finish();
}

std::vector<bar> bars_of(const std::vector<const check *> &checks,
                         const std::vector<std::string> &labels) {
    std::vector<bar> out;
    for (std::size_t i = 0; i < checks.size(); ++i) {
        if (checks[i]->measured)
            out.push_back({labels[i], *checks[i]->measured, checks[i]->result == verdict::fail});
    }
    return out;
}

std::string delta_e_bars(std::string_view role, std::string_view title_text,
                         const std::vector<bar> &bars, std::optional<double> tolerance) {
    if (bars.empty()) return "";
    double top = tolerance.value_or(0.0);
    for (const bar &b : bars) top = std::max(top, b.value);
    svg s(chart_width, chart_height, std::string("chart ") + std::string(role), title_text);
    title(s, title_text);
    const axis categories = {0.0, static_cast<double>(bars.size()), 1e9, "", 0};
    plot_frame f(s, plot_origin, plot_width, plot_height, categories,
                 nice_axis(0.0, std::max(top * 1.1, 1.0), "ΔE2000"));
    f.draw_axes();
    const bool crowded = bars.size() > 12;
    const double slot = plot_width / static_cast<double>(bars.size());
    for (std::size_t i = 0; i < bars.size(); ++i) {
        const bar &b = bars[i];
        const point base = f.at(static_cast<double>(i) + 0.5, 0.0);
        const point tip = f.at(static_cast<double>(i) + 0.5, b.value);
        s.rect({base[0] - 0.35 * slot, tip[1]}, 0.7 * slot, base[1] - tip[1],
               std::string("class=\"") + (b.fail ? "bar fail" : "bar") + "\" fill=\"" +
                   (b.fail ? "#c0392b" : "#5b8fc7") + "\"");
        const std::string value = fixed(b.value, 2);
        const std::string rotate = [&](point p) {
            return "transform=\"rotate(-90 " + coord(p[0]) + " " + coord(p[1]) + ")\"";
        }({tip[0] + 4, tip[1] - 4});
        s.text({tip[0] + (crowded ? 4 : 0), tip[1] - 4}, value,
               std::string("font-size=\"11\" ") +
                   (crowded ? "text-anchor=\"start\" " + rotate : "text-anchor=\"middle\""));
        const point label = {base[0] + 4, base[1] + 14};
        s.text(label, b.label,
               "font-size=\"11\" text-anchor=\"end\" transform=\"rotate(-40 " + coord(label[0]) +
                   " " + coord(label[1]) + ")\"");
    }
    if (tolerance)
        f.level_line(*tolerance, "tolerance " + fixed(*tolerance, 2),
                     "class=\"tolerance\" stroke=\"#000\" stroke-width=\"1.4\" "
                     "stroke-dasharray=\"8,4\"");
    return s.finish();
}

std::string swatches(std::string_view role, std::string_view title_text,
                     const std::vector<colour_patch> &patches, const triple &target_white) {
    if (patches.empty()) return "";
    constexpr std::size_t columns = 6;
    constexpr double cell = 94, swatch = 66, caption = 34;
    const std::size_t rows = (patches.size() + columns - 1) / columns;
    svg s(20 + columns * cell, 40 + static_cast<double>(rows) * (swatch + caption),
          std::string("chart ") + std::string(role), title_text);
    s.text({10, 22}, std::string(title_text) + " (left: target, right: measured)",
           "class=\"title\" font-size=\"14\"");
    auto colour = [&](const triple &xyz) {
        const double y = target_white[1];
        return srgb_hex(linear_srgb({xyz[0] / y, xyz[1] / y, xyz[2] / y}));
    };
    for (std::size_t i = 0; i < patches.size(); ++i) {
        const colour_patch &p = patches[i];
        const double x = 10 + static_cast<double>(i % columns) * cell;
        const double y = 34 + static_cast<double>(i / columns) * (swatch + caption);
        s.rect({x, y}, swatch / 2, swatch, "fill=\"" + colour(p.target_xyz) + "\"");
        s.rect({x + swatch / 2, y}, swatch / 2, swatch, "fill=\"" + colour(p.xyz) + "\"");
        s.rect({x, y}, swatch, swatch, "fill=\"none\" stroke=\"#666\"");
        const std::string label = p.name.empty() ? p.id : p.name;
        s.text({x, y + swatch + 13}, shortened(label, 13), "font-size=\"11\"");
        s.text({x, y + swatch + 27},
               "ΔE " + fixed(p.delta_e.measured.value_or(0.0), 2) +
                   (p.delta_e.result == verdict::fail ? " FAIL" : ""),
               "font-size=\"11\"");
    }
    return s.finish();
}

}  // namespace cli::report
