// Interpolated lookup in one spectrum with the decisions that depend only on
// the spectrum (validity, linear or cubic) taken once. The public lookups and
// the converter both use it, so a conversion gives exactly what repeated
// getval_xspec calls would, without redoing that work at every wavelength.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

#include "cmat/xsp.h"

class xspect_sampler {
  public:
    explicit xspect_sampler(const xspect &sp) : sp_(sp) {
        const double width = sp.wl_long - sp.wl_short;
        // Positions are defined only with enough samples for a line and a
        // non-zero width that keeps (count - 1) * offset finite; anything
        // else would divide by zero or turn a non-finite position into an index.
        valid_ = sp.count >= 2 && sp.count <= xspect_max_count && width != 0.0 &&
                 std::isfinite(width * (sp.count - 1));
        if (!valid_) return;
        spacing_ = width / (sp.count - 1);
        // Below 5.01 nm the samples lie close enough for straight lines; the
        // margin above 5 keeps 5 nm data linear despite rounding. A cubic
        // needs four points.
        cubic_ = !(spacing_ < 5.01) && sp.count >= 4;
        normalise_ = sp.norm != 1.0;
    }

    bool valid() const { return valid_; }

    // getval_raw_xspec_lin.
    int32_t lin(double wl, double *out) const {
        if (!prepare(wl, out)) return 0;
        const bool inside = clamp(wl);
        *out = interpolate_lin(wl);
        return inside;
    }

    // getval_raw_xspec_poly3: linear when fewer than 4 samples.
    int32_t poly3(double wl, double *out) const {
        if (!prepare(wl, out)) return 0;
        const bool inside = clamp(wl);
        *out = sp_.count < 4 ? interpolate_lin(wl) : interpolate_poly3(wl);
        return inside;
    }

    // getval_raw_xspec.
    int32_t raw(double wl, double *out) const { return cubic_ ? poly3(wl, out) : lin(wl, out); }

    // getval_xspec: the 0 of an invalid spectrum stays 0.
    int32_t normalised(double wl, double *out) const {
        const int32_t inside = raw(wl, out);
        if (valid_ && normalise_) *out /= sp_.norm;
        return inside;
    }

  private:
    // Handles an invalid spectrum and a NaN wavelength; true to go on.
    bool prepare(double wl, double *out) const {
        if (!valid_) {
            *out = 0.0;
            return false;
        }
        if (std::isnan(wl)) {
            *out = std::numeric_limits<double>::quiet_NaN();
            return false;
        }
        return true;
    }

    bool clamp(double &wl) const {
        bool inside = true;
        if (wl < sp_.wl_short) {
            wl = sp_.wl_short;
            inside = false;
        }
        if (wl > sp_.wl_long) {
            wl = sp_.wl_long;
            inside = false;
        }
        return inside;
    }

    // Fractional sample position of a clamped wavelength: within [0, count - 1]
    // up to rounding, so its floor always fits an int.
    double position(double wl) const {
        return (sp_.count - 1) * (wl - sp_.wl_short) / (sp_.wl_long - sp_.wl_short);
    }

    double interpolate_lin(double wl) const {
        const double f = position(wl);
        int32_t i = static_cast<int32_t>(std::floor(f));
        if (i < 0) {
            i = 0;
        } else if (i >= sp_.count - 1) {
            i = sp_.count - 2;
        }
        const double w = f - i;
        return (1.0 - w) * sp_.values[i] + w * sp_.values[i + 1];
    }

    // Lagrange polynomial through the four samples around `wl`, the window
    // kept inside the spectrum at both ends.
    double interpolate_poly3(double wl) const {
        const double f = position(wl);
        int32_t i = static_cast<int32_t>(std::floor(f));
        if (i <= 0) {
            i = 1;
        } else if (i >= sp_.count - 2) {
            i = sp_.count - 3;
        }
        double x[4];
        for (int k = 0; k < 4; ++k) x[k] = sp_.wl_short + (i - 1 + k) * spacing_;
        double sum = 0.0;
        for (int k = 0; k < 4; ++k) {
            double term = sp_.values[i - 1 + k];
            for (int j = 0; j < 4; ++j) {
                if (j != k) term *= (wl - x[j]) / (x[k] - x[j]);
            }
            sum += term;
        }
        return sum;
    }

    const xspect &sp_;
    bool valid_ = false;
    bool cubic_ = false;
    bool normalise_ = false;
    double spacing_ = 0.0;
};
