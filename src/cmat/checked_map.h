// Element-wise maps over caller arrays that keep the library's promise of
// writing outputs only on success, without computing every item twice.
#pragma once

#include <cstddef>

// Maps `count` items through `kernel(i, result)` (which fills `Width`
// doubles and returns false when item i has no finite answer) into `out`,
// Width doubles per item. Returns false, with `out` untouched, when any item
// fails. `tame(i)` is a cheap test that item i cannot fail (its inputs lie
// where the kernel provably stays finite); only the items it does not vouch
// for are computed before the storing pass. `out` may be an input array when
// item i reads only its own slots at or after out + i * Width.
template <size_t Width, class Kernel, class Tame>
bool checked_map(size_t count, double *out, Kernel kernel, Tame tame) {
    double result[Width];
    for (size_t i = 0; i < count; ++i)
        if (!tame(i) && !kernel(i, result)) return false;
    for (size_t i = 0; i < count; ++i) {
        // Every item passed above; a failure here is a tame test that vouched
        // wrongly, still reported rather than stored.
        if (!kernel(i, result)) return false;
        for (size_t k = 0; k < Width; ++k) out[i * Width + k] = result[k];
    }
    return true;
}

// For maps whose items have no cheap test: each is checked before any is stored.
inline bool never_tame(size_t) {
    return false;
}
