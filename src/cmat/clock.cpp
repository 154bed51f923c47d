#include "cmat/clock.h"

// Null means the platform's clock; kept constant-initialised so that the
// clock works from any static initialiser.
const cmat_clock_ops *cmat_clock = nullptr;

namespace {
const cmat_clock_ops *active_clock() {
    return cmat_clock ? cmat_clock : cmat_platform_clock();
}
}  // namespace

void msec_sleep(uint32_t ms) {
    active_clock()->sleep_ms(ms);
}

uint32_t msec_time() {
    static bool latched = false;
    static uint32_t start = 0;
    if (!latched) {
        start = active_clock()->tick_ms();
        latched = true;
        return 0;
    }
    return active_clock()->tick_ms() - start;  // unsigned: wraps modulo 2^32
}

double usec_time() {
    static bool latched = false;
    static double scale = 0.0;
    static int64_t start = 0;
    if (!latched) {
        int64_t frequency = 0;
        if (!active_clock()->counter_frequency(&frequency) || frequency <= 0) return -1.0;
        scale = 1000000.0 / static_cast<double>(frequency);
        start = active_clock()->counter();
        latched = true;
        return 0.0;
    }
    return static_cast<double>(active_clock()->counter() - start) * scale;
}
