// An exchange's answer, any bytes into any data buffer size: the data stays
// in its buffer, terminated, and the result is a result code.
#include <algorithm>

#include "fuzz_support.h"
#include "ser_nt_ca410/ca410_cmd.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    fuzz::quiet_log();
    // First byte: the data buffer's size (0: none), exact so that overruns trip.
    const int32_t data_size = data[0];
    const size_t n = std::min<size_t>(size - 1, CA_ANSWER_SIZE - 1);
    std::vector<char> answer(data + 1, data + 1 + n);
    answer.push_back('\0');
    std::vector<char> out(static_cast<size_t>(data_size));
    int32_t len = -1;
    const int32_t rc = ca_take_answer(answer.data(), static_cast<int32_t>(n),
                                      data_size > 0 ? out.data() : nullptr, data_size, &len);
    if (!ca_result_find(rc)) std::abort();
    if (data_size > 0 && (rc == CA_OK || rc == CA_E_PART_DATA)) {
        if (!std::memchr(out.data(), '\0', out.size())) std::abort();
        if (len < 0 || len > data_size - 1) std::abort();
    }
    return 0;
}
