// POSIX clock: the monotonic clock in milliseconds stands in for the tick
// count, and in nanoseconds for the performance counter.
#include <cerrno>
#include <ctime>

#include "cmat/clock.h"

namespace {

void posix_sleep_ms(uint32_t ms) {
    timespec want{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    // Resume after a signal with whatever is left.
    while (nanosleep(&want, &want) == -1 && errno == EINTR) {
    }
}

int64_t monotonic_ns() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

uint32_t posix_tick_ms() {
    return static_cast<uint32_t>(monotonic_ns() / 1000000LL);
}

bool posix_counter_frequency(int64_t *frequency) {
    timespec resolution{};
    if (clock_getres(CLOCK_MONOTONIC, &resolution) != 0) return false;
    *frequency = 1000000000LL;
    return true;
}

int64_t posix_counter() {
    return monotonic_ns();
}

const cmat_clock_ops posix_clock = {posix_sleep_ms, posix_tick_ms, posix_counter_frequency,
                                    posix_counter};

}  // namespace

const cmat_clock_ops *cmat_platform_clock() {
    return &posix_clock;
}
