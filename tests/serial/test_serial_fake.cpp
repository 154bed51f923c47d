// The serial logic over the scripted backend: every platform call and value, virtual time.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
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
using ::testing::IsSupersetOf;

class SerialFake : public ::testing::Test {
  protected:
    void SetUp() override {
        // What the port reports is all "wrong": every field the logic sets is seen to change.
        fake().reported_dcb = {1200, 0, 1,    1,   1, 2, 1, 0,    1,    1,   1,    1,
                               3,    1, 2048, 512, 8, 1, 1, 0x21, 0x23, '?', 0x1a, '\n'};
    }
    void TearDown() override { ser_com_del(sc_); }
    static ser_fake::state &fake() { return ser_fake::get(); }

    // A fresh record, configured with the instrument's settings unless told not to.
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
        return calls_of(op::set_state).at(0).dcb;
    }
    // The platform calls by name; sleeps, reads and writes with their counts, purges with flags.
    std::string trace() {
        std::string out;
        for (const auto &c : fake().calls) {
            const bool counted = c.what == op::sleep || c.what == op::read || c.what == op::write;
            out += (out.empty() ? "" : " ") + std::string(ser_fake::op_name(c.what));
            if (counted || c.what == op::purge)
                out += ":" + std::to_string(counted ? c.count : c.flags);
        }
        return out;
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

TEST_F(SerialFake, InstrumentSettingsOpenPurgeAndApplyInOrder) {
    ser_dcb d = configure(3, 10, 3, 2, 3);
    EXPECT_EQ(trace(), "open_port sleep:160 get_state purge:15 set_state purge:15 sleep:50");
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
    d.BaudRate = 115200;
    EXPECT_EQ(calls_of(op::set_state).back().dcb, d);
}

TEST_F(SerialFake, FlowParityStopBitsWordLengthAndRateSetTheirFields) {
    // Settings; flow fields (1 on, 2 handshake) with the XON/XOFF characters; line fields.
    using flow_fields =
        std::tuple<uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, char, char>;
    using line_fields = std::tuple<uint32_t, uint8_t, uint8_t, uint8_t>;
    const std::tuple<std::array<int32_t, 4>, flow_fields, line_fields> cases[] = {
        {{1, 1, 1, 1}, {0, 0, 0, 1, 0, 1, 0x21, 0x23}, {0, SER_NOPARITY, SER_ONESTOPBIT, 5}},
        {{2, 2, 2, 2}, {1, 1, 0, 1, 0, 1, 0x11, 0x13}, {1, SER_ODDPARITY, SER_TWOSTOPBITS, 6}},
        {{3, 3, 1, 3}, {0, 0, 1, 2, 0, 1, 0x21, 0x23}, {1, SER_EVENPARITY, SER_ONESTOPBIT, 7}},
        {{4, 1, 2, 4}, {0, 0, 0, 1, 1, 2, 0x21, 0x23}, {0, SER_NOPARITY, SER_TWOSTOPBITS, 8}},
        // Unknown codes: no flow control; the rest keeps what the port reported.
        {{7, 9, 3, 5}, {0, 0, 0, 1, 0, 1, 0x21, 0x23}, {1, SER_ODDPARITY, SER_ONE5STOPBITS, 8}},
    };
    for (const auto &[v, flow, line] : cases) {
        const ser_dcb d = configure(v[0], 7, v[1], v[2], v[3]);
        EXPECT_EQ(flow_fields(d.fOutX, d.fInX, d.fOutxCtsFlow, d.fRtsControl, d.fOutxDsrFlow,
                              d.fDtrControl, d.XonChar, d.XoffChar),
                  flow);
        EXPECT_EQ(line_fields(d.fParity, d.Parity, d.StopBits, d.ByteSize), line) << v[1];
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

TEST_F(SerialFake, FailedSetupAndCloseLeaveThePortClosed) {
    // Which call fails (1 open, 2 get state, 3 set state), settings, message after the tag.
    const std::tuple<int, std::array<int32_t, 5>, const char *> cases[] = {
        {1, {3, 10, 3, 2, 3}, "open [\\\\.\\COM3] err 31"},
        {2, {3, 10, 3, 2, 3}, "read [COM3] state err 31"},
        {3, {3, 10, 3, 2, 3}, "SetCommState err ,31"},
        {0, {0, 0, 0, 0, 0}, "illegal flow control 0"},
        {0, {1, 10, 0, 1, 4}, "illegal parity setting 0"},
        {0, {1, 10, 1, 0, 4}, "illegal stop bits 0"},
        {0, {1, 10, 1, 1, 0}, "illegal word length 0"},
        {0, {1, 0, 1, 1, 4}, "illegal baud rate! (0x0)"},
        {0, {1, 15, 1, 1, 4}, "illegal baud rate! (0xf)"},
        {0, {1, -1, 1, 1, 4}, "illegal baud rate! (0xffffffff)"},
    };
    for (const auto &[fails, v, message] : cases) {
        SCOPED_TRACE(message);
        fresh(false);
        std::tie(fake().open_ok, fake().get_state_ok, fake().set_state_ok, fake().last_error) =
            std::make_tuple(fails != 1, fails != 2, fails != 3, 31u);
        EXPECT_EQ(ser_com_setport(sc_, v[0], v[1], v[2], v[3], v[4]), 0x20000u);
        EXPECT_EQ(log_.errors(), lines{"[ser_com_setport_ex]: " + std::string(message) + "\n"});
        EXPECT_EQ(sc_->is_open, 0);
        EXPECT_EQ(sc_->handle, nullptr);
        EXPECT_EQ(trace(), fails == 1   ? "open_port"
                           : fails == 3 ? "open_port sleep:160 get_state purge:15 set_state "
                                          "close sleep:100"
                                        : "open_port sleep:160 get_state close sleep:100");
    }
    fake().calls.clear();
    EXPECT_EQ(ser_com_setport(nullptr, 3, 10, 3, 2, 3), 0x20000u);
    EXPECT_EQ(trace(), "");
    // Closing: is_open follows the handle.
    fresh();
    sc_->is_open = 0;
    EXPECT_EQ(ser_com_is_open(sc_), 1);  // follows the handle
    ser_com_close(sc_);
    ser_com_close(sc_);  // twice closes once
    EXPECT_EQ(ser_com_is_open(sc_), 0);
    sc_->is_open = 1;  // a stale flag without a port is cleared too
    ser_com_close(sc_);
    EXPECT_EQ(sc_->is_open, 0);
    EXPECT_EQ(ser_com_is_open(nullptr), 0);
    ser_com_del(nullptr);
    ser_com_del(new_ser_com(nullptr));
    EXPECT_EQ(trace(), "close sleep:100");
    fresh();  // delete closes an open port and waits
    ser_com_del(sc_);
    sc_ = nullptr;
    EXPECT_EQ(trace(), "close sleep:100");
}

TEST_F(SerialFake, PortListStoresUpToMaxButEnumeratesAndLogsEveryValue) {
    // The second of three values, list open/close results, names stored (2 at most), log.
    const std::tuple<ser_fake::list_entry, int32_t, int32_t, lines, const char *> cases[] = {
        {{"\\Device\\VCP0", "COM2"}, 0, 0, {"COM1", "COM2"}, "  get [VCP0]"},
        {{"b", "bin", 3}, 0, 0, {"COM1", "COM4"}, " RegEnumValue not return string type"},
        {{"b", std::string(600, 'x')}, 0, 0, {"COM1"}, " RegEnumValue err, 234"},  // MORE_DATA
        {{"b", "COM2", SER_LIST_TYPE_STRING, 5}, 0, 0, {"COM1"}, " RegEnumValue err, 5"},
        {{"b", "COM2"}, 2, 0, {}, " RegOpenKeyEx  error, no serial ports appeared"},
        {{"b", "COM2"}, 0, 6, {"COM1", "COM2"}, "  RegCloseKey err, 6"},
    };
    for (const auto &[second, open_result, close_result, names, logged] : cases) {
        fake().calls.clear();
        fake().list = {{"a", "COM1"}, second, {"c", "COM4"}};
        std::tie(fake().list_open_result, fake().list_close_result) =
            std::tie(open_result, close_result);
        std::vector<char *> got(3, nullptr);
        EXPECT_EQ(get_serial_path(got.data(), 2), 0);
        lines stored;
        for (char *n : got) {
            if (n != nullptr) stored.emplace_back(n);
            free(n);
        }
        EXPECT_EQ(stored, names) << logged;
        const std::string line = "[get_serial_path]:" + std::string(logged) + "\n";
        EXPECT_TRUE(log_.has_debug(line) || log_.has_error(line)) << line;
        EXPECT_EQ(calls_of(op::list_close).size(), open_result == 0 ? 1u : 0u);
    }
    const auto end = calls_of(op::list_value).at(3);  // three values and the end
    EXPECT_EQ(std::make_tuple(end.index, end.name_size, end.data_size),
              std::make_tuple(3u, 500u, 500u));
}

TEST_F(SerialFake, WriteSendsATextOrBytesWithinItsTimeAndRefusesBadCalls) {
    fresh();
    EXPECT_EQ(ser_com_write(sc_, "IDO,0,1\r", 0, 1000), 0u);
    EXPECT_EQ(calls_of(op::set_timeouts).at(0).timeouts, (ser_timeouts{0, 0, 1000, 0, 1000}));
    EXPECT_EQ(log_.debug(), (lines{"[ser_com_write]: start write [IDO,0,1^M]  mstime 1000\n",
                                   "[ser_com_write]: write 8 bytes\n",
                                   "[ser_com_write] took 0 ms, error 0x0\n"}));
    // With a length: raw bytes, logged in hex. A negative length writes nothing and succeeds.
    EXPECT_EQ(ser_com_write(sc_, "\x01\xe9", 2, 100), 0u);
    EXPECT_EQ(ser_com_write(sc_, "AB", -3, 100), 0u);
    EXPECT_TRUE(log_.has_debug("[ser_com_write]: start write [01 e9]  mstime 100\n"));
    // A line held back by its handshake takes two bytes, then the time runs out.
    fake().write_accept = 2;
    EXPECT_EQ(ser_com_write(sc_, "ABCDEFG", 0, 100), 0x4000u);
    EXPECT_THAT(log_.debug(), IsSupersetOf({"[ser_com_write] took 100 ms > 100 ms\n",
                                            "[ser_com_write] took 100 ms, error 0x4000\n"}));
    fake().write_accept = UINT32_MAX;
    fake().write_ms = 100;  // all bytes out, but the time used up: a time-out too
    EXPECT_EQ(ser_com_write(sc_, "CD", 0, 100), 0x4000u);
    EXPECT_EQ(fake().written, "IDO,0,1\r\x01\351ABCD");
    EXPECT_EQ(calls_of(op::write).size(), 4u);
    // A failed write reports the line errors (not an overrun), else a failure.
    const std::tuple<uint32_t, bool, uint32_t> failures[] = {
        {SER_CE_BREAK, true, 0x10},      {SER_CE_FRAME, true, 0x8},
        {SER_CE_RXPARITY, true, 0x4},    {0x1f, true, 0x1e},
        {SER_CE_OVERRUN, true, 0x20000}, {SER_CE_FRAME, false, 0x20000}};
    fake().write_ok = false;
    for (const auto &[flags, clear_ok, status] : failures) {
        log_.clear();
        std::tie(fake().line_errors, fake().clear_error_ok) = std::tie(flags, clear_ok);
        EXPECT_EQ(ser_com_write(sc_, "AB", 0, 100), status) << flags << clear_ok;
        char line[64];
        snprintf(line, sizeof line, "[ser_com_write]: write err, 0x%x\n", status);
        EXPECT_TRUE(log_.has_debug(line));
        EXPECT_EQ(log_.has_debug("[ser_com_write]: ClearCommError err\n"), !clear_ok);
    }
    // Refused calls touch nothing.
    fresh(false);
    char b[16];
    int32_t count = 77;
    EXPECT_EQ(ser_com_write(nullptr, "A", 0, 10), 0x20000u);
    EXPECT_EQ(ser_com_read(sc_, b, 16, &count, "\r", 1, 10), 0x20000u);
    EXPECT_EQ(ser_com_write_read_ex(sc_, "A", 0, b, 16, &count, "\r", 1, 10, 1), 0x20000u);
    EXPECT_EQ(log_.error_text(),
              "[ser_com_write]:  dev not init\n[ser_com_read]:  dev not init\n"
              "[ser_com_write_read_ex]: dev not init\n");
    fresh();
    EXPECT_EQ(ser_com_write(sc_, nullptr, 3, 10), 0x20000u);
    EXPECT_EQ(ser_com_read(sc_, b, 2, &count, "\r", 1, 10), 0x20000u);
    EXPECT_EQ(ser_com_read(sc_, nullptr, 16, &count, "\r", 1, 10), 0x20000u);
    EXPECT_EQ(count, 77);
    std::tie(fake().set_timeouts_ok, fake().last_error) = std::make_tuple(false, 87u);
    EXPECT_EQ(ser_com_write(sc_, "A", 0, 10), 0x20000u);
    EXPECT_EQ(ser_com_read(sc_, b, 16, nullptr, "\r", 1, 10), 0x20000u);
    EXPECT_EQ(trace(), "set_timeouts set_timeouts");
    EXPECT_EQ(log_.error_text(),
              "[ser_com_write]: invalid args\n[ser_com_read] buf size 2 < 3\n"
              "[ser_com_read]: invalid args\n[ser_com_write]:  SetCommTimeouts err, 87\n"
              "[ser_com_read]: SetCommTimeouts err 87\n");
}

TEST_F(SerialFake, ReadTimeoutsTerminatorsAndCounts) {
    // In (after "|": 50 ms later), tc, ntc, time-out, size; result, count, platform reads.
    const std::tuple<std::string, const char *, int32_t, int32_t, int32_t, uint32_t, int32_t,
                     size_t>
        cases[] = {
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
    // A reply in two bursts takes two reads, each with the 20 ms interval.
    ser_fake::push_incoming("OK00,1", 5);
    ser_fake::push_incoming(",2\r", 30);
    EXPECT_EQ(read("\r", 1, 1000), 0u);
    EXPECT_EQ(calls_of(op::set_timeouts).at(0).timeouts, (ser_timeouts{20, 0, 1000, 0, 1000}));
    EXPECT_EQ(trace(), "set_timeouts read:63 read:57");  // room for the terminating zero
    EXPECT_EQ(count_, 9);
    EXPECT_EQ(log_.debug_text(),
              "[ser_com_read]: start bufsize=[64]  timeout=[1000]ms,  ntc=[1]\n"
              "[ser_com_read]: read 6 bytes, [OK00,1]\n[ser_com_read] tc count 0\n"
              "[ser_com_read]: read 3 bytes, [,2^M]\n[ser_com_read] tc count 1\n"
              "[ser_com_read]: read [2] times, [9] bytes,took 55 msec\n"
              "[ser_com_read] end [OK00,1,2^M], err 0x0\n");
    for (const auto &[in, tc, ntc, timeout, bufsize, status, count, reads] : cases) {
        SCOPED_TRACE(testing::Message() << in << " ntc " << ntc);
        fake().incoming.clear();
        fake().calls.clear();
        const size_t bar = in.find('|');
        ser_fake::push_incoming(in.substr(0, bar));
        if (bar != std::string::npos) ser_fake::push_incoming(in.substr(bar + 1), 50);
        EXPECT_EQ(read(tc, ntc, timeout, bufsize), status);
        EXPECT_EQ(buf_.data() + std::to_string(count_),
                  in.substr(0, count) + std::to_string(count));
        EXPECT_EQ(calls_of(op::read).size(), reads);
    }
    // Hex for a count without terminators; a second read gets the whole time-out again.
    EXPECT_THAT(log_.debug(),
                IsSupersetOf({"[ser_com_read] end [4f 4b 30 30 2c 43 41 2d 34 31 30 2c], err 0x0\n",
                              "[ser_com_read]: took 320  msec out of 300 msec\n"}));
    // A failed read keeps what came, and reports the line errors.
    fake().incoming = {{"OK0", 0, true}, {"", 0, true}};
    EXPECT_EQ(read("\r", 1, 300), 0x20000u);
    EXPECT_EQ(buf_.data() + std::to_string(count_), "OK03");
    EXPECT_TRUE(log_.has_debug("[ser_com_read]: read err, 0x20000, rbuf=[OK0]\n"));
    fake().line_errors = SER_CE_RXPARITY | SER_CE_FRAME;
    EXPECT_EQ(read("\r", 1, 300), 0xCu);
}

TEST_F(SerialFake, ExchangeDrainsWritesAndReads) {
    fresh();
    ser_fake::push_incoming("stale\r");
    ser_fake::expect_exchange("MES,1\r", "OK00,7,1,2,3\r", 40);
    EXPECT_EQ(exchange("MES,1\r", 3000, 1), 0u);
    EXPECT_EQ(buf_.data() + std::to_string(count_), "OK00,7,1,2,3\r13");
    // Drain: a silent 20 ms read takes the stale bytes, the next none; then the exchange.
    EXPECT_EQ(trace(),
              "set_timeouts read:499 set_timeouts read:499 set_timeouts write:6 "
              "set_timeouts read:127");
    EXPECT_EQ(calls_of(op::set_timeouts)[0].timeouts.ReadTotalTimeoutConstant, 20u);
    EXPECT_FALSE(log_.has_debug("[ser_com_read]: read 6 bytes, [stale^M]\n"));
    EXPECT_EQ(default_log.debug, 8);
    EXPECT_EQ(fake().mismatches, lines{});
    EXPECT_EQ(log_.errors(), lines{});
    // Time-outs and failures are told apart; a failed write skips the read, leaves the count.
    ser_fake::expect_exchange("ZRC\r", "");
    EXPECT_EQ(ser_com_write_read(sc_, "ZRC\r", 0, buf_.data(), 9, &count_, nullptr, 4, 6000),
              0x4000u);
    EXPECT_EQ(count_, 0);
    EXPECT_EQ(exchange("RST,0\r", 0, 0), 0x4000u);
    fake().write_ok = false;
    fake().calls.clear();
    EXPECT_EQ(exchange("RST,0\r", 1000, 0), 0x20000u);
    EXPECT_EQ(count_, 0);
    EXPECT_EQ(trace(), "set_timeouts write:6 clear_error");
    EXPECT_THAT(
        log_.debug(),
        IsSupersetOf({"[ser_com_write_read_ex] : rfirstw =1  tc=[\r] ntc=1 ---   start\n",
                      "[ser_com_write_read_ex] 2nd_read err 0x0\n",
                      "[ser_com_write_read_ex] : rfirstw =0  tc=[(null)] ntc=4 ---   start\n",
                      "[ser_com_write_read_ex] 2nd_read timeout 6000 ms, err 0x4000\n",
                      "[ser_com_write_read_ex] ist_write timeout 0 ms, err 0x4000\n",
                      "[ser_com_write_read_ex] write err 0x20000\n"}));
    // A line that never falls quiet: bursts that fill the drain buffer arrive at once.
    fake().write_ok = true;
    for (int i = 0; i < 150; i++) ser_fake::push_incoming(std::string(499, 'y'));
    fake().calls.clear();
    exchange("A\r", 100, 1);
    EXPECT_EQ(calls_of(op::read).size(), SER_DRAIN_MAX_READS + 1u);
    EXPECT_EQ(log_.error_text(),
              "[ser_com_write_read_ex]: line would not fall quiet, drain "
              "stopped after 100 reads in 0 ms\n");
}

TEST_F(SerialFake, FindInstTriesElevenRatesAndLeavesThePortClosed) {
    fresh(false);
    EXPECT_EQ(ser_com_find_inst(sc_), 0u);
    std::string rates;
    for (const auto &c : calls_of(op::set_state)) rates += std::to_string(c.dcb.BaudRate) + " ";
    EXPECT_EQ(rates, "38400 115200 9600 4800 2400 1200 57600 19200 600 300 110 ");
    EXPECT_EQ(fake().written.size(), 11 * strlen("COM,1\r"));  // one probe each
    EXPECT_EQ(trace().substr(trace().size() - 15), "close sleep:100");
    EXPECT_THAT(log_.debug(), IsSupersetOf({"[ser_com_find_inst]: timeout 20000 msec\n",
                                            "[ser_com_find_inst]: Trying Baud Rate[10] -- 110\n",
                                            "[ser_com_find_inst] try baud over 11----- \n"}));
    fresh(false);  // a configuration failure stops the search
    fake().open_ok = false;
    EXPECT_EQ(ser_com_find_inst(sc_), 0x20000u);
    EXPECT_EQ(log_.error_text(),
              "[ser_com_setport_ex]: open [\\\\.\\COM3] err 0\n"
              "[ser_com_find_inst] ser_com_setport err 0x20000\n");
}

TEST(Com2HexAndCom2Fix, RenderTheirLimitsAndMarkers) {
    const std::vector<unsigned char> bytes(65, 0xe9);
    const std::string full = com2hex(bytes.data(), 65);  // 64 bytes, then a marker
    EXPECT_EQ(full, std::string(com2hex(bytes.data(), 64)) + "...");
    EXPECT_EQ(full.substr(0, 6) + std::to_string(full.size()), "e9 e9 194");
    const char *first = com2fix("OK\r\n\x01");
    const char *second = com2fix("\xe9\x7f~ ");
    com2fix("three");
    EXPECT_STREQ(first, "OK^M^J^A");
    com2fix("four");
    EXPECT_STREQ(first, "four");  // a ring of three: the fourth call reuses the first's slot
    EXPECT_STREQ(second, "\\351\x7f~ ");
    // Long texts are cut after 10000 characters; renderings are never split.
    EXPECT_EQ(com2fix(std::string(12000, 'a').c_str()), std::string(10000, 'a') + "...");
    const std::string wide = std::string(9999, 'c') + "\xe9\xe9";
    EXPECT_EQ(com2fix(wide.c_str()), std::string(9999, 'c') + "\\351...");
}

}  // namespace
