// The directory walk ("TDR," per channel): the handle's list stays well formed.
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::scripted_line line(data, size);
    ca410_dev *dev = line.device();
    if (!ca_result_find(ca410_get_callist(dev))) std::abort();
    if (!fuzz::well_formed(dev->callist, dev->calfile_num)) std::abort();
    return 0;
}
