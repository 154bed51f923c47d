// The command exchange over the scripted fake backend: frames on the wire,
// answer classification, data delivery and the log lines of each outcome.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fake_device.h"
#include "ser_nt_ca410/ca410_cmd.h"
#include "ser_nt_ca410/ca410_codes.h"
#include "ser_nt_ca410/ca410_ops.h"
#include "support/log_capture.h"

namespace {

constexpr int32_t kUnwritten = -7;
constexpr char kFill = 'Z';
const std::string kUntouched = "untouched";

using command_test = fake_device_test;

// --- frames ----------------------------------------------------------------

struct frame_case {
    const char *label;
    int32_t command;
    const char *args;
    int32_t args_len;
    std::string wire;
};

// Head, 122 characters, carriage return and NUL fill the 128-byte frame.
const std::string kLongestArgs(122, '9');

class command_frame : public fake_device_test, public ::testing::WithParamInterface<frame_case> {};

TEST_P(command_frame, SendsExactlyTheFrame) {
    const frame_case &c = GetParam();
    ser_fake::expect_exchange(c.wire, "OK00\r");
    log_capture log;
    EXPECT_EQ(ca_command(&dev, c.command, c.args, c.args_len, nullptr, 0, nullptr, 1000), CA_OK);
    const auto writes = ser_fake::calls_of(ser_fake::op::write);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].data, c.wire);
    EXPECT_EQ(writes[0].count, c.wire.size());
    EXPECT_TRUE(log.has_debug("[ca_command]: send [" + c.wire + "]\n"));
}

INSTANTIATE_TEST_SUITE_P(
    heads, command_frame,
    ::testing::Values(frame_case{"zrc_no_comma", CA_CMD_ZRC, nullptr, 0, "ZRC\r"},
                      frame_case{"mes_six_bytes", CA_CMD_MES, "1", 1, "MES,1\r"},
                      frame_case{"len_zero_takes_all", CA_CMD_TDR, "5,1,7", 0, "TDR,5,1,7\r"},
                      frame_case{"len_cuts_args", CA_CMD_STR, "12,34", 2, "STR,12\r"},
                      frame_case{"bpr_empty_args", CA_CMD_BPR, "", 0, "BPR\r"},
                      frame_case{"ldr_bare", CA_CMD_LDR, nullptr, 0, "LDR\r"},
                      frame_case{"first_head", CA_CMD_IDO, nullptr, 0, "IDO,\r"},
                      frame_case{"last_head", CA_CMD_FDR, "x", 0, "FDR,x\r"},
                      frame_case{"longest_args", CA_CMD_MES, kLongestArgs.c_str(), 0,
                                 "MES," + kLongestArgs + "\r"}),
    [](const auto &info) { return std::string(info.param.label); });

// --- refused before anything is sent ------------------------------------

struct refusal_case {
    const char *label;
    bool null_handle;
    bool null_port;
    int32_t command;
    const char *args;
    int32_t args_len;
    int32_t data_size;
    const char *message;
};

class command_refusal : public fake_device_test,
                        public ::testing::WithParamInterface<refusal_case> {};

TEST_P(command_refusal, Answers37AndSendsNothing) {
    const refusal_case &c = GetParam();
    ser_com *saved = dev.sercom;
    if (c.null_port) dev.sercom = nullptr;
    char data[8];
    std::memset(data, kFill, sizeof data);
    int32_t len = kUnwritten;
    log_capture log;
    EXPECT_EQ(ca_command(c.null_handle ? nullptr : &dev, c.command, c.args, c.args_len, data,
                         c.data_size, &len, 1000),
              CA_E_ARGS);
    dev.sercom = saved;
    EXPECT_EQ(len, kUnwritten);
    EXPECT_EQ(data[0], kFill);
    EXPECT_TRUE(fake().calls.empty());
    EXPECT_EQ(log.errors(), std::vector<std::string>{c.message});
}

const std::string kTooLong(123, '1');

INSTANTIATE_TEST_SUITE_P(
    bad_args, command_refusal,
    ::testing::Values(
        refusal_case{"null_handle", true, false, CA_CMD_MES, "1", 0, 8,
                     "[ca_command]: invalid args\n"},
        refusal_case{"null_port", false, true, CA_CMD_MES, "1", 0, 8,
                     "[ca_command]: invalid args\n"},
        refusal_case{"command_0", false, false, 0, "1", 0, 8, "[ca_command]: invalid args\n"},
        refusal_case{"command_negative", false, false, -1, "1", 0, 8,
                     "[ca_command]: invalid args\n"},
        refusal_case{"command_41", false, false, 41, "1", 0, 8, "[ca_command]: invalid args\n"},
        refusal_case{"args_len_past_text", false, false, CA_CMD_MES, "1", 2, 8,
                     "[ca_command]: invalid args, args_len 2 of 1 characters\n"},
        refusal_case{"args_len_negative", false, false, CA_CMD_MES, "1", -1, 8,
                     "[ca_command]: invalid args, args_len -1 of 1 characters\n"},
        refusal_case{"data_size_0", false, false, CA_CMD_MES, "1", 0, 0,
                     "[ca_command]: invalid args, data size 0\n"},
        refusal_case{"frame_overflow", false, false, CA_CMD_MES, kTooLong.c_str(), 0, 8,
                     "[ca_command]: invalid args, 123 argument characters do not fit a frame\n"}),
    [](const auto &info) { return std::string(info.param.label); });

// --- answers ---------------------------------------------------------------

struct answer_case {
    const char *label;
    std::string reply;  // what the instrument sends
    bool with_data;     // a data buffer, or null
    int32_t data_size;
    int32_t result;
    std::string data;  // expected contents; the fill pattern when untouched
    int32_t len;
};

class command_answer : public fake_device_test,
                       public ::testing::WithParamInterface<answer_case> {};

TEST_P(command_answer, ResultDataAndLength) {
    const answer_case &c = GetParam();
    ser_fake::expect_exchange("MES,1\r", c.reply);
    char data[64];
    std::memset(data, kFill, sizeof data);
    data[sizeof data - 1] = '\0';
    int32_t len = kUnwritten;
    log_capture log;
    EXPECT_EQ(
        ca_command(&dev, CA_CMD_MES, "1", 1, c.with_data ? data : nullptr, c.data_size, &len, 3000),
        c.result);
    EXPECT_EQ(len, c.len);
    if (c.result == CA_E_PART_DATA) {
        // The length logged still counts the comma (status and CR not).
        const std::string counted = std::to_string(c.reply.size() - 5);
        EXPECT_EQ(log.errors(),
                  std::vector<std::string>{"[ca_command]: data size " + counted + " > rbuf size " +
                                           std::to_string(c.data_size) + ", part data returned\n"});
    }
    EXPECT_EQ(std::string(data),
              c.data == kUntouched ? std::string(sizeof data - 1, kFill) : c.data);
}

INSTANTIATE_TEST_SUITE_P(
    replies, command_answer,
    ::testing::Values(
        answer_case{"ok_bare", "OK00\r", true, 64, CA_OK, "", 0},
        answer_case{"ok_comma", "OK00,\r", true, 64, CA_OK, "", 0},
        answer_case{"ok_two_fields", "OK00,1,2\r", true, 64, CA_OK, "1,2", 3},
        answer_case{"ok_no_buffer_keeps_comma", "OK00,1,2\r", false, 0, CA_OK, kUntouched, 4},
        answer_case{"size_4_cuts", "OK00,abc\r", true, 4, CA_E_PART_DATA, "ab", 2},
        answer_case{"size_5_fits", "OK00,abc\r", true, 5, CA_OK, "abc", 3},
        answer_case{"size_4_cuts_without_comma", "OK00abcd\r", true, 4, CA_E_PART_DATA, "abc", 3},
        answer_case{"size_1_cut_to_nothing", "OK00,abc\r", true, 1, CA_E_PART_DATA, "", 0},
        answer_case{"warning_keeps_data", "OK04,7,8\r", true, 64, CA_OK, "7,8", 3},
        answer_case{"lone_cr", "\r", true, 64, CA_E_RECEIVE, kUntouched, 0},
        answer_case{"four_bytes", "OK0\r", true, 64, CA_E_RECEIVE, kUntouched, 0},
        answer_case{"error_22", "ER22\r", true, 64, CA_E_OVER_RANGE, kUntouched, 0},
        answer_case{"error_with_data", "ER10,1\r", true, 64, CA_E_INVALID_COMMAND, kUntouched, 0}),
    [](const auto &info) { return std::string(info.param.label); });

TEST_F(command_test, StaleInputIsDrainedBeforeTheFrame) {
    ser_fake::push_incoming("OK00,late\r");
    ser_fake::expect_exchange("STR,0\r", "OK00,fresh\r");
    char data[32];
    int32_t len = 0;
    EXPECT_EQ(ca_command(&dev, CA_CMD_STR, "0", 0, data, sizeof data, &len, 1000), CA_OK);
    EXPECT_STREQ(data, "fresh");
    EXPECT_EQ(len, 5);
}

TEST_F(command_test, TimeoutLeavesDataAndGives38) {
    ser_fake::expect_exchange("MES,1\r", "");
    char data[8];
    std::memset(data, kFill, sizeof data);
    int32_t len = kUnwritten;
    log_capture log;
    EXPECT_EQ(ca_command(&dev, CA_CMD_MES, "1", 0, data, sizeof data, &len, 3000), CA_E_TIMEOUT);
    EXPECT_EQ(len, 0);
    EXPECT_EQ(std::string(data, sizeof data), std::string(sizeof data, kFill));
    EXPECT_TRUE(log.has_error("[ca_command]: communication timeout err, 0x26\n"));
    // The read waited for the caller's time-out on the virtual clock.
    EXPECT_GE(fake().now_ms, 3000u);
    // An answer without its carriage return is a time-out too.
    ser_fake::expect_exchange("MES,1\r", "OK00,1,2");
    len = kUnwritten;
    EXPECT_EQ(ca_command(&dev, CA_CMD_MES, "1", 0, nullptr, 0, &len, 1000), CA_E_TIMEOUT);
    EXPECT_EQ(len, 0);
}

TEST_F(command_test, PortFailureGives39) {
    fake().write_ok = false;
    fake().line_errors = SER_CE_FRAME;
    int32_t len = kUnwritten;
    log_capture log;
    EXPECT_EQ(ca_command(&dev, CA_CMD_RST, "0", 0, nullptr, 0, &len, 1000), CA_E_COMM);
    EXPECT_EQ(len, 0);
    EXPECT_TRUE(log.has_error("[ca_command]: communication failed, 0x27\n"));
}

// --- instrument errors and warnings --------------------------------------

struct error_case {
    const char *code;
    int32_t result;
    const char *message;
};

class command_error : public fake_device_test, public ::testing::WithParamInterface<error_case> {};

TEST_P(command_error, MapsAndLogsTheCode) {
    const error_case &c = GetParam();
    ser_fake::expect_exchange("RST,0\r", std::string("ER") + c.code + "\r");
    int32_t len = kUnwritten;
    log_capture log;
    EXPECT_EQ(ca_command(&dev, CA_CMD_RST, "0", 0, nullptr, 0, &len, 1000), c.result);
    EXPECT_EQ(len, 0);
    EXPECT_EQ(log.errors(), (std::vector<std::string>{
                                std::string("[ecode]: [") + c.code + "] : ", c.message, "\n",
                                std::string("[ca_command]: receive err, [ER") + c.code + "]\n"}));
}

INSTANTIATE_TEST_SUITE_P(
    instrument_codes, command_error,
    ::testing::Values(
        error_case{"03", 16, "input color difference value or calib val , invalid value"},
        error_case{"05", 17, "user calibration failed because measure values"},
        error_case{"06", 18, "user calibration failed because wrang input"},
        error_case{"10", 19, "invalide command"},
        error_case{"16", 20, "write calibration channel data error"},
        error_case{"20", 21, "when sync_mode EXTERNAL,no sync signal input"},
        error_case{"21", 22, "zero calibration outer light leak"},
        error_case{"22", 23, "measure brightness exceed the range"},
        error_case{"24", 24, "measure calculate error"},
        error_case{"31", 25, "memory data write and read error"},
        error_case{"32", 25, "memory data write and read error"},
        error_case{"50", 32, "flicker measure in contrast , exceed range"},
        error_case{"51", 33, "flicker measure in contrast , sync signal outside range"},
        error_case{"53", 34, "flicker measure failed"},
        error_case{"91", 35, "periodical calibration date error"},
        error_case{"99", 36, "instrument program error"},
        // A leading zero means octal: 08 stops at the 8 and reads as 0.
        error_case{"08", 39, "unknown err 0"}, error_case{"11", 39, "unknown err 11"}),
    [](const auto &info) { return std::string("ER") + info.param.code; });

struct warning_case {
    const char *status;
    int32_t value;
    std::vector<std::string> lines;
};

class command_warning : public fake_device_test,
                        public ::testing::WithParamInterface<warning_case> {};

TEST_P(command_warning, LogsBitsAndSucceeds) {
    const warning_case &c = GetParam();
    ser_fake::expect_exchange("MES,1\r", std::string(c.status) + ",1\r");
    char data[8];
    log_capture log;
    EXPECT_EQ(ca_command(&dev, CA_CMD_MES, "1", 0, data, sizeof data, nullptr, 1000), CA_OK);
    EXPECT_STREQ(data, "1");
    EXPECT_EQ(log.errors(), c.lines);
    log.clear();
    EXPECT_EQ(wcode(c.status), c.value);
}

INSTANTIATE_TEST_SUITE_P(
    warning_numbers, command_warning,
    ::testing::Values(
        warning_case{"OK04", 4, {"[wcode]: [OK04], ", "probe temperature shifted 6", "\n"}},
        warning_case{"OK65", 1, {"[wcode]: [OK01], ", "user calibration data err,", "\n"}},
        warning_case{"OK64", 0, {}},
        warning_case{"OK07",
                     7,
                     {"[wcode]: [OK07], ", "user calibration data err,",
                      "probe temperature shifted 6,", "probe temperature shifted 6", "\n"}},
        // Bits above 4 are counted but not spelled out.
        warning_case{"OK10", 10, {"[wcode]: [OK10], ", "probe temperature shifted 6,", "\n"}},
        warning_case{"OK08", 0, {}}),
    [](const auto &info) { return std::string(info.param.status); });

// --- the hex dump ----------------------------------------------------------

TEST(buf_dump, IndexAndCharacterOrByte) {
    std::string bytes = "AB";
    bytes += '\x01';
    bytes += std::string(13, 'x');
    bytes += '\xe9';  // index 16 opens the second row
    log_capture log(0);
    buf_dump(bytes.data(), static_cast<int32_t>(bytes.size()));
    ASSERT_EQ(log.debug().size(), 17u);  // the level-6 header is filtered at level 0
    EXPECT_EQ(log.debug()[0], "00[ A] ");
    EXPECT_EQ(log.debug()[2], "02[01] ");
    EXPECT_EQ(log.debug()[15], "0f[ x] \n");
    EXPECT_EQ(log.debug()[16], "10[e9] ");
}

TEST(buf_dump, MarksEvery256Bytes) {
    const std::string bytes(512, ' ');
    log_capture log(6);
    buf_dump(bytes.data(), static_cast<int32_t>(bytes.size()));
    ASSERT_EQ(log.debug().size(), 1u + 512u + 2u);
    EXPECT_EQ(log.debug()[0], "[buf_dump]: ------------ start ----------\n");
    EXPECT_EQ(log.debug()[256], "ff[  ] \n");
    EXPECT_EQ(log.debug()[257], "-------------- 256x0 ---------------\n");
    EXPECT_EQ(log.debug()[514], "-------------- 256x1 ---------------\n");
}

}  // namespace

namespace {

// The over-range retry of a measurement waits 1000 ms, not the first 3000 ms.
TEST_F(command_test, MeasureRetryUsesTheShortTimeout) {
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

}  // namespace
