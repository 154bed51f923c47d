// Colour arithmetic of the virtual instrument: 3x3 matrices, the
// display-mode value triples and the user calibration matrix.
#ifndef CA410_SIM_COLOR_H
#define CA410_SIM_COLOR_H

#include <array>
#include <optional>

#include "sim_types.h"

namespace sim {

using mat3 = std::array<double, 9>;  // row-major

constexpr mat3 identity3{1, 0, 0, 0, 1, 0, 0, 0, 1};

mat3 mat_mul(const mat3 &a, const mat3 &b);
sim_xyz mat_apply(const mat3 &m, const sim_xyz &v);
std::optional<mat3> mat_inverse(const mat3 &m);
mat3 from_columns(const sim_xyz &c0, const sim_xyz &c1, const sim_xyz &c2);

// Matrix that takes XYZ measured through the factory calibration to the
// user's targets, from the four pairs white, red, green, blue; empty when the
// measured (or target) primaries are linearly dependent.
std::optional<mat3> wrgb_matrix(const std::array<sim_xyz, 4> &measured,
                                const std::array<sim_xyz, 4> &target);

// Display modes the instrument knows: 0 xyLv, 1 TΔuvLv, 5 u'v'Lv, 6 flicker,
// 7 XYZ, 8 λdPe. The simulation gives x,y,Lv for 0, u',v',Lv for 5 and X,Y,Z
// for every other mode.
bool valid_display_mode(int mode);
sim_xyz to_display_mode(int mode, const sim_xyz &xyz);
// Target values given in a display mode back to XYZ; empty for a mode whose
// values cannot be taken as a target or for values that name no colour.
std::optional<sim_xyz> from_display_mode(int mode, const sim_xyz &values);

}  // namespace sim

#endif
