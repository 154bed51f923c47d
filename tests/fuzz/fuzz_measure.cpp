// One measurement ("MES,"), its retry included. First byte: the format (1
// or 2). The values are written only on success.
#include <cstdlib>
#include <cstring>

#include "fuzz_support.h"
#include "ser_nt_ca410/ca410_ops.h"

CA410_FUZZ_TARGET(measure) {
    if (size < 1) return 0;
    fuzz::scripted_line line(fuzz::parse_answers(data + 1, size - 1));
    double values[3] = {-7.0, -7.0, -7.0};
    const int32_t rc = ca410_measure(line.device(), 1 + (data[0] & 1), values);
    if (!fuzz::is_result_code(rc)) std::abort();
    if (rc != CA_OK && (values[0] != -7.0 || values[1] != -7.0 || values[2] != -7.0)) std::abort();
    return 0;
}
