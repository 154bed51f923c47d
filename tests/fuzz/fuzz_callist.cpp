// The directory walk: one "TDR," item per channel, parsed into the handle's
// list. The list must stay well formed: ascending channels 1 to 99,
// terminated names, its length in calfile_num.
#include <cstdlib>
#include <cstring>

#include "fuzz_support.h"
#include "ser_nt_ca410/ca410_ops.h"

CA410_FUZZ_TARGET(callist) {
    fuzz::scripted_line line(fuzz::parse_answers(data, size));
    ca410_dev *dev = line.device();
    const int32_t rc = ca410_get_callist(dev);
    if (!fuzz::is_result_code(rc)) std::abort();
    int count = 0, last = 0;
    for (const ca410_callist_entry *e = dev->callist; e; e = e->next, count++) {
        if (e->channel <= last || e->channel > 99) std::abort();
        if (std::memchr(e->name, '\0', sizeof e->name) == nullptr) std::abort();
        last = e->channel;
    }
    if (count != dev->calfile_num) std::abort();
    return 0;
}
