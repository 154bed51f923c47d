// The serial logic on the posix backend over a real pseudo-terminal pair:
// the test plays the instrument on the master side, the library opens the
// slave by its full path.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <string>
#include <thread>

#include "cmat/clock.h"
#include "ser_nt_com/ser_com.h"
#include "serial/pty_pair.h"
#include "support/log_capture.h"

namespace {

using std::chrono::milliseconds;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;

class PosixPty : public ::testing::Test {
  protected:
    void SetUp() override {
        // The native backend and the real clock, whatever a fake test left.
        ser_platform = nullptr;
        cmat_clock = nullptr;
        ASSERT_TRUE(pty_.ok()) << "no pseudo-terminals on this machine";
        sc_ = new_ser_com(pty_.slave_path().c_str());
        ASSERT_NE(sc_, nullptr);
        // The instrument's line: RTS/CTS, 38400, even parity, 2 stop bits, 7 bits.
        ASSERT_EQ(ser_com_setport_ex(sc_, SER_FLOW_RTSCTS, SER_BAUD_38400, SER_PARITY_EVEN,
                                     SER_STOP_2, SER_WORD_7, 0),
                  0u);
        ASSERT_EQ(ser_com_is_open(sc_), 1);
        log_.clear();
    }
    void TearDown() override { ser_com_del(sc_); }

    // The "[ser_com_read]: read N bytes, [...]" lines, one per platform read
    // that brought something.
    std::vector<std::string> read_lines() const {
        std::vector<std::string> out;
        for (const auto &l : log_.debug()) {
            if (l.rfind("[ser_com_read]: read ", 0) == 0 &&
                l.find(" bytes, [") != std::string::npos) {
                out.push_back(l);
            }
        }
        return out;
    }

    log_capture log_;
    pty_pair pty_;
    ser_com *sc_ = nullptr;
    std::array<char, 128> buf_{};
    int32_t count_ = -1;
};

TEST_F(PosixPty, ReplyInTwoBurstsIsTakenInTwoReads) {
    pty_peer peer([this](const std::atomic<bool> &) {
        pty_.send("OK0");
        // Far longer than the 20 ms quiet-line end.
        std::this_thread::sleep_for(milliseconds(300));
        pty_.send("0\r");
    });
    EXPECT_EQ(ser_com_read(sc_, buf_.data(), buf_.size(), &count_, "\r", 1, 3000), 0u);
    EXPECT_STREQ(buf_.data(), "OK00\r");
    EXPECT_EQ(count_, 5);
    EXPECT_EQ(read_lines(), (std::vector<std::string>{"[ser_com_read]: read 3 bytes, [OK0]\n",
                                                      "[ser_com_read]: read 2 bytes, [0^M]\n"}));
    EXPECT_TRUE(log_.has_debug("[ser_com_read] tc count 0\n"));
    EXPECT_TRUE(log_.has_debug("[ser_com_read] tc count 1\n"));
    EXPECT_THAT(log_.debug_text(), HasSubstr("[ser_com_read]: read [2] times, [5] bytes,took "));
}

TEST_F(PosixPty, ReplyWithoutTerminatorTimesOutWithWhatCame) {
    ASSERT_TRUE(pty_.send("OK00"));
    const auto start = clock_type::now();
    EXPECT_EQ(ser_com_read(sc_, buf_.data(), buf_.size(), &count_, "\r", 1, 300), SER_ERR_TIMEOUT);
    EXPECT_GE(ms_since(start), 300);
    EXPECT_STREQ(buf_.data(), "OK00");
    EXPECT_EQ(count_, 4);
    EXPECT_THAT(log_.debug_text(), HasSubstr(" msec out of 300 msec\n"));
}

TEST_F(PosixPty, TwoTerminatorsInOneBurstAreBothKept) {
    ASSERT_TRUE(pty_.send("OK00\rOK01\r"));
    EXPECT_EQ(ser_com_read(sc_, buf_.data(), buf_.size(), &count_, "\r", 1, 3000), 0u);
    EXPECT_STREQ(buf_.data(), "OK00\rOK01\r");
    EXPECT_EQ(count_, 10);
    EXPECT_TRUE(log_.has_debug("[ser_com_read] tc count 2\n"));
    EXPECT_THAT(log_.debug_text(), HasSubstr("[ser_com_read]: read [1] times, [10] bytes,"));
}

TEST_F(PosixPty, BufferOfThreeHoldsTwoBytesAndIsNoTimeout) {
    ASSERT_TRUE(pty_.send("OK00\r"));
    std::array<char, 3> small{'#', '#', '#'};
    EXPECT_EQ(ser_com_read(sc_, small.data(), 3, &count_, "\r", 1, 3000), 0u);
    EXPECT_EQ(count_, 2);
    EXPECT_EQ(std::string(small.data(), 3), std::string("OK\0", 3));
    // The rest stays on the line for the next read.
    EXPECT_EQ(ser_com_read(sc_, buf_.data(), buf_.size(), &count_, "\r", 1, 3000), 0u);
    EXPECT_STREQ(buf_.data(), "00\r");
}

TEST_F(PosixPty, TextWriteSendsExactBytes) {
    EXPECT_EQ(ser_com_write(sc_, "IDO,0,1\r", 0, 1000), 0u);
    EXPECT_EQ(pty_.receive(8, 1000), "IDO,0,1\r");
    EXPECT_EQ(pty_.receive(1, 50), "");
    EXPECT_TRUE(log_.has_debug("[ser_com_write]: start write [IDO,0,1^M]  mstime 1000\n"));
    EXPECT_TRUE(log_.has_debug("[ser_com_write]: write 8 bytes\n"));
}

TEST_F(PosixPty, WriteWithNoTimeSendsNothing) {
    EXPECT_EQ(ser_com_write(sc_, "MES,1\r", 0, 0), SER_ERR_TIMEOUT);
    EXPECT_EQ(pty_.receive(100, 200), "");
    EXPECT_TRUE(log_.has_debug("[ser_com_write] took 0 ms > 0 ms\n"));
}

TEST_F(PosixPty, DrainDiscardsStaleBytesBeforeTheCommand) {
    ASSERT_TRUE(pty_.send("OK00,late answer\r"));
    std::this_thread::sleep_for(milliseconds(50));  // let it land before the exchange
    pty_peer peer([this](const std::atomic<bool> &) {
        if (pty_.receive(6, 5000) == "MES,1\r") pty_.send("OK00,1,0.5,0.6,0.7\r");
    });
    EXPECT_EQ(ser_com_write_read_ex(sc_, "MES,1\r", 0, buf_.data(), buf_.size(), &count_, "\r", 1,
                                    3000, 1),
              0u);
    EXPECT_STREQ(buf_.data(), "OK00,1,0.5,0.6,0.7\r");
    EXPECT_EQ(count_, 19);
    // The drain ran silenced: none of its reads was logged.
    EXPECT_THAT(log_.debug_text(), ::testing::Not(HasSubstr("late answer")));
    EXPECT_EQ(default_log.debug, 8);
}

TEST_F(PosixPty, DrainGivesUpOnALineThatNeverFallsQuiet) {
    pty_peer peer([this](const std::atomic<bool> &stop) {
        std::string seen;
        // A byte every 5 ms, never a 20 ms pause; answer once the command came.
        while (!stop && seen.find("MES,1\r") == std::string::npos) {
            pty_.send(".");
            seen += pty_.receive(64, 5);
        }
        if (!stop) pty_.send("OK00\r");
    });
    const auto start = clock_type::now();
    const uint32_t status = ser_com_write_read_ex(sc_, "MES,1\r", 0, buf_.data(), buf_.size(),
                                                  &count_, "\r", 1, 1000, 1);
    const auto elapsed = ms_since(start);
    peer.join();
    EXPECT_EQ(status, 0u);
    EXPECT_THAT(std::string(buf_.data()), MatchesRegex("\\.*OK00\r"));
    EXPECT_THAT(log_.error_text(), HasSubstr("line would not fall quiet"));
    // The bound, not the line, ended the drain; generous for a loaded machine.
    EXPECT_GE(elapsed, static_cast<long long>(SER_DRAIN_MAX_MS) - 100);
    EXPECT_LT(elapsed, static_cast<long long>(SER_DRAIN_MAX_MS) + 8000);
}

TEST_F(PosixPty, PeerClosingMidReadIsAFailureNotAHang) {
    pty_peer peer([this](const std::atomic<bool> &) {
        pty_.send("OK0");
        std::this_thread::sleep_for(milliseconds(100));
        pty_.close_master();
    });
    const auto start = clock_type::now();
    const uint32_t status = ser_com_read(sc_, buf_.data(), buf_.size(), &count_, "\r", 1, 10000);
    EXPECT_LT(ms_since(start), 5000);
    // A pty has no line errors to report, so the failure bit stands alone.
    EXPECT_EQ(status, SER_ERR_FAIL);
    EXPECT_STREQ(buf_.data(), "OK0");
    EXPECT_EQ(count_, 3);
    EXPECT_TRUE(log_.has_debug("[ser_com_read]: read err, 0x20000, rbuf=[OK0]\n"));
}

TEST_F(PosixPty, FindInstTriesEveryRateAndLeavesThePortClosed) {
    pty_peer peer([this](const std::atomic<bool> &stop) {
        std::string seen;
        while (!stop) {
            const std::string got = pty_.receive(6, 50);
            seen += got;
            for (size_t at; (at = seen.find("COM,1\r")) != std::string::npos;) {
                seen.erase(0, at + 6);
                pty_.send("OK00\r");
            }
        }
    });
    EXPECT_EQ(ser_com_find_inst(sc_), 0u) << log_.error_text();
    EXPECT_EQ(sc_->is_open, 0);
    EXPECT_EQ(sc_->handle, nullptr);
    peer.join();
    for (const char *rate : {"38400", "115200", "9600", "4800", "2400", "1200", "57600", "19200",
                             "600", "300", "110"}) {
        EXPECT_THAT(log_.debug_text(), HasSubstr(std::string("-- ") + rate + "\n"));
    }
    // Nobody holds the line any more: the backend can have it again.
    const ser_platform_ops *ops = ser_platform_native();
    char path[100];
    ser_handle h = nullptr;
    ASSERT_TRUE(ops->open_port(pty_.slave_path().c_str(), path, sizeof path, &h));
    ops->close(h);
}

}  // namespace
