// Number decoders and field readers: values decode to themselves within a step.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "cmat/number_encoding.h"
#include "cmat/number_text.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    uint8_t raw[8] = {};
    std::memcpy(raw, data, size < 8 ? size : 8);
    uint32_t u32;
    uint64_t u64;
    double other;
    std::memcpy(&u32, raw, 4);
    std::memcpy(&u64, raw, 8);
    std::memcpy(&other, raw, 8);

    const double single = IEEE754todouble(u32);
    if (std::isfinite(single) && doubletoIEEE754(single) != (u32 == 0x80000000u ? 0u : u32))
        std::abort();
    if (std::isfinite(other) && IEEE754_64todouble(u64) != other) std::abort();

    const double three = Bytes3Buf2Float(raw);
    uint8_t again[3] = {0xAA, 0xAA, 0xAA};
    Float2Bytes3Buf(again, three);
    // Below 2^-100 the encoder clamps to its smallest value by design.
    if (std::fabs(three) >= 0x1p-100 &&
        std::fabs(Bytes3Buf2Float(again) - three) > std::fabs(three) * 1e-4 + 1e-300)
        std::abort();
    Float2Bytes3Buf(again, other);  // any double, NaN and infinities included

    // The same bytes as answer text.
    std::string text(reinterpret_cast<const char *>(data), size);
    char *fields[16];
    const int32_t n = ca_split_fields(text.data(), fields, 16);
    if (n < 0) std::abort();
    for (int32_t i = 0; i < n && i < 16; i++) {
        (void)ca_read_int(fields[i]);
        (void)ca_read_double(fields[i]);
        // Read exactly as the C library reads in the "C" locale the harness runs in.
        char *ours = nullptr, *theirs = nullptr;
        const double a = strtod_c(fields[i], &ours), b = std::strtod(fields[i], &theirs);
        if (ours != theirs ||
            (std::memcmp(&a, &b, sizeof a) != 0 && !(std::isnan(a) && std::isnan(b))))
            std::abort();
        if (strtol_c(fields[i], &ours, 0) != std::strtol(fields[i], &theirs, 0) || ours != theirs)
            std::abort();
    }
    return 0;
}
