#include "gamut.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include "ca410_colour.h"
#include "output.h"

namespace cli {

bool make_gamut_report(const wrgb_xyz &measured, gamut_report *out, std::string *error) {
    gamut_report r;
    r.measured = measured;
    for (std::size_t c = 0; c < 4; ++c) {
        r.colours[c] = figures_of(measured[c].data());
        if (!r.colours[c][fx]) {
            *error = std::string("the measured ") + colour_names[c] +
                     " has no chromaticity (X + Y + Z is not positive)";
            return false;
        }
        if (c > 0) {
            r.triangle[2 * (c - 1)] = *r.colours[c][fx];
            r.triangle[2 * (c - 1) + 1] = *r.colours[c][fy];
        }
    }
    double srgb[6], p3[6];
    if (ca410ColourReferenceGamut(CA_GAMUT_SRGB, srgb, nullptr) != CA_COLOUR_OK ||
        ca410ColourReferenceGamut(CA_GAMUT_DCI_P3, p3, nullptr) != CA_COLOUR_OK ||
        ca410ColourGamutAreaRatio(r.triangle.data(), srgb, &r.area_vs_srgb) != CA_COLOUR_OK ||
        ca410ColourGamutCoverage(r.triangle.data(), srgb, &r.covers_srgb) != CA_COLOUR_OK ||
        ca410ColourGamutCoverage(r.triangle.data(), p3, &r.covers_p3) != CA_COLOUR_OK) {
        *error = "the gamut figures could not be computed";
        return false;
    }
    *out = r;
    return true;
}

void print_gamut_report(std::FILE *out, const gamut_report &r, const char *indent) {
    std::fprintf(out, "%s%-7s %10s %10s %10s %8s %8s\n", indent, "colour", "X", "Y", "Z", "x", "y");
    for (std::size_t c = 0; c < 4; ++c) {
        const figures &f = r.colours[c];
        std::fprintf(out, "%s%-7s", indent, colour_names[c]);
        for (const std::size_t which : {fX, fY, fZ, fx, fy})
            std::fprintf(
                out, " %s",
                pad_left(figure_text(which, f[which], no_value), which <= fZ ? 10 : 8).c_str());
        if (c == white)
            std::fprintf(out, "   CCT %s K, Δuv %s", figure_text(fcct, f[fcct], no_value).c_str(),
                         figure_text(fduv, f[fduv], no_value, true).c_str());
        std::fputc('\n', out);
    }
    std::fprintf(out, "%sgamut area relative to sRGB: %.2f (%.1f %%)\n", indent, r.area_vs_srgb,
                 100.0 * r.area_vs_srgb);
    std::fprintf(out, "%scoverage of sRGB:   %5.1f %%\n", indent, 100.0 * r.covers_srgb);
    std::fprintf(out, "%scoverage of DCI-P3: %5.1f %%\n", indent, 100.0 * r.covers_p3);
}

namespace {

// Plot frame: x 0 to 0.8 and y 0 to 0.9 at 600 pixels a unit.
constexpr double scale = 600.0, left = 60.0, top = 30.0, x_max = 0.8, y_max = 0.9;
constexpr double width = left + x_max * scale + 20.0, height = top + y_max * scale + 50.0;

double px(double x) {
    return left + x * scale;
}
double py(double y) {
    return top + (y_max - y) * scale;
}

std::string points(const double *xy, std::size_t n) {
    std::string s;
    char buf[48];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof buf, "%s%.1f,%.1f", i ? " " : "", px(xy[2 * i]),
                      py(xy[2 * i + 1]));
        s += buf;
    }
    return s;
}

}  // namespace

bool write_gamut_svg(const std::string &path, const gamut_report &r, std::string *error) {
    int32_t count = 0;
    if (ca410ColourSpectralLocus(CA_OBSERVER_CIE1931_2, nullptr, nullptr, 0, &count) !=
        CA_COLOUR_OK) {
        *error = "the spectral locus is not available";
        return false;
    }
    std::vector<double> nm(static_cast<std::size_t>(count)), locus(2 * nm.size());
    double srgb[6], p3[6];
    ca410ColourSpectralLocus(CA_OBSERVER_CIE1931_2, nm.data(), locus.data(), count, &count);
    ca410ColourReferenceGamut(CA_GAMUT_SRGB, srgb, nullptr);
    ca410ColourReferenceGamut(CA_GAMUT_DCI_P3, p3, nullptr);

    std::FILE *f = std::fopen(path.c_str(), "w");
    if (f == nullptr) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    std::fprintf(f,
                 "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                 "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" "
                 "viewBox=\"0 0 %.0f %.0f\" font-family=\"sans-serif\" font-size=\"12\">\n"
                 "<title>CIE 1931 xy chromaticity diagram: measured gamut</title>\n"
                 "<rect width=\"100%%\" height=\"100%%\" fill=\"white\"/>\n",
                 width, height, width, height);
    // Grid, ticks and axis labels.
    std::fprintf(f, "<g class=\"axes\" stroke=\"#ddd\" stroke-width=\"1\">\n");
    for (int i = 0; i <= 9; ++i) {
        const double v = i / 10.0;
        if (v <= x_max + 1e-9)
            std::fprintf(f, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\"/>\n", px(v),
                         py(0), px(v), py(y_max));
        std::fprintf(f, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\"/>\n", px(0), py(v),
                     px(x_max), py(v));
    }
    std::fprintf(f, "</g>\n<g class=\"labels\" fill=\"#333\">\n");
    for (int i = 0; i <= 9; ++i) {
        const double v = i / 10.0;
        if (v <= x_max + 1e-9)
            std::fprintf(f, "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">%.1f</text>\n",
                         px(v), py(0) + 16, v);
        std::fprintf(f, "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"end\">%.1f</text>\n", px(0) - 6,
                     py(v) + 4, v);
    }
    std::fprintf(f,
                 "<text class=\"axis-title\" x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\" "
                 "font-size=\"15\" font-style=\"italic\">x</text>\n"
                 "<text class=\"axis-title\" x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\" "
                 "font-size=\"15\" font-style=\"italic\">y</text>\n"
                 "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\" font-size=\"14\">"
                 "CIE 1931 xy: measured gamut against sRGB and DCI-P3</text>\n</g>\n",
                 px(x_max / 2), py(0) + 38, px(0) - 42, py(y_max / 2), px(x_max / 2), top - 10);
    // The spectral locus, closed by the purple line, with some wavelengths.
    std::fprintf(f,
                 "<polygon class=\"spectral-locus\" fill=\"none\" stroke=\"black\" "
                 "stroke-width=\"1.5\" points=\"%s\"/>\n<g class=\"wavelengths\" "
                 "font-size=\"10\" fill=\"#555\">\n",
                 points(locus.data(), nm.size()).c_str());
    for (std::size_t i = 0; i < nm.size(); ++i) {
        const int w = static_cast<int>(nm[i] + 0.5);
        if (w < 460 || w > 620 || w % 20 != 0) continue;
        // Labels outside the locus: left of its blue-green side, right of the rest.
        const bool left_side = w <= 500;
        std::fprintf(f, "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"%s\">%d</text>\n",
                     px(locus[2 * i]) + (left_side ? -6 : 6), py(locus[2 * i + 1]) + 4,
                     left_side ? "end" : "start", w);
    }
    std::fprintf(f, "</g>\n");
    std::fprintf(f,
                 "<polygon class=\"reference sRGB\" fill=\"none\" stroke=\"#777\" "
                 "stroke-dasharray=\"6,4\" points=\"%s\"/>\n"
                 "<polygon class=\"reference DCI-P3\" fill=\"none\" stroke=\"#aaa\" "
                 "stroke-dasharray=\"2,3\" points=\"%s\"/>\n"
                 "<polygon class=\"measured\" fill=\"#4a90d9\" fill-opacity=\"0.15\" "
                 "stroke=\"#1f5fa8\" stroke-width=\"2\" points=\"%s\"/>\n",
                 points(srgb, 3).c_str(), points(p3, 3).c_str(),
                 points(r.triangle.data(), 3).c_str());
    static const char *const fill[4] = {"white", "#d62728", "#2ca02c", "#1f4fd6"};
    for (std::size_t c = 0; c < 4; ++c) {
        const double x = *r.colours[c][fx], y = *r.colours[c][fy];
        std::fprintf(f,
                     "<circle class=\"measured-point\" data-colour=\"%s\" data-x=\"%.5f\" "
                     "data-y=\"%.5f\" cx=\"%.1f\" cy=\"%.1f\" r=\"%d\" fill=\"%s\" "
                     "stroke=\"black\"><title>%s x %.4f y %.4f</title></circle>\n",
                     colour_names[c], x, y, px(x), py(y), c == white ? 5 : 4, fill[c],
                     colour_names[c], x, y);
    }
    // Legend.
    const double lx = px(0.43), ly = py(0.86);
    std::fprintf(f,
                 "<g class=\"legend\" font-size=\"12\">\n"
                 "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#1f5fa8\" "
                 "stroke-width=\"2\"/><text x=\"%.1f\" y=\"%.1f\">measured (area %.2f x sRGB)"
                 "</text>\n"
                 "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#777\" "
                 "stroke-dasharray=\"6,4\"/><text x=\"%.1f\" y=\"%.1f\">sRGB (covered %.1f %%)"
                 "</text>\n"
                 "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#aaa\" "
                 "stroke-dasharray=\"2,3\"/><text x=\"%.1f\" y=\"%.1f\">DCI-P3 (covered %.1f "
                 "%%)</text>\n</g>\n</svg>\n",
                 lx, ly, lx + 24, ly, lx + 30, ly + 4, r.area_vs_srgb, lx, ly + 18, lx + 24,
                 ly + 18, lx + 30, ly + 22, 100.0 * r.covers_srgb, lx, ly + 36, lx + 24, ly + 36,
                 lx + 30, ly + 40, 100.0 * r.covers_p3);
    const bool ok = std::ferror(f) == 0;
    if (std::fclose(f) != 0 || !ok) {
        *error = path + ": writing failed";
        return false;
    }
    return true;
}

}  // namespace cli
