// Open and release against the virtual instrument over pseudo-terminals,
// through the real POSIX serial backend.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "ca410.h"
#include "ca410_sim.h"
#include "ser_nt_ca410/ca410_dev.h"
#include "ser_nt_com/ser_com.h"
#include "support/log_capture.h"

namespace {

const std::string kIdentify = "IDO,0,1\r";

std::unique_ptr<ca410_sim> start_sim() {
    auto sim = std::make_unique<ca410_sim>();
    std::string error;
    if (!sim->start(&error)) {
        ADD_FAILURE() << "virtual instrument did not start: " << error;
        return nullptr;
    }
    return sim;
}

std::vector<std::string> frames_of(const ca410_sim &sim) {
    std::vector<std::string> out;
    for (const auto &f : sim.frames()) out.push_back(f.bytes);
    return out;
}

// Descriptors of this process open on the device behind `port` (the
// instrument, in-process, may hold some of its own: compare counts).
int open_fds_on(const std::string &port) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path target = fs::canonical(port, ec);
    if (ec) return -1;
    int n = 0;
    for (const auto &entry : fs::directory_iterator("/proc/self/fd", ec)) {
        if (fs::read_symlink(entry.path(), ec) == target) ++n;
    }
    return n;
}

class device_sim : public ::testing::Test {
  protected:
    void SetUp() override {
        ser_platform = nullptr;  // the native backend
        sim = start_sim();
        ASSERT_NE(sim, nullptr);
        port = sim->port_path();
    }

    std::unique_ptr<ca410_sim> sim;
    std::string port;
};

// --- open ------------------------------------------------------------------

struct level_case {
    int32_t given;
    int32_t expected;  // both thresholds afterwards
    bool logged;
};

class device_open_level : public device_sim, public ::testing::WithParamInterface<level_case> {};

TEST_P(device_open_level, ClampsOrLeavesTheLevels) {
    const level_case &c = GetParam();
    log_capture log(3);  // restores the channel afterwards
    default_log.verb = 3;
    ca410_dev *dev = nullptr;
    ASSERT_EQ(ca410DeviceOpen(&dev, port.c_str(), c.given), CA_OK);
    EXPECT_EQ(default_log.debug, c.expected);
    EXPECT_EQ(default_log.verb, c.expected);
    EXPECT_EQ(log.has_debug("[ca410DeviceOpen]: log level " + std::to_string(c.expected) + "\n"),
              c.logged);
    ASSERT_NE(dev, nullptr);
    EXPECT_STREQ(dev->model, "CA-410");
    EXPECT_EQ(ca410DeviceRelease(dev), CA_OK);
}

INSTANTIATE_TEST_SUITE_P(levels, device_open_level,
                         ::testing::Values(level_case{12, 8, true}, level_case{8, 8, true},
                                           level_case{0, 3, false}, level_case{-3, 3, false}),
                         [](const auto &info) {
                             const int32_t g = info.param.given;
                             return (g < 0 ? "minus_" : "") + std::to_string(g < 0 ? -g : g);
                         });

TEST_F(device_sim, OpenSendsOnlyTheIdentificationAndFillsOnlyTheModel) {
    ca410_dev *dev = nullptr;
    ASSERT_EQ(ca410DeviceOpen(&dev, port.c_str(), 0), CA_OK);
    ASSERT_NE(dev, nullptr);
    EXPECT_EQ(frames_of(*sim), std::vector<std::string>{kIdentify});

    EXPECT_EQ(dev->init, 0);
    ASSERT_NE(dev->sercom, nullptr);
    EXPECT_STREQ(dev->sercom->port_name, port.c_str());
    EXPECT_EQ(dev->sercom->is_open, 1);
    EXPECT_EQ(std::string(dev->model, sizeof dev->model),
              std::string("CA-410") + std::string(10, '\0'));
    // Everything else, padding included, is as calloc left it.
    ca410_dev rest;
    std::memcpy(&rest, dev, sizeof rest);
    rest.sercom = nullptr;
    std::memset(rest.model, 0, sizeof rest.model);
    const std::vector<unsigned char> zeros(sizeof rest, 0);
    EXPECT_EQ(std::memcmp(&rest, zeros.data(), sizeof rest), 0);
    EXPECT_EQ(dev->callist, nullptr);
    ca410DeviceRelease(dev);
}

// The probe refuses this answer (see the scripted probe's cases).
TEST_F(device_sim, AnswerEndingAfterTheModelOpens) {
    sim->set_identity_answer("OK00,CA-410,");
    ca410_dev *dev = nullptr;
    ASSERT_EQ(ca410DeviceOpen(&dev, port.c_str(), 0), CA_OK);
    EXPECT_STREQ(dev->model, "CA-410");
    ca410DeviceRelease(dev);
}

struct refusal_case {
    const char *label;
    bool silent;  // else an "ER10" answer
};

class device_open_refused : public device_sim,
                            public ::testing::WithParamInterface<refusal_case> {};

TEST_P(device_open_refused, Gives40ClosesThePortAndKeepsTheSlot) {
    if (GetParam().silent) {
        sim->fault_silent_next(1);
    } else {
        sim->fault_error_next(10, 1);
    }
    ca410_dev sentinel{};
    ca410_dev *slot = &sentinel;
    const int fds_before = open_fds_on(port);
    {
        log_capture log(0);
        EXPECT_EQ(ca410DeviceOpen(&slot, port.c_str(), 0), CA_E_OPEN);
        EXPECT_TRUE(log.has_error("[ca410_dev_create]: ser_com_write_read_ex " + port + " err\n"))
            << log.error_text();
        EXPECT_EQ(log.errors().back(), "[ca410DeviceOpen]: ca410_dev_create err\n");
    }
    EXPECT_EQ(slot, &sentinel);
    EXPECT_EQ(open_fds_on(port), fds_before);
}

INSTANTIATE_TEST_SUITE_P(identification, device_open_refused,
                         ::testing::Values(refusal_case{"error_answer", false},
                                           refusal_case{"silence", true}),
                         [](const auto &info) { return std::string(info.param.label); });

TEST(device_open_args, NullSlotOrPortGives37) {
    log_capture log(0);
    ca410_dev *slot = nullptr;
    EXPECT_EQ(ca410DeviceOpen(nullptr, "COM1", 0), CA_E_ARGS);
    EXPECT_EQ(ca410DeviceOpen(&slot, nullptr, 0), CA_E_ARGS);
    EXPECT_EQ(slot, nullptr);
    EXPECT_EQ(log.errors(), std::vector<std::string>(2, "[ca410DeviceOpen]: invalid args\n"));
}

// --- release ---------------------------------------------------------------

TEST_F(device_sim, ReleaseFreesAThreeEntryListAndClosesThePort) {
    const int fds_before = open_fds_on(port);
    ASSERT_GE(fds_before, 0);
    ca410_dev *dev = nullptr;
    ASSERT_EQ(ca410DeviceOpen(&dev, port.c_str(), 0), CA_OK);
    EXPECT_EQ(open_fds_on(port), fds_before + 1);  // the count sees the handle's port
    for (int ch = 3; ch >= 1; --ch) {
        auto *e = static_cast<ca410_callist_entry *>(std::calloc(1, sizeof(ca410_callist_entry)));
        ASSERT_NE(e, nullptr);
        e->channel = ch;
        std::snprintf(e->name, sizeof e->name, "CH%d", ch);
        e->next = dev->callist;
        dev->callist = e;
    }
    dev->calfile_num = 3;
    {
        log_capture log(7);
        EXPECT_EQ(ca410DeviceRelease(dev), CA_OK);
        EXPECT_TRUE(log.has_debug("[ca410_dev_release]: free 3 calist\n"));
        EXPECT_EQ(log.debug().back(), "[ca410_dev_release] done\n");
    }
    EXPECT_EQ(open_fds_on(port), fds_before);
}

TEST(device_release, NullIsAcceptedSilently) {
    log_capture log(8);
    EXPECT_EQ(ca410DeviceRelease(nullptr), CA_OK);
    EXPECT_TRUE(log.debug().empty() && log.errors().empty());
}

}  // namespace
