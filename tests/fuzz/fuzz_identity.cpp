// The firmware identity ("IDO,") parsed into the handle's texts, which must
// stay terminated within their 16 bytes.
#include <cstdlib>
#include <cstring>

#include "fuzz_support.h"
#include "ser_nt_ca410/ca410_ops.h"

CA410_FUZZ_TARGET(identity) {
    fuzz::scripted_line line(fuzz::parse_answers(data, size));
    ca410_dev *dev = line.device();
    const int32_t rc = ca410_get_firmware_info(dev);
    if (!fuzz::is_result_code(rc)) std::abort();
    for (const char *text : {dev->name, dev->sn, dev->vn}) {
        if (std::memchr(text, '\0', 16) == nullptr) std::abort();
    }
    return 0;
}
