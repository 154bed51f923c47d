// The firmware identity ("IDO,"): the handle's texts stay terminated.
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::scripted_line line(data, size);
    ca410_dev *dev = line.device();
    if (!ca_result_find(ca410_get_firmware_info(dev))) std::abort();
    for (const char *text : {dev->name, dev->sn, dev->vn}) {
        if (!std::memchr(text, '\0', 16)) std::abort();
    }
    return 0;
}
