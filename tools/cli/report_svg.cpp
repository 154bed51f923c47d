#include "report_svg.h"

#include <algorithm>
#include <cmath>

#include "report_text.h"

namespace cli::report {

std::string coord(double v) {
    return fixed(v, 1);
}

std::string points_text(const std::vector<point> &points) {
    std::string s;
    for (const point &p : points) {
        if (!s.empty()) s += ' ';
        s += coord(p[0]) + "," + coord(p[1]);
    }
    return s;
}

std::array<double, 3> linear_srgb(const std::array<double, 3> &xyz) {
    // The sRGB primaries and D65 (IEC 61966-2-1's matrix).
    const double x = xyz[0], y = xyz[1], z = xyz[2];
    return {3.2404542 * x - 1.5371385 * y - 0.4985314 * z,
            -0.9692660 * x + 1.8760108 * y + 0.0415560 * z,
            0.0556434 * x - 0.2040259 * y + 1.0572252 * z};
}

std::string srgb_hex(const std::array<double, 3> &linear) {
    static const char digits[] = "0123456789abcdef";
    std::string hex = "#";
    for (double c : linear) {
        c = std::clamp(c, 0.0, 1.0);
        const double encoded = c <= 0.0031308 ? 12.92 * c : 1.055 * std::pow(c, 1.0 / 2.4) - 0.055;
        const int v = static_cast<int>(std::lround(encoded * 255.0));
        hex += digits[v / 16];
        hex += digits[v % 16];
    }
    return hex;
}

svg::svg(double width, double height, std::string_view role, std::string_view title) {
    out_ = "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"" + std::string(role) +
           "\" viewBox=\"0 0 " + coord(width) + " " + coord(height) + "\" width=\"" + coord(width) +
           "\" height=\"" + coord(height) +
           "\" font-family=\"sans-serif\" font-size=\"13\" role=\"img\">\n<title>" +
           escape_html(title) + "</title>\n<rect class=\"background\" width=\"" + coord(width) +
           "\" height=\"" + coord(height) + "\" fill=\"white\"/>\n";
}

svg &svg::raw(std::string_view text) {
    out_ += text;
    return *this;
}

svg &svg::line(point a, point b, std::string_view attributes) {
    out_ += "<line x1=\"" + coord(a[0]) + "\" y1=\"" + coord(a[1]) + "\" x2=\"" + coord(b[0]) +
            "\" y2=\"" + coord(b[1]) + "\" " + std::string(attributes) + "/>\n";
    return *this;
}

svg &svg::polyline(const std::vector<point> &points, std::string_view attributes) {
    out_ += "<polyline points=\"" + points_text(points) + "\" " + std::string(attributes) + "/>\n";
    return *this;
}

svg &svg::polygon(const std::vector<point> &points, std::string_view attributes) {
    out_ += "<polygon points=\"" + points_text(points) + "\" " + std::string(attributes) + "/>\n";
    return *this;
}

svg &svg::circle(point centre, double radius, std::string_view attributes) {
    out_ += "<circle cx=\"" + coord(centre[0]) + "\" cy=\"" + coord(centre[1]) + "\" r=\"" +
            coord(radius) + "\" " + std::string(attributes) + "/>\n";
    return *this;
}

svg &svg::rect(point corner, double width, double height, std::string_view attributes) {
    out_ += "<rect x=\"" + coord(corner[0]) + "\" y=\"" + coord(corner[1]) + "\" width=\"" +
            coord(width) + "\" height=\"" + coord(height) + "\" " + std::string(attributes) +
            "/>\n";
    return *this;
}

svg &svg::text(point at, std::string_view content, std::string_view attributes) {
    out_ += "<text x=\"" + coord(at[0]) + "\" y=\"" + coord(at[1]) + "\" " +
            std::string(attributes) + ">" + escape_html(content) + "</text>\n";
    return *this;
}

std::string svg::finish() {
    out_ += "</svg>\n";
    return std::move(out_);
}

plot_frame::plot_frame(svg &s, point origin, double width, double height, axis x, axis y)
    : s_(s), origin_(origin), width_(width), height_(height), x_(std::move(x)), y_(std::move(y)) {}

point plot_frame::at(double x, double y) const {
    return {origin_[0] + (x - x_.low) / (x_.high - x_.low) * width_,
            origin_[1] + (y_.high - y) / (y_.high - y_.low) * height_};
}

void plot_frame::draw_axes() {
    s_.raw("<g class=\"axes\">\n");
    const double eps = 1e-9 * (x_.high - x_.low);
    // A category axis (a step wider than the range) has no ticks.
    for (double v = x_.low; x_.step < x_.high - x_.low && v <= x_.high + eps; v += x_.step) {
        s_.line(at(v, y_.low), at(v, y_.high), "stroke=\"#ddd\"");
        const point p = at(v, y_.low);
        s_.text({p[0], p[1] + 17}, fixed(v, x_.decimals), "text-anchor=\"middle\" fill=\"#333\"");
    }
    const double eps_y = 1e-9 * (y_.high - y_.low);
    for (double v = y_.low; v <= y_.high + eps_y; v += y_.step) {
        s_.line(at(x_.low, v), at(x_.high, v), "stroke=\"#ddd\"");
        const point p = at(x_.low, v);
        s_.text({p[0] - 6, p[1] + 4}, fixed(v, y_.decimals), "text-anchor=\"end\" fill=\"#333\"");
    }
    s_.rect(origin_, width_, height_, "fill=\"none\" stroke=\"#888\"");
    s_.text({origin_[0] + width_ / 2, origin_[1] + height_ + 36}, x_.title,
            "class=\"axis-title\" text-anchor=\"middle\"");
    const point yt = {origin_[0] - 48, origin_[1] + height_ / 2};
    s_.text(yt, y_.title,
            "class=\"axis-title\" text-anchor=\"middle\" transform=\"rotate(-90 " + coord(yt[0]) +
                " " + coord(yt[1]) + ")\"");
    s_.raw("</g>\n");
}

void plot_frame::level_line(double y, std::string_view label, std::string_view attributes) {
    if (y < y_.low || y > y_.high) return;
    s_.line(at(x_.low, y), at(x_.high, y), attributes);
    const point end = at(x_.high, y);
    s_.text({end[0] - 4, end[1] - 5}, label,
            "class=\"level-label\" text-anchor=\"end\" font-size=\"12\" fill=\"#222\" "
            "stroke=\"white\" stroke-width=\"3\" paint-order=\"stroke\"");
}

axis nice_axis(double low, double high, std::string title, int target_ticks) {
    if (!(high > low)) high = low + 1.0;
    const double raw = (high - low) / target_ticks;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    double step = magnitude;
    for (const double m : {1.0, 2.0, 2.5, 5.0, 10.0}) {
        step = m * magnitude;
        if (step >= raw) break;
    }
    const int decimals = std::max(0, -static_cast<int>(std::floor(std::log10(step) + 1e-9)) +
                                         (std::fmod(step / magnitude, 1.0) != 0.0 ? 1 : 0));
    return {std::floor(low / step) * step, std::ceil(high / step) * step, step, std::move(title),
            decimals};
}

}  // namespace cli::report
