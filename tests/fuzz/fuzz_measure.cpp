// A measurement ("MES,"; first byte: format) and its retry: values set only on success.
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    fuzz::scripted_line line(data + 1, size - 1);
    double v[3] = {-7.0, -7.0, -7.0};
    const int32_t rc = ca410_measure(line.device(), 1 + (data[0] & 1), v);
    if (!ca_result_find(rc)) std::abort();
    if (rc != CA_OK && (v[0] != -7.0 || v[1] != -7.0 || v[2] != -7.0)) std::abort();
    return 0;
}
