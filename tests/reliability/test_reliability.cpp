// The library's process-wide state under threads: each thread's readings, log
// lines and log threshold are its own (CI also runs the many-instruments case
// under ThreadSanitizer, where any race on that state fails). And the
// instrument vanishing mid-exchange: the line closes after part of an answer
// and the instrument comes back on a new port.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>
#include <tuple>
#include <vector>

#include "ca410.h"
#include "ca410_sim.h"
#include "clog/clog.h"
#include "protocol/sim_device.h"
#include "ser_nt_com/ser_com.h"

namespace {

constexpr int kInstruments = 8, kMeasurements = 200;

// This thread's lines: "[ser_com_write]: start write", "[ser_com_read]:
// start", all; each formatted so that the renderers' buffers are used.
thread_local int t_writes = 0, t_reads = 0, t_lines = 0;

void counting_sink(void *, clog *, const char *format, va_list args) {
    char line[12000];
    vsnprintf(line, sizeof line, format, args);
    t_writes += std::strncmp(line, "[ser_com_write]: start write", 28) == 0;
    t_reads += std::strncmp(line, "[ser_com_read]: start", 21) == 0;
    t_lines++;
}

class thread_state : public ::testing::Test {
  protected:
    void SetUp() override {
        default_log.d_log = default_log.e_log = counting_sink;
        default_log.debug = 5;
        t_lines = 0;
    }
    void TearDown() override { default_log = saved_; }

  private:
    clog saved_ = default_log;
};
using many_instruments = thread_state;

TEST_F(many_instruments, EachThreadReadsItsOwnInstrumentAndLogsItsOwnLines) {
    std::array<std::unique_ptr<ca410_sim>, kInstruments> sims;
    std::array<int, kInstruments> good{}, writes{}, reads{};
    for (int i = 0; i < kInstruments; i++) {
        sims[i] = std::make_unique<ca410_sim>();
        ASSERT_TRUE(sims[i]->start(nullptr));
        sims[i]->show_xyz(10.0 + i, 20.0 + 3 * i, 30.0 + 5 * i);
    }
    clog_set_debug(glog, 8);
    std::vector<std::thread> workers;
    for (int i = 0; i < kInstruments; i++) {
        workers.emplace_back([&, i] {
            ca410_dev *dev = nullptr;
            const bool ready = ca410DeviceOpen(&dev, sims[i]->port_path().c_str(), 0) == CA_OK &&
                               ca410DeviceInit(dev) == CA_OK;
            for (int m = 0; ready && m < kMeasurements; m++) {
                double xyz[3] = {0, 0, 0};
                ca410MeasureXYZ(dev, xyz);
                good[i] += std::abs(xyz[0] - 10.0 - i) + std::abs(xyz[1] - 20.0 - 3 * i) +
                               std::abs(xyz[2] - 30.0 - 5 * i) <
                           1e-6;
            }
            ca410DeviceRelease(dev);
            writes[i] = t_writes;
            reads[i] = t_reads;
        });
    }
    for (auto &t : workers) t.join();
    for (int i = 0; i < kInstruments; i++) {
        SCOPED_TRACE("instrument " + std::to_string(i));
        EXPECT_EQ(good[i], kMeasurements);
        // Each exchange logs its write and exactly one read at level 8: the
        // drain's reads stay silent on this thread only, whatever the others do.
        EXPECT_GT(writes[i], kMeasurements);
        EXPECT_EQ(writes[i], writes[0]);
        EXPECT_EQ(reads[i], writes[i]);
    }
    EXPECT_EQ(default_log.debug, 8);
}

TEST_F(thread_state, OverrideFiltersOnlyTheThreadThatSetItAndNests) {
    {
        clog_debug_override outer(glog, 7);
        {
            clog_debug_override inner(glog, 0);
            clogd(glog, 3, "x\n");
            EXPECT_EQ(t_lines, 0);
            std::thread([] {
                clogd(glog, 3, "x\n");  // another thread keeps the channel's 5
                EXPECT_EQ(t_lines, 1);
            }).join();
            clog other = default_log;
            clog_debug_override other_channel(&other, 9);  // another channel's leaves this one
            EXPECT_EQ(clog_debug_level(glog), 0);
            EXPECT_EQ(clog_debug_level(&other), 9);
        }
        EXPECT_EQ(clog_debug_level(glog), 7);
        clogd(glog, 6, "x\n");
        EXPECT_EQ(t_lines, 1);
        EXPECT_EQ(default_log.debug, 5);  // the field itself never moves
    }
    EXPECT_EQ(clog_debug_level(glog), 5);
    clogd(glog, 6, "x\n");
    EXPECT_EQ(t_lines, 1);
}

TEST_F(thread_state, RenderingsStayValidWhileAnotherThreadRenders) {
    const char *fixed = com2fix("mine\r");
    const char *hex = com2hex("\x01\x02", 2);
    std::thread([] { EXPECT_STREQ(com2hex(com2fix("theirs"), 2), "74 68"); }).join();
    EXPECT_STREQ(fixed, "mine^M");
    EXPECT_STREQ(hex, "01 02");
}

// Answer bytes sent before the line drops (half or none); a measurement, else
// a setting. The call fails with its code, again on the dead handle without
// hanging; the release is clean and a new open on the new port works.
class unplug : public sim_device_test,
               public ::testing::WithParamInterface<std::tuple<size_t, bool>> {};

TEST_P(unplug, CallFailsReleaseIsCleanAndTheNewPortOpens) {
    const auto [at, measure] = GetParam();
    init();
    sim->show_xyz(12.0, 34.0, 56.0);
    const std::string old_port = sim->port_path();
    sim->fault_hangup_next(at);
    double xyz[3] = {};
    for (int i = 0; i < 2; i++) {
        EXPECT_EQ(measure ? ca410MeasureXYZ(dev, xyz) : ca410SetMeasureSpeed(dev, 2),
                  measure ? CA_E_MEASURE : CA_E_COMM);
    }
    EXPECT_EQ(ca410DeviceRelease(dev), CA_OK);
    dev = nullptr;
    for (int i = 0; i < 200 && sim->port_path() == old_port; i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_NE(sim->port_path(), old_port);
    ASSERT_EQ(ca410DeviceOpen(&dev, sim->port_path().c_str(), 0), CA_OK);
    ASSERT_EQ(ca410DeviceInit(dev), CA_OK);
    ASSERT_EQ(ca410MeasureXYZ(dev, xyz), CA_OK);
    EXPECT_DOUBLE_EQ(xyz[1], 34.0);
}

INSTANTIATE_TEST_SUITE_P(hangup, unplug,
                         ::testing::Combine(::testing::Values(ca410_sim::half_answer, size_t{0}),
                                            ::testing::Bool()));

}  // namespace
