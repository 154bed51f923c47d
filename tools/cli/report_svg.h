// A small SVG writer for the report's charts and the chromaticity diagrams:
// one <svg> with a viewBox, built up as text. Attributes are the caller's
// own constants; text content is escaped here.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace cli::report {

using point = std::array<double, 2>;

// A coordinate: one decimal, '.' whatever the locale.
std::string coord(double v);
std::string points_text(const std::vector<point> &points);
// "#rrggbb" of linear sRGB (0..1 each, clipped) through the sRGB curve.
std::string srgb_hex(const std::array<double, 3> &linear);
// linear sRGB of X, Y, Z (relative: the white's Y is 1).
std::array<double, 3> linear_srgb(const std::array<double, 3> &xyz);

class svg {
  public:
    // `role`: the class of the <svg> element ("chart grey-luminance").
    svg(double width, double height, std::string_view role, std::string_view title);

    svg &raw(std::string_view text);
    svg &line(point a, point b, std::string_view attributes);
    svg &polyline(const std::vector<point> &points, std::string_view attributes);
    svg &polygon(const std::vector<point> &points, std::string_view attributes);
    svg &circle(point centre, double radius, std::string_view attributes);
    svg &rect(point corner, double width, double height, std::string_view attributes);
    // `content` is escaped.
    svg &text(point at, std::string_view content, std::string_view attributes);
    // Ends the element; the svg is then complete.
    std::string finish();

  private:
    std::string out_;
};

// Axes of a chart: data ranges mapped onto a box of the picture.
struct axis {
    double low, high, step;
    std::string title;
    int decimals = 0;  // of the tick labels
};

class plot_frame {
  public:
    plot_frame(svg &s, point origin, double width, double height, axis x, axis y);
    point at(double x, double y) const;
    // Grid, ticks, tick labels and axis titles.
    void draw_axes();
    // A horizontal line at data value y with a label at its right end.
    void level_line(double y, std::string_view label, std::string_view attributes);

  private:
    svg &s_;
    point origin_;  // the top left corner of the plotting area
    double width_, height_;
    axis x_, y_;
};

// The range of a chart's axis: from `low` to `high` widened to whole steps.
axis nice_axis(double low, double high, std::string title, int target_ticks = 6);

}  // namespace cli::report
