// One settings item ("STR,"; first byte: item) or, with bit 7, the whole configuration.
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    fuzz::scripted_line line(data + 1, size - 1);
    ca410_dev *dev = line.device();
    const int32_t rc =
        (data[0] & 0x80) ? ca410_get_config(dev) : ca410_get_state(dev, data[0] & 15);
    if (!ca_result_find(rc)) std::abort();
    return 0;
}
