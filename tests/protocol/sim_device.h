// A device handle opened on a fresh virtual instrument.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ca410.h"
#include "ca410_sim.h"
#include "ser_nt_com/platform/ser_platform.h"

class sim_device_test : public ::testing::Test {
  protected:
    void SetUp() override { start(); }
    void TearDown() override { ca410DeviceRelease(dev); }

    // (Re)starts the instrument with `options` and opens a handle on it.
    void start(sim_options options = {}) {
        ca410DeviceRelease(dev);
        dev = nullptr;
        ser_platform = nullptr;  // the native backend
        sim = std::make_unique<ca410_sim>(std::move(options));
        std::string error;
        ASSERT_TRUE(sim->start(&error)) << error;
        ASSERT_EQ(ca410DeviceOpen(&dev, sim->port_path().c_str(), 0), CA_OK);
        sim->clear_frames();
    }
    void init() {
        ASSERT_EQ(ca410DeviceInit(dev), CA_OK);
        sim->clear_frames();
    }
    // The frames received since the last call (or the open), carriage returns left out.
    std::vector<std::string> frames() {
        std::vector<std::string> out;
        for (const auto &f : sim->frames()) out.push_back(f.bytes.substr(0, f.bytes.find('\r')));
        sim->clear_frames();
        return out;
    }

    std::unique_ptr<ca410_sim> sim;
    ca410_dev *dev = nullptr;
};
