// Display profiles: what a display report measures against (colour space,
// white, tone curve) and how far each figure may stray from it. The built-in
// profiles are bindings/python/ca410/profiles.json, compiled in, so the tool
// and the Python package judge by the same definitions.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace cli::report {

// How a figure is shown: its unit and precision (report_text.h formats them).
enum class quantity { luminance, delta_e, delta_uv, xy, cct, duv, contrast, percent, gamma };

// How a measured figure meets its tolerance.
enum class test {
    at_most,         // measured <= tolerance
    at_least,        // measured >= tolerance
    within,          // |measured - target| <= tolerance
    within_percent,  // |measured - target| <= tolerance % of the target
};

enum tolerance_id : std::size_t {
    tol_white_luminance_min,
    tol_white_delta_e,
    tol_white_delta_uv,
    tol_white_cct_k,
    tol_white_duv,
    tol_black_max,
    tol_contrast_min,
    tol_grey_luminance_percent,
    tol_gamma,
    tol_point_gamma,
    tol_grey_delta_e,
    tol_grey_delta_uv,
    tol_gamut_delta_e,
    tol_coverage_min,
    tol_checker_delta_e_mean,
    tol_checker_delta_e_p95,
    tol_checker_delta_e_max,
    tolerance_count
};

// Each tolerance: its key in a profile, how it is met, the quantity of its
// figures, and what it bounds (for the README and messages).
struct tolerance_kind {
    const char *key;
    test how;
    quantity of;
    const char *meaning;
};
extern const std::array<tolerance_kind, tolerance_count> tolerance_kinds;

enum class tone_curve { srgb, gamma, bt1886, pq };

// The target colour spaces: a name a profile uses, the colour library's
// reference gamut and the name a report shows.
struct colour_space {
    const char *key;
    int reference_gamut;
    const char *shown;
};
extern const std::vector<colour_space> colour_spaces;

struct profile {
    std::string name;
    std::string description;
    std::string gamut;                  // a colour_space key
    std::array<double, 6> primaries{};  // red x, y, green x, y, blue x, y
    std::array<double, 2> white_xy{};
    tone_curve curve = tone_curve::gamma;
    double gamma = 2.2;  // for tone_curve::gamma
    // nullopt: the figure is reported but not judged.
    std::array<std::optional<double>, tolerance_count> tolerances{};
};

const char *tone_curve_key(tone_curve c);        // "srgb", "gamma", "bt1886", "pq"
std::string tone_curve_shown(const profile &p);  // "gamma 2.2", "BT.1886", ...
const colour_space &space_of(const profile &p);

// A profile that cannot be used: what() names the source, the key and the reason.
class profile_error : public std::runtime_error {
  public:
    profile_error(const std::string &source, const std::string &key, const std::string &reason);
    std::string key;
};

std::vector<std::string> builtin_profile_names();
// A built-in profile by name, else a profile file. Throws profile_error.
profile load_profile(const std::string &name_or_path);
// A profile's JSON text; `source` names it in messages. Throws profile_error.
profile parse_profile(std::string_view text, const std::string &source);

}  // namespace cli::report
