#include "cmat/clock.h"

#include <mutex>

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
    // Latched exactly once even when threads race to the first call; only
    // the call that latched returns 0.
    static std::once_flag once;
    static uint32_t start = 0;
    bool first = false;
    std::call_once(once, [&first] {
        start = active_clock()->tick_ms();
        first = true;
    });
    if (first) return 0;
    return active_clock()->tick_ms() - start;  // unsigned: wraps modulo 2^32
}

double usec_time() {
    // A failed first call leaves the latch open for the next one, so this
    // one takes a lock instead of call_once; nothing in the library calls it.
    static std::mutex latch;
    static bool latched = false;
    static double scale = 0.0;
    static int64_t start = 0;
    {
        std::lock_guard<std::mutex> hold(latch);
        if (!latched) {
            int64_t frequency = 0;
            if (!active_clock()->counter_frequency(&frequency) || frequency <= 0) return -1.0;
            scale = 1000000.0 / static_cast<double>(frequency);
            start = active_clock()->counter();
            latched = true;
            return 0.0;
        }
    }
    return static_cast<double>(active_clock()->counter() - start) * scale;
}
