// The library's process-wide state as each thread sees it: a temporary log
// threshold applies to the thread that set it, nests, and never touches the
// channel's own field; the renderers' buffers belong to the calling thread.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <thread>

#include "clog/clog.h"
#include "ser_nt_com/ser_com.h"

namespace {

thread_local int t_passed = 0;

void count(void *, clog *, const char *, va_list) {
    t_passed++;
}

class thread_state : public ::testing::Test {
  protected:
    void SetUp() override {
        default_log.d_log = count;
        default_log.debug = 5;
    }
    void TearDown() override { default_log = saved_; }

    // Level-3 messages that passed on a fresh thread.
    static int other_thread_passes() {
        int passed = 0;
        std::thread([&] {
            clogd(glog, 3, "x\n");
            passed = t_passed;
        }).join();
        return passed;
    }

  private:
    clog saved_ = default_log;
};

TEST_F(thread_state, OverrideFiltersOnlyTheThreadThatSetItAndNests) {
    {
        clog_debug_override outer(glog, 7);
        EXPECT_EQ(clog_debug_level(glog), 7);
        {
            clog_debug_override inner(glog, 0);
            EXPECT_EQ(clog_debug_level(glog), 0);
            clogd(glog, 3, "x\n");
            EXPECT_EQ(t_passed, 0);
            EXPECT_EQ(other_thread_passes(), 1);  // another thread keeps the channel's 5
            clog other = default_log;
            clog_debug_override other_channel(&other, 9);  // another channel's leaves this one
            EXPECT_EQ(clog_debug_level(glog), 0);
            EXPECT_EQ(clog_debug_level(&other), 9);
        }
        EXPECT_EQ(clog_debug_level(glog), 7);
        clogd(glog, 6, "x\n");
        EXPECT_EQ(t_passed, 1);
        EXPECT_EQ(default_log.debug, 5);  // the field itself never moves
    }
    EXPECT_EQ(clog_debug_level(glog), 5);
    clogd(glog, 6, "x\n");
    EXPECT_EQ(t_passed, 1);
}

TEST_F(thread_state, RenderingsStayValidWhileAnotherThreadRenders) {
    const char *fixed = com2fix("mine\r");
    const char *hex = com2hex("\x01\x02", 2);
    std::thread([] {
        for (int i = 0; i < 4; i++) {
            com2fix("theirs");
            com2hex("\xff", 1);
        }
    }).join();
    EXPECT_STREQ(fixed, "mine^M");
    EXPECT_STREQ(hex, "01 02");
}

}  // namespace
