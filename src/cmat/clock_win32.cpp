// Win32 clock: Sleep, GetTickCount and the performance counter.
#include <windows.h>

#include "cmat/clock.h"

namespace {

void win32_sleep_ms(uint32_t ms) {
    Sleep(ms);
}

uint32_t win32_tick_ms() {
    return GetTickCount();
}

bool win32_counter_frequency(int64_t *frequency) {
    LARGE_INTEGER f;
    if (!QueryPerformanceFrequency(&f)) return false;
    *frequency = f.QuadPart;
    return true;
}

int64_t win32_counter() {
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return c.QuadPart;
}

const cmat_clock_ops win32_clock = {win32_sleep_ms, win32_tick_ms, win32_counter_frequency,
                                    win32_counter};

}  // namespace

const cmat_clock_ops *cmat_platform_clock() {
    return &win32_clock;
}
