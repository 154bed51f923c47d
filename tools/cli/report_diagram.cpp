#include "report_diagram.h"

#include <algorithm>
#include <cmath>

#include "ca410_colour.h"
#include "report_svg.h"
#include "report_text.h"

namespace cli::report {

namespace {

// Each plane's frame: its axes' ranges, pixels a unit and names.
struct plane_frame {
    plane on;
    const char *id;  // prefix of the element ids, unique within a page
    double x_min, x_max, y_min, y_max, scale;
    const char *x_name, *y_name, *title;
};
constexpr std::array<plane_frame, 2> frames = {{
    {plane::xy, "xy", -0.1, 0.8, -0.05, 0.9, 560.0, "x", "y", "CIE 1931 xy"},
    {plane::uv, "uv", -0.1, 0.65, -0.05, 0.65, 700.0, "u′", "v′", "CIE 1976 u′v′"},
}};
constexpr double left = 62.0, top = 40.0, right = 24.0, axis_band = 52.0, legend_row = 22.0;

// The wavelengths marked on the locus, in nm.
constexpr std::array<int, 12> marked_nm = {460, 480, 490, 500, 510, 520,
                                           540, 560, 580, 600, 620, 700};
constexpr double label_font = 12.0, tick_length = 7.0, label_gap = 4.0;
// The fan that fills the locus starts at D65, which lies inside it.
constexpr std::array<double, 2> fill_centre = {0.3127, 0.3290};

std::string reference_line(const reference_style &r) {
    return std::string("stroke=\"") + r.stroke + "\" stroke-width=\"1.6\" stroke-dasharray=\"" +
           r.dash + "\"";
}

const plane_frame &frame_of(plane p) {
    return p == plane::xy ? frames[0] : frames[1];
}

struct locus_data {
    std::vector<double> nm;
    std::vector<std::array<double, 2>> xy;
};

const locus_data &locus() {
    static const locus_data data = [] {
        locus_data d;
        int32_t count = 0;
        ca410ColourSpectralLocus(CA_OBSERVER_CIE1931_2, nullptr, nullptr, 0, &count);
        d.nm.resize(static_cast<std::size_t>(count));
        std::vector<double> flat(2 * d.nm.size());
        ca410ColourSpectralLocus(CA_OBSERVER_CIE1931_2, d.nm.data(), flat.data(), count, &count);
        for (std::size_t i = 0; i < d.nm.size(); ++i)
            d.xy.push_back({flat[2 * i], flat[2 * i + 1]});
        return d;
    }();
    return data;
}

// The brightest sRGB colour of a chromaticity (out-of-gamut ones moved
// towards white until they fit).
std::string colour_of(const std::array<double, 2> &xy) {
    std::array<double, 3> rgb = linear_srgb({xy[0] / xy[1], 1.0, (1.0 - xy[0] - xy[1]) / xy[1]});
    const double low = std::min({rgb[0], rgb[1], rgb[2]});
    if (low < 0.0)
        for (double &c : rgb) c -= low;
    const double high = std::max({rgb[0], rgb[1], rgb[2]});
    for (double &c : rgb) c /= high;
    return srgb_hex(rgb);
}

class drawing {
  public:
    explicit drawing(const diagram &d)
        : d_(d),
          f_(frame_of(d.on)),
          legend_rows_(legend_entries()),
          s_(width(), height(), std::string("diagram ") + f_.id,
             d.title.empty() ? f_.title : d.title) {}

    std::string run() {
        locus_fill();
        grid();
        s_.polygon(locus_points(),
                   "class=\"spectral-locus\" fill=\"none\" stroke=\"black\" "
                   "stroke-width=\"1.5\"");
        wavelengths();
        if (d_.measured)
            s_.polygon(corners(d_.measured->xy),
                       std::string("class=\"measured\" fill=\"none\" stroke=\"") + measured_stroke +
                           "\" stroke-width=\"2.2\" stroke-linejoin=\"round\"");
        for (std::size_t i = 0; i < d_.references.size(); ++i) {
            const reference_style &r = reference_styles[i % reference_styles.size()];
            const std::vector<point> c = corners(d_.references[i].xy);
            if (r.backing)
                s_.polygon(c, std::string("fill=\"none\" stroke=\"") + r.backing +
                                  "\" stroke-width=\"2.6\" stroke-linejoin=\"round\"");
            s_.polygon(c, "class=\"reference\" fill=\"none\" " + reference_line(r));
        }
        points();
        whites();
        legend();
        return s_.finish();
    }

  private:
    double plot_width() const { return (f_.x_max - f_.x_min) * f_.scale; }
    double plot_height() const { return (f_.y_max - f_.y_min) * f_.scale; }
    double width() const { return left + plot_width() + right; }
    double plot_bottom() const { return top + plot_height(); }
    double height() const { return plot_bottom() + axis_band + legend_row * legend_rows_ + 8.0; }

    std::size_t legend_entries() const {
        return (d_.measured ? 1 : 0) + d_.references.size() + d_.whites.size();
    }

    point at(const std::array<double, 2> &xy) const {
        const std::array<double, 2> p = d_.on == plane::xy ? xy : uv_of_xy(xy);
        return {left + (p[0] - f_.x_min) * f_.scale, top + (f_.y_max - p[1]) * f_.scale};
    }

    std::vector<point> corners(const std::array<double, 6> &t) const {
        return {at({t[0], t[1]}), at({t[2], t[3]}), at({t[4], t[5]})};
    }

    std::vector<point> locus_points() const {
        std::vector<point> out;
        for (const auto &xy : locus().xy) out.push_back(at(xy));
        return out;
    }

    // The outline the fan fills: the locus where it moves, then the purple line.
    std::vector<std::array<double, 2>> outline() const {
        std::vector<std::array<double, 2>> out;
        const locus_data &l = locus();
        for (std::size_t i = 0; i < l.nm.size(); ++i) {
            if (l.nm[i] < 380 || l.nm[i] > 700) continue;
            if (!out.empty() &&
                std::hypot(l.xy[i][0] - out.back()[0], l.xy[i][1] - out.back()[1]) < 0.012)
                continue;
            out.push_back(l.xy[i]);
        }
        const auto first = out.front(), last = out.back();
        for (int k = 1; k < 8; ++k) {
            const double t = k / 8.0;
            out.push_back({last[0] + t * (first[0] - last[0]), last[1] + t * (first[1] - last[1])});
        }
        return out;
    }

    void locus_fill() {
        const auto edge = outline();
        std::string defs = "<defs>\n", fan = "<g class=\"locus-fill\">\n";
        const point centre = at(fill_centre);
        for (std::size_t i = 0; i < edge.size(); ++i) {
            const auto &a = edge[i], &b = edge[(i + 1) % edge.size()];
            const std::array<double, 2> mid = {(a[0] + b[0]) / 2, (a[1] + b[1]) / 2};
            const point m = at(mid);
            const std::string id = std::string(f_.id) + "-fill-" + std::to_string(i);
            defs += "<linearGradient id=\"" + id + "\" gradientUnits=\"userSpaceOnUse\" x1=\"" +
                    coord(centre[0]) + "\" y1=\"" + coord(centre[1]) + "\" x2=\"" + coord(m[0]) +
                    "\" y2=\"" + coord(m[1]) + "\">";
            for (const double t : {0.0, 0.35, 0.7, 1.0}) {
                const std::array<double, 2> xy = {fill_centre[0] + t * (mid[0] - fill_centre[0]),
                                                  fill_centre[1] + t * (mid[1] - fill_centre[1])};
                defs +=
                    "<stop offset=\"" + fixed(t, 2) + "\" stop-color=\"" + colour_of(xy) + "\"/>";
            }
            defs += "</linearGradient>\n";
            fan += "<polygon points=\"" + points_text({centre, at(a), at(b)}) + "\" fill=\"url(#" +
                   id + ")\" stroke=\"url(#" + id + ")\" stroke-width=\"0.8\"/>\n";
        }
        s_.raw(defs + "</defs>\n" + fan + "</g>\n");
    }

    void grid() {
        s_.raw("<g class=\"axes\">\n");
        // Grid lines every 0.1 from 0 (the frame reaches a little below 0,
        // where the wavelength labels need room).
        for (int k = 0; k / 10.0 <= f_.x_max + 1e-9; ++k) {
            const double x = left + (k / 10.0 - f_.x_min) * f_.scale;
            s_.line({x, top}, {x, plot_bottom()}, "stroke=\"#000\" stroke-opacity=\"0.13\"");
            s_.text({x, plot_bottom() + 17}, fixed(k / 10.0, 1),
                    "text-anchor=\"middle\" fill=\"#333\"");
        }
        for (int k = 0; k / 10.0 <= f_.y_max + 1e-9; ++k) {
            const double y = top + (f_.y_max - k / 10.0) * f_.scale;
            s_.line({left, y}, {left + plot_width(), y}, "stroke=\"#000\" stroke-opacity=\"0.13\"");
            s_.text({left - 7, y + 4}, fixed(k / 10.0, 1), "text-anchor=\"end\" fill=\"#333\"");
        }
        s_.rect({left, top}, plot_width(), plot_height(), "fill=\"none\" stroke=\"#888\"");
        s_.text(
            {left + plot_width() / 2, plot_bottom() + 38}, f_.x_name,
            "class=\"axis-title\" text-anchor=\"middle\" font-size=\"15\" font-style=\"italic\"");
        s_.text(
            {left - 44, top + plot_height() / 2}, f_.y_name,
            "class=\"axis-title\" text-anchor=\"middle\" font-size=\"15\" font-style=\"italic\"");
        s_.text({left + plot_width() / 2, top - 14}, d_.title.empty() ? f_.title : d_.title,
                "class=\"title\" text-anchor=\"middle\" font-size=\"15\"");
        s_.raw("</g>\n");
    }

    // The locus's outward normal at a point, in pixels: across the local
    // tangent, away from the fill centre; where the locus hardly moves (its
    // red end) straight away from the centre.
    point outward(std::size_t i) const {
        const locus_data &l = locus();
        const std::size_t lo = i >= 5 ? i - 5 : 0, hi = std::min(i + 5, l.nm.size() - 1);
        const point a = at(l.xy[lo]), b = at(l.xy[hi]), p = at(l.xy[i]), c = at(fill_centre);
        point n = {b[1] - a[1], -(b[0] - a[0])};
        double length = std::hypot(n[0], n[1]);
        if (length < 2.0) {
            n = {p[0] - c[0], p[1] - c[1]};
            length = std::hypot(n[0], n[1]);
        }
        n = {n[0] / length, n[1] / length};
        if (n[0] * (p[0] - c[0]) + n[1] * (p[1] - c[1]) < 0) n = {-n[0], -n[1]};
        return n;
    }

    void wavelengths() {
        s_.raw("<g class=\"wavelengths\" fill=\"#222\">\n");
        const locus_data &l = locus();
        for (const int nm : marked_nm) {
            const auto it = std::find(l.nm.begin(), l.nm.end(), static_cast<double>(nm));
            if (it == l.nm.end()) continue;
            const auto i = static_cast<std::size_t>(it - l.nm.begin());
            const point p = at(l.xy[i]), n = outward(i);
            s_.line(p, {p[0] + tick_length * n[0], p[1] + tick_length * n[1]},
                    "stroke=\"#222\" stroke-width=\"1.2\"");
            // The label's box just clear of the tick, its centre along the normal.
            const std::string text = std::to_string(nm);
            const double w = 0.6 * label_font * static_cast<double>(text.size()), h = label_font;
            const double reach =
                tick_length + label_gap + std::fabs(n[0]) * w / 2 + std::fabs(n[1]) * h / 2;
            const point centre = {p[0] + reach * n[0], p[1] + reach * n[1]};
            s_.text({centre[0], centre[1] + 0.35 * h}, text,
                    "text-anchor=\"middle\" font-size=\"12\" data-nm=\"" + text + "\"");
        }
        s_.raw("</g>\n");
    }

    void points() {
        for (const diagram_point &p : d_.points) {
            const point c = at(p.xy);
            s_.raw("<circle class=\"measured-point\" data-colour=\"" + escape_html(p.name) +
                   "\" data-x=\"" + fixed(p.xy[0], 5) + "\" data-y=\"" + fixed(p.xy[1], 5) +
                   "\" cx=\"" + coord(c[0]) + "\" cy=\"" + coord(c[1]) + "\" r=\"4.5\" fill=\"" +
                   p.fill + "\" stroke=\"black\" stroke-width=\"1.2\"><title>" +
                   escape_html(p.name) + " x " + fixed(p.xy[0], 4) + " y " + fixed(p.xy[1], 4) +
                   "</title></circle>\n");
        }
    }

    void white_marker(point c, bool target) {
        if (target) {
            s_.circle(c, 6.5,
                      "class=\"white-target\" fill=\"none\" stroke=\"white\" "
                      "stroke-width=\"3.5\"");
            s_.circle(c, 6.5, "fill=\"none\" stroke=\"black\" stroke-width=\"1.5\"");
        } else {
            s_.circle(c, 3.5,
                      "class=\"white-measured\" fill=\"black\" stroke=\"white\" "
                      "stroke-width=\"1.2\"");
        }
    }

    void whites() {
        for (const diagram_white &w : d_.whites) white_marker(at(w.xy), w.target);
    }

    void legend() {
        double y = plot_bottom() + axis_band + 12;
        const double x = left;
        s_.raw("<g class=\"legend\" font-size=\"13\">\n");
        auto label = [&](const std::string &text) {
            s_.text({x + 40, y + 4}, text, "fill=\"#111\"");
            y += legend_row;
        };
        if (d_.measured) {
            s_.line({x, y}, {x + 30, y},
                    std::string("stroke=\"") + measured_stroke + "\" stroke-width=\"2.2\"");
            label(d_.measured->label);
        }
        for (std::size_t i = 0; i < d_.references.size(); ++i) {
            const reference_style &r = reference_styles[i % reference_styles.size()];
            if (r.backing)
                s_.line({x, y}, {x + 30, y},
                        std::string("stroke=\"") + r.backing + "\" stroke-width=\"2.6\"");
            s_.line({x, y}, {x + 30, y}, reference_line(r));
            label(d_.references[i].label + " (dashed, drawn over the measured gamut)");
        }
        for (const diagram_white &w : d_.whites) {
            white_marker({x + 15, y}, w.target);
            label(w.label);
        }
        s_.raw("</g>\n");
    }

    const diagram &d_;
    const plane_frame &f_;
    std::size_t legend_rows_;
    svg s_;
};

}  // namespace

std::array<double, 2> uv_of_xy(const std::array<double, 2> &xy) {
    const double d = -2.0 * xy[0] + 12.0 * xy[1] + 3.0;
    return {4.0 * xy[0] / d, 9.0 * xy[1] / d};
}

std::string diagram_svg(const diagram &d) {
    return drawing(d).run();
}

}  // namespace cli::report
