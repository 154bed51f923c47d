// The directory walk: one "TDR," item per channel into the handle's list,
// which stays well formed and counted in calfile_num.
#include "fuzz_support.h"

CA410_FUZZ_TARGET(callist) {
    fuzz::scripted_line line(data, size);
    ca410_dev *dev = line.device();
    if (!fuzz::is_result_code(ca410_get_callist(dev))) std::abort();
    if (!fuzz::well_formed(dev->callist, dev->calfile_num)) std::abort();
    return 0;
}
