// The posix backend's operations, called directly through its table, over a
// real pseudo-terminal pair; and its pure helpers (deadlines, termios
// mapping, port naming and listing).
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "ser_nt_com/platform/posix.h"
#include "ser_nt_com/platform/ser_platform.h"
#include "serial/pty_pair.h"

namespace {

using std::chrono::milliseconds;

// ---- deadlines ------------------------------------------------------------

struct poll_case {
    int64_t deadline;
    int64_t now;
    int expected;
};

TEST(PosixDeadline, PollTimeoutRoundsUpAndSaturates) {
    const poll_case cases[] = {
        {INT64_MAX, 0, -1},           // no deadline: wait for ever
        {1000, 1000, 0},              // reached
        {1000, 5000, 0},              // passed
        {1000000, 999999, 1},         // 1 ns left still waits 1 ms
        {2000000, 1000000, 1},        // exactly 1 ms
        {2000001, 1000000, 2},        // just over 1 ms rounds up
        {INT64_MAX - 1, 0, INT_MAX},  // far away: clamped
    };
    for (const auto &c : cases) {
        EXPECT_EQ(ser_posix::poll_timeout_ms(c.deadline, c.now), c.expected)
            << c.deadline << " at " << c.now;
    }
    EXPECT_EQ(ser_posix::deadline_after(100, 5), 100 + 5000000);
    EXPECT_EQ(ser_posix::deadline_after(0, UINT64_MAX), INT64_MAX);
}

struct pipe_fds {
    int fd[2] = {-1, -1};
    pipe_fds() { EXPECT_EQ(pipe(fd), 0); }
    ~pipe_fds() {
        close(fd[0]);
        close(fd[1]);
    }
};

std::atomic<int> signals_seen{0};
void count_signal(int) {
    signals_seen++;
}

TEST(PosixDeadline, SignalDoesNotCutTheWaitShort) {
    // No SA_RESTART: poll() really returns EINTR.
    struct sigaction sa {};
    struct sigaction old {};
    sa.sa_handler = count_signal;
    sigemptyset(&sa.sa_mask);
    ASSERT_EQ(sigaction(SIGUSR1, &sa, &old), 0);
    signals_seen = 0;

    pipe_fds p;
    const pthread_t waiter = pthread_self();
    std::thread kicker([waiter] {
        std::this_thread::sleep_for(milliseconds(30));
        pthread_kill(waiter, SIGUSR1);
    });
    short revents = 0;
    int err = 0;
    const auto start = clock_type::now();
    const int r = ser_posix::wait_fd(
        p.fd[0], POLLIN, ser_posix::deadline_after(ser_posix::now_ns(), 150), &revents, &err);
    const auto elapsed = ms_since(start);
    kicker.join();
    sigaction(SIGUSR1, &old, nullptr);
    EXPECT_EQ(r, 0);
    EXPECT_EQ(signals_seen.load(), 1);
    EXPECT_GE(elapsed, 150);
}

// ---- termios mapping ------------------------------------------------------

ser_dcb base_dcb(uint32_t rate) {
    ser_dcb dcb{};
    dcb.BaudRate = rate;
    dcb.fBinary = 1;
    dcb.ByteSize = 8;
    dcb.Parity = SER_NOPARITY;
    dcb.StopBits = SER_ONESTOPBIT;
    dcb.fDtrControl = SER_DTR_CONTROL_ENABLE;
    dcb.fRtsControl = SER_RTS_CONTROL_ENABLE;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    return dcb;
}

TEST(PosixTermios, EveryRateOfTheTableMapsBothWays) {
    for (uint32_t rate :
         {110u, 300u, 600u, 1200u, 2400u, 4800u, 9600u, 19200u, 38400u, 57600u, 115200u, 230400u
#ifdef B921600
          ,
          921600u
#endif
         }) {
        termios t{};
        ASSERT_EQ(ser_posix::dcb_to_termios(base_dcb(rate), &t), 0) << rate;
        ser_dcb back = base_dcb(0);
        ser_posix::termios_to_dcb(t, &back);
        EXPECT_EQ(back.BaudRate, rate);
        EXPECT_EQ(cfgetispeed(&t), cfgetospeed(&t));
    }
}

TEST(PosixTermios, UnsupportedSettingsFailAndLeaveTheRecordAlone) {
    std::vector<ser_dcb> bad;
#ifndef B14400
    bad.push_back(base_dcb(14400));
#endif
    bad.push_back(base_dcb(12345));
    bad.push_back(base_dcb(0));
    for (uint8_t size : {4, 9}) {
        bad.push_back(base_dcb(9600));
        bad.back().ByteSize = size;
    }
    bad.push_back(base_dcb(9600));
    bad.back().StopBits = SER_ONE5STOPBITS;
    bad.push_back(base_dcb(9600));
    bad.back().Parity = 3;  // mark
    for (const auto &dcb : bad) {
        termios t{};
        t.c_lflag = ICANON | ECHO;
        const termios before = t;
        EXPECT_EQ(ser_posix::dcb_to_termios(dcb, &t), EINVAL)
            << dcb.BaudRate << " " << int{dcb.ByteSize} << " " << int{dcb.StopBits};
        EXPECT_EQ(std::memcmp(&t, &before, sizeof t), 0);
    }
}

struct line_case {
    uint8_t byte_size, parity, stop_bits;
    uint32_t cts, rts, outx, inx;
    tcflag_t cflag;  // the CSIZE, PARENB, PARODD, CSTOPB and CRTSCTS bits
    tcflag_t iflag;  // the IXON and IXOFF bits
};

TEST(PosixTermios, LineSettingsMapBothWays) {
    constexpr uint32_t rts_on = SER_RTS_CONTROL_ENABLE;
    constexpr uint32_t rts_hs = SER_RTS_CONTROL_HANDSHAKE;
    const line_case cases[] = {
        {5, SER_NOPARITY, SER_ONESTOPBIT, 0, rts_on, 0, 0, CS5, 0},
        {6, SER_ODDPARITY, SER_TWOSTOPBITS, 0, rts_on, 0, 0, CS6 | PARENB | PARODD | CSTOPB, 0},
        // the instrument's line: 7E2 with RTS/CTS
        {7, SER_EVENPARITY, SER_TWOSTOPBITS, 1, rts_hs, 0, 0, CS7 | PARENB | CSTOPB | CRTSCTS, 0},
        {8, SER_NOPARITY, SER_ONESTOPBIT, 0, rts_on, 1, 1, CS8, IXON | IXOFF},
    };
    constexpr tcflag_t cmask = CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS;
    for (const auto &c : cases) {
        ser_dcb dcb = base_dcb(38400);
        dcb.ByteSize = c.byte_size;
        dcb.Parity = c.parity;
        dcb.fParity = c.parity != SER_NOPARITY;
        dcb.StopBits = c.stop_bits;
        dcb.fOutxCtsFlow = c.cts;
        dcb.fRtsControl = c.rts;
        dcb.fOutX = c.outx;
        dcb.fInX = c.inx;
        termios t{};
        t.c_cflag = CRTSCTS | PARODD;  // what was there must not stick
        t.c_iflag = IXON | IXOFF;
        ASSERT_EQ(ser_posix::dcb_to_termios(dcb, &t), 0);
        EXPECT_EQ(t.c_cflag & cmask, c.cflag) << int{c.byte_size};
        EXPECT_EQ(t.c_iflag & (IXON | IXOFF), c.iflag) << int{c.byte_size};
        // Bad bytes are handed over, not replaced or dropped.
        EXPECT_EQ(t.c_iflag & (INPCK | IGNPAR | PARMRK), 0u);
        EXPECT_EQ(t.c_cc[VSTART], 0x11);
        EXPECT_EQ(t.c_cc[VSTOP], 0x13);

        ser_dcb b = base_dcb(0);
        ser_posix::termios_to_dcb(t, &b);
        EXPECT_EQ(std::make_tuple(b.ByteSize, b.Parity, b.fParity, b.StopBits, b.fOutxCtsFlow,
                                  b.fRtsControl, b.fOutX, b.fInX),
                  std::make_tuple(dcb.ByteSize, dcb.Parity, dcb.fParity, dcb.StopBits,
                                  dcb.fOutxCtsFlow, dcb.fRtsControl, dcb.fOutX, dcb.fInX));
    }
}

TEST(PosixTermios, LineIsRawWhateverItWasBefore) {
    termios t{};
    t.c_iflag = ICRNL | INLCR | IGNCR | ISTRIP | BRKINT | IXANY | INPCK;
    t.c_oflag = OPOST | ONLCR;
    t.c_lflag = ICANON | ECHO | ECHOE | ISIG | IEXTEN;
    t.c_cflag = HUPCL;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 5;
    ASSERT_EQ(ser_posix::dcb_to_termios(base_dcb(38400), &t), 0);
    EXPECT_EQ(t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | BRKINT | IXANY | INPCK), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ECHOE | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_cflag & HUPCL, 0u);
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), tcflag_t{CLOCAL | CREAD});
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);
}

// ---- port naming and listing ----------------------------------------------

TEST(PosixPortList, NaturalOrder) {
    struct order_case {
        const char *a, *b;
        bool less;
    };
    const order_case cases[] = {
        {"/dev/ttyS2", "/dev/ttyS10", true},      {"/dev/ttyS10", "/dev/ttyS2", false},
        {"/dev/ttyS2", "/dev/ttyS2", false},      {"/dev/ttyACM9", "/dev/ttyS0", true},
        {"/dev/ttyS0", "/dev/ttyUSB0", true},     {"/dev/ttyUSB01", "/dev/ttyUSB1", true},
        {"/dev/ttyUSB1", "/dev/ttyUSB01", false}, {"/dev/cu.a", "/dev/cu.a1", true},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(ser_posix::natural_less(c.a, c.b), c.less) << c.a << " < " << c.b;
    }
}

TEST(PosixPortList, ScanListsRealSerialDevicesInNaturalOrder) {
    namespace fs = std::filesystem;
    char tmpl[] = "/tmp/ca410_scan_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const fs::path root = tmpl, dev = root / "dev", sys = root / "sys";
    struct cleanup {
        fs::path p;
        ~cleanup() { fs::remove_all(p); }
    } cleanup{root};
    fs::create_directories(dev);
    for (const char *name :
         {"ttyUSB10", "ttyUSB2", "ttyUSB0", "ttyACM0", "ttyAMA0", "rfcomm0", "ttyS0", "ttyS1",
          "ttyS2", "ttyS3", "tty0", "ttyUSBx", "console", "ttyACM"}) {
        std::ofstream(dev / name);
    }
    // ttyS0 has a UART (type 4, a 16550A), ttyS1 is an empty slot (type 0),
    // ttyS2 has a driver but no type file, ttyS3 nothing at all.
    fs::create_directories(sys / "ttyS0");
    fs::create_directories(sys / "ttyS1");
    fs::create_directories(sys / "ttyS2/device/driver");
    std::ofstream(sys / "ttyS0/type") << "4\n";
    std::ofstream(sys / "ttyS1/type") << "0\n";
    std::vector<std::pair<std::string, std::string>> ports;
    int err = 0;
    ASSERT_TRUE(ser_posix::scan_ports(dev, sys, &ports, &err));
    std::vector<std::string> names;
    for (const auto &p : ports) {
        EXPECT_EQ(p.second, (dev / p.first).string());
        names.push_back(p.first);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"rfcomm0", "ttyACM0", "ttyAMA0", "ttyS0", "ttyS2",
                                               "ttyUSB0", "ttyUSB2", "ttyUSB10"}));
    // No device directory: a failure with its reason.
    EXPECT_FALSE(ser_posix::scan_ports(root / "none", sys, &ports, &err));
    EXPECT_EQ(err, ENOENT);
}

TEST(PosixPortList, ValueCopyFollowsTheRegistrySizeRules) {
    const std::string name = "ttyUSB0";       // 7 characters
    const std::string data = "/dev/ttyUSB0";  // 12 characters
    struct size_case {
        uint32_t name_size, data_size;
        int32_t result;
        uint32_t name_out, data_out;
    };
    const size_case cases[] = {
        {500, 500, SER_LIST_SUCCESS, 7, 13},
        {8, 13, SER_LIST_SUCCESS, 7, 13},    // exactly enough, terminators included
        {7, 13, SER_LIST_MORE_DATA, 7, 13},  // name one short
        {8, 12, SER_LIST_MORE_DATA, 8, 13},  // data one short: the size it needs
        {0, 0, SER_LIST_MORE_DATA, 0, 13},
    };
    for (const auto &c : cases) {
        std::vector<char> name_buf(c.name_size + 1, '#');
        std::vector<uint8_t> data_buf(c.data_size + 1, '#');
        uint32_t name_size = c.name_size;
        uint32_t data_size = c.data_size;
        uint32_t type = 0;
        EXPECT_EQ(ser_posix::copy_list_value(name, data, name_buf.data(), &name_size, &type,
                                             data_buf.data(), &data_size),
                  c.result)
            << c.name_size << "/" << c.data_size;
        EXPECT_EQ(std::make_tuple(name_size, data_size, type),
                  std::make_tuple(c.name_out, c.data_out, uint32_t{SER_LIST_TYPE_STRING}));
        if (c.result == SER_LIST_SUCCESS) {
            EXPECT_STREQ(name_buf.data(), "ttyUSB0");
            EXPECT_STREQ(reinterpret_cast<const char *>(data_buf.data()), "/dev/ttyUSB0");
        } else {
            // Nothing written into buffers too small for it.
            EXPECT_EQ(name_buf[0], '#');
            EXPECT_EQ(data_buf[0], '#');
        }
    }
}

TEST(PosixPortList, MachineListingWalksToTheEnd) {
    const ser_platform_ops *ops = ser_platform_native();
    ser_list_key key = nullptr;
    ASSERT_EQ(ops->list_open(&key), SER_LIST_SUCCESS);
    std::vector<std::string> paths;
    for (uint32_t i = 0;; i++) {
        char name[500];
        uint8_t data[500];
        uint32_t name_size = sizeof name;
        uint32_t data_size = sizeof data;
        uint32_t type = 0;
        const int32_t r = ops->list_value(key, i, name, &name_size, &type, data, &data_size);
        if (r == SER_LIST_NO_MORE_ITEMS) break;
        ASSERT_EQ(r, SER_LIST_SUCCESS);
        EXPECT_EQ(type, SER_LIST_TYPE_STRING);
        const std::string path(reinterpret_cast<const char *>(data));
        EXPECT_EQ(path, std::string("/dev/") + name);
        EXPECT_EQ(data_size, path.size() + 1);
        paths.push_back(path);
    }
    for (size_t i = 1; i < paths.size(); i++) {
        EXPECT_TRUE(ser_posix::natural_less(paths[i - 1], paths[i]));
    }
    EXPECT_EQ(ops->list_value(key, UINT32_MAX, nullptr, nullptr, nullptr, nullptr, nullptr),
              SER_LIST_NO_MORE_ITEMS);
    EXPECT_EQ(ops->list_close(key), SER_LIST_SUCCESS);
}

// ---- operations over a pseudo-terminal ------------------------------------

class PosixBackend : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(pty_.ok()) << "no pseudo-terminals on this machine";
        ops_ = ser_platform_native();
        ASSERT_STREQ(ops_->name, "posix");
    }
    void TearDown() override {
        if (handle_ != nullptr) ops_->close(handle_);
    }
    bool open_slave() {
        char path[100];
        return ops_->open_port(pty_.slave_path().c_str(), path, sizeof path, &handle_);
    }
    void set_timeouts(uint32_t interval, uint32_t total) {
        const ser_timeouts t{interval, 0, total, 0, total};
        ASSERT_TRUE(ops_->set_timeouts(handle_, &t));
    }
    // One platform read; returns the bytes and the result.
    std::string read(uint32_t count, bool *ok = nullptr) {
        std::string buf(count, '\0');
        uint32_t got = 0;
        const bool r = ops_->read(handle_, buf.data(), count, &got);
        if (ok != nullptr) *ok = r;
        buf.resize(got);
        return buf;
    }

    pty_pair pty_;
    const ser_platform_ops *ops_ = nullptr;
    ser_handle handle_ = nullptr;
};

// A name with a "/" is a path, relative ones from the working directory; only
// a bare name is looked up under /dev (never in the working directory).
TEST_F(PosixBackend, NameWithASlashIsAPathAndABareNameLivesUnderDev) {
    namespace fs = std::filesystem;
    char tmpl[] = "/tmp/ca410_names_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const fs::path root = tmpl;
    struct restore {
        fs::path cwd = fs::current_path(), dir;
        ~restore() {
            fs::current_path(cwd);
            fs::remove_all(dir);
        }
    } restore{fs::current_path(), root};
    fs::create_directories(root / "sub");
    fs::create_symlink(pty_.slave_path(), root / "ca410_test_port");
    fs::create_symlink(pty_.slave_path(), root / "sub/port");
    fs::current_path(root);
    const std::string pts = pty_.slave_path().substr(std::strlen("/dev/"));  // "pts/N"
    struct name_case {
        std::string name, path;
        uint32_t error;  // 0: opens
    };
    const name_case cases[] = {
        {pty_.slave_path(), pty_.slave_path(), 0},
        {"./ca410_test_port", "./ca410_test_port", 0},
        {"sub/port", "sub/port", 0},
        {(root / "sub/port").string(), (root / "sub/port").string(), 0},
        {pts, pts, ENOENT},  // relative to here, not to /dev
        {"ca410_test_port", "/dev/ca410_test_port", ENOENT},
        {"null", "/dev/null", ENOTTY},  // found there, but not a terminal
    };
    for (const auto &c : cases) {
        char path[256] = "";
        ser_handle h = nullptr;
        EXPECT_EQ(ops_->open_port(c.name.c_str(), path, sizeof path, &h), c.error == 0) << c.name;
        EXPECT_EQ(std::string(path), c.path) << c.name;
        if (c.error != 0) {
            EXPECT_EQ(ops_->last_error(), c.error) << c.name;
        }
        if (h != nullptr) ops_->close(h);
    }
}

TEST_F(PosixBackend, OpenFailuresKeepTheirReason) {
    struct open_case {
        const char *name;
        const char *path;
        uint32_t error;
    };
    const open_case cases[] = {
        {"ca410_no_such_port", "/dev/ca410_no_such_port", ENOENT},
        {"/nonexistent/ttyUSB0", "/nonexistent/ttyUSB0", ENOENT},
        {"/dev/null", "/dev/null", ENOTTY},
    };
    for (const auto &c : cases) {
        char path[100];
        ser_handle h = nullptr;
        EXPECT_FALSE(ops_->open_port(c.name, path, sizeof path, &h)) << c.name;
        EXPECT_EQ(h, nullptr);
        EXPECT_EQ(ops_->last_error(), c.error) << c.name;
        EXPECT_STREQ(path, c.path);
    }
    char small[8];
    ser_handle h = nullptr;
    EXPECT_FALSE(ops_->open_port(pty_.slave_path().c_str(), small, sizeof small, &h));
    EXPECT_EQ(ops_->last_error(), uint32_t{ENAMETOOLONG});
}

TEST_F(PosixBackend, PortIsSharedWithNobody) {
    ASSERT_TRUE(open_slave());
    char path[100];
    ser_handle second = nullptr;
    EXPECT_FALSE(ops_->open_port(pty_.slave_path().c_str(), path, sizeof path, &second));
    EXPECT_EQ(ops_->last_error(), uint32_t{EBUSY});
    EXPECT_EQ(second, nullptr);
    // Closing gives the port back.
    ops_->close(handle_);
    handle_ = nullptr;
    ASSERT_TRUE(open_slave());
}

TEST_F(PosixBackend, LineIsRawFromTheOpenOn) {
    ASSERT_TRUE(open_slave());
    set_timeouts(20, 2000);
    // No CR/LF translation and no echo in either direction.
    ASSERT_TRUE(pty_.send("a\rb\n\x03"));
    EXPECT_EQ(read(5), "a\rb\n\x03");
    set_timeouts(0, 1000);
    uint32_t written = 0;
    ASSERT_TRUE(ops_->write(handle_, "x\r\n", 3, &written));
    EXPECT_EQ(written, 3u);
    EXPECT_EQ(pty_.receive(3, 1000), "x\r\n");
}

TEST_F(PosixBackend, StateRoundTripsAndKeepsWhatTermiosCannotHold) {
    ASSERT_TRUE(open_slave());
    ser_dcb dcb{};
    ASSERT_TRUE(ops_->get_state(handle_, &dcb));
    EXPECT_EQ(dcb.fBinary, 1u);
    EXPECT_EQ(dcb.fDtrControl, SER_DTR_CONTROL_ENABLE);

    dcb.BaudRate = 38400;
    dcb.ByteSize = 7;
    dcb.Parity = SER_EVENPARITY;
    dcb.StopBits = SER_TWOSTOPBITS;
    dcb.fParity = dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = 1;
    dcb.fRtsControl = SER_RTS_CONTROL_HANDSHAKE;
    dcb.fDtrControl = SER_DTR_CONTROL_HANDSHAKE;
    dcb.XonLim = 1234;
    ASSERT_TRUE(ops_->set_state(handle_, &dcb));
    ser_dcb back{};
    ASSERT_TRUE(ops_->get_state(handle_, &back));
    const auto kept = [](const ser_dcb &d) {
        return std::make_tuple(d.BaudRate, d.StopBits, d.fOutxCtsFlow, d.fRtsControl,
                               d.fOutxDsrFlow, d.fDtrControl, d.XonLim);
    };
    EXPECT_EQ(kept(back), kept(dcb));
    // (A pty forces 8 data bits and no parity, so those are not checked here.)

    ser_dcb odd = back;
    odd.BaudRate = 12345;
    EXPECT_FALSE(ops_->set_state(handle_, &odd));
    EXPECT_EQ(ops_->last_error(), uint32_t{EINVAL});
    ASSERT_TRUE(ops_->get_state(handle_, &back));
    EXPECT_EQ(back.BaudRate, 38400u);
}

TEST_F(PosixBackend, ReadWithNothingComingEndsAtTheTotalTimeout) {
    ASSERT_TRUE(open_slave());
    set_timeouts(20, 200);
    const auto start = clock_type::now();
    bool ok = false;
    EXPECT_EQ(read(64, &ok), "");
    EXPECT_TRUE(ok);
    EXPECT_GE(ms_since(start), 200);
}

TEST_F(PosixBackend, ReadEndsEarlyWhenTheLineFallsQuietOrTheCountIsIn) {
    ASSERT_TRUE(open_slave());
    set_timeouts(20, 10000);
    ASSERT_TRUE(pty_.send("OK00\r"));
    const auto start = clock_type::now();
    bool ok = false;
    EXPECT_EQ(read(64, &ok), "OK00\r");
    EXPECT_TRUE(ok);
    set_timeouts(10000, 10000);  // only the count can end it early
    ASSERT_TRUE(pty_.send("abcdef"));
    EXPECT_EQ(read(3), "abc");
    EXPECT_EQ(read(3), "def");
    EXPECT_LT(ms_since(start), 5000);  // neither waited for the total
}

TEST_F(PosixBackend, ReadTakesBytesSpacedWithinTheIntervalAsOneBurst) {
    ASSERT_TRUE(open_slave());
    set_timeouts(500, 10000);
    pty_peer peer([this](const std::atomic<bool> &) {
        for (char c : std::string("0123456789")) {
            pty_.send(std::string(1, c));
            std::this_thread::sleep_for(milliseconds(10));
        }
    });
    EXPECT_EQ(read(64), "0123456789");
}

TEST_F(PosixBackend, PeerHangingUpFailsTheReadWithWhatCame) {
    ASSERT_TRUE(open_slave());
    set_timeouts(10000, 10000);
    pty_peer peer([this](const std::atomic<bool> &) {
        pty_.send("OK0");
        std::this_thread::sleep_for(milliseconds(100));
        pty_.close_master();
    });
    const auto start = clock_type::now();
    bool ok = true;
    EXPECT_EQ(read(64, &ok), "OK0");
    EXPECT_FALSE(ok);
    EXPECT_EQ(ops_->last_error(), uint32_t{EIO});
    EXPECT_LT(ms_since(start), 5000);
    peer.join();

    // And a read on the dead line fails at once rather than waiting.
    ok = true;
    EXPECT_EQ(read(64, &ok), "");
    EXPECT_FALSE(ok);
    uint32_t errors = 1;
    (void)ops_->clear_error(handle_, &errors);
    EXPECT_EQ(errors, 0u);
    uint32_t written = 1;
    EXPECT_FALSE(ops_->write(handle_, "x", 1, &written));
    EXPECT_EQ(written, 0u);
}

TEST_F(PosixBackend, WriteStopsAtItsTimeoutWithAPartialCount) {
    ASSERT_TRUE(open_slave());
    set_timeouts(0, 200);
    // Far more than a pty holds while nobody reads the other end.
    std::string big;
    while (big.size() < (1u << 20)) big += "abcdefghijklmnopqrstuvwxyz";
    uint32_t written = 0;
    const auto start = clock_type::now();
    EXPECT_TRUE(ops_->write(handle_, big.data(), static_cast<uint32_t>(big.size()), &written));
    EXPECT_GE(ms_since(start), 200);
    EXPECT_GT(written, 0u);
    ASSERT_LT(written, big.size());
    // Exactly the bytes counted went out, in order.
    EXPECT_EQ(pty_.receive(written, 5000), big.substr(0, written));
}

TEST_F(PosixBackend, PurgeDropsStaleInput) {
    ASSERT_TRUE(open_slave());
    ASSERT_TRUE(pty_.send("stale"));
    std::this_thread::sleep_for(milliseconds(50));  // let it land
    ops_->purge(handle_,
                SER_PURGE_TXABORT | SER_PURGE_RXABORT | SER_PURGE_TXCLEAR | SER_PURGE_RXCLEAR);
    set_timeouts(20, 100);
    EXPECT_EQ(read(64), "");
}

}  // namespace
