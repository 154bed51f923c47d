// The colour and flicker ranges ("RGR,0,<type>"). First byte: the type.
#include <cstdlib>

#include "fuzz_support.h"
#include "ser_nt_ca410/ca410_ops.h"

CA410_FUZZ_TARGET(ranges) {
    if (size < 1) return 0;
    fuzz::scripted_line line(fuzz::parse_answers(data + 1, size - 1));
    const int32_t rc = ca410_get_range(line.device(), data[0] & 1);
    if (!fuzz::is_result_code(rc)) std::abort();
    return 0;
}
