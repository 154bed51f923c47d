// One channel's calibration data ("TDR," data items). First byte: the
// channel (1 to 99). The record is written only on success, its name
// terminated.
#include <cstdlib>
#include <cstring>

#include "fuzz_support.h"
#include "ser_nt_ca410/ca410_ops.h"

CA410_FUZZ_TARGET(calfile) {
    if (size < 1) return 0;
    fuzz::scripted_line line(fuzz::parse_answers(data + 1, size - 1));
    ca410_calfile_info info;
    std::memset(&info, 0x5A, sizeof info);
    info.name[sizeof info.name - 1] = '\0';
    const int32_t rc = ca410_get_calfile(line.device(), 1 + data[0] % 99, 7, &info);
    if (!fuzz::is_result_code(rc)) std::abort();
    if (std::memchr(info.name, '\0', sizeof info.name) == nullptr) std::abort();
    return 0;
}
