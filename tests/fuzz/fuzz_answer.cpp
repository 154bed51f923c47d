// The command exchange's answer handling: any bytes up to the exchange's
// buffer size, any data buffer size. The data must stay inside its buffer,
// terminated, and the result be one the exchange may give.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "ser_nt_ca410/ca410_cmd.h"
#include "ser_nt_ca410/ca410_codes.h"

CA410_FUZZ_TARGET(answer) {
    if (size < 1) return 0;
    fuzz::quiet_log quiet;
    // First byte: the data buffer's size, 1 to 255, or none (0).
    const int32_t data_size = data[0];
    data++;
    size--;
    if (size > CA_ANSWER_SIZE - 1) size = CA_ANSWER_SIZE - 1;
    std::vector<char> answer(data, data + size);
    answer.push_back('\0');
    // Exactly as large as asked, so that a write past it is caught.
    std::vector<char> out(data_size > 0 ? static_cast<size_t>(data_size) : 0);
    int32_t len = -1;
    const int32_t rc = ca_take_answer(answer.data(), static_cast<int32_t>(size),
                                      data_size > 0 ? out.data() : nullptr, data_size, &len);
    if (rc != CA_OK && rc != CA_E_PART_DATA && !fuzz::is_exchange_result(rc)) std::abort();
    if (data_size > 0 && (rc == CA_OK || rc == CA_E_PART_DATA)) {
        if (std::memchr(out.data(), '\0', out.size()) == nullptr) std::abort();
        if (len < 0 || len > data_size - 1) std::abort();
    }
    return 0;
}
