// The colour and flicker ranges ("RGR,0,<type>"); first byte: the type.
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    fuzz::scripted_line line(data + 1, size - 1);
    if (!ca_result_find(ca410_get_range(line.device(), data[0] & 1))) std::abort();
    return 0;
}
