// Open and release against the virtual instrument over a pseudo-terminal,
// through the real POSIX serial backend.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "ser_nt_com/ser_com.h"
#include "sim_device.h"
#include "support/log_capture.h"

namespace {

using strings = std::vector<std::string>;

// A port left open would hold its lock: every later open of it would fail.
using protocol_device = sim_device_test;

TEST_F(protocol_device, OpenSetsTheLevelsIdentifiesAndFillsOnlyTheModel) {
    ca410DeviceRelease(std::exchange(dev, nullptr));  // the port takes one handle at a time
    const std::string port = sim->port_path();
    const struct {
        int32_t given, expected;  // both thresholds afterwards
        bool logged;
    } cases[] = {{12, 8, true}, {8, 8, true}, {0, 3, false}, {-3, 3, false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.given);
        log_capture log(3);  // restores the channel afterwards
        default_log.verb = 3;
        ASSERT_EQ(ca410DeviceOpen(&dev, port.c_str(), c.given), CA_OK);
        EXPECT_EQ(std::make_pair(default_log.debug, default_log.verb),
                  std::make_pair(c.expected, c.expected));
        EXPECT_EQ(
            log.has_debug("[ca410DeviceOpen]: log level " + std::to_string(c.expected) + "\n"),
            c.logged);
        EXPECT_EQ(frames(), strings{"IDO,0,1"});
        EXPECT_EQ(dev->sercom->port_name, port);
        EXPECT_EQ(std::string(dev->model, sizeof dev->model), "CA-410" + std::string(10, '\0'));
        EXPECT_TRUE(dev->init == 0 && dev->name[0] == '\0' && dev->callist == nullptr);
        EXPECT_EQ(ca410DeviceRelease(std::exchange(dev, nullptr)), CA_OK);
    }

    sim->fault_error_next(10, 1);
    ca410_dev sentinel{};
    ca410_dev *slot = &sentinel;
    log_capture log(0);
    EXPECT_EQ(ca410DeviceOpen(&slot, port.c_str(), 0), CA_E_OPEN);
    EXPECT_TRUE(log.has_error("[ca410_dev_create]: ser_com_write_read_ex " + port + " err\n"));
    EXPECT_EQ(log.errors().back(), "[ca410DeviceOpen]: ca410_dev_create err\n");
    EXPECT_EQ(slot, &sentinel);
    // The scripted probe refuses this answer; the open takes it.
    sim->set_identity_answer("OK00,CA-410,");
    ASSERT_EQ(ca410DeviceOpen(&dev, port.c_str(), 0), CA_OK);
    EXPECT_STREQ(dev->model, "CA-410");
}

TEST(protocol_device_args, NullSlotOrPortGives37AndNullReleaseIsSilent) {
    log_capture log(8);
    ca410_dev *slot = nullptr;
    EXPECT_EQ(ca410DeviceOpen(nullptr, "COM1", 0), CA_E_ARGS);
    EXPECT_EQ(ca410DeviceOpen(&slot, nullptr, 0), CA_E_ARGS);
    EXPECT_EQ(slot, nullptr);
    EXPECT_EQ(ca410DeviceRelease(nullptr), CA_OK);
    EXPECT_EQ(log.errors(), strings(2, "[ca410DeviceOpen]: invalid args\n"));
    EXPECT_TRUE(log.debug().empty());
}

TEST_F(protocol_device, ReleaseFreesAThreeEntryListAndClosesThePort) {
    for (int ch = 3; ch >= 1; --ch) {
        auto *e = static_cast<ca410_callist_entry *>(std::calloc(1, sizeof(ca410_callist_entry)));
        ASSERT_NE(e, nullptr);
        e->channel = ch;
        e->next = dev->callist;
        dev->callist = e;
    }
    dev->calfile_num = 3;
    log_capture log(7);
    EXPECT_EQ(ca410DeviceRelease(std::exchange(dev, nullptr)), CA_OK);
    EXPECT_TRUE(log.has_debug("[ca410_dev_release]: free 3 calist\n"));
    EXPECT_EQ(log.debug().back(), "[ca410_dev_release] done\n");
    EXPECT_EQ(ca410DeviceOpen(&dev, sim->port_path().c_str(), 0), CA_OK);
}

}  // namespace
