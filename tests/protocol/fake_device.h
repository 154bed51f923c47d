// A device handle whose port is open on the scripted fake backend, for
// exercising the instrument layer without an instrument.
#pragma once

#include <gtest/gtest.h>

#include "ca410.h"
#include "ser_nt_com/platform/fake.h"
#include "ser_nt_com/ser_com.h"

class fake_device_test : public ::testing::Test {
  protected:
    void SetUp() override {
        dev.sercom = new_ser_com("COM7");
        ASSERT_NE(dev.sercom, nullptr);
        ASSERT_EQ(ser_com_setport(dev.sercom, SER_FLOW_RTSCTS, SER_BAUD_38400, SER_PARITY_EVEN,
                                  SER_STOP_2, SER_WORD_7),
                  0u);
        fake().calls.clear();
    }
    void TearDown() override {
        ser_com_del(dev.sercom);
        EXPECT_TRUE(fake().mismatches.empty()) << "unexpected bytes: " << fake().mismatches[0];
        EXPECT_TRUE(fake().script.empty()) << "scripted exchanges left over";
    }

    static ser_fake::state &fake() { return ser_fake::get(); }

    ser_fake::scoped_install installed_;
    ca410_dev dev{};
};
