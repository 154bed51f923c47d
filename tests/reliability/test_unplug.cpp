// The instrument vanishes mid-exchange (the line closes after part of an
// answer and the instrument comes back on a new port): the call fails with
// its code, the dead handle keeps failing without hanging, its release is
// clean, and a new open on the new port works.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "protocol/sim_device.h"

namespace {

struct unplug_case {
    const char *name;
    size_t at;         // answer bytes sent before the line drops
    bool measure;      // the call: a measurement, else a single setting
    int32_t expected;  // its result
};

class unplug : public sim_device_test, public ::testing::WithParamInterface<unplug_case> {};

TEST_P(unplug, CallFailsReleaseIsCleanAndTheNewPortOpens) {
    const unplug_case &c = GetParam();
    init();
    sim->show_xyz(12.0, 34.0, 56.0);
    const std::string old_port = sim->port_path();
    sim->fault_hangup_next(c.at);
    double xyz[3] = {};
    for (int i = 0; i < 2; i++) {  // the second time on the dead handle
        EXPECT_EQ(c.measure ? ca410MeasureXYZ(dev, xyz) : ca410SetMeasureSpeed(dev, 2), c.expected);
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
                         ::testing::Values(unplug_case{"measure_half_answer",
                                                       ca410_sim::half_answer, true, CA_E_MEASURE},
                                           unplug_case{"measure_no_answer", 0, true, CA_E_MEASURE},
                                           unplug_case{"setting_half_answer",
                                                       ca410_sim::half_answer, false, CA_E_COMM},
                                           unplug_case{"setting_no_answer", 0, false, CA_E_COMM}),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
