// Clock operations: sleeping, and millisecond and microsecond counts since
// their own first call. The serial layer measures every time-out with them.
#pragma once

#include <cstdint>

// The platform's clock, behind one replaceable table so that unit tests can
// run the serial logic on a virtual clock (see the fake serial backend).
struct cmat_clock_ops {
    // Blocks the calling thread for `ms` milliseconds.
    void (*sleep_ms)(uint32_t ms);
    // A millisecond tick count that wraps modulo 2^32.
    uint32_t (*tick_ms)();
    // The performance-counter frequency in counts per second; false when it
    // cannot be read.
    bool (*counter_frequency)(int64_t *frequency);
    // The current performance-counter value.
    int64_t (*counter)();
};

// The platform's own clock (Sleep/GetTickCount/QueryPerformance* on Windows,
// nanosleep and the monotonic clock elsewhere).
const cmat_clock_ops *cmat_platform_clock();
// The clock in use; null (the default) means the platform's. Tests may point
// it at a virtual clock.
extern const cmat_clock_ops *cmat_clock;

void msec_sleep(uint32_t ms);
// Milliseconds since the first call (which latches the tick count and returns 0).
uint32_t msec_time();
// Microseconds since the first call (which returns 0.0); -1.0 while the
// counter frequency cannot be read.
double usec_time();
