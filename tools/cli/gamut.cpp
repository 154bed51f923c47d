#include "gamut.h"

#include "ca410_colour.h"
#include "output.h"
#include "report_diagram.h"
#include "report_text.h"

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

bool write_gamut_svg(const std::string &path, const gamut_report &r, std::string *error) {
    report::diagram d;
    d.title = "CIE 1931 xy: measured gamut against sRGB and DCI-P3";
    d.measured = report::diagram_gamut{
        "measured (area " + report::fixed(r.area_vs_srgb, 2) + " × sRGB)", r.triangle};
    const std::array<std::pair<int, const char *>, 2> references = {
        {{CA_GAMUT_SRGB, "sRGB"}, {CA_GAMUT_DCI_P3, "DCI-P3"}}};
    const std::array<double, 2> covered = {r.covers_srgb, r.covers_p3};
    for (std::size_t i = 0; i < references.size(); ++i) {
        report::diagram_gamut g{std::string(references[i].second) + " (covered " +
                                    report::fixed(100.0 * covered[i], 1) + " %)",
                                {}};
        ca410ColourReferenceGamut(references[i].first, g.xy.data(), nullptr);
        d.references.push_back(g);
    }
    static const char *const fill[4] = {"#ffffff", "#d62728", "#2ca02c", "#1f4fd6"};
    for (std::size_t c = 0; c < 4; ++c)
        d.points.push_back({colour_names[c], {*r.colours[c][fx], *r.colours[c][fy]}, fill[c]});
    d.whites.push_back({"D65, the white of sRGB", {0.3127, 0.3290}, true});
    d.whites.push_back({"measured white", {*r.colours[white][fx], *r.colours[white][fy]}, false});
    return report::write_text_file(
        path, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + report::diagram_svg(d), error);
}

}  // namespace cli
