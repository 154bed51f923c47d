// The serial logic over the scripted backend: every platform call it makes,
// with every value passed, on a virtual clock.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "ser_nt_com/platform/fake.h"
#include "ser_nt_com/ser_com.h"
#include "support/log_capture.h"

// Byte for byte; a mismatch prints both records.
static bool operator==(const ser_dcb &a, const ser_dcb &b) {
    return memcmp(&a, &b, sizeof a) == 0;
}
static bool operator==(const ser_timeouts &a, const ser_timeouts &b) {
    return memcmp(&a, &b, sizeof a) == 0;
}

namespace {

using ser_fake::calls_of;
using ser_fake::op;
using lines = std::vector<std::string>;

class SerialFake : public ::testing::Test {
  protected:
    void SetUp() override {
        // What a port reports: DTR handshake, RTS toggle, odd parity, 1.5 stop bits and the
        // flags "wrong", so that every field the logic sets is seen to change.
        fake().reported_dcb = {1200, 0, 1,    1,   1, 2, 1, 0,    1,    1,   1,    1,
                               3,    1, 2048, 512, 8, 1, 1, 0x21, 0x23, '?', 0x1a, '\n'};
    }
    void TearDown() override {
        EXPECT_EQ(fake().mismatches, lines{}) << "unexpected bytes written";
        ser_com_del(sc_);
    }
    static ser_fake::state &fake() { return ser_fake::get(); }

    // A fresh record, opened with the instrument's settings unless told not to; the calls
    // and the log start afresh after it.
    void fresh(bool open = true) {
        ser_com_del(sc_);
        sc_ = new_ser_com("COM3");
        EXPECT_EQ(open ? ser_com_setport(sc_, 3, 10, 3, 2, 3) : 0u, 0u);
        fake().calls.clear();
        log_.clear();
    }
    ser_dcb configure(int32_t flow, int32_t baud, int32_t parity, int32_t stop, int32_t word) {
        fresh(false);
        EXPECT_EQ(ser_com_setport(sc_, flow, baud, parity, stop, word), 0u);
        const auto sets = calls_of(op::set_state);
        return sets.empty() ? ser_dcb{} : sets.back().dcb;
    }
    // The platform calls by name; sleeps, reads and writes with their counts, purges with flags.
    std::string trace() {
        std::string out;
        for (const auto &c : fake().calls) {
            out += (out.empty() ? "" : " ") + std::string(ser_fake::op_name(c.what));
            if (c.what == op::sleep || c.what == op::read || c.what == op::write) {
                out += ":" + std::to_string(c.count);
            }
            if (c.what == op::purge) out += ":" + std::to_string(c.flags);
        }
        return out;
    }
    void expect_debug(const lines &want) {
        for (const auto &line : want) EXPECT_TRUE(log_.has_debug(line)) << line;
    }
    uint32_t read(const char *tc, int32_t ntc, int32_t timeout, int32_t bufsize = 64) {
        buf_.assign(static_cast<size_t>(bufsize), 'X');
        count_ = -7;
        return ser_com_read(sc_, buf_.data(), bufsize, &count_, tc, ntc, timeout);
    }
    uint32_t exchange(const char *cmd, int32_t timeout, int32_t rfirstw) {
        buf_.assign(128, 'X');
        return ser_com_write_read_ex(sc_, cmd, 0, buf_.data(), 128, &count_, "\r", 1, timeout,
                                     rfirstw);
    }

    ser_fake::scoped_install install_;
    log_capture log_{8};
    ser_com *sc_ = nullptr;
    std::vector<char> buf_;
    int32_t count_ = 0;
};

// --- Opening, configuring, closing -------------------------------------------

TEST_F(SerialFake, InstrumentSettingsOpenPurgeAndApplyInOrder) {
    const ser_dcb d = configure(3, 10, 3, 2, 3);
    EXPECT_EQ(trace(), "open_port sleep:160 get_state purge:15 set_state purge:15 sleep:50");
    EXPECT_EQ(calls_of(op::open_port)[0].port_name, "COM3");
    EXPECT_EQ(calls_of(op::open_port)[0].path, "\\\\.\\COM3");
    EXPECT_EQ(ser_com_is_open(sc_), 1);
    // 38400 7E2 with RTS/CTS; the limits and characters keep what the port reported.
    EXPECT_EQ(d, (ser_dcb{38400, 1, 1,    1,   0, 1, 0, 1,    0,    0,   0,    0,
                          2,     0, 2048, 512, 7, 2, 2, 0x21, 0x23, '?', 0x1a, '\n'}));
    EXPECT_EQ(log_.debug_text(),
              "[ser_com_setport_ex]  [COM3] is_open=0\n"
              "[ser_com_setport_ex] : args Flow control = 3  Baud Rate   = 38400   Parity = 3\n"
              "[ser_com_setport_ex] : args Stop bits    = 2  Word length = 3   msdely = 0\n"
              "[ser_com_setport_ex]: start open [COM3]\n"
              "[ser_com_setport_ex]:  done\n");
    // Open: no reopen and no open delay. Reopened: the delay asked for, the stored settings.
    fake().calls.clear();
    EXPECT_EQ(ser_com_setport_ex(sc_, 0, 7, 0, 0, 0, 500), 0u);
    ser_com_close(sc_);
    EXPECT_EQ(ser_com_setport_ex(sc_, 0, 12, 0, 0, 0, 500), 0u);
    EXPECT_EQ(trace(),
              "get_state purge:15 set_state purge:15 sleep:50 close sleep:100 open_port sleep:500 "
              "get_state purge:15 set_state purge:15 sleep:50");
    const ser_dcb r = calls_of(op::set_state).back().dcb;
    EXPECT_EQ(std::make_tuple(r.BaudRate, r.Parity, r.StopBits, r.ByteSize, r.fOutxCtsFlow),
              std::make_tuple(115200u, SER_EVENPARITY, SER_TWOSTOPBITS, uint8_t{7}, 1u));
}

TEST_F(SerialFake, FlowParityStopBitsWordLengthAndRateSetTheirFields) {
    constexpr uint32_t on = 1, hs = 2;  // RTS/DTR enabled or handshake
    const struct {
        int32_t flow, parity, stop, word;
        std::tuple<uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, char, char> flow_f;
        std::tuple<uint32_t, uint8_t, uint8_t, uint8_t> line_f;
    } cases[] = {
        {1, 1, 1, 1, {0, 0, 0, on, 0, on, 0x21, 0x23}, {0, SER_NOPARITY, SER_ONESTOPBIT, 5}},
        {2, 2, 2, 2, {1, 1, 0, on, 0, on, 0x11, 0x13}, {1, SER_ODDPARITY, SER_TWOSTOPBITS, 6}},
        {3, 3, 1, 3, {0, 0, 1, hs, 0, on, 0x21, 0x23}, {1, SER_EVENPARITY, SER_ONESTOPBIT, 7}},
        {4, 1, 2, 4, {0, 0, 0, on, 1, hs, 0x21, 0x23}, {0, SER_NOPARITY, SER_TWOSTOPBITS, 8}},
        // Unknown codes: no flow control; the rest keeps what the port reported.
        {7, 9, 3, 5, {0, 0, 0, on, 0, on, 0x21, 0x23}, {1, SER_ODDPARITY, SER_ONE5STOPBITS, 8}},
        {-1, -1, -1, -1, {0, 0, 0, on, 0, on, 0x21, 0x23}, {1, SER_ODDPARITY, SER_ONE5STOPBITS, 8}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.flow);
        const ser_dcb d = configure(c.flow, 7, c.parity, c.stop, c.word);
        EXPECT_EQ(std::make_tuple(d.fOutX, d.fInX, d.fOutxCtsFlow, d.fRtsControl, d.fOutxDsrFlow,
                                  d.fDtrControl, d.XonChar, d.XoffChar),
                  c.flow_f);
        EXPECT_EQ(std::make_tuple(d.fParity, d.Parity, d.StopBits, d.ByteSize), c.line_f);
    }
    const uint32_t rates[] = {110,   300,   600,   1200,  2400,   4800,   9600,
                              14400, 19200, 38400, 57600, 115200, 230400, 921600};
    for (int32_t i = 1; i <= 14; i++) {
        EXPECT_EQ(configure(1, i, 1, 1, 4).BaudRate, rates[i - 1]) << i;
        EXPECT_EQ(baud_rate_to_str(i), std::to_string(rates[i - 1]));
    }
    EXPECT_STREQ(baud_rate_to_str(0), "not configured");
    EXPECT_STREQ(baud_rate_to_str(15), "unknown");
    EXPECT_STREQ(baud_rate_to_str(-1), "unknown");
}

TEST_F(SerialFake, FailedSetupLeavesThePortClosedWithItsMessage) {
    const struct {
        int32_t fails;  // 1: the open, 2: reading the state, 3: setting it
        int32_t flow, baud, parity, stop, word;
        const char *message;  // after "[ser_com_setport_ex]: "
    } cases[] = {
        {1, 3, 10, 3, 2, 3, "open [\\\\.\\COM3] err 31"},
        {2, 3, 10, 3, 2, 3, "read [COM3] state err 31"},
        {3, 3, 10, 3, 2, 3, "SetCommState err ,31"},
        {0, 0, 0, 0, 0, 0, "illegal flow control 0"},
        {0, 1, 10, 0, 1, 4, "illegal parity setting 0"},
        {0, 1, 10, 1, 0, 4, "illegal stop bits 0"},
        {0, 1, 10, 1, 1, 0, "illegal word length 0"},
        {0, 1, 0, 1, 1, 4, "illegal baud rate! (0x0)"},
        {0, 1, 15, 1, 1, 4, "illegal baud rate! (0xf)"},
        {0, 1, -1, 1, 1, 4, "illegal baud rate! (0xffffffff)"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message);
        fresh(false);
        fake().open_ok = c.fails != 1;
        fake().get_state_ok = c.fails != 2;
        fake().set_state_ok = c.fails != 3;
        fake().last_error = 31;
        EXPECT_EQ(ser_com_setport(sc_, c.flow, c.baud, c.parity, c.stop, c.word), 0x20000u);
        EXPECT_EQ(log_.errors(), lines{"[ser_com_setport_ex]: " + std::string(c.message) + "\n"});
        EXPECT_EQ(sc_->is_open, 0);
        EXPECT_EQ(sc_->handle, nullptr);
        EXPECT_EQ(trace(), c.fails == 1   ? "open_port"
                           : c.fails == 3 ? "open_port sleep:160 get_state purge:15 set_state "
                                            "close sleep:100"
                                          : "open_port sleep:160 get_state close sleep:100");
    }
    // The last one: an unknown rate is named so, and kept (a retry must pass a legal value).
    EXPECT_TRUE(log_.has_debug(
        "[ser_com_setport_ex] : args Flow control = 1  Baud Rate   = unknown   Parity = 1\n"));
    EXPECT_EQ(sc_->baud_rate, -1);
    fake().calls.clear();
    EXPECT_EQ(ser_com_setport(nullptr, 3, 10, 3, 2, 3), 0x20000u);
    EXPECT_EQ(trace(), "");
}

TEST_F(SerialFake, CloseIsOpenAndDelete) {
    fresh();
    sc_->is_open = 0;
    EXPECT_EQ(ser_com_is_open(sc_), 1);  // follows the handle
    EXPECT_EQ(sc_->is_open, 1);
    ser_com_close(sc_);
    ser_com_close(sc_);  // twice closes once
    EXPECT_EQ(trace(), "close sleep:100");
    EXPECT_EQ(ser_com_is_open(sc_) + ser_com_is_open(nullptr), 0);
    sc_->is_open = 1;  // a stale flag without a port is cleared too
    ser_com_close(sc_);
    ser_com_close(nullptr);
    EXPECT_EQ(sc_->is_open, 0);
    // Delete closes an open port and waits, but not a closed one.
    fresh();
    ser_com_del(sc_);
    ser_com_del(new_ser_com(nullptr));
    ser_com_del(nullptr);
    sc_ = nullptr;
    EXPECT_EQ(trace(), "close sleep:100");
}

TEST_F(SerialFake, PortListStoresUpToMaxButEnumeratesAndLogsEveryValue) {
    const auto list = [](int32_t max) {
        std::vector<char *> names(8, nullptr);
        EXPECT_EQ(get_serial_path(names.data(), max), 0);
        lines out;
        for (char *n : names) {
            if (n != nullptr) out.emplace_back(n);
            free(n);
        }
        return out;
    };
    fake().list = {{"\\Device\\Serial0", "COM1"}, {"\\Device\\VCP0", "COM5"}, {"Plain", "COM7"}};
    EXPECT_EQ(list(2), (lines{"COM1", "COM5"}));
    expect_debug({"[get_serial_path]: vname = [Plain] value=[COM7]\n",
                  "[get_serial_path]:  get [Plain]\n", "[get_serial_path]:  get [VCP0]\n",
                  "[get_serial_path]: got ERROR_NO_MORE_ITEMS\n"});
    const auto values = calls_of(op::list_value);
    ASSERT_EQ(values.size(), 4u);  // three values and the end
    for (uint32_t i = 0; i < values.size(); i++) {
        EXPECT_EQ(std::make_tuple(values[i].index, values[i].name_size, values[i].data_size),
                  std::make_tuple(i, 500u, 500u));
    }
    // Odd values are skipped or end the listing; a missing list stores nothing.
    const struct {
        const char *logged;  // after "[get_serial_path]: "
        int32_t open_result, close_result;
        ser_fake::list_entry second;
        lines names;
    } cases[] = {
        {"RegEnumValue not return string type\n", 0, 0, {"b", "bin", 3}, {"COM1", "COM4"}},
        {"RegEnumValue err, 234\n", 0, 0, {"b", std::string(600, 'x')}, {"COM1"}},  // MORE_DATA
        {"RegEnumValue err, 5\n", 0, 0, {"b", "COM2", SER_LIST_TYPE_STRING, 5}, {"COM1"}},
        {"RegOpenKeyEx  error, no serial ports appeared\n", 2, 0, {"b", "COM2"}, {}},
        {" RegCloseKey err, 6\n", 0, 6, {"b", "COM2"}, {"COM1", "COM2", "COM4"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.logged);
        fake().calls.clear();
        fake().list = {{"a", "COM1"}, c.second, {"c", "COM4"}};
        fake().list_open_result = c.open_result;
        fake().list_close_result = c.close_result;
        EXPECT_EQ(list(8), c.names);
        const std::string line = std::string("[get_serial_path]: ") + c.logged;
        EXPECT_TRUE(log_.has_debug(line) || log_.has_error(line));
        EXPECT_EQ(calls_of(op::list_close).size(), c.open_result == 0 ? 1u : 0u);
    }
}

// --- Write and read ----------------------------------------------------------

TEST_F(SerialFake, WriteSendsATextOrBytesWithinItsTime) {
    fresh();
    EXPECT_EQ(ser_com_write(sc_, "IDO,0,1\r", 0, 1000), 0u);
    EXPECT_EQ(calls_of(op::set_timeouts).at(0).timeouts, (ser_timeouts{0, 0, 1000, 0, 1000}));
    EXPECT_EQ(log_.debug(), (lines{"[ser_com_write]: start write [IDO,0,1^M]  mstime 1000\n",
                                   "[ser_com_write]: write 8 bytes\n",
                                   "[ser_com_write] took 0 ms, error 0x0\n"}));
    // With a length: raw bytes, logged in hex. A negative length writes nothing and succeeds.
    EXPECT_EQ(ser_com_write(sc_, "\x01\xe9", 2, 100), 0u);
    EXPECT_TRUE(log_.has_debug("[ser_com_write]: start write [01 e9]  mstime 100\n"));
    EXPECT_EQ(ser_com_write(sc_, "AB", -3, 100), 0u);
    // A line held back by its handshake takes two bytes, then the time runs out.
    fake().write_accept = 2;
    EXPECT_EQ(ser_com_write(sc_, "ABCDEFG", 0, 100), 0x4000u);
    expect_debug(
        {"[ser_com_write] took 100 ms > 100 ms\n", "[ser_com_write] took 100 ms, error 0x4000\n"});
    // All bytes out but the time used up is a time-out too.
    fake().write_accept = UINT32_MAX;
    fake().write_ms = 100;
    EXPECT_EQ(ser_com_write(sc_, "CD", 0, 100), 0x4000u);
    EXPECT_EQ(fake().written,
              "IDO,0,1\r\x01\xe9"
              "ABCD");
    EXPECT_EQ(calls_of(op::write).size(), 4u);
}

TEST_F(SerialFake, WriteFailureMapsLineErrorsOrReportsFailure) {
    const struct {
        uint32_t ce_flags;
        bool clear_ok;
        uint32_t status;
    } cases[] = {
        {SER_CE_BREAK, true, 0x10},      {SER_CE_FRAME, true, 0x8}, {SER_CE_RXPARITY, true, 0x4},
        {SER_CE_RXOVER, true, 0x2},      {0x1f, true, 0x1e},  // overrun not reported
        {SER_CE_OVERRUN, true, 0x20000}, {0, true, 0x20000},        {SER_CE_FRAME, false, 0x20000},
    };
    fresh();
    fake().write_ok = false;
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.ce_flags << " " << c.clear_ok);
        log_.clear();
        fake().line_errors = c.ce_flags;
        fake().clear_error_ok = c.clear_ok;
        EXPECT_EQ(ser_com_write(sc_, "AB", 0, 100), c.status);
        char expected[64];
        snprintf(expected, sizeof expected, "[ser_com_write]: write err, 0x%x\n", c.status);
        EXPECT_TRUE(log_.has_debug(expected));
        EXPECT_EQ(log_.has_debug("[ser_com_write]: ClearCommError err\n"), !c.clear_ok);
    }
}

TEST_F(SerialFake, RefusedCallsTouchNothing) {
    fresh(false);
    char b[16];
    int32_t count = 77;
    EXPECT_EQ(ser_com_write(nullptr, "A", 0, 10), 0x20000u);
    EXPECT_EQ(ser_com_write(sc_, "A", 0, 10), 0x20000u);
    EXPECT_EQ(ser_com_read(sc_, b, 16, &count, "\r", 1, 10), 0x20000u);
    EXPECT_EQ(ser_com_read(nullptr, b, 16, &count, "\r", 1, 10), 0x20000u);
    EXPECT_EQ(ser_com_write_read_ex(sc_, "A", 0, b, 16, &count, "\r", 1, 10, 1), 0x20000u);
    EXPECT_EQ(log_.errors(),
              (lines{"[ser_com_write]:  dev not init\n", "[ser_com_write]:  dev not init\n",
                     "[ser_com_read]:  dev not init\n", "[ser_com_read]:  dev not init\n",
                     "[ser_com_write_read_ex]: dev not init\n"}));
    fresh();
    EXPECT_EQ(ser_com_write(sc_, nullptr, 3, 10), 0x20000u);
    EXPECT_EQ(ser_com_read(sc_, b, 2, &count, "\r", 1, 10), 0x20000u);
    EXPECT_EQ(ser_com_read(sc_, nullptr, 16, &count, "\r", 1, 10), 0x20000u);
    EXPECT_EQ(count, 77);
    fake().set_timeouts_ok = false;
    fake().last_error = 87;
    EXPECT_EQ(ser_com_write(sc_, "A", 0, 10), 0x20000u);
    EXPECT_EQ(ser_com_read(sc_, b, 16, nullptr, "\r", 1, 10), 0x20000u);
    EXPECT_EQ(trace(), "set_timeouts set_timeouts");
    EXPECT_TRUE(log_.has_debug("[ser_com_write]: start write [(null)]  mstime 10\n"));
    EXPECT_EQ(
        log_.errors(),
        (lines{"[ser_com_write]: invalid args\n", "[ser_com_read] buf size 2 < 3\n",
               "[ser_com_read]: invalid args\n", "[ser_com_write]:  SetCommTimeouts err, 87\n",
               "[ser_com_read]: SetCommTimeouts err 87\n"}));
}

TEST_F(SerialFake, ReplyInTwoBurstsTakesTwoReadsWithTheReadTimeouts) {
    fresh();
    ser_fake::push_incoming("OK00,1", 5);
    ser_fake::push_incoming(",2\r", 30);
    EXPECT_EQ(read("\r", 1, 1000), 0u);
    EXPECT_EQ(calls_of(op::set_timeouts).at(0).timeouts, (ser_timeouts{20, 0, 1000, 0, 1000}));
    EXPECT_EQ(trace(), "set_timeouts read:63 read:57");  // room for the terminating zero
    EXPECT_EQ(count_, 9);
    EXPECT_EQ(log_.debug(),
              (lines{"[ser_com_read]: start bufsize=[64]  timeout=[1000]ms,  ntc=[1]\n",
                     "[ser_com_read]: read 6 bytes, [OK00,1]\n", "[ser_com_read] tc count 0\n",
                     "[ser_com_read]: read 3 bytes, [,2^M]\n", "[ser_com_read] tc count 1\n",
                     "[ser_com_read]: read [2] times, [9] bytes,took 55 msec\n",
                     "[ser_com_read] end [OK00,1,2^M], err 0x0\n"}));
}

TEST_F(SerialFake, TerminatorCountAndTimeoutRules) {
    const struct {
        const char *incoming;  // what follows a "|" comes 50 ms later
        const char *tc;
        int32_t ntc, timeout, bufsize;
        uint32_t status;
        int32_t count;  // the buffer holds that many bytes of `incoming`
        size_t reads;
    } cases[] = {
        {"OK00\rOK01\rtail", "\r", 1, 300, 64, 0, 14, 1},  // all that came is kept
        {"a\nb\r", "\r\n", 2, 300, 64, 0, 4, 1},           // any one of the set counts
        {"OK00\r", "\r", 1, 0, 64, 0x4000, 0, 0},          // no time: nothing read
        {"OK00\r", "\r", 1, 300, 3, 0, 2, 1},              // a full buffer is no time-out
        {"abc", "\r", 0, 100, 64, 0, 0, 0},
        {"abc", "\r", -1, 100, 64, 0, 0, 0},
        {"abc", nullptr, -1, 100, 64, 0, 0, 0},
        {"abc", nullptr, 1, 100, 64, 0, 3, 1},       // a count of bytes
        {"abc", nullptr, 0, 100, 64, 0x4000, 3, 2},  // until the time-out
        {"OK00,CA-410,|rest\r", nullptr, 12, 2000, 64, 0, 12, 1},
        {"OK00,12", "\r", 1, 300, 64, 0x4000, 7, 2},
    };
    fresh();
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.incoming << " ntc " << c.ntc);
        const std::string in = c.incoming;
        fake().incoming.clear();
        fake().calls.clear();
        ser_fake::push_incoming(in.substr(0, in.find('|')));
        if (in.find('|') != std::string::npos)
            ser_fake::push_incoming(in.substr(in.find('|') + 1), 50);
        EXPECT_EQ(read(c.tc, c.ntc, c.timeout, c.bufsize), c.status);
        EXPECT_EQ(std::string(buf_.data()), in.substr(0, static_cast<size_t>(c.count)));
        EXPECT_EQ(count_, c.count);
        EXPECT_EQ(calls_of(op::read).size(), c.reads);
    }
    // A count without terminators is logged in hex. The second read of a missing terminator
    // gets the whole time-out again: 20 ms + 300 ms.
    expect_debug({"[ser_com_read] end [4f 4b 30 30 2c 43 41 2d 34 31 30 2c], err 0x0\n",
                  "[ser_com_read]: took 320  msec out of 300 msec\n"});
}

TEST_F(SerialFake, FailedReadKeepsTheBytesAndReportsFailureOrLineErrors) {
    fresh();
    fake().incoming.push_back(ser_fake::chunk{"OK0", 0, true});
    EXPECT_EQ(read("\r", 1, 300), 0x20000u);
    EXPECT_EQ(std::string(buf_.data()) + std::to_string(count_), "OK03");
    EXPECT_TRUE(log_.has_debug("[ser_com_read]: read err, 0x20000, rbuf=[OK0]\n"));
    fake().incoming.push_back(ser_fake::chunk{"", 0, true});
    fake().line_errors = SER_CE_RXPARITY | SER_CE_FRAME;
    EXPECT_EQ(read("\r", 1, 300), 0xCu);
}

// --- Exchange ----------------------------------------------------------------

TEST_F(SerialFake, ExchangeDrainsWritesAndReads) {
    fresh();
    ser_fake::push_incoming("stale\r");
    ser_fake::expect_exchange("MES,1\r", "OK00,7,1,2,3\r", 40);
    EXPECT_EQ(exchange("MES,1\r", 3000, 1), 0u);
    EXPECT_STREQ(buf_.data(), "OK00,7,1,2,3\r");
    EXPECT_EQ(count_, 13);
    // Drain: one read with the stale bytes, one that brings nothing; then the write and the answer.
    EXPECT_EQ(trace(),
              "set_timeouts read:499 set_timeouts read:499 set_timeouts write:6 "
              "set_timeouts read:127");
    EXPECT_EQ(calls_of(op::read)[0].data, "stale\r");
    EXPECT_EQ(calls_of(op::set_timeouts)[0].timeouts.ReadTotalTimeoutConstant, 20u);
    // The drain is silent, and the threshold is back afterwards.
    EXPECT_FALSE(log_.has_debug("[ser_com_read]: read 6 bytes, [stale^M]\n"));
    EXPECT_EQ(default_log.debug, 8);
    EXPECT_EQ(log_.errors(), lines{});
    expect_debug({"[ser_com_write_read_ex] : rfirstw =1  tc=[\r] ntc=1 ---   start\n",
                  "[ser_com_write_read_ex] 2nd_read err 0x0\n"});
    // Without a drain, and with a null terminator set.
    ser_fake::expect_exchange("X", "abcd");
    fake().calls.clear();
    EXPECT_EQ(ser_com_write_read(sc_, "X", 0, buf_.data(), 16, &count_, nullptr, 4, 100), 0u);
    EXPECT_EQ(trace(), "set_timeouts write:1 set_timeouts read:15");
    EXPECT_TRUE(
        log_.has_debug("[ser_com_write_read_ex] : rfirstw =0  tc=[(null)] ntc=4 ---   start\n"));
    // Time-outs and failures are told apart.
    ser_fake::expect_exchange("ZRC\r", "");
    EXPECT_EQ(exchange("ZRC\r", 6000, 0), 0x4000u);
    EXPECT_EQ(count_, 0);
    EXPECT_EQ(exchange("RST,0\r", 0, 0), 0x4000u);
    fake().write_ok = false;  // a failed write skips the read and leaves the count
    fake().calls.clear();
    count_ = 99;
    EXPECT_EQ(exchange("RST,0\r", 1000, 0), 0x20000u);
    EXPECT_EQ(count_, 99);
    EXPECT_EQ(trace(), "set_timeouts write:6 clear_error");
    expect_debug({"[ser_com_write_read_ex] 2nd_read timeout 6000 ms, err 0x4000\n",
                  "[ser_com_write_read_ex] ist_write timeout 0 ms, err 0x4000\n",
                  "[ser_com_write_read_ex] write err 0x20000\n"});
}

TEST_F(SerialFake, DrainOfALineThatNeverFallsQuietIsBounded) {
    fresh();
    // Bursts that fill the drain buffer arrive at once: each drain read brings something.
    for (int i = 0; i < 150; i++) ser_fake::push_incoming(std::string(499, 'y'));
    exchange("A\r", 100, 1);
    EXPECT_EQ(calls_of(op::read).size(), static_cast<size_t>(SER_DRAIN_MAX_READS) + 1);
    EXPECT_EQ(log_.errors(), lines{"[ser_com_write_read_ex]: line would not fall quiet, "
                                   "drain stopped after 100 reads in 0 ms\n"});
}

// --- Baud-rate search and log renderers --------------------------------------

TEST_F(SerialFake, FindInstTriesElevenRatesAndLeavesThePortClosed) {
    fresh(false);
    EXPECT_EQ(ser_com_find_inst(sc_), 0u);
    std::vector<uint32_t> rates;
    for (const auto &c : calls_of(op::set_state)) rates.push_back(c.dcb.BaudRate);
    EXPECT_EQ(rates, (std::vector<uint32_t>{38400, 115200, 9600, 4800, 2400, 1200, 57600, 19200,
                                            600, 300, 110}));
    std::string expected;
    for (int i = 0; i < 11; i++) expected += "COM,1\r";
    EXPECT_EQ(fake().written, expected);
    EXPECT_EQ(sc_->is_open, 0);
    EXPECT_EQ(calls_of(op::open_port).size() + calls_of(op::close).size(), 2u);
    expect_debug({"[ser_com_find_inst]: timeout 20000 msec\n",
                  "[ser_com_find_inst]: Trying Baud Rate[0] -- 38400\n",
                  "[ser_com_find_inst]: Trying Baud Rate[10] -- 110\n",
                  "[ser_com_find_inst] try baud over 11----- \n"});
    // A configuration failure stops the search.
    fresh(false);
    fake().open_ok = false;
    EXPECT_EQ(ser_com_find_inst(sc_), 0x20000u);
    EXPECT_TRUE(log_.has_error("[ser_com_find_inst] ser_com_setport err 0x20000\n"));
    EXPECT_EQ(trace(), "open_port");
}

TEST(Com2Hex, RendersUpTo64BytesThenMarks) {
    std::vector<unsigned char> bytes(65, 0xe9);
    const std::string full = com2hex(bytes.data(), 65);
    EXPECT_EQ(full.size(), 64u * 3 - 1 + 3);
    EXPECT_EQ(full.substr(full.size() - 8), "e9 e9...");
    EXPECT_EQ(com2hex(bytes.data(), 64), full.substr(0, 191));
    EXPECT_STREQ(com2hex("\x00\x0a\xff", 3), "00 0a ff");
    EXPECT_STREQ(com2hex("abc", -1), "");
}

TEST(Com2Fix, RendersControlAndHighCharactersInARingOfThree) {
    EXPECT_STREQ(com2fix(nullptr), "(null)");
    const char *first = com2fix("OK\r\n\x01");
    const char *second = com2fix("\xe9\x7f~ ");
    com2fix("three");
    EXPECT_STREQ(first, "OK^M^J^A");
    com2fix("four");
    EXPECT_STREQ(first, "four");  // the fourth call reuses the first call's slot
    EXPECT_STREQ(second, "\\351\x7f~ ");
    // Long texts are cut after 10000 characters; renderings are never split.
    EXPECT_EQ(com2fix(std::string(12000, 'a').c_str()), std::string(10000, 'a') + "...");
    EXPECT_EQ(com2fix(std::string(10000, 'b').c_str()), std::string(10000, 'b'));
    const std::string wide = std::string(9999, 'c') + "\xe9\xe9";
    EXPECT_EQ(com2fix(wide.c_str()), std::string(9999, 'c') + "\\351...");
}

}  // namespace
