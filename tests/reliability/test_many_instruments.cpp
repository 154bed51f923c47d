// Eight virtual instruments, each driven from its own thread through its own
// handle: every reading belongs to its own instrument, every thread's log
// lines are its own (a drain on one thread neither silences nor lets through
// another's), and the shared log threshold is where it was at the end. Built
// with ThreadSanitizer in CI (CA410_TSAN), where any race on the library's
// process-wide state fails the run.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ca410.h"
#include "ca410_sim.h"
#include "clog/clog.h"

namespace {

constexpr int kInstruments = 8;
constexpr int kMeasurements = 200;

// Per-thread tallies of the debug lines each thread wrote. Every line is
// formatted (so that the renderers' buffers are really used) and counted.
thread_local int t_writes = 0;  // "[ser_com_write]: start write" lines
thread_local int t_reads = 0;   // "[ser_com_read]: start" lines
thread_local int t_lines = 0;
std::atomic<long> g_lines{0};

void counting_sink(void *, clog *, const char *format, va_list args) {
    char line[12000];
    vsnprintf(line, sizeof line, format, args);
    if (std::strncmp(line, "[ser_com_write]: start write", 28) == 0) t_writes++;
    if (std::strncmp(line, "[ser_com_read]: start", 21) == 0) t_reads++;
    t_lines++;
    g_lines.fetch_add(1, std::memory_order_relaxed);
}

sim_xyz colour_of(int i) {
    return {10.0 + i, 20.0 + 3.0 * i, 30.0 + 5.0 * i};
}

struct outcome {
    int32_t open = -1, init = -1;
    int good = 0, wrong = 0, failed = 0;
    int writes = 0, reads = 0, lines = 0;
};

// Opens, initialises and measures `count` times; counts the readings that
// match `want`.
outcome drive(const std::string &port, sim_xyz want, int count) {
    outcome o;
    ca410_dev *dev = nullptr;
    o.open = ca410DeviceOpen(&dev, port.c_str(), 0);
    if (o.open != CA_OK) return o;
    o.init = ca410DeviceInit(dev);
    for (int m = 0; o.init == CA_OK && m < count; m++) {
        double xyz[3] = {0, 0, 0};
        if (ca410MeasureXYZ(dev, xyz) != CA_OK) {
            o.failed++;
            continue;
        }
        bool same = true;
        for (int k = 0; k < 3; k++) same = same && std::abs(xyz[k] - want[k]) < 1e-6;
        (same ? o.good : o.wrong)++;
    }
    ca410DeviceRelease(dev);
    o.writes = t_writes;
    o.reads = t_reads;
    o.lines = t_lines;
    return o;
}

class many_instruments : public ::testing::Test {
  protected:
    void SetUp() override {
        for (int i = 0; i < kInstruments; i++) {
            sims[i] = std::make_unique<ca410_sim>();
            std::string error;
            ASSERT_TRUE(sims[i]->start(&error)) << error;
            const sim_xyz c = colour_of(i);
            sims[i]->show_xyz(c[0], c[1], c[2]);
        }
        saved = default_log;
        default_log.d_log = counting_sink;
        default_log.e_log = counting_sink;
        clog_set_debug(glog, 8);
    }
    void TearDown() override { default_log = saved; }

    std::array<std::unique_ptr<ca410_sim>, kInstruments> sims;
    clog saved{};
};

TEST_F(many_instruments, EachThreadReadsItsOwnInstrumentAndLogsItsOwnLines) {
    // One instrument alone first: the time to beat.
    const auto t0 = std::chrono::steady_clock::now();
    outcome alone;
    std::thread([&] { alone = drive(sims[0]->port_path(), colour_of(0), kMeasurements); }).join();
    const auto t1 = std::chrono::steady_clock::now();
    ASSERT_EQ(alone.good, kMeasurements);

    std::array<outcome, kInstruments> got;
    std::vector<std::thread> threads;
    for (int i = 0; i < kInstruments; i++) {
        threads.emplace_back(
            [&, i] { got[i] = drive(sims[i]->port_path(), colour_of(i), kMeasurements); });
    }
    for (auto &t : threads) t.join();
    const auto t2 = std::chrono::steady_clock::now();

    for (int i = 0; i < kInstruments; i++) {
        SCOPED_TRACE("instrument " + std::to_string(i));
        EXPECT_EQ(got[i].open, CA_OK);
        EXPECT_EQ(got[i].init, CA_OK);
        EXPECT_EQ(got[i].good, kMeasurements);
        EXPECT_EQ(got[i].wrong, 0);
        EXPECT_EQ(got[i].failed, 0);
        // Each exchange logs its write and exactly one read at level 8: the
        // drain's reads stay silent on this thread only, whatever the others do.
        EXPECT_EQ(got[i].writes, alone.writes);
        EXPECT_EQ(got[i].reads, alone.reads);
        EXPECT_EQ(got[i].reads, got[i].writes);
    }
    EXPECT_EQ(default_log.debug, 8);

    const double one = std::chrono::duration<double>(t1 - t0).count();
    const double eight = std::chrono::duration<double>(t2 - t1).count();
    const double ratio = eight / one;
    std::printf(
        "many instruments: one alone %.2f s, %d at once %.2f s, ratio %.2f, %ld log lines\n", one,
        kInstruments, eight, ratio, g_lines.load());
    RecordProperty("wall_time_ratio", std::to_string(ratio));
}

}  // namespace
