// The serial logic over the scripted backend: every platform call it makes,
// with every value passed, on a virtual clock.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ser_nt_com/platform/fake.h"
#include "ser_nt_com/ser_com.h"
#include "support/log_capture.h"

namespace {

using ser_fake::op;

class SerialFake : public ::testing::Test {
  protected:
    void SetUp() override {
        // What a port reports before we touch it: everything "wrong" so that
        // every field the logic sets is seen to change.
        ser_dcb &d = fake().reported_dcb;
        d.BaudRate = 1200;
        d.fParity = 1;
        d.fOutxCtsFlow = 1;
        d.fOutxDsrFlow = 1;
        d.fDtrControl = SER_DTR_CONTROL_HANDSHAKE;
        d.fDsrSensitivity = 1;
        d.fErrorChar = 1;
        d.fNull = 1;
        d.fRtsControl = SER_RTS_CONTROL_TOGGLE;
        d.fAbortOnError = 1;
        d.fOutX = 1;
        d.fInX = 1;
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

    // A port opened and configured with the instrument's settings; the
    // record of calls starts afresh after it.
    ser_com *open_port(const char *name = "COM3") {
        sc_ = new_ser_com(name);
        EXPECT_EQ(ser_com_setport(sc_, 3, 10, 3, 2, 3), 0u);
        fake().calls.clear();
        return sc_;
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
    open_port();
    sc_->is_open = 0;  // make the next call open again, on a fresh record of calls
    sc_->handle = nullptr;
    EXPECT_EQ(ser_com_setport(sc_, 3, 10, 3, 2, 3), 0u);
    EXPECT_THAT(ops(), ::testing::ElementsAre(op::open_port, op::sleep, op::get_state, op::purge,
                                              op::set_state, op::purge, op::sleep));
    const auto open = ser_fake::calls_of(op::open_port)[0];
    EXPECT_EQ(open.port_name, "COM3");
    EXPECT_EQ(open.path, "\\\\.\\COM3");
    for (const auto &p : ser_fake::calls_of(op::purge)) EXPECT_EQ(p.flags, 0xFu);
    EXPECT_THAT(sleeps(), ::testing::ElementsAre(160u, 50u));
    EXPECT_EQ(sc_->is_open, 1);
    EXPECT_NE(sc_->handle, nullptr);

    const ser_dcb d = last_dcb();
    EXPECT_EQ(d.BaudRate, 38400u);
    EXPECT_EQ(d.fBinary, 1u);
    EXPECT_EQ(d.fParity, 1u);
    EXPECT_EQ(d.Parity, SER_EVENPARITY);
    EXPECT_EQ(d.StopBits, SER_TWOSTOPBITS);
    EXPECT_EQ(d.ByteSize, 7);
    EXPECT_EQ(d.fOutxCtsFlow, 1u);
    EXPECT_EQ(d.fRtsControl, SER_RTS_CONTROL_HANDSHAKE);
    EXPECT_EQ(d.fOutxDsrFlow, 0u);
    EXPECT_EQ(d.fDtrControl, SER_DTR_CONTROL_ENABLE);
    EXPECT_EQ(d.fDsrSensitivity, 0u);
    EXPECT_EQ(d.fTXContinueOnXoff, 1u);
    EXPECT_EQ(d.fOutX, 0u);
    EXPECT_EQ(d.fInX, 0u);
    EXPECT_EQ(d.fErrorChar, 0u);
    EXPECT_EQ(d.fNull, 0u);
    EXPECT_EQ(d.fAbortOnError, 0u);
    // Fields the logic does not own keep what the port reported.
    EXPECT_EQ(d.XonLim, 2048);
    EXPECT_EQ(d.XoffLim, 512);
    EXPECT_EQ(d.XonChar, 0x21);
    EXPECT_EQ(d.XoffChar, 0x23);
    EXPECT_EQ(d.ErrorChar, '?');
    EXPECT_EQ(d.EofChar, 0x1a);
    EXPECT_EQ(d.EvtChar, '\n');
    EXPECT_TRUE(log_.has_debug("[ser_com_setport_ex]  [COM3] is_open=0\n"));
    EXPECT_TRUE(log_.has_debug(
        "[ser_com_setport_ex] : args Flow control = 3  Baud Rate   = 38400   Parity = 3\n"));
    EXPECT_TRUE(log_.has_debug(
        "[ser_com_setport_ex] : args Stop bits    = 2  Word length = 3   msdely = 0\n"));
    EXPECT_TRUE(log_.has_debug("[ser_com_setport_ex]: start open [COM3]\n"));
    EXPECT_TRUE(log_.has_debug("[ser_com_setport_ex]:  done\n"));
}

struct flow_case {
    int32_t code;
    uint32_t out_x, in_x, cts, rts, dsr, dtr;
    char xon, xoff;
};

class FlowControl : public SerialFake, public ::testing::WithParamInterface<flow_case> {};

TEST_P(FlowControl, SetsItsDcbFields) {
    const flow_case c = GetParam();
    sc_ = new_ser_com("COM1");
    ASSERT_EQ(ser_com_setport(sc_, c.code, 7, 1, 1, 4), 0u);
    const ser_dcb d = last_dcb();
    EXPECT_EQ(d.fOutX, c.out_x);
    EXPECT_EQ(d.fInX, c.in_x);
    EXPECT_EQ(d.fOutxCtsFlow, c.cts);
    EXPECT_EQ(d.fRtsControl, c.rts);
    EXPECT_EQ(d.fOutxDsrFlow, c.dsr);
    EXPECT_EQ(d.fDtrControl, c.dtr);
    EXPECT_EQ(d.XonChar, c.xon);
    EXPECT_EQ(d.XoffChar, c.xoff);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, FlowControl,
    ::testing::Values(
        flow_case{1, 0, 0, 0, SER_RTS_CONTROL_ENABLE, 0, SER_DTR_CONTROL_ENABLE, 0x21, 0x23},
        flow_case{2, 1, 1, 0, SER_RTS_CONTROL_ENABLE, 0, SER_DTR_CONTROL_ENABLE, 0x11, 0x13},
        flow_case{3, 0, 0, 1, SER_RTS_CONTROL_HANDSHAKE, 0, SER_DTR_CONTROL_ENABLE, 0x21, 0x23},
        flow_case{4, 0, 0, 0, SER_RTS_CONTROL_ENABLE, 1, SER_DTR_CONTROL_HANDSHAKE, 0x21, 0x23},
        // Not in the table: configured as no flow control.
        flow_case{7, 0, 0, 0, SER_RTS_CONTROL_ENABLE, 0, SER_DTR_CONTROL_ENABLE, 0x21, 0x23}));

struct line_case {
    int32_t parity, stop, word;
    uint32_t f_parity;
    uint8_t parity_field, stop_field, byte_size;
};

class LineSettings : public SerialFake, public ::testing::WithParamInterface<line_case> {};

TEST_P(LineSettings, MapParityStopBitsAndWordLength) {
    const line_case c = GetParam();
    sc_ = new_ser_com("COM1");
    ASSERT_EQ(ser_com_setport(sc_, 1, 7, c.parity, c.stop, c.word), 0u);
    const ser_dcb d = last_dcb();
    EXPECT_EQ(d.fParity, c.f_parity);
    EXPECT_EQ(d.Parity, c.parity_field);
    EXPECT_EQ(d.StopBits, c.stop_field);
    EXPECT_EQ(d.ByteSize, c.byte_size);
}

// The port reports fParity 1, odd parity, 1.5 stop bits and 8 data bits;
// unknown codes keep those.
INSTANTIATE_TEST_SUITE_P(
    Codes, LineSettings,
    ::testing::Values(line_case{1, 1, 1, 0, SER_NOPARITY, SER_ONESTOPBIT, 5},
                      line_case{2, 2, 2, 1, SER_ODDPARITY, SER_TWOSTOPBITS, 6},
                      line_case{3, 1, 3, 1, SER_EVENPARITY, SER_ONESTOPBIT, 7},
                      line_case{1, 2, 4, 0, SER_NOPARITY, SER_TWOSTOPBITS, 8},
                      line_case{9, 3, 5, 1, SER_ODDPARITY, SER_ONE5STOPBITS, 8},
                      line_case{-1, -1, -1, 1, SER_ODDPARITY, SER_ONE5STOPBITS, 8}));

class BaudRates : public SerialFake,
                  public ::testing::WithParamInterface<std::pair<int32_t, uint32_t>> {};

TEST_P(BaudRates, IndexSelectsTheRate) {
    sc_ = new_ser_com("COM1");
    ASSERT_EQ(ser_com_setport(sc_, 1, GetParam().first, 1, 1, 4), 0u);
    EXPECT_EQ(last_dcb().BaudRate, GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(
    Table, BaudRates,
    ::testing::Values(
        std::pair<int32_t, uint32_t>{1, 110}, std::pair<int32_t, uint32_t>{2, 300},
        std::pair<int32_t, uint32_t>{3, 600}, std::pair<int32_t, uint32_t>{4, 1200},
        std::pair<int32_t, uint32_t>{5, 2400}, std::pair<int32_t, uint32_t>{6, 4800},
        std::pair<int32_t, uint32_t>{7, 9600}, std::pair<int32_t, uint32_t>{8, 14400},
        std::pair<int32_t, uint32_t>{9, 19200}, std::pair<int32_t, uint32_t>{10, 38400},
        std::pair<int32_t, uint32_t>{11, 57600}, std::pair<int32_t, uint32_t>{12, 115200},
        std::pair<int32_t, uint32_t>{13, 230400}, std::pair<int32_t, uint32_t>{14, 921600}));

TEST(BaudRateText, CoversTheTableAndUnknownIndices) {
    EXPECT_STREQ(baud_rate_to_str(0), "not configured");
    EXPECT_STREQ(baud_rate_to_str(1), "110");
    EXPECT_STREQ(baud_rate_to_str(8), "14400");
    EXPECT_STREQ(baud_rate_to_str(14), "921600");
    EXPECT_STREQ(baud_rate_to_str(15), "unknown");
    EXPECT_STREQ(baud_rate_to_str(-1), "unknown");
}

struct illegal_case {
    int32_t flow, baud, parity, stop, word;
    const char *message;
};

class IllegalSettings : public SerialFake, public ::testing::WithParamInterface<illegal_case> {};

TEST_P(IllegalSettings, CloseThePortAndKeepTheValue) {
    const illegal_case c = GetParam();
    sc_ = new_ser_com("COM1");
    EXPECT_EQ(ser_com_setport(sc_, c.flow, c.baud, c.parity, c.stop, c.word), 0x20000u);
    EXPECT_EQ(log_.errors(), std::vector<std::string>{c.message});
    EXPECT_EQ(sc_->is_open, 0);
    EXPECT_EQ(sc_->handle, nullptr);
    EXPECT_TRUE(ser_fake::calls_of(op::set_state).empty());
    EXPECT_EQ(ser_fake::calls_of(op::close).size(), 1u);
    EXPECT_THAT(sleeps(), ::testing::ElementsAre(160u, 100u));
}

INSTANTIATE_TEST_SUITE_P(
    Values, IllegalSettings,
    ::testing::Values(
        illegal_case{0, 0, 0, 0, 0, "[ser_com_setport_ex]: illegal flow control 0\n"},
        illegal_case{1, 10, 0, 1, 4, "[ser_com_setport_ex]: illegal parity setting 0\n"},
        illegal_case{1, 10, 1, 0, 4, "[ser_com_setport_ex]: illegal stop bits 0\n"},
        illegal_case{1, 10, 1, 1, 0, "[ser_com_setport_ex]: illegal word length 0\n"},
        illegal_case{1, 0, 1, 1, 4, "[ser_com_setport_ex]: illegal baud rate! (0x0)\n"},
        illegal_case{1, 15, 1, 1, 4, "[ser_com_setport_ex]: illegal baud rate! (0xf)\n"},
        illegal_case{1, -1, 1, 1, 4, "[ser_com_setport_ex]: illegal baud rate! (0xffffffff)\n"}));

TEST_F(SerialFake, IllegalBaudRateShowsUnknownInTheArgumentLine) {
    sc_ = new_ser_com("COM1");
    ser_com_setport(sc_, 1, 15, 1, 1, 4);
    EXPECT_TRUE(log_.has_debug(
        "[ser_com_setport_ex] : args Flow control = 1  Baud Rate   = unknown   Parity = 1\n"));
    EXPECT_EQ(sc_->baud_rate, 15);  // stored before the check; a retry must pass a legal value
}

TEST_F(SerialFake, StoredSettingsSurviveACloseAndReopen) {
    open_port();
    ser_com_close(sc_);
    EXPECT_EQ(sc_->is_open, 0);
    EXPECT_STREQ(sc_->port_name, "COM3");
    fake().calls.clear();
    // Only the rate changes; the rest comes from the record.
    EXPECT_EQ(ser_com_setport(sc_, 0, 12, 0, 0, 0), 0u);
    EXPECT_EQ(ser_fake::calls_of(op::open_port).size(), 1u);
    const ser_dcb d = last_dcb();
    EXPECT_EQ(d.BaudRate, 115200u);
    EXPECT_EQ(d.Parity, SER_EVENPARITY);
    EXPECT_EQ(d.StopBits, SER_TWOSTOPBITS);
    EXPECT_EQ(d.ByteSize, 7);
    EXPECT_EQ(d.fOutxCtsFlow, 1u);
}

TEST_F(SerialFake, ReconfiguringAnOpenPortDoesNotReopenOrWaitForIt) {
    open_port();
    EXPECT_EQ(ser_com_setport_ex(sc_, 0, 7, 0, 0, 0, 500), 0u);
    EXPECT_THAT(ops(), ::testing::ElementsAre(op::get_state, op::purge, op::set_state, op::purge,
                                              op::sleep));
    EXPECT_THAT(sleeps(), ::testing::ElementsAre(50u));
    EXPECT_EQ(last_dcb().BaudRate, 9600u);
    EXPECT_EQ(last_dcb().ByteSize, 7);
}

class OpenDelay : public SerialFake,
                  public ::testing::WithParamInterface<std::pair<int32_t, uint32_t>> {};

TEST_P(OpenDelay, HasA160msFloor) {
    sc_ = new_ser_com("COM2");
    ASSERT_EQ(ser_com_setport_ex(sc_, 3, 10, 3, 2, 3, GetParam().first), 0u);
    EXPECT_THAT(sleeps(), ::testing::ElementsAre(GetParam().second, 50u));
}

INSTANTIATE_TEST_SUITE_P(Delays, OpenDelay,
                         ::testing::Values(std::pair<int32_t, uint32_t>{0, 160},
                                           std::pair<int32_t, uint32_t>{100, 160},
                                           std::pair<int32_t, uint32_t>{-5, 160},
                                           std::pair<int32_t, uint32_t>{160, 160},
                                           std::pair<int32_t, uint32_t>{500, 500}));

TEST_F(SerialFake, OpenFailureLeavesTheRecordClosed) {
    fake().open_ok = false;
    fake().last_error = 2;
    sc_ = new_ser_com("COM9");
    EXPECT_EQ(ser_com_setport(sc_, 3, 10, 3, 2, 3), 0x20000u);
    EXPECT_EQ(log_.errors(),
              std::vector<std::string>{"[ser_com_setport_ex]: open [\\\\.\\COM9] err 2\n"});
    EXPECT_EQ(sc_->is_open, 0);
    EXPECT_TRUE(sleeps().empty());
}

TEST_F(SerialFake, StateReadFailureClosesThePort) {
    fake().get_state_ok = false;
    fake().last_error = 5;
    sc_ = new_ser_com("COM9");
    EXPECT_EQ(ser_com_setport(sc_, 3, 10, 3, 2, 3), 0x20000u);
    EXPECT_EQ(log_.errors(),
              std::vector<std::string>{"[ser_com_setport_ex]: read [COM9] state err 5\n"});
    EXPECT_EQ(sc_->is_open, 0);
    EXPECT_EQ(ser_fake::calls_of(op::close).size(), 1u);
}

TEST_F(SerialFake, StateWriteFailureClosesThePort) {
    fake().set_state_ok = false;
    fake().last_error = 31;
    sc_ = new_ser_com("COM9");
    EXPECT_EQ(ser_com_setport(sc_, 3, 10, 3, 2, 3), 0x20000u);
    EXPECT_EQ(log_.errors(),
              std::vector<std::string>{"[ser_com_setport_ex]: SetCommState err ,31\n"});
    EXPECT_EQ(sc_->is_open, 0);
    EXPECT_THAT(ops(), ::testing::ElementsAre(op::open_port, op::sleep, op::get_state, op::purge,
                                              op::set_state, op::close, op::sleep));
}

TEST_F(SerialFake, NullRecordIsRefusedByConfiguration) {
    EXPECT_EQ(ser_com_setport(nullptr, 3, 10, 3, 2, 3), 0x20000u);
    EXPECT_TRUE(fake().calls.empty());
}

// --- Closing -----------------------------------------------------------------

TEST_F(SerialFake, CloseTwiceSleepsOnce) {
    open_port();
    ser_com_close(sc_);
    ser_com_close(sc_);
    EXPECT_THAT(ops(), ::testing::ElementsAre(op::close, op::sleep));
    EXPECT_THAT(sleeps(), ::testing::ElementsAre(100u));
    EXPECT_EQ(ser_com_is_open(sc_), 0);
    ser_com_close(nullptr);
}

TEST_F(SerialFake, IsOpenFollowsTheHandle) {
    EXPECT_EQ(ser_com_is_open(nullptr), 0);
    open_port();
    sc_->is_open = 0;
    EXPECT_EQ(ser_com_is_open(sc_), 1);
    EXPECT_EQ(sc_->is_open, 1);
}

TEST_F(SerialFake, DeleteClosesAnOpenPortAndWaits) {
    open_port();
    ser_com_del(sc_);
    sc_ = nullptr;
    EXPECT_THAT(ops(), ::testing::ElementsAre(op::close, op::sleep));
}

TEST_F(SerialFake, DeleteOfAClosedRecordDoesNotSleep) {
    ser_com *closed = new_ser_com("COM1");
    ser_com_del(closed);
    ser_com_del(nullptr);
    EXPECT_TRUE(fake().calls.empty());
}

// --- Port listing ------------------------------------------------------------

class PortList : public SerialFake {
  protected:
    std::vector<std::string> list(int32_t max) {
        std::vector<char *> names(8, nullptr);
        EXPECT_EQ(get_serial_path(names.data(), max), 0);
        std::vector<std::string> out;
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
    EXPECT_EQ(list(2), (std::vector<std::string>{"COM1", "COM5"}));
    EXPECT_TRUE(log_.has_debug("[get_serial_path]: vname = [Plain] value=[COM7]\n"));
    EXPECT_TRUE(log_.has_debug("[get_serial_path]:  get [Plain]\n"));
    EXPECT_TRUE(log_.has_debug("[get_serial_path]:  get [VCP0]\n"));
    EXPECT_TRUE(log_.has_debug("[get_serial_path]: got ERROR_NO_MORE_ITEMS\n"));
    const auto values = ser_fake::calls_of(op::list_value);
    ASSERT_EQ(values.size(), 4u);  // three values and the end
    for (uint32_t i = 0; i < values.size(); i++) {
        EXPECT_EQ(values[i].index, i);
        EXPECT_EQ(values[i].name_size, 500u);
        EXPECT_EQ(values[i].data_size, 500u);
    }
    EXPECT_EQ(ser_fake::calls_of(op::list_close).size(), 1u);
}

TEST_F(PortList, SkipsValuesThatAreNotText) {
    fake().list = {{"a", "COM1"}, {"b", "bin", 3}, {"c", "COM4"}};
    EXPECT_EQ(list(8), (std::vector<std::string>{"COM1", "COM4"}));
    EXPECT_TRUE(log_.has_debug("[get_serial_path]: RegEnumValue not return string type\n"));
}

TEST_F(PortList, ValueTooLongEndsTheListing) {
    fake().list = {{"a", "COM1"}, {"b", std::string(600, 'x')}, {"c", "COM4"}};
    EXPECT_EQ(list(8), (std::vector<std::string>{"COM1"}));
    EXPECT_TRUE(log_.has_debug("[get_serial_path]: RegEnumValue err, 234\n"));
}

TEST_F(PortList, OtherErrorEndsTheListing) {
    fake().list = {{"a", "COM1"}, {"b", "COM2", SER_LIST_TYPE_STRING, 5}};
    EXPECT_EQ(list(8), (std::vector<std::string>{"COM1"}));
    EXPECT_TRUE(log_.has_debug("[get_serial_path]: RegEnumValue err, 5\n"));
}

TEST_F(PortList, MissingKeyStoresNothing) {
    fake().list_open_result = 2;
    fake().list = {{"a", "COM1"}};
    EXPECT_TRUE(list(8).empty());
    EXPECT_EQ(log_.errors(),
              std::vector<std::string>{
                  "[get_serial_path]: RegOpenKeyEx  error, no serial ports appeared\n"});
    EXPECT_TRUE(ser_fake::calls_of(op::list_value).empty());
    EXPECT_TRUE(ser_fake::calls_of(op::list_close).empty());
}

TEST_F(PortList, CloseFailureIsLoggedAndTheNamesKept) {
    fake().list = {{"a", "COM1"}};
    fake().list_close_result = 6;
    EXPECT_EQ(list(8), (std::vector<std::string>{"COM1"}));
    EXPECT_EQ(log_.errors(), std::vector<std::string>{"[get_serial_path]:  RegCloseKey err, 6\n"});
}

// --- Write -------------------------------------------------------------------

TEST_F(SerialFake, WriteOfATextSendsItsLengthAndSetsWriteTimeouts) {
    open_port();
    EXPECT_EQ(ser_com_write(sc_, "IDO,0,1\r", 0, 1000), 0u);
    EXPECT_EQ(fake().written, "IDO,0,1\r");
    const auto t = ser_fake::calls_of(op::set_timeouts)[0].timeouts;
    EXPECT_EQ(t.ReadIntervalTimeout, 0u);
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 1000u);
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 1000u);
    EXPECT_TRUE(log_.has_debug("[ser_com_write]: start write [IDO,0,1^M]  mstime 1000\n"));
    EXPECT_TRUE(log_.has_debug("[ser_com_write]: write 8 bytes\n"));
    EXPECT_TRUE(log_.has_debug("[ser_com_write] took 0 ms, error 0x0\n"));
}

TEST_F(SerialFake, WriteWithALengthLogsHex) {
    open_port();
    EXPECT_EQ(ser_com_write(sc_, "\x01\xe9", 2, 100), 0u);
    EXPECT_EQ(fake().written, "\x01\xe9");
    EXPECT_TRUE(log_.has_debug("[ser_com_write]: start write [01 e9]  mstime 100\n"));
}

TEST_F(SerialFake, WriteWithNoTimeWritesNothing) {
    open_port();
    EXPECT_EQ(ser_com_write(sc_, "MES,1\r", 0, 0), 0x4000u);
    EXPECT_TRUE(fake().written.empty());
    EXPECT_TRUE(log_.has_debug("[ser_com_write] took 0 ms > 0 ms\n"));
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
}

TEST_F(SerialFake, LastBytesOutButTimeUsedUpIsATimeout) {
    open_port();
    fake().write_ms = 100;
    EXPECT_EQ(ser_com_write(sc_, "AB", 0, 100), 0x4000u);
    EXPECT_EQ(fake().written, "AB");
}

TEST_F(SerialFake, NegativeLengthWritesNothingAndSucceeds) {
    open_port();
    EXPECT_EQ(ser_com_write(sc_, "AB", -3, 100), 0u);
    EXPECT_TRUE(ser_fake::calls_of(op::write).empty());
}

struct failure_case {
    uint32_t ce_flags;
    bool clear_ok;
    uint32_t status;
};

class WriteFailure : public SerialFake, public ::testing::WithParamInterface<failure_case> {};

TEST_P(WriteFailure, MapsLineErrorsOrReportsFailure) {
    open_port();
    fake().write_ok = false;
    fake().line_errors = GetParam().ce_flags;
    fake().clear_error_ok = GetParam().clear_ok;
    EXPECT_EQ(ser_com_write(sc_, "AB", 0, 100), GetParam().status);
    char expected[64];
    snprintf(expected, sizeof expected, "[ser_com_write]: write err, 0x%x\n", GetParam().status);
    EXPECT_TRUE(log_.has_debug(expected));
    EXPECT_EQ(log_.has_debug("[ser_com_write]: ClearCommError err\n"), !GetParam().clear_ok);
}

INSTANTIATE_TEST_SUITE_P(Flags, WriteFailure,
                         ::testing::Values(failure_case{SER_CE_BREAK, true, 0x10},
                                           failure_case{SER_CE_FRAME, true, 0x8},
                                           failure_case{SER_CE_RXPARITY, true, 0x4},
                                           failure_case{SER_CE_RXOVER, true, 0x2},
                                           failure_case{0x1f, true, 0x1e},  // overrun not reported
                                           failure_case{SER_CE_OVERRUN, true, 0x20000},
                                           failure_case{0, true, 0x20000},
                                           failure_case{SER_CE_FRAME, false, 0x20000}));

struct refusal_case {
    bool open;
    const char *message;
};

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
              (std::vector<std::string>{
                  "[ser_com_write]:  dev not init\n", "[ser_com_write]:  dev not init\n",
                  "[ser_com_read]:  dev not init\n", "[ser_com_read]:  dev not init\n",
                  "[ser_com_write_read_ex]: dev not init\n"}));
    EXPECT_TRUE(fake().calls.empty());
}

TEST_F(SerialFake, NullDataIsRefusedWithoutBeingRead) {
    open_port();
    EXPECT_EQ(ser_com_write(sc_, nullptr, 3, 10), 0x20000u);
    EXPECT_TRUE(log_.has_debug("[ser_com_write]: start write [(null)]  mstime 10\n"));
    EXPECT_EQ(log_.errors(), std::vector<std::string>{"[ser_com_write]: invalid args\n"});
    EXPECT_TRUE(ser_fake::calls_of(op::write).empty());
}

TEST_F(SerialFake, TimeoutSettingFailureIsReported) {
    open_port();
    fake().set_timeouts_ok = false;
    fake().last_error = 87;
    char buffer[16];
    EXPECT_EQ(ser_com_write(sc_, "A", 0, 10), 0x20000u);
    EXPECT_EQ(ser_com_read(sc_, buffer, 16, nullptr, "\r", 1, 10), 0x20000u);
    EXPECT_EQ(log_.errors(),
              (std::vector<std::string>{"[ser_com_write]:  SetCommTimeouts err, 87\n",
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

    std::vector<char> buffer_;
    int32_t count_ = 0;
};

TEST_F(SerialRead, SetsReadTimeoutsWithThe20msInterval) {
    ser_fake::push_incoming("OK00\r");
    EXPECT_EQ(read("\r", 1, 1000), 0u);
    const auto t = ser_fake::calls_of(op::set_timeouts)[0].timeouts;
    EXPECT_EQ(t.ReadIntervalTimeout, 20u);
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 1000u);
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 1000u);
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
    EXPECT_TRUE(log_.has_debug("[ser_com_read]: read 6 bytes, [OK00,1]\n"));
    EXPECT_TRUE(log_.has_debug("[ser_com_read] tc count 0\n"));
    EXPECT_TRUE(log_.has_debug("[ser_com_read]: read 3 bytes, [,2^M]\n"));
    EXPECT_TRUE(log_.has_debug("[ser_com_read] tc count 1\n"));
    EXPECT_TRUE(log_.has_debug("[ser_com_read]: read [2] times, [9] bytes,took 55 msec\n"));
    EXPECT_TRUE(log_.has_debug("[ser_com_read] end [OK00,1,2^M], err 0x0\n"));
}

TEST_F(SerialRead, MissingTerminatorTimesOutWithPartialData) {
    ser_fake::push_incoming("OK00,12");
    EXPECT_EQ(read("\r", 1, 300), 0x4000u);
    EXPECT_EQ(text(), "OK00,12");
    EXPECT_EQ(count_, 7);
    // The second platform read gets the whole time-out again: 20 ms + 300 ms.
    EXPECT_TRUE(log_.has_debug("[ser_com_read]: took 320  msec out of 300 msec\n"));
}

TEST_F(SerialRead, TwoTerminatorsInOneBurstAreBothKept) {
    ser_fake::push_incoming("OK00\rOK01\rtail");
    EXPECT_EQ(read("\r", 1, 300), 0u);
    EXPECT_EQ(text(), "OK00\rOK01\rtail");
    EXPECT_EQ(ser_fake::calls_of(op::read).size(), 1u);
}

TEST_F(SerialRead, AnyCharacterOfTheSetCountsAsATerminator) {
    ser_fake::push_incoming("a\nb\r", 0);
    EXPECT_EQ(read("\r\n", 2, 300), 0u);
    EXPECT_EQ(text(), "a\nb\r");
}

TEST_F(SerialRead, SmallestBufferStopsFullWithoutTimeout) {
    ser_fake::push_incoming("OK00\r");
    EXPECT_EQ(read("\r", 1, 300, 3), 0u);
    EXPECT_EQ(count_, 2);
    EXPECT_EQ(std::string(buffer_.data(), 3), std::string("OK\0", 3));
}

TEST_F(SerialRead, BufferBelowThreeIsRefused) {
    EXPECT_EQ(read("\r", 1, 300, 2), 0x20000u);
    EXPECT_EQ(count_, -7);
    EXPECT_EQ(log_.errors(), std::vector<std::string>{"[ser_com_read] buf size 2 < 3\n"});
}

TEST_F(SerialRead, ZeroTimeoutReadsNothing) {
    ser_fake::push_incoming("OK00\r");
    EXPECT_EQ(read("\r", 1, 0), 0x4000u);
    EXPECT_EQ(count_, 0);
    EXPECT_EQ(text(), "");
    EXPECT_TRUE(ser_fake::calls_of(op::read).empty());
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

TEST_F(SerialRead, ByteCountModeMayDeliverMoreInOneRead) {
    ser_fake::push_incoming("OK00,CA-410,1\r");
    EXPECT_EQ(read(nullptr, 12, 2000, 128), 0u);
    EXPECT_EQ(count_, 14);
}

struct mode_case {
    const char *tc;
    int32_t ntc;
    uint32_t status;
    int32_t count;
    size_t reads;
};

class ReadModes : public SerialRead, public ::testing::WithParamInterface<mode_case> {};

TEST_P(ReadModes, FollowTheTerminatorAndCountRules) {
    const mode_case c = GetParam();
    ser_fake::push_incoming("abc");
    EXPECT_EQ(read(c.tc, c.ntc, 100), c.status);
    EXPECT_EQ(count_, c.count);
    EXPECT_EQ(ser_fake::calls_of(op::read).size(), c.reads);
}

INSTANTIATE_TEST_SUITE_P(Table, ReadModes,
                         ::testing::Values(mode_case{"\r", 0, 0, 0, 0},
                                           mode_case{"\r", -1, 0, 0, 0},
                                           mode_case{nullptr, -1, 0, 0, 0},
                                           mode_case{nullptr, 2, 0, 3, 1},
                                           // Reads until the time-out: a time-out.
                                           mode_case{nullptr, 0, 0x4000, 3, 2}));

TEST_F(SerialRead, FailedReadKeepsTheBytesAndReportsFailure) {
    fake().incoming.push_back(ser_fake::chunk{"OK0", 0, true});
    EXPECT_EQ(read("\r", 1, 300), 0x20000u);
    EXPECT_EQ(text(), "OK0");
    EXPECT_EQ(count_, 3);
    EXPECT_TRUE(log_.has_debug("[ser_com_read]: read err, 0x20000, rbuf=[OK0]\n"));
}

TEST_F(SerialRead, FailedReadWithLineErrorsReportsThem) {
    fake().incoming.push_back(ser_fake::chunk{"", 0, true});
    fake().line_errors = SER_CE_RXPARITY | SER_CE_FRAME;
    EXPECT_EQ(read("\r", 1, 300), 0xCu);
}

// --- Exchange ----------------------------------------------------------------

TEST_F(SerialRead, ExchangeDrainsWritesAndReads) {
    ser_fake::push_incoming("stale\r");
    ser_fake::expect_exchange("MES,1\r", "OK00,7,1,2,3\r", 40);
    std::vector<char> rbuf(128, 'X');
    int32_t count = 0;
    EXPECT_EQ(ser_com_write_read_ex(sc_, "MES,1\r", 0, rbuf.data(), 128, &count, "\r", 1, 3000, 1),
              0u);
    EXPECT_STREQ(rbuf.data(), "OK00,7,1,2,3\r");
    EXPECT_EQ(count, 13);
    // Drain: one read with the stale bytes, one that brings nothing; then
    // the write and the answer.
    EXPECT_THAT(ops(),
                ::testing::ElementsAre(op::set_timeouts, op::read, op::set_timeouts, op::read,
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
    std::vector<char> rbuf(16);
    int32_t count = 0;
    EXPECT_EQ(ser_com_write_read(sc_, "X", 0, rbuf.data(), 16, &count, nullptr, 4, 100), 0u);
    EXPECT_TRUE(
        log_.has_debug("[ser_com_write_read_ex] : rfirstw =0  tc=[(null)] ntc=4 ---   start\n"));
    EXPECT_EQ(ser_fake::calls_of(op::read).size(), 1u);
}

TEST_F(SerialRead, ExchangeTimeoutOnReadIsReported) {
    ser_fake::expect_exchange("ZRC\r", "");
    std::vector<char> rbuf(64);
    int32_t count = -1;
    EXPECT_EQ(ser_com_write_read_ex(sc_, "ZRC\r", 0, rbuf.data(), 64, &count, "\r", 1, 6000, 1),
              0x4000u);
    EXPECT_EQ(count, 0);
    EXPECT_TRUE(log_.has_debug("[ser_com_write_read_ex] 2nd_read timeout 6000 ms, err 0x4000\n"));
}

TEST_F(SerialRead, ExchangeFailedWriteSkipsTheReadAndLeavesTheCount) {
    fake().write_ok = false;
    std::vector<char> rbuf(64);
    int32_t count = 99;
    EXPECT_EQ(ser_com_write_read_ex(sc_, "RST,0\r", 0, rbuf.data(), 64, &count, "\r", 1, 1000, 0),
              0x20000u);
    EXPECT_EQ(count, 99);
    EXPECT_TRUE(log_.has_debug("[ser_com_write_read_ex] write err 0x20000\n"));
    EXPECT_TRUE(ser_fake::calls_of(op::read).empty());
}

TEST_F(SerialRead, ExchangeWriteTimeoutIsReported) {
    std::vector<char> rbuf(64);
    EXPECT_EQ(ser_com_write_read_ex(sc_, "RST,0\r", 0, rbuf.data(), 64, nullptr, "\r", 1, 0, 0),
              0x4000u);
    EXPECT_TRUE(log_.has_debug("[ser_com_write_read_ex] ist_write timeout 0 ms, err 0x4000\n"));
}

TEST_F(SerialRead, DrainOfALineThatNeverFallsQuietIsBoundedByTime) {
    // A byte every 19 ms: each 20 ms drain read brings something.
    for (int i = 0; i < 400; i++) ser_fake::push_incoming("x", 19);
    ser_fake::expect_exchange("IDO,\r", "");
    std::vector<char> rbuf(64);
    const uint32_t start = fake().now_ms;
    ser_com_write_read_ex(sc_, "IDO,\r", 0, rbuf.data(), 64, nullptr, "\r", 1, 100, 1);
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
    std::vector<char> rbuf(64);
    ser_com_write_read_ex(sc_, "A\r", 0, rbuf.data(), 64, nullptr, "\r", 1, 100, 1);
    EXPECT_EQ(ser_fake::calls_of(op::read).size(), static_cast<size_t>(SER_DRAIN_MAX_READS) + 1);
    EXPECT_EQ(log_.errors(),
              std::vector<std::string>{"[ser_com_write_read_ex]: line would not fall quiet, "
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
}

TEST_F(SerialFake, FindInstStopsOnAConfigurationFailure) {
    fake().open_ok = false;
    sc_ = new_ser_com("COM4");
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
    const std::string plain(12000, 'a');
    const std::string cut = com2fix(plain.c_str());
    EXPECT_EQ(cut, std::string(10000, 'a') + "...");
    // A text that ends at the limit has no marker.
    const std::string exact(10000, 'b');
    EXPECT_EQ(std::string(com2fix(exact.c_str())), exact);
    // Renderings are never split: the longest result is 10003 characters and the marker.
    const std::string high(5000, '\xe9');
    const std::string rendered = com2fix(high.c_str());
    EXPECT_EQ(rendered.size(), 10000u + 3);  // 2500 renderings of four characters, then the marker
    std::string wide = std::string(9999, 'c') + "\xe9\xe9";
    const std::string longest = com2fix(wide.c_str());
    EXPECT_EQ(longest, std::string(9999, 'c') + "\\351...");
}

}  // namespace
