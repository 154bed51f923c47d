#include "cmat/xsp.h"

#include <cstdio>

#include "cmat/number_text.h"
#include "cmat/xsp_sampler.h"

namespace {

constexpr xspect make_flat(int32_t count, double wl_short, double wl_long, double value) {
    xspect sp{count, wl_short, wl_long, 1.0, {}};
    for (int32_t k = 0; k < count; ++k) sp.values[k] = value;
    return sp;
}

}  // namespace

const xspect il_none = make_flat(531, 300.0, 830.0, 1.0);

namespace {

// A missing spectrum is treated like an invalid one: 0 stored, 0 returned.
template <typename Lookup>
int32_t checked(const xspect *sp, double *out, Lookup lookup) {
    if (!out) return 0;
    if (!sp) {
        *out = 0.0;
        return 0;
    }
    return lookup(xspect_sampler(*sp));
}

}  // namespace

int32_t getval_raw_xspec_lin(const xspect *sp, double *out, double wl) {
    return checked(sp, out, [&](const xspect_sampler &s) { return s.lin(wl, out); });
}

int32_t getval_raw_xspec_poly3(const xspect *sp, double *out, double wl) {
    return checked(sp, out, [&](const xspect_sampler &s) { return s.poly3(wl, out); });
}

int32_t getval_raw_xspec(const xspect *sp, double *out, double wl) {
    return checked(sp, out, [&](const xspect_sampler &s) { return s.raw(wl, out); });
}

int32_t getval_xspec(const xspect *sp, double *out, double wl) {
    return checked(sp, out, [&](const xspect_sampler &s) { return s.normalised(wl, out); });
}

void xspect_dump(const xspect *sp) {
    if (!sp) return;
    fprintf_c(stdout, "\t%d, %f, %f\n", sp->count, sp->wl_short, sp->wl_long);
    fprintf_c(stdout, "\t%f\n", sp->norm);
    // A damaged count must not walk past the record.
    const int32_t count = sp->count < xspect_max_count ? sp->count : xspect_max_count;
    for (int32_t k = 0; k < count; ++k) {
        if (k % 5 == 0) fprintf_c(stdout, "\t\t");
        const bool last = k == count - 1;
        fprintf_c(stdout, "%f%s ", sp->values[k], last ? "" : ",");
        if (k % 5 == 4 || last) fprintf_c(stdout, "\n");
    }
    fprintf_c(stdout, "\n");
    std::fflush(stdout);
}
