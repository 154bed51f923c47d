// Creating, probing, scanning and releasing over the scripted fake backend:
// the line settings asked for, the identification on the wire, and the
// clean-up on every failure path.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "ser_nt_ca410/ca410_codes.h"
#include "ser_nt_ca410/ca410_dev.h"
#include "ser_nt_com/platform/fake.h"
#include "ser_nt_com/ser_com.h"
#include "support/log_capture.h"

namespace {

const std::string kIdentify = "IDO,0,1\r";
const std::string kIdentity = "OK00,CA-410,CA-P427,CA-410 SIM     ,1.21.0004,41000001\r";

class device_fake : public ::testing::Test {
  protected:
    void TearDown() override {
        EXPECT_TRUE(fake().mismatches.empty()) << "unexpected bytes: " << fake().mismatches[0];
        EXPECT_TRUE(fake().script.empty()) << "scripted exchanges left over";
    }
    static ser_fake::state &fake() { return ser_fake::get(); }
    // Every port opened has been closed again.
    static void expect_all_closed() {
        EXPECT_EQ(ser_fake::calls_of(ser_fake::op::close).size(),
                  static_cast<size_t>(fake().open_handles));
    }

    ser_fake::scoped_install installed_;
};

TEST_F(device_fake, CreateConfiguresIdentifiesAndKeepsThePortOpen) {
    ser_fake::expect_exchange(kIdentify, kIdentity);
    log_capture log;
    ca410_dev *dev = ca410_dev_create("COM3");
    ASSERT_NE(dev, nullptr);

    const auto opens = ser_fake::calls_of(ser_fake::op::open_port);
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].port_name, "COM3");
    const auto states = ser_fake::calls_of(ser_fake::op::set_state);
    ASSERT_FALSE(states.empty());
    const ser_dcb &d = states.back().dcb;  // 38400 7E2 with RTS/CTS
    EXPECT_EQ(std::make_tuple(d.BaudRate, d.ByteSize, d.Parity, d.StopBits, d.fOutxCtsFlow,
                              d.fRtsControl),
              std::make_tuple(38400u, uint8_t{7}, SER_EVENPARITY, SER_TWOSTOPBITS, 1u,
                              uint32_t{SER_RTS_CONTROL_HANDSHAKE}));
    EXPECT_EQ(fake().written, kIdentify);
    EXPECT_TRUE(ser_fake::calls_of(ser_fake::op::close).empty());

    EXPECT_STREQ(dev->model, "CA-410");
    EXPECT_EQ(dev->init, 0);
    EXPECT_NE(dev->sercom, nullptr);
    EXPECT_TRUE(log.has_debug("[zul_dev_create]: name=CA-410\n"));
    ca410_dev_release(dev);
    expect_all_closed();
}

TEST_F(device_fake, CreateFailuresLogCloseAndGiveNull) {
    const struct {
        bool open_ok;
        const char *reply, *error;  // the instrument layer's own line
    } cases[] = {
        {false, "", "[ca410_dev_create]: ser_com_setport err\n"},
        {true, "OK00,CA-310,CA-P327,x\r",
         "[ca410_dev_create] get Model len=21 OK00,CA-310,CA-P327,x err\n"},
        {true, "OK00,CA-41\r12", "[ca410_dev_create] get Model len=10 OK00,CA-41 err\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.error);
        ser_fake::install();
        fake().open_ok = c.open_ok;
        if (c.open_ok) ser_fake::expect_exchange(kIdentify, c.reply);
        log_capture log;
        EXPECT_EQ(ca410_dev_create("COM5"), nullptr);
        std::vector<std::string> own;
        for (const auto &line : log.errors()) {
            if (line.rfind("[ca410_dev_create]", 0) == 0) own.push_back(line);
        }
        EXPECT_EQ(own, std::vector<std::string>{c.error});
        expect_all_closed();
    }
}

struct probe_case {
    const char *label;
    std::string reply;
    int32_t result;
    bool open_ok = true;
};

class device_probe : public device_fake, public ::testing::WithParamInterface<probe_case> {};

TEST_P(device_probe, ClassifiesTheIdentification) {
    const probe_case &c = GetParam();
    fake().open_ok = c.open_ok;
    if (c.open_ok) ser_fake::expect_exchange(kIdentify, c.reply);
    ser_com *sc = new_ser_com("COM9");
    log_capture log;
    EXPECT_EQ(ser_com_check_ca410(sc), c.result);
    EXPECT_TRUE(log.has_debug("[ser_com_check_ca410]: timeout 2000 msec, port: [COM9]\n"));
    if (c.result == 0) {
        EXPECT_TRUE(log.has_debug("[ser_com_check_ca410]: get [" +
                                  c.reply.substr(5, c.reply.size() - 6) + "]\n"));
    }
    // The probe leaves the port to its owner.
    EXPECT_TRUE(ser_fake::calls_of(ser_fake::op::close).empty());
    ser_com_del(sc);
}

INSTANTIATE_TEST_SUITE_P(
    answers, device_probe,
    ::testing::Values(probe_case{"ca410", kIdentity, 0},
                      probe_case{"one_more_than_the_prefix", "OK00,CA-410,P\r", 0},
                      // Opens, but one character short for the probe.
                      probe_case{"prefix_only", "OK00,CA-410,\r", -1},
                      probe_case{"other_instrument", "OK00,CA-310,CA-P327,x\r", -1},
                      probe_case{"error_answer_times_out", "ER10\r", SER_ERR_TIMEOUT},
                      probe_case{"silence", "", SER_ERR_TIMEOUT},
                      probe_case{"setup_failed", "", SER_ERR_FAIL, false}),
    [](const auto &info) { return std::string(info.param.label); });

// --- the scan --------------------------------------------------------------

void list_ports(const std::vector<std::string> &ports) {
    for (size_t i = 0; i < ports.size(); ++i) {
        ser_fake::get().list.push_back(
            ser_fake::list_entry{"\\Device\\Serial" + std::to_string(i), ports[i]});
    }
}

TEST_F(device_fake, ScanProbesEveryPortAndStoresUpToMax) {
    list_ports({"COM3", "COM4", "COM5"});
    ser_fake::expect_exchange(kIdentify, kIdentity);  // COM3
    ser_fake::expect_exchange(kIdentify, "");         // COM4: silent
    ser_fake::expect_exchange(kIdentify, kIdentity);  // COM5
    char *names[1] = {nullptr};
    int32_t found = -1;
    log_capture log;
    EXPECT_EQ(ca410_dev_scan(names, 1, &found), 0);
    EXPECT_EQ(found, 1);
    ASSERT_NE(names[0], nullptr);
    EXPECT_STREQ(names[0], "COM3");
    std::free(names[0]);
    std::vector<std::string> opened;
    for (const auto &c : ser_fake::calls_of(ser_fake::op::open_port)) opened.push_back(c.port_name);
    EXPECT_EQ(opened, (std::vector<std::string>{"COM3", "COM4", "COM5"}));
    expect_all_closed();
    EXPECT_TRUE(log.has_debug("[ca410_dev_scan]: add 3 coms\n"));
    EXPECT_TRUE(log.has_debug("[ca410_dev_scan] scan 1 ca410 device\n"));
}

TEST_F(device_fake, ScanTakesPosixDevicePaths) {
    ASSERT_FALSE(ca410_scan_requires_com);
    list_ports({"/dev/ttyUSB0"});
    ser_fake::expect_exchange(kIdentify, kIdentity);
    char *names[2] = {nullptr, nullptr};
    int32_t found = 0;
    EXPECT_EQ(ca410_dev_scan(names, 2, &found), 0);
    ASSERT_EQ(found, 1);
    EXPECT_STREQ(names[0], "/dev/ttyUSB0");
    EXPECT_EQ(names[1], nullptr);
    std::free(names[0]);
}

TEST(scan_names, WindowsTakesOnlyComNames) {
    EXPECT_TRUE(ca410_scan_name_is_candidate("COM3", true));
    EXPECT_TRUE(ca410_scan_name_is_candidate("\\\\.\\COM12", true));
    EXPECT_FALSE(ca410_scan_name_is_candidate("LPT1", true));
    EXPECT_FALSE(ca410_scan_name_is_candidate("com3", true));
    EXPECT_TRUE(ca410_scan_name_is_candidate("/dev/ttyACM0", false));
    EXPECT_FALSE(ca410_scan_name_is_candidate("", false));
    EXPECT_FALSE(ca410_scan_name_is_candidate(nullptr, false));
}

TEST_F(device_fake, ScanRefusesBadArgumentsAndTouchesNothing) {
    char *names[1] = {nullptr};
    int32_t found = -7;
    log_capture log;
    EXPECT_EQ(ca410_dev_scan(nullptr, 1, &found), -1);
    EXPECT_EQ(ca410_dev_scan(names, 1, nullptr), -1);
    EXPECT_EQ(ca410_dev_scan(names, 0, &found), -1);
    EXPECT_EQ(ca410_dev_scan(names, -1, &found), -1);
    EXPECT_EQ(found, -7);
    EXPECT_EQ(names[0], nullptr);
    EXPECT_TRUE(fake().calls.empty());
    EXPECT_EQ(log.errors(), std::vector<std::string>(4, "[ca410_dev_scan]: invalid args\n"));
}

}  // namespace
