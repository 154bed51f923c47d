// One channel's calibration data ("TDR,"; first byte: channel): name terminated.
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    fuzz::scripted_line line(data + 1, size - 1);
    ca410_calfile_info info;
    std::memset(&info, 0x5A, sizeof info);
    info.name[sizeof info.name - 1] = '\0';
    if (!ca_result_find(ca410_get_calfile(line.device(), 1 + data[0] % 99, 7, &info))) std::abort();
    if (!std::memchr(info.name, '\0', sizeof info.name)) std::abort();
    return 0;
}
