#include "sim_emission.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <fstream>
#include <memory>
#include <sstream>

#include "cmat/xsp2cie.h"

namespace sim {

namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

std::optional<double> number(std::string_view s) {
    s = trim(s);
    double v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

// The converter integrates over the observer's range at 1 nm; a spectrum on
// exactly that grid, zero outside its own samples, keeps the converter from
// stretching the end values of a shorter measurement.
constexpr double grid_start = 360.0, grid_end = 830.0;

}  // namespace

std::optional<spectrum> parse_spectrum_csv(std::string_view text, std::string *error) {
    spectrum sp;
    int line_no = 0;
    bool data_seen = false;
    while (!text.empty()) {
        ++line_no;
        const auto nl = text.find('\n');
        const std::string_view line = trim(text.substr(0, nl));
        text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
        if (line.empty() || line.front() == '#') continue;
        const auto sep = line.find_first_of(",;\t");
        const auto nm = sep == std::string_view::npos ? std::nullopt : number(line.substr(0, sep));
        const auto v = sep == std::string_view::npos ? std::nullopt : number(line.substr(sep + 1));
        if (!nm || !v) {
            if (!data_seen && sp.empty() && line_no == 1) continue;  // header
            if (error) *error = "line " + std::to_string(line_no) + ": expected nm,value";
            return std::nullopt;
        }
        data_seen = true;
        sp.emplace_back(*nm, *v);
    }
    std::sort(sp.begin(), sp.end());
    if (sp.size() < 2 || sp.front().first == sp.back().first) {
        if (error) *error = "needs at least two samples at different wavelengths";
        return std::nullopt;
    }
    for (std::size_t i = 1; i < sp.size(); ++i)
        if (sp[i].first == sp[i - 1].first) {
            if (error) *error = "wavelength " + std::to_string(sp[i].first) + " given twice";
            return std::nullopt;
        }
    return sp;
}

sim_xyz spectrum_xyz(const spectrum &sp) {
    // xspect is a large record; keep it off the stack.
    auto in = std::make_unique<xspect>();
    in->count = static_cast<int32_t>(grid_end - grid_start) + 1;
    in->wl_short = grid_start;
    in->wl_long = grid_end;
    in->norm = 1.0;
    for (int32_t k = 0; k < in->count; ++k) {
        const double wl = grid_start + k;
        double v = 0.0;
        if (!sp.empty() && wl >= sp.front().first && wl <= sp.back().first) {
            const auto hi = std::lower_bound(sp.begin(), sp.end(), std::make_pair(wl, -HUGE_VAL));
            if (hi->first == wl || hi == sp.begin()) {
                v = hi->second;
            } else {
                const auto lo = hi - 1;
                v = lo->second +
                    (hi->second - lo->second) * (wl - lo->first) / (hi->first - lo->first);
            }
        }
        in->values[k] = v;
    }
    std::unique_ptr<xsp2cie, void (*)(xsp2cie *)> conv(new_xsp2cie(observer_cie_1931_2, nullptr, 0),
                                                       xsp2cie_del);
    sim_xyz xyz{0, 0, 0};
    if (conv) xsp2cie_convert(conv.get(), xyz.data(), in.get());
    return xyz;
}

bool primaries_from_spectra(const std::array<std::string, 3> &paths, double white_y,
                            std::array<sim_xyz, 3> *out, std::string *error) {
    std::array<sim_xyz, 3> xyz{};
    for (std::size_t i = 0; i < 3; ++i) {
        std::ifstream in(paths[i], std::ios::binary);
        if (!in) {
            if (error) *error = "cannot read " + paths[i];
            return false;
        }
        std::stringstream ss;
        ss << in.rdbuf();
        std::string why;
        const auto sp = parse_spectrum_csv(ss.str(), &why);
        if (!sp) {
            if (error) *error = paths[i] + ": " + why;
            return false;
        }
        xyz[i] = spectrum_xyz(*sp);
    }
    const double y = xyz[0][1] + xyz[1][1] + xyz[2][1];
    if (!(y > 0.0) || !(white_y > 0.0)) {
        if (error) *error = "the spectra give no luminance";
        return false;
    }
    for (auto &p : xyz)
        for (double &v : p) v *= white_y / y;
    *out = xyz;
    return true;
}

}  // namespace sim
