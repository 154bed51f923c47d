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

namespace {

using ser_fake::op;
using ::testing::ElementsAre;
using lines = std::vector<std::string>;

// Every field, so that a mismatch prints all of them.
auto fields(const ser_dcb &d) {
    return std::make_tuple(d.BaudRate, d.fBinary, d.fParity, d.fOutxCtsFlow, d.fOutxDsrFlow,
                           d.fDtrControl, d.fDsrSensitivity, d.fTXContinueOnXoff, d.fOutX, d.fInX,
                           d.fErrorChar, d.fNull, d.fRtsControl, d.fAbortOnError, d.XonLim,
                           d.XoffLim, d.ByteSize, d.Parity, d.StopBits, d.XonChar, d.XoffChar,
                           d.ErrorChar, d.EofChar, d.EvtChar);
}

auto fields(const ser_timeouts &t) {
    return std::make_tuple(t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier,
                           t.ReadTotalTimeoutConstant, t.WriteTotalTimeoutMultiplier,
                           t.WriteTotalTimeoutConstant);
}

class SerialFake : public ::testing::Test {
  protected:
    void SetUp() override {
        // What a port reports before we touch it: everything "wrong" so that
        // every field the logic sets is seen to change.
        ser_dcb &d = fake().reported_dcb;
        d.BaudRate = 1200;
        d.fParity = d.fOutxCtsFlow = d.fOutxDsrFlow = d.fDsrSensitivity = 1;
        d.fOutX = d.fInX = d.fErrorChar = d.fNull = d.fAbortOnError = 1;
        d.fDtrControl = SER_DTR_CONTROL_HANDSHAKE;
        d.fRtsControl = SER_RTS_CONTROL_TOGGLE;
        d.XonLim = 2048;
        d.XoffLim = 512;
        d.ByteSize = 8;
        d.Parity = SER_ODDPARITY;
        d.StopBits = SER_ONE5STOPBITS;
        d.XonChar = 0x21;
        d.XoffChar = 0x23;
        d.ErrorChar = '?';
        d.EofChar = 0x1a;
        d.EvtChar = '\n';
    }
    void TearDown() override {
        EXPECT_TRUE(fake().mismatches.empty())
            << "unexpected bytes written: " << fake().mismatches[0];
        ser_com_del(sc_);
    }

    static ser_fake::state &fake() { return ser_fake::get(); }

    // A fresh closed record; the calls and the log start afresh.
    void fresh(const char *name = "COM1") {
        ser_com_del(sc_);
        sc_ = new_ser_com(name);
        fake().calls.clear();
        log_.clear();
    }

    // A port opened and configured with the instrument's settings; the
    // record of calls starts afresh after it.
    void open_port(const char *name = "COM3") {
        fresh(name);
        EXPECT_EQ(ser_com_setport(sc_, 3, 10, 3, 2, 3), 0u);
        fake().calls.clear();
    }

    // Configures a fresh record and gives the state it set.
    ser_dcb configure(int32_t flow, int32_t baud, int32_t parity, int32_t stop, int32_t word) {
        fresh();
        EXPECT_EQ(ser_com_setport(sc_, flow, baud, parity, stop, word), 0u);
        return last_dcb();
    }

    ser_dcb last_dcb() {
        auto sets = ser_fake::calls_of(op::set_state);
        EXPECT_FALSE(sets.empty());
        return sets.empty() ? ser_dcb{} : sets.back().dcb;
    }

    std::vector<uint32_t> sleeps() {
        std::vector<uint32_t> out;
        for (const auto &c : ser_fake::calls_of(op::sleep)) out.push_back(c.count);
        return out;
    }

    std::vector<op> ops() {
        std::vector<op> out;
        for (const auto &c : fake().calls) out.push_back(c.what);
        return out;
    }

    ser_fake::scoped_install install_;
    log_capture log_{8};
    ser_com *sc_ = nullptr;
};

// --- Opening and configuring -------------------------------------------------

TEST_F(SerialFake, NewRecordIsClosedAndUnconfigured) {
    sc_ = new_ser_com("COM7");
    ASSERT_NE(sc_, nullptr);
    EXPECT_STREQ(sc_->port_name, "COM7");
    EXPECT_EQ(sc_->handle, nullptr);
    EXPECT_EQ(sc_->is_open, 0);
    EXPECT_EQ(sc_->flow_control + sc_->baud_rate + sc_->parity + sc_->stop_bits + sc_->word_length,
              0);
    EXPECT_TRUE(fake().calls.empty());
    ser_com *unnamed = new_ser_com(nullptr);
    ASSERT_NE(unnamed, nullptr);
    EXPECT_EQ(unnamed->port_name, nullptr);
    ser_com_del(unnamed);
}

TEST_F(SerialFake, InstrumentSettingsOpenPurgeAndApplyInOrder) {
    fresh("COM3");
    EXPECT_EQ(ser_com_setport(sc_, 3, 10, 3, 2, 3), 0u);
    EXPECT_THAT(ops(), ElementsAre(op::open_port, op::sleep, op::get_state, op::purge,
                                   op::set_state, op::purge, op::sleep));
    const auto open = ser_fake::calls_of(op::open_port)[0];
    EXPECT_EQ(open.port_name, "COM3");
    EXPECT_EQ(open.path, "\\\\.\\COM3");
    for (const auto &p : ser_fake::calls_of(op::purge)) EXPECT_EQ(p.flags, 0xFu);
    EXPECT_THAT(sleeps(), ElementsAre(160u, 50u));
    EXPECT_EQ(sc_->is_open, 1);
    EXPECT_NE(sc_->handle, nullptr);
    // 38400 7E2 with RTS/CTS; the limits and characters keep what the port reported.
    ser_dcb want = fake().reported_dcb;
    want.BaudRate = 38400;
    want.fBinary = want.fTXContinueOnXoff = 1;
    want.fOutxDsrFlow = want.fDsrSensitivity = want.fOutX = want.fInX = 0;
    want.fErrorChar = want.fNull = want.fAbortOnError = 0;
    want.fDtrControl = SER_DTR_CONTROL_ENABLE;
    want.fRtsControl = SER_RTS_CONTROL_HANDSHAKE;
    want.ByteSize = 7;
    want.Parity = SER_EVENPARITY;
    want.StopBits = SER_TWOSTOPBITS;
    EXPECT_EQ(fields(last_dcb()), fields(want));
    EXPECT_EQ(log_.debug_text(),
              "[ser_com_setport_ex]  [COM3] is_open=0\n"
              "[ser_com_setport_ex] : args Flow control = 3  Baud Rate   = 38400   Parity = 3\n"
              "[ser_com_setport_ex] : args Stop bits    = 2  Word length = 3   msdely = 0\n"
              "[ser_com_setport_ex]: start open [COM3]\n"
              "[ser_com_setport_ex]:  done\n");
}

TEST_F(SerialFake, FlowControlSetsItsDcbFields) {
    constexpr uint32_t rts = SER_RTS_CONTROL_ENABLE, dtr = SER_DTR_CONTROL_ENABLE;
    const struct {
        int32_t code;
        uint32_t out_x, in_x, cts, rts, dsr, dtr;
        char xon, xoff;
    } cases[] = {
        {1, 0, 0, 0, rts, 0, dtr, 0x21, 0x23},
        {2, 1, 1, 0, rts, 0, dtr, 0x11, 0x13},
        {3, 0, 0, 1, SER_RTS_CONTROL_HANDSHAKE, 0, dtr, 0x21, 0x23},
        {4, 0, 0, 0, rts, 1, SER_DTR_CONTROL_HANDSHAKE, 0x21, 0x23},
        {7, 0, 0, 0, rts, 0, dtr, 0x21, 0x23},  // not in the table: no flow control
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.code);
        const ser_dcb d = configure(c.code, 7, 1, 1, 4);
        EXPECT_EQ(std::make_tuple(d.fOutX, d.fInX, d.fOutxCtsFlow, d.fRtsControl, d.fOutxDsrFlow,
                                  d.fDtrControl, d.XonChar, d.XoffChar),
                  std::make_tuple(c.out_x, c.in_x, c.cts, c.rts, c.dsr, c.dtr, c.xon, c.xoff));
    }
}

TEST_F(SerialFake, LineSettingsMapParityStopBitsAndWordLength) {
    // The port reports fParity 1, odd parity, 1.5 stop bits and 8 data bits;
    // unknown codes keep those.
    const struct {
        int32_t parity, stop, word;
        uint32_t f_parity;
        uint8_t parity_field, stop_field, byte_size;
    } cases[] = {
        {1, 1, 1, 0, SER_NOPARITY, SER_ONESTOPBIT, 5},
        {2, 2, 2, 1, SER_ODDPARITY, SER_TWOSTOPBITS, 6},
        {3, 1, 3, 1, SER_EVENPARITY, SER_ONESTOPBIT, 7},
        {1, 2, 4, 0, SER_NOPARITY, SER_TWOSTOPBITS, 8},
        {9, 3, 5, 1, SER_ODDPARITY, SER_ONE5STOPBITS, 8},
        {-1, -1, -1, 1, SER_ODDPARITY, SER_ONE5STOPBITS, 8},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.parity << " " << c.stop << " " << c.word);
        const ser_dcb d = configure(1, 7, c.parity, c.stop, c.word);
        EXPECT_EQ(std::make_tuple(d.fParity, d.Parity, d.StopBits, d.ByteSize),
                  std::make_tuple(c.f_parity, c.parity_field, c.stop_field, c.byte_size));
    }
}

TEST_F(SerialFake, IndexSelectsTheRateAndItsText) {
    const uint32_t rates[] = {110,   300,   600,   1200,  2400,   4800,   9600,
                              14400, 19200, 38400, 57600, 115200, 230400, 921600};
    for (int32_t i = 1; i <= 14; i++) {
        SCOPED_TRACE(i);
        const uint32_t rate = rates[i - 1];
        EXPECT_EQ(configure(1, i, 1, 1, 4).BaudRate, rate);
        EXPECT_EQ(baud_rate_to_str(i), std::to_string(rate));
    }
    EXPECT_STREQ(baud_rate_to_str(0), "not configured");
    EXPECT_STREQ(baud_rate_to_str(15), "unknown");
    EXPECT_STREQ(baud_rate_to_str(-1), "unknown");
}

TEST_F(SerialFake, IllegalSettingsCloseThePortWithTheirMessage) {
    const struct {
        int32_t flow, baud, parity, stop, word;
        const char *message;
    } cases[] = {
        {0, 0, 0, 0, 0, "[ser_com_setport_ex]: illegal flow control 0\n"},
        {1, 10, 0, 1, 4, "[ser_com_setport_ex]: illegal parity setting 0\n"},
        {1, 10, 1, 0, 4, "[ser_com_setport_ex]: illegal stop bits 0\n"},
        {1, 10, 1, 1, 0, "[ser_com_setport_ex]: illegal word length 0\n"},
        {1, 0, 1, 1, 4, "[ser_com_setport_ex]: illegal baud rate! (0x0)\n"},
        {1, 15, 1, 1, 4, "[ser_com_setport_ex]: illegal baud rate! (0xf)\n"},
        {1, -1, 1, 1, 4, "[ser_com_setport_ex]: illegal baud rate! (0xffffffff)\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message);
        fresh();
        EXPECT_EQ(ser_com_setport(sc_, c.flow, c.baud, c.parity, c.stop, c.word), 0x20000u);
        EXPECT_EQ(log_.errors(), lines{c.message});
        EXPECT_EQ(sc_->is_open, 0);
        EXPECT_EQ(sc_->handle, nullptr);
        EXPECT_TRUE(ser_fake::calls_of(op::set_state).empty());
        EXPECT_EQ(ser_fake::calls_of(op::close).size(), 1u);
        EXPECT_THAT(sleeps(), ElementsAre(160u, 100u));
    }
    // The last one: an unknown rate is named so, and kept (a retry must pass a legal value).
    EXPECT_TRUE(log_.has_debug(
        "[ser_com_setport_ex] : args Flow control = 1  Baud Rate   = unknown   Parity = 1\n"));
    EXPECT_EQ(sc_->baud_rate, -1);
}

TEST_F(SerialFake, StoredSettingsSurviveACloseAndReopen) {
    open_port();
    ser_com_close(sc_);
    EXPECT_EQ(sc_->is_open, 0);
    fake().calls.clear();
    // Only the rate changes; the rest comes from the record.
    EXPECT_EQ(ser_com_setport(sc_, 0, 12, 0, 0, 0), 0u);
    EXPECT_EQ(ser_fake::calls_of(op::open_port)[0].port_name, "COM3");
    const ser_dcb d = last_dcb();
    EXPECT_EQ(std::make_tuple(d.BaudRate, d.Parity, d.StopBits, d.ByteSize, d.fOutxCtsFlow),
              std::make_tuple(115200u, SER_EVENPARITY, SER_TWOSTOPBITS, uint8_t{7}, 1u));
}

TEST_F(SerialFake, ReconfiguringAnOpenPortDoesNotReopenOrWaitForIt) {
    open_port();
    EXPECT_EQ(ser_com_setport_ex(sc_, 0, 7, 0, 0, 0, 500), 0u);
    EXPECT_THAT(ops(), ElementsAre(op::get_state, op::purge, op::set_state, op::purge, op::sleep));
    EXPECT_THAT(sleeps(), ElementsAre(50u));
    EXPECT_EQ(last_dcb().BaudRate, 9600u);
    EXPECT_EQ(last_dcb().ByteSize, 7);
}

TEST_F(SerialFake, OpenDelayHasA160msFloor) {
    for (const auto &[asked, slept] :
         {std::pair<int32_t, uint32_t>{0, 160}, {-5, 160}, {160, 160}, {500, 500}}) {
        SCOPED_TRACE(asked);
        fresh();
        ASSERT_EQ(ser_com_setport_ex(sc_, 3, 10, 3, 2, 3, asked), 0u);
        EXPECT_THAT(sleeps(), ElementsAre(slept, 50u));
    }
}

TEST_F(SerialFake, SetupFailuresLeaveTheRecordClosed) {
    const struct {
        bool open_ok, get_ok, set_ok;
        uint32_t error;
        const char *message;
    } cases[] = {
        {false, true, true, 2, "[ser_com_setport_ex]: open [\\\\.\\COM1] err 2\n"},
        {true, false, true, 5, "[ser_com_setport_ex]: read [COM1] state err 5\n"},
        {true, true, false, 31, "[ser_com_setport_ex]: SetCommState err ,31\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message);
        fresh();
        fake().open_ok = c.open_ok;
        fake().get_state_ok = c.get_ok;
        fake().set_state_ok = c.set_ok;
        fake().last_error = c.error;
        EXPECT_EQ(ser_com_setport(sc_, 3, 10, 3, 2, 3), 0x20000u);
        EXPECT_EQ(log_.errors(), lines{c.message});
        EXPECT_EQ(sc_->is_open, 0);
        EXPECT_EQ(ser_fake::calls_of(op::close).size(), c.open_ok ? 1u : 0u);
        EXPECT_EQ(sleeps().size(), c.open_ok ? 2u : 0u);
    }
    EXPECT_THAT(ops(), ElementsAre(op::open_port, op::sleep, op::get_state, op::purge,
                                   op::set_state, op::close, op::sleep));
    fake().calls.clear();
    EXPECT_EQ(ser_com_setport(nullptr, 3, 10, 3, 2, 3), 0x20000u);
    EXPECT_TRUE(fake().calls.empty());
}

// --- Closing -----------------------------------------------------------------

TEST_F(SerialFake, CloseIsOpenAndDelete) {
    open_port();
    sc_->is_open = 0;
    EXPECT_EQ(ser_com_is_open(sc_), 1);  // follows the handle
    EXPECT_EQ(sc_->is_open, 1);
    ser_com_close(sc_);
    ser_com_close(sc_);  // twice sleeps once
    EXPECT_THAT(ops(), ElementsAre(op::close, op::sleep));
    EXPECT_THAT(sleeps(), ElementsAre(100u));
    EXPECT_EQ(ser_com_is_open(sc_), 0);
    EXPECT_EQ(ser_com_is_open(nullptr), 0);
    ser_com_close(nullptr);
    // Delete closes an open port and waits, but not a closed one.
    open_port();
    ser_com_del(sc_);
    sc_ = nullptr;
    EXPECT_THAT(ops(), ElementsAre(op::close, op::sleep));
    fake().calls.clear();
    ser_com_del(new_ser_com("COM1"));
    ser_com_del(nullptr);
    EXPECT_TRUE(fake().calls.empty());
}

// --- Port listing ------------------------------------------------------------

class PortList : public SerialFake {
  protected:
    lines list(int32_t max) {
        std::vector<char *> names(8, nullptr);
        EXPECT_EQ(get_serial_path(names.data(), max), 0);
        lines out;
        for (char *n : names) {
            if (n == nullptr) continue;
            out.emplace_back(n);
            free(n);
        }
        return out;
    }
};

TEST_F(PortList, StoresUpToMaxButEnumeratesAndLogsEveryValue) {
    fake().list = {{"\\Device\\Serial0", "COM1"}, {"\\Device\\VCP0", "COM5"}, {"Plain", "COM7"}};
    EXPECT_EQ(list(2), (lines{"COM1", "COM5"}));
    EXPECT_TRUE(log_.has_debug("[get_serial_path]: vname = [Plain] value=[COM7]\n"));
    EXPECT_TRUE(log_.has_debug("[get_serial_path]:  get [Plain]\n"));
    EXPECT_TRUE(log_.has_debug("[get_serial_path]:  get [VCP0]\n"));
    EXPECT_TRUE(log_.has_debug("[get_serial_path]: got ERROR_NO_MORE_ITEMS\n"));
    const auto values = ser_fake::calls_of(op::list_value);
    ASSERT_EQ(values.size(), 4u);  // three values and the end
    for (uint32_t i = 0; i < values.size(); i++) {
        EXPECT_EQ(std::make_tuple(values[i].index, values[i].name_size, values[i].data_size),
                  std::make_tuple(i, 500u, 500u));
    }
    EXPECT_EQ(ser_fake::calls_of(op::list_close).size(), 1u);
}

TEST_F(PortList, OddValuesAreSkippedOrEndTheListing) {
    const struct {
        std::vector<ser_fake::list_entry> entries;
        lines names;
        const char *logged;
    } cases[] = {
        {{{"a", "COM1"}, {"b", "bin", 3}, {"c", "COM4"}},
         {"COM1", "COM4"},
         "[get_serial_path]: RegEnumValue not return string type\n"},
        // ERROR_MORE_DATA
        {{{"a", "COM1"}, {"b", std::string(600, 'x')}, {"c", "COM4"}},
         {"COM1"},
         "[get_serial_path]: RegEnumValue err, 234\n"},
        {{{"a", "COM1"}, {"b", "COM2", SER_LIST_TYPE_STRING, 5}, {"c", "COM4"}},
         {"COM1"},
         "[get_serial_path]: RegEnumValue err, 5\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.logged);
        log_.clear();
        fake().list = c.entries;
        EXPECT_EQ(list(8), c.names);
        EXPECT_TRUE(log_.has_debug(c.logged));
    }
}

TEST_F(PortList, MissingKeyStoresNothing) {
    fake().list_open_result = 2;
    fake().list = {{"a", "COM1"}};
    EXPECT_TRUE(list(8).empty());
    EXPECT_EQ(log_.errors(),
              lines{"[get_serial_path]: RegOpenKeyEx  error, no serial ports appeared\n"});
    EXPECT_TRUE(ser_fake::calls_of(op::list_value).empty());
    EXPECT_TRUE(ser_fake::calls_of(op::list_close).empty());
}

TEST_F(PortList, CloseFailureIsLoggedAndTheNamesKept) {
    fake().list = {{"a", "COM1"}};
    fake().list_close_result = 6;
    EXPECT_EQ(list(8), (lines{"COM1"}));
    EXPECT_EQ(log_.errors(), lines{"[get_serial_path]:  RegCloseKey err, 6\n"});
}

// --- Write -------------------------------------------------------------------

TEST_F(SerialFake, WriteOfATextSendsItsLengthAndSetsWriteTimeouts) {
    open_port();
    EXPECT_EQ(ser_com_write(sc_, "IDO,0,1\r", 0, 1000), 0u);
    EXPECT_EQ(fake().written, "IDO,0,1\r");
    EXPECT_EQ(fields(ser_fake::calls_of(op::set_timeouts)[0].timeouts),
              std::make_tuple(0u, 0u, 1000u, 0u, 1000u));
    EXPECT_TRUE(log_.has_debug("[ser_com_write]: start write [IDO,0,1^M]  mstime 1000\n"));
    EXPECT_TRUE(log_.has_debug("[ser_com_write]: write 8 bytes\n"));
    EXPECT_TRUE(log_.has_debug("[ser_com_write] took 0 ms, error 0x0\n"));
    // With a length: raw bytes, logged in hex.
    EXPECT_EQ(ser_com_write(sc_, "\x01\xe9", 2, 100), 0u);
    EXPECT_EQ(fake().written, "IDO,0,1\r\x01\xe9");
    EXPECT_TRUE(log_.has_debug("[ser_com_write]: start write [01 e9]  mstime 100\n"));
    // A negative length writes nothing and succeeds.
    fake().calls.clear();
    EXPECT_EQ(ser_com_write(sc_, "AB", -3, 100), 0u);
    EXPECT_TRUE(ser_fake::calls_of(op::write).empty());
}

TEST_F(SerialFake, ShortWriteRunsOutTheTimeAndReportsIt) {
    open_port();
    fake().write_accept = 2;  // a line held back by its handshake
    EXPECT_EQ(ser_com_write(sc_, "ABCDEFG", 0, 100), 0x4000u);
    EXPECT_EQ(fake().written, "AB");
    EXPECT_EQ(ser_fake::calls_of(op::write).size(), 1u);
    EXPECT_TRUE(log_.has_debug("[ser_com_write]: write 2 bytes\n"));
    EXPECT_TRUE(log_.has_debug("[ser_com_write] took 100 ms > 100 ms\n"));
    EXPECT_TRUE(log_.has_debug("[ser_com_write] took 100 ms, error 0x4000\n"));
    // All bytes out but the time used up is a time-out too.
    fake().write_accept = UINT32_MAX;
    fake().write_ms = 100;
    EXPECT_EQ(ser_com_write(sc_, "CD", 0, 100), 0x4000u);
    EXPECT_EQ(fake().written, "ABCD");
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
    open_port();
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

TEST_F(SerialFake, IoOnAClosedOrMissingRecordIsRefused) {
    sc_ = new_ser_com("COM1");
    char buffer[16];
    int32_t count = 77;
    EXPECT_EQ(ser_com_write(nullptr, "A", 0, 10), 0x20000u);
    EXPECT_EQ(ser_com_write(sc_, "A", 0, 10), 0x20000u);
    EXPECT_EQ(ser_com_read(sc_, buffer, 16, &count, "\r", 1, 10), 0x20000u);
    EXPECT_EQ(ser_com_read(nullptr, buffer, 16, &count, "\r", 1, 10), 0x20000u);
    EXPECT_EQ(ser_com_write_read_ex(sc_, "A", 0, buffer, 16, &count, "\r", 1, 10, 1), 0x20000u);
    EXPECT_EQ(count, 77);
    EXPECT_EQ(log_.errors(),
              (lines{"[ser_com_write]:  dev not init\n", "[ser_com_write]:  dev not init\n",
                     "[ser_com_read]:  dev not init\n", "[ser_com_read]:  dev not init\n",
                     "[ser_com_write_read_ex]: dev not init\n"}));
    EXPECT_TRUE(fake().calls.empty());
}

TEST_F(SerialFake, NullDataIsRefusedWithoutBeingRead) {
    open_port();
    EXPECT_EQ(ser_com_write(sc_, nullptr, 3, 10), 0x20000u);
    EXPECT_TRUE(log_.has_debug("[ser_com_write]: start write [(null)]  mstime 10\n"));
    EXPECT_EQ(log_.errors(), lines{"[ser_com_write]: invalid args\n"});
    EXPECT_TRUE(ser_fake::calls_of(op::write).empty());
}

TEST_F(SerialFake, TimeoutSettingFailureIsReported) {
    open_port();
    fake().set_timeouts_ok = false;
    fake().last_error = 87;
    char buffer[16];
    EXPECT_EQ(ser_com_write(sc_, "A", 0, 10), 0x20000u);
    EXPECT_EQ(ser_com_read(sc_, buffer, 16, nullptr, "\r", 1, 10), 0x20000u);
    EXPECT_EQ(log_.errors(), (lines{"[ser_com_write]:  SetCommTimeouts err, 87\n",
                                    "[ser_com_read]: SetCommTimeouts err 87\n"}));
    EXPECT_TRUE(fake().written.empty());
}

// --- Read --------------------------------------------------------------------

class SerialRead : public SerialFake {
  protected:
    void SetUp() override {
        SerialFake::SetUp();
        open_port();
    }
    uint32_t read(const char *tc, int32_t ntc, int32_t timeout, int32_t bufsize = 64) {
        buffer_.assign(static_cast<size_t>(bufsize), 'X');
        count_ = -7;
        return ser_com_read(sc_, buffer_.data(), bufsize, &count_, tc, ntc, timeout);
    }
    std::string text() const { return std::string(buffer_.data()); }
    // One exchange with a 128-byte answer buffer.
    uint32_t exchange(const char *cmd, const char *tc, int32_t ntc, int32_t timeout, int rfirst) {
        rbuf_.assign(128, 'X');
        return ser_com_write_read_ex(sc_, cmd, 0, rbuf_.data(), 128, &count_, tc, ntc, timeout,
                                     rfirst);
    }

    std::vector<char> buffer_, rbuf_;
    int32_t count_ = 0;
};

TEST_F(SerialRead, SetsReadTimeoutsWithThe20msInterval) {
    ser_fake::push_incoming("OK00\r");
    EXPECT_EQ(read("\r", 1, 1000), 0u);
    EXPECT_EQ(fields(ser_fake::calls_of(op::set_timeouts)[0].timeouts),
              std::make_tuple(20u, 0u, 1000u, 0u, 1000u));
    EXPECT_EQ(text(), "OK00\r");
    EXPECT_EQ(count_, 5);
    EXPECT_EQ(ser_fake::calls_of(op::read)[0].count, 63u);  // room leaves the terminator
}

TEST_F(SerialRead, ReplyInTwoBurstsTakesTwoPlatformReads) {
    ser_fake::push_incoming("OK00,1", 5);
    ser_fake::push_incoming(",2\r", 30);
    EXPECT_EQ(read("\r", 1, 1000), 0u);
    EXPECT_EQ(text(), "OK00,1,2\r");
    EXPECT_EQ(ser_fake::calls_of(op::read).size(), 2u);
    for (const char *line :
         {"[ser_com_read]: read 6 bytes, [OK00,1]\n", "[ser_com_read] tc count 0\n",
          "[ser_com_read]: read 3 bytes, [,2^M]\n", "[ser_com_read] tc count 1\n",
          "[ser_com_read]: read [2] times, [9] bytes,took 55 msec\n",
          "[ser_com_read] end [OK00,1,2^M], err 0x0\n"}) {
        EXPECT_TRUE(log_.has_debug(line)) << line;
    }
}

TEST_F(SerialRead, MissingTerminatorTimesOutWithPartialData) {
    ser_fake::push_incoming("OK00,12");
    EXPECT_EQ(read("\r", 1, 300), 0x4000u);
    EXPECT_EQ(text(), "OK00,12");
    EXPECT_EQ(count_, 7);
    // The second platform read gets the whole time-out again: 20 ms + 300 ms.
    EXPECT_TRUE(log_.has_debug("[ser_com_read]: took 320  msec out of 300 msec\n"));
}

TEST_F(SerialRead, TerminatorAndCountRules) {
    const struct {
        const char *incoming, *tc;
        int32_t ntc, timeout;
        uint32_t status;
        const char *text;  // null: not checked
        int32_t count;
        size_t reads;
    } cases[] = {
        {"OK00\rOK01\rtail", "\r", 1, 300, 0, "OK00\rOK01\rtail", 14, 1},  // both kept
        {"a\nb\r", "\r\n", 2, 300, 0, "a\nb\r", 4, 1},              // any character of the set
        {"OK00\r", "\r", 1, 0, 0x4000, "", 0, 0},                   // no time: nothing read
        {"OK00,CA-410,1\r", nullptr, 12, 2000, 0, nullptr, 14, 1},  // a count may be passed
        {"abc", "\r", 0, 100, 0, nullptr, 0, 0},
        {"abc", "\r", -1, 100, 0, nullptr, 0, 0},
        {"abc", nullptr, -1, 100, 0, nullptr, 0, 0},
        {"abc", nullptr, 2, 100, 0, nullptr, 3, 1},
        {"abc", nullptr, 0, 100, 0x4000, nullptr, 3, 2},  // reads until the time-out
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.incoming << " ntc " << c.ntc);
        fake().incoming.clear();
        fake().calls.clear();
        ser_fake::push_incoming(c.incoming);
        EXPECT_EQ(read(c.tc, c.ntc, c.timeout, 128), c.status);
        if (c.text != nullptr) {
            EXPECT_EQ(text(), c.text);
        }
        EXPECT_EQ(count_, c.count);
        EXPECT_EQ(ser_fake::calls_of(op::read).size(), c.reads);
    }
}

TEST_F(SerialRead, BufferBelowThreeIsRefused) {
    EXPECT_EQ(read("\r", 1, 300, 2), 0x20000u);
    EXPECT_EQ(count_, -7);
    EXPECT_EQ(log_.errors(), lines{"[ser_com_read] buf size 2 < 3\n"});
}

TEST_F(SerialRead, ByteCountWithoutTerminatorStopsAtTheCount) {
    ser_fake::push_incoming("OK00,CA-410,", 0);
    ser_fake::push_incoming("rest\r", 50);
    EXPECT_EQ(read(nullptr, 12, 2000, 128), 0u);
    EXPECT_EQ(text(), "OK00,CA-410,");
    EXPECT_TRUE(
        log_.has_debug("[ser_com_read] end [4f 4b 30 30 2c 43 41 2d 34 31 30 2c], err 0x0\n"));
    EXPECT_EQ(fake().incoming.size(), 1u);  // left for the next drain
}

TEST_F(SerialRead, FailedReadKeepsTheBytesAndReportsFailureOrLineErrors) {
    fake().incoming.push_back(ser_fake::chunk{"OK0", 0, true});
    EXPECT_EQ(read("\r", 1, 300), 0x20000u);
    EXPECT_EQ(text(), "OK0");
    EXPECT_EQ(count_, 3);
    EXPECT_TRUE(log_.has_debug("[ser_com_read]: read err, 0x20000, rbuf=[OK0]\n"));
    fake().incoming.push_back(ser_fake::chunk{"", 0, true});
    fake().line_errors = SER_CE_RXPARITY | SER_CE_FRAME;
    EXPECT_EQ(read("\r", 1, 300), 0xCu);
}

// --- Exchange ----------------------------------------------------------------

TEST_F(SerialRead, ExchangeDrainsWritesAndReads) {
    ser_fake::push_incoming("stale\r");
    ser_fake::expect_exchange("MES,1\r", "OK00,7,1,2,3\r", 40);
    EXPECT_EQ(exchange("MES,1\r", "\r", 1, 3000, 1), 0u);
    EXPECT_STREQ(rbuf_.data(), "OK00,7,1,2,3\r");
    EXPECT_EQ(count_, 13);
    // Drain: one read with the stale bytes, one that brings nothing; then
    // the write and the answer.
    EXPECT_THAT(ops(), ElementsAre(op::set_timeouts, op::read, op::set_timeouts, op::read,
                                   op::set_timeouts, op::write, op::set_timeouts, op::read));
    const auto reads = ser_fake::calls_of(op::read);
    EXPECT_EQ(reads[0].count, 499u);
    EXPECT_EQ(reads[0].data, "stale\r");
    EXPECT_EQ(ser_fake::calls_of(op::set_timeouts)[0].timeouts.ReadTotalTimeoutConstant, 20u);
    // The drain is silent; the threshold is back afterwards.
    EXPECT_FALSE(log_.has_debug("[ser_com_read]: read 6 bytes, [stale^M]\n"));
    EXPECT_EQ(default_log.debug, 8);
    EXPECT_TRUE(
        log_.has_debug("[ser_com_write_read_ex] : rfirstw =1  tc=[\r] ntc=1 ---   start\n"));
    EXPECT_TRUE(log_.has_debug("[ser_com_write_read_ex] 2nd_read err 0x0\n"));
}

TEST_F(SerialRead, ExchangeWithoutDrainLogsNullTerminatorSet) {
    ser_fake::expect_exchange("X", "abcd");
    rbuf_.assign(16, 'X');
    EXPECT_EQ(ser_com_write_read(sc_, "X", 0, rbuf_.data(), 16, &count_, nullptr, 4, 100), 0u);
    EXPECT_TRUE(
        log_.has_debug("[ser_com_write_read_ex] : rfirstw =0  tc=[(null)] ntc=4 ---   start\n"));
    EXPECT_EQ(ser_fake::calls_of(op::read).size(), 1u);
}

TEST_F(SerialRead, ExchangeTimeoutsAndFailuresAreReported) {
    ser_fake::expect_exchange("ZRC\r", "");
    count_ = -1;
    EXPECT_EQ(exchange("ZRC\r", "\r", 1, 6000, 1), 0x4000u);
    EXPECT_EQ(count_, 0);
    EXPECT_TRUE(log_.has_debug("[ser_com_write_read_ex] 2nd_read timeout 6000 ms, err 0x4000\n"));

    EXPECT_EQ(exchange("RST,0\r", "\r", 1, 0, 0), 0x4000u);
    EXPECT_TRUE(log_.has_debug("[ser_com_write_read_ex] ist_write timeout 0 ms, err 0x4000\n"));

    // A failed write skips the read and leaves the count.
    fake().write_ok = false;
    fake().calls.clear();
    count_ = 99;
    EXPECT_EQ(exchange("RST,0\r", "\r", 1, 1000, 0), 0x20000u);
    EXPECT_EQ(count_, 99);
    EXPECT_TRUE(log_.has_debug("[ser_com_write_read_ex] write err 0x20000\n"));
    EXPECT_TRUE(ser_fake::calls_of(op::read).empty());
}

TEST_F(SerialRead, DrainOfALineThatNeverFallsQuietIsBoundedByTime) {
    // A byte every 19 ms: each 20 ms drain read brings something.
    for (int i = 0; i < 400; i++) ser_fake::push_incoming("x", 19);
    ser_fake::expect_exchange("IDO,\r", "");
    const uint32_t start = fake().now_ms;
    exchange("IDO,\r", "\r", 1, 100, 1);
    const auto writes = ser_fake::calls_of(op::write);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_GE(writes[0].at_ms - start, SER_DRAIN_MAX_MS);
    EXPECT_LT(writes[0].at_ms - start, SER_DRAIN_MAX_MS + 100);
    ASSERT_EQ(log_.errors().size(), 1u);
    EXPECT_THAT(log_.errors()[0],
                ::testing::StartsWith(
                    "[ser_com_write_read_ex]: line would not fall quiet, drain stopped after "));
}

TEST_F(SerialRead, DrainOfALineThatNeverFallsQuietIsBoundedByReads) {
    // Bursts that fill the drain buffer arrive at once, so the read bound hits first.
    for (int i = 0; i < 150; i++) ser_fake::push_incoming(std::string(499, 'y'));
    exchange("A\r", "\r", 1, 100, 1);
    EXPECT_EQ(ser_fake::calls_of(op::read).size(), static_cast<size_t>(SER_DRAIN_MAX_READS) + 1);
    EXPECT_EQ(log_.errors(), lines{"[ser_com_write_read_ex]: line would not fall quiet, "
                                   "drain stopped after 100 reads in 0 ms\n"});
}

// --- Baud-rate search --------------------------------------------------------

TEST_F(SerialFake, FindInstTriesElevenRatesAndLeavesThePortClosed) {
    sc_ = new_ser_com("COM4");
    EXPECT_EQ(ser_com_find_inst(sc_), 0u);
    std::vector<uint32_t> rates;
    for (const auto &c : ser_fake::calls_of(op::set_state)) rates.push_back(c.dcb.BaudRate);
    EXPECT_EQ(rates, (std::vector<uint32_t>{38400, 115200, 9600, 4800, 2400, 1200, 57600, 19200,
                                            600, 300, 110}));
    std::string expected;
    for (int i = 0; i < 11; i++) expected += "COM,1\r";
    EXPECT_EQ(fake().written, expected);
    EXPECT_EQ(sc_->is_open, 0);
    EXPECT_EQ(ser_fake::calls_of(op::open_port).size(), 1u);
    EXPECT_EQ(ser_fake::calls_of(op::close).size(), 1u);
    EXPECT_TRUE(log_.has_debug("[ser_com_find_inst]: timeout 20000 msec\n"));
    EXPECT_TRUE(log_.has_debug("[ser_com_find_inst]: Trying Baud Rate[0] -- 38400\n"));
    EXPECT_TRUE(log_.has_debug("[ser_com_find_inst]: Trying Baud Rate[10] -- 110\n"));
    EXPECT_TRUE(log_.has_debug("[ser_com_find_inst] try baud over 11----- \n"));

    // A configuration failure stops the search.
    fresh("COM4");
    fake().written.clear();
    fake().open_ok = false;
    EXPECT_EQ(ser_com_find_inst(sc_), 0x20000u);
    EXPECT_TRUE(log_.has_error("[ser_com_find_inst] ser_com_setport err 0x20000\n"));
    EXPECT_TRUE(fake().written.empty());
}

// --- Renderers ---------------------------------------------------------------

TEST(Com2Hex, RendersUpTo64BytesThenMarks) {
    std::vector<unsigned char> bytes(65, 0xe9);
    const std::string full = com2hex(bytes.data(), 65);
    EXPECT_EQ(full.size(), 64u * 3 - 1 + 3);
    EXPECT_EQ(full.substr(0, 6), "e9 e9 ");
    EXPECT_EQ(full.substr(full.size() - 5), "e9...");
    EXPECT_STREQ(com2hex(bytes.data(), 64), std::string(full.substr(0, 191)).c_str());
    EXPECT_STREQ(com2hex("\x00\x0a\xff", 3), "00 0a ff");
    EXPECT_STREQ(com2hex("abc", 0), "");
    EXPECT_STREQ(com2hex("abc", -1), "");
}

TEST(Com2Fix, RendersControlHighAndPlainCharacters) {
    EXPECT_STREQ(com2fix(nullptr), "(null)");
    EXPECT_STREQ(com2fix("OK\r\n\x01"), "OK^M^J^A");
    EXPECT_STREQ(com2fix("\xe9\x7f~ "), "\\351\x7f~ ");
    EXPECT_STREQ(com2fix(""), "");
}

TEST(Com2Fix, RingOfThreeSlots) {
    const char *first = com2fix("one");
    const char *second = com2fix("two");
    const char *third = com2fix("three");
    EXPECT_STREQ(first, "one");
    EXPECT_STREQ(second, "two");
    EXPECT_STREQ(third, "three");
    com2fix("four");
    EXPECT_STREQ(first, "four");  // the fourth call reuses the first call's slot
    EXPECT_STREQ(second, "two");
}

TEST(Com2Fix, LongTextIsCutAfterTheLimitWithAMarker) {
    EXPECT_EQ(std::string(com2fix(std::string(12000, 'a').c_str())),
              std::string(10000, 'a') + "...");
    // A text that ends at the limit has no marker.
    const std::string exact(10000, 'b');
    EXPECT_EQ(std::string(com2fix(exact.c_str())), exact);
    // Renderings are never split: 2500 of four characters, then the marker.
    EXPECT_EQ(std::string(com2fix(std::string(5000, '\xe9').c_str())).size(), 10000u + 3);
    const std::string wide = std::string(9999, 'c') + "\xe9\xe9";
    EXPECT_EQ(std::string(com2fix(wide.c_str())), std::string(9999, 'c') + "\\351...");
}

}  // namespace
