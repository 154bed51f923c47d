#include <gtest/gtest.h>

#include <cstdlib>

#include "cmat/clock.h"
#include "ser_nt_com/platform/fake.h"

namespace {

// The first calls latch the counts and return 0. A child process keeps the
// latches unset for the tests after it, so this must run first of all.
TEST(Clock, FirstCallsLatchAndReturnZero) {
    EXPECT_EXIT(
        {
            ser_fake::install();
            uint32_t &now = ser_fake::get().now_ms;
            now = 5000;
            const bool usec_ok = usec_time() == 0.0 && (now += 3, usec_time() == 3000.0);
            now = 0xFFFFFF00u;  // just below the wrap of the tick count
            const bool msec_ok = msec_time() == 0 && (now += 0x180, msec_time() == 0x180u);
            std::exit(usec_ok && msec_ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

// Later calls: only differences are checked, whoever latched the counts.
TEST(Clock, MillisecondCountWrapsAndSleepGoesToTheClock) {
    ser_fake::scoped_install fake;
    auto &s = ser_fake::get();
    s.now_ms = 0xFFFFFF00u;
    const uint32_t before = msec_time();
    s.now_ms += 0x180;  // wraps past zero
    EXPECT_EQ(msec_time() - before, 0x180u);
    msec_sleep(25);
    EXPECT_EQ(ser_fake::calls_of(ser_fake::op::sleep).back().count, 25u);
    EXPECT_EQ(msec_time() - before, 0x180u + 25u);
}

TEST(Clock, PlatformClockSleepsAtLeastTheTimeAsked) {
    const cmat_clock_ops *platform = cmat_platform_clock();
    const uint32_t before = platform->tick_ms();
    platform->sleep_ms(30);
    EXPECT_GE(platform->tick_ms() - before, 29u);  // tick granularity
    int64_t frequency = 0;
    ASSERT_TRUE(platform->counter_frequency(&frequency));
    EXPECT_GT(frequency, 0);
}

}  // namespace
