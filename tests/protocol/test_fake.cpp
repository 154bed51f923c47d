// The instrument layer over the scripted fake backend: frames on the wire,
// answer classification and its log lines, and opening, probing and scanning.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "ser_nt_ca410/ca410_cmd.h"
#include "ser_nt_ca410/ca410_codes.h"
#include "ser_nt_ca410/ca410_dev.h"
#include "ser_nt_ca410/ca410_ops.h"
#include "ser_nt_com/platform/fake.h"
#include "ser_nt_com/ser_com.h"
#include "support/log_capture.h"

namespace {

using strings = std::vector<std::string>;

const std::string kIdentify = "IDO,0,1\r";
const std::string kIdentity = "OK00,CA-410,CA-P427,CA-410 SIM     ,1.21.0004,41000001\r";

class protocol_fake : public ::testing::Test {
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

// A handle whose port is open on the fake.
class protocol_command : public protocol_fake {
  protected:
    void SetUp() override {
        dev.sercom = new_ser_com("COM7");
        ASSERT_EQ(ser_com_setport(dev.sercom, SER_FLOW_RTSCTS, SER_BAUD_38400, SER_PARITY_EVEN,
                                  SER_STOP_2, SER_WORD_7),
                  0u);
        fake().calls.clear();
    }
    void TearDown() override {
        ser_com_del(dev.sercom);
        protocol_fake::TearDown();
    }

    ca410_dev dev{};
};

// A frame goes out exactly as built, or the call is refused before anything is sent.
TEST_F(protocol_command, SendsExactlyTheFrameOrRefusesWith37) {
    const std::string longest(122, '9');  // head, CR and NUL fill the 128-byte frame
    const std::string too_long(123, '9'), bad = "[ca_command]: invalid args\n";
    ca410_dev portless{};
    const struct {
        ca410_dev *handle;
        int32_t command;
        const char *args;
        int32_t args_len, data_size;
        std::string wire, error;  // the frame sent, or the refusal
    } cases[] = {
        {&dev, CA_CMD_ZRC, nullptr, 0, 8, "ZRC\r", ""},
        {&dev, CA_CMD_MES, "1", 1, 8, "MES,1\r", ""},
        {&dev, CA_CMD_TDR, "5,1,7", 0, 8, "TDR,5,1,7\r", ""},  // length 0 takes all
        {&dev, CA_CMD_STR, "12,34", 2, 8, "STR,12\r", ""},
        {&dev, CA_CMD_BPR, "", 0, 8, "BPR\r", ""},
        {&dev, CA_CMD_IDO, nullptr, 0, 8, "IDO,\r", ""},  // the first head and the last
        {&dev, CA_CMD_FDR, "x", 0, 8, "FDR,x\r", ""},
        {&dev, CA_CMD_MES, longest.c_str(), 0, 8, "MES," + longest + "\r", ""},
        {nullptr, CA_CMD_MES, "1", 0, 8, "", bad},
        {&portless, CA_CMD_MES, "1", 0, 8, "", bad},
        {&dev, 0, "1", 0, 8, "", bad},
        {&dev, 41, "1", 0, 8, "", bad},
        {&dev, CA_CMD_MES, "1", 2, 8, "",
         "[ca_command]: invalid args, args_len 2 of 1 characters\n"},
        {&dev, CA_CMD_MES, "1", -1, 8, "",
         "[ca_command]: invalid args, args_len -1 of 1 characters\n"},
        {&dev, CA_CMD_MES, "1", 0, 0, "", "[ca_command]: invalid args, data size 0\n"},
        {&dev, CA_CMD_MES, too_long.c_str(), 0, 8, "",
         "[ca_command]: invalid args, 123 argument characters do not fit a frame\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.wire + c.error);
        const bool sent = !c.wire.empty();
        fake().calls.clear();
        if (sent) ser_fake::expect_exchange(c.wire, "OK00\r");
        char data[8] = "ZZZZZZZ";
        int32_t len = -7;
        log_capture log;
        EXPECT_EQ(
            ca_command(c.handle, c.command, c.args, c.args_len, data, c.data_size, &len, 1000),
            sent ? CA_OK : CA_E_ARGS);
        strings writes;
        for (const auto &w : ser_fake::calls_of(ser_fake::op::write)) writes.push_back(w.data);
        EXPECT_EQ(writes, sent ? strings{c.wire} : strings{});
        EXPECT_EQ(
            std::make_pair(len, std::string(data)),
            sent ? std::make_pair(0, std::string()) : std::make_pair(-7, std::string("ZZZZZZZ")));
        EXPECT_EQ(log.errors(), sent ? strings{} : strings{c.error});
        EXPECT_EQ(log.has_debug("[ca_command]: send [" + c.wire + "]\n"), sent);
    }
}

TEST_F(protocol_command, ResultDataAndLengthOfEachAnswer) {
    const std::string untouched(63, 'Z');
    const struct {
        std::string reply;
        int32_t data_size;  // 0: no buffer
        int32_t result;
        std::string data;
        int32_t len;
    } cases[] = {
        {"OK00\r", 64, CA_OK, "", 0},
        {"OK00,\r", 64, CA_OK, "", 0},
        {"OK00,1,2\r", 64, CA_OK, "1,2", 3},
        {"OK00,1,2\r", 0, CA_OK, untouched, 4},  // without a buffer the comma still counts
        {"OK00,abc\r", 4, CA_E_PART_DATA, "ab", 2},
        {"OK00,abc\r", 5, CA_OK, "abc", 3},
        {"OK00abcd\r", 4, CA_E_PART_DATA, "abc", 3},
        {"OK00,abc\r", 1, CA_E_PART_DATA, "", 0},
        {"OK04,7,8\r", 64, CA_OK, "7,8", 3},
        {"\r", 64, CA_E_RECEIVE, untouched, 0},
        {"OK0\r", 64, CA_E_RECEIVE, untouched, 0},
        {"ER22\r", 64, CA_E_OVER_RANGE, untouched, 0},
        {"ER10,1\r", 64, CA_E_INVALID_COMMAND, untouched, 0},
        {"OK00,1,2", 64, CA_E_TIMEOUT, untouched, 0},  // no carriage return
    };
    ser_fake::push_incoming("OK00,late\r");  // stale: drained before the first frame
    for (const auto &c : cases) {
        SCOPED_TRACE(c.reply + " into " + std::to_string(c.data_size));
        ser_fake::expect_exchange("MES,1\r", c.reply);
        char data[64];
        std::memset(data, 'Z', sizeof data);
        data[63] = '\0';
        int32_t len = -7;
        log_capture log;
        EXPECT_EQ(ca_command(&dev, CA_CMD_MES, "1", 1, c.data_size ? data : nullptr, c.data_size,
                             &len, 3000),
                  c.result);
        EXPECT_EQ(len, c.len);
        EXPECT_EQ(data, c.data);
        if (c.reply[0] == 'E') {
            EXPECT_EQ(log.errors().back(),
                      "[ca_command]: receive err, [" + c.reply.substr(0, 4) + "]\n");
        }
        if (c.result == CA_E_PART_DATA) {
            // The length logged still counts the comma (status and CR not).
            EXPECT_EQ(
                log.errors(),
                strings{"[ca_command]: data size " + std::to_string(c.reply.size() - 5) +
                        " > rbuf size " + std::to_string(c.data_size) + ", part data returned\n"});
        }
    }
}

TEST_F(protocol_command, TimeOutGives38AndPortFailure39) {
    ser_fake::expect_exchange("MES,1\r", "");
    char data[8] = "ZZZZZZZ";
    int32_t len = -7;
    log_capture log;
    EXPECT_EQ(ca_command(&dev, CA_CMD_MES, "1", 0, data, sizeof data, &len, 3000), CA_E_TIMEOUT);
    EXPECT_EQ(len, 0);
    EXPECT_STREQ(data, "ZZZZZZZ");
    EXPECT_TRUE(log.has_error("[ca_command]: communication timeout err, 0x26\n"));
    EXPECT_GE(fake().now_ms, 3000u);  // the caller's time-out, on the virtual clock

    fake().write_ok = false;
    fake().line_errors = SER_CE_FRAME;
    len = -7;
    EXPECT_EQ(ca_command(&dev, CA_CMD_RST, "0", 0, nullptr, 0, &len, 1000), CA_E_COMM);
    EXPECT_EQ(len, 0);
    EXPECT_EQ(log.errors().back(), "[ca_command]: communication failed, 0x27\n");
}

TEST(protocol_codes, InstrumentErrorsMapAndLog) {
    const struct {
        const char *code;
        int32_t result;
        const char *message;
    } cases[] = {
        {"03", 16, "input color difference value or calib val , invalid value"},
        {"05", 17, "user calibration failed because measure values"},
        {"06", 18, "user calibration failed because wrang input"},
        {"10", 19, "invalide command"},
        {"16", 20, "write calibration channel data error"},
        {"20", 21, "when sync_mode EXTERNAL,no sync signal input"},
        {"21", 22, "zero calibration outer light leak"},
        {"22", 23, "measure brightness exceed the range"},
        {"24", 24, "measure calculate error"},
        {"31", 25, "memory data write and read error"},
        {"32", 25, "memory data write and read error"},
        {"50", 32, "flicker measure in contrast , exceed range"},
        {"51", 33, "flicker measure in contrast , sync signal outside range"},
        {"53", 34, "flicker measure failed"},
        {"91", 35, "periodical calibration date error"},
        {"99", 36, "instrument program error"},
        {"08", 39, "unknown err 0"},  // a leading zero means octal: 08 reads as 0
        {"11", 39, "unknown err 11"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.code);
        log_capture log;
        EXPECT_EQ(ecode(c.code), c.result);
        EXPECT_EQ(log.errors(),
                  (strings{std::string("[ecode]: [") + c.code + "] : ", c.message, "\n"}));
    }
}

TEST(protocol_codes, WarningsLogTheirBits) {
    const std::string head = "[wcode]: [OK", user = "user calibration data err,",
                      shift = "probe temperature shifted 6";
    const struct {
        const char *status;
        int32_t value;
        strings lines;
    } cases[] = {
        {"OK65", 1, {head + "01], ", user, "\n"}},  // bit 6 is dropped
        {"OK07", 7, {head + "07], ", user, shift + ",", shift, "\n"}},
        {"OK10", 10, {head + "10], ", shift + ",", "\n"}},  // bits above 4 go unnamed
        {"OK08", 0, {}},                                    // octal: 08 reads as 0
        {"OK00", 0, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.status);
        log_capture log;
        EXPECT_EQ(wcode(c.status), c.value);
        EXPECT_EQ(log.errors(), c.lines);
        // An answer logs its warnings as it is taken.
        log.clear();
        const std::string answer = std::string(c.status) + ",X";
        char data[8];
        int32_t len = 0;
        EXPECT_EQ(ca_take_answer(answer.c_str(), static_cast<int32_t>(answer.size()), data,
                                 sizeof data, &len),
                  CA_OK);
        EXPECT_EQ(log.errors(), c.lines);
    }
}

// The over-range retry of a measurement waits 1000 ms, not the first 3000 ms.
TEST_F(protocol_command, MeasureRetryUsesTheShortTimeout) {
    ser_fake::expect_exchange("MES,1\r", "ER22\r");
    ser_fake::expect_exchange("MES,1\r", "");
    log_capture log(0);
    EXPECT_EQ(ca410_measure(&dev, 1, nullptr), CA_E_TIMEOUT);
    const auto writes = ser_fake::calls_of(ser_fake::op::write);
    ASSERT_EQ(writes.size(), 2u);
    const uint32_t waited = fake().now_ms - writes[1].at_ms;
    EXPECT_GE(waited, 1000u);
    EXPECT_LT(waited, 3000u);
    EXPECT_EQ(log.errors().back(), "[ca410_measure]: MES cmd err, 0x26\n");
}

TEST(protocol_dump, IndexCharacterOrByteAndAMarkEvery256Bytes) {
    std::string bytes(512, ' ');
    bytes[0] = 'A';
    bytes[2] = '\x01';
    bytes[16] = '\xe9';  // opens the second row
    log_capture log(6);
    buf_dump(bytes.data(), static_cast<int32_t>(bytes.size()));
    ASSERT_EQ(log.debug().size(), 1u + 512u + 2u);
    EXPECT_EQ(log.debug()[0], "[buf_dump]: ------------ start ----------\n");
    EXPECT_EQ(log.debug()[1], "00[ A] ");
    EXPECT_EQ(log.debug()[3], "02[01] ");
    EXPECT_EQ(log.debug()[16], "0f[  ] \n");
    EXPECT_EQ(log.debug()[17], "10[e9] ");
    EXPECT_EQ(log.debug()[256], "ff[  ] \n");
    EXPECT_EQ(log.debug()[257], "-------------- 256x0 ---------------\n");
    EXPECT_EQ(log.debug()[514], "-------------- 256x1 ---------------\n");
}

TEST_F(protocol_fake, CreateConfiguresIdentifiesAndKeepsThePortOpen) {
    ser_fake::expect_exchange(kIdentify, kIdentity);
    log_capture log;
    ca410_dev *dev = ca410_dev_create("COM3");
    ASSERT_NE(dev, nullptr);
    EXPECT_EQ(ser_fake::calls_of(ser_fake::op::open_port).at(0).port_name, "COM3");
    const ser_dcb d = ser_fake::calls_of(ser_fake::op::set_state).back().dcb;  // 7E2, RTS/CTS
    EXPECT_EQ(std::make_tuple(d.BaudRate, d.ByteSize, d.Parity, d.StopBits, d.fOutxCtsFlow,
                              d.fRtsControl),
              std::make_tuple(38400u, uint8_t{7}, SER_EVENPARITY, SER_TWOSTOPBITS, 1u,
                              uint32_t{SER_RTS_CONTROL_HANDSHAKE}));
    EXPECT_EQ(fake().written, kIdentify);
    EXPECT_TRUE(ser_fake::calls_of(ser_fake::op::close).empty());
    EXPECT_STREQ(dev->model, "CA-410");
    EXPECT_TRUE(log.has_debug("[zul_dev_create]: name=CA-410\n"));
    ca410_dev_release(dev);
    expect_all_closed();
}

TEST_F(protocol_fake, CreateFailuresLogCloseAndGiveNull) {
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
        strings own;
        for (const auto &line : log.errors()) {
            if (line.rfind("[ca410_dev_create]", 0) == 0) own.push_back(line);
        }
        EXPECT_EQ(own, strings{c.error});
        expect_all_closed();
    }
}

// Every listed port is probed and closed again; only the first CA-410 fits.
TEST_F(protocol_fake, ScanProbesEveryPortAndStoresUpToMax) {
    ASSERT_FALSE(ca410_scan_requires_com);  // device paths count here
    const strings ports = {"COM3", "COM4", "COM5", "COM6", "/dev/ttyUSB0"};
    const std::string replies[] = {kIdentity, "",
                                   "OK00,CA-410,\r",  // silent; the open takes this, the probe not
                                   "OK00,CA-310,CA-P327,x\r", "OK00,CA-410,P\r"};
    for (size_t i = 0; i < ports.size(); ++i) {
        fake().list.push_back({"\\Device\\Serial" + std::to_string(i), ports[i]});
        ser_fake::expect_exchange(kIdentify, replies[i]);
    }
    char *names[2] = {nullptr, nullptr};
    int32_t found = -1;
    log_capture log;
    EXPECT_EQ(ca410_dev_scan(names, 1, &found), 0);
    EXPECT_EQ(found, 1);
    ASSERT_NE(names[0], nullptr);
    EXPECT_STREQ(names[0], "COM3");
    EXPECT_EQ(names[1], nullptr);
    std::free(names[0]);
    strings opened;
    for (const auto &c : ser_fake::calls_of(ser_fake::op::open_port)) opened.push_back(c.port_name);
    EXPECT_EQ(opened, ports);
    expect_all_closed();
    EXPECT_TRUE(log.has_debug("[ser_com_check_ca410]: timeout 2000 msec, port: [COM4]\n"));
    EXPECT_TRUE(log.has_debug("[ser_com_check_ca410]: get [CA-410,P]\n"));
    EXPECT_TRUE(log.has_debug("[ca410_dev_scan]: add 5 coms\n"));
    EXPECT_TRUE(log.has_debug("[ca410_dev_scan] scan 1 ca410 device\n"));

    fake().calls.clear();
    log.clear();
    found = -7;
    EXPECT_EQ(ca410_dev_scan(nullptr, 1, &found), -1);
    EXPECT_EQ(ca410_dev_scan(names, 0, &found), -1);
    EXPECT_EQ(found, -7);
    EXPECT_TRUE(fake().calls.empty());
    EXPECT_EQ(log.errors(), strings(2, "[ca410_dev_scan]: invalid args\n"));
}

}  // namespace
