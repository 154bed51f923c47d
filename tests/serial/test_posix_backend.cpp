// The posix backend: its pure helpers, and its operations over a real pseudo-terminal pair.
#include <gtest/gtest.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>

#include <array>
#include <climits>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "ser_nt_com/platform/posix.h"
#include "serial/pty_pair.h"

namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

std::atomic<int> signals_seen{0};

TEST(PosixBackendHelpers, DeadlinesRatesLineSettingsAndPortNames) {
    // No deadline: for ever; reached or passed: 0; 1 ns left or exactly 1 ms: 1; just over: 2.
    const std::tuple<int64_t, int64_t, int> waits[] = {
        {INT64_MAX, 0, -1},         {1000, 1000, 0},       {1000, 5000, 0},
        {1000000, 999999, 1},       {2000000, 1000000, 1}, {2000001, 1000000, 2},
        {INT64_MAX - 1, 0, INT_MAX}};
    for (const auto &[deadline, now, ms] : waits) {
        EXPECT_EQ(ser_posix::poll_timeout_ms(deadline, now), ms) << deadline;
    }
    EXPECT_EQ(ser_posix::deadline_after(100, 5), 100 + 5000000);
    EXPECT_EQ(ser_posix::deadline_after(0, UINT64_MAX), INT64_MAX);

    struct sigaction sa {
    }, old{};
    sa.sa_handler = [](int) { signals_seen++; };  // no SA_RESTART: poll() returns EINTR
    ASSERT_EQ(sigaction(SIGUSR1, &sa, &old), 0);
    int fd[2];
    ASSERT_EQ(pipe(fd), 0);
    std::thread kicker([waiter = pthread_self()] {
        std::this_thread::sleep_for(milliseconds(30));
        pthread_kill(waiter, SIGUSR1);
    });
    short revents = 0;
    int err = 0;
    const auto start = clock_type::now();
    const int64_t deadline = ser_posix::deadline_after(ser_posix::now_ns(), 150);
    EXPECT_EQ(ser_posix::wait_fd(fd[0], POLLIN, deadline, &revents, &err), 0);
    EXPECT_GE(ms_since(start), 150);
    kicker.join();
    sigaction(SIGUSR1, &old, nullptr);
    close(fd[0]);
    close(fd[1]);
    EXPECT_EQ(signals_seen.load(), 1);

    for (uint32_t rate : {50u, 75u, 110u, 134u, 150u, 200u, 300u, 600u, 1200u, 1800u, 2400u, 4800u,
                          9600u, 19200u, 38400u, 57600u, 115200u, 230400u}) {
        speed_t speed{};
        ASSERT_TRUE(ser_posix::rate_to_speed(rate, &speed)) << rate;
        EXPECT_EQ(ser_posix::speed_to_rate(speed), rate);
    }
    // Byte size, parity, stop bits, CTS, RTS (1 on, 2 handshake), XON/XOFF; cflag, iflag bits.
    const std::tuple<std::array<uint8_t, 7>, tcflag_t, tcflag_t> cases[] = {
        {{5, SER_NOPARITY, SER_ONESTOPBIT, 0, 1, 0, 0}, CS5, 0},
        {{6, SER_ODDPARITY, SER_TWOSTOPBITS, 0, 1, 0, 0}, CS6 | PARENB | PARODD | CSTOPB, 0},
        {{7, SER_EVENPARITY, SER_TWOSTOPBITS, 1, 2, 0, 0}, CS7 | PARENB | CSTOPB | CRTSCTS, 0},
        {{8, SER_NOPARITY, SER_ONESTOPBIT, 0, 1, 1, 1}, CS8, IXON | IXOFF},
    };
    for (const auto &[v, cflag, iflag] : cases) {
        ser_dcb dcb{};
        dcb.BaudRate = 38400;
        std::tie(dcb.ByteSize, dcb.Parity, dcb.StopBits) = std::tie(v[0], v[1], v[2]);
        std::tie(dcb.fOutxCtsFlow, dcb.fRtsControl, dcb.fOutX, dcb.fInX) =
            std::make_tuple(v[3], v[4], v[5], v[6]);
        dcb.fParity = v[1] != SER_NOPARITY;
        dcb.XonChar = 0x11;
        termios t{};  // old flags do not stick; bad bytes are handed over; DTR stays up at close
        t.c_iflag = INPCK | IXON | IXOFF;
        t.c_cflag = HUPCL | CRTSCTS | PARODD;
        ASSERT_EQ(ser_posix::dcb_to_termios(dcb, &t), 0);
        EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | HUPCL), cflag) << v[0];
        EXPECT_EQ(std::make_tuple(t.c_iflag, t.c_cc[VSTART]), std::make_tuple(iflag, cc_t{0x11}));
        // Back: an RTS handshake the line no longer has falls back to enabled.
        ser_dcb b{};
        b.fRtsControl = SER_RTS_CONTROL_HANDSHAKE;
        ser_posix::termios_to_dcb(t, &b);
        EXPECT_EQ(std::make_tuple(b.BaudRate, b.fBinary, b.ByteSize, b.Parity, b.fParity,
                                  b.StopBits, b.fOutxCtsFlow, b.fRtsControl, b.fOutX, b.fInX),
                  std::make_tuple(38400u, 1u, dcb.ByteSize, dcb.Parity, dcb.fParity, dcb.StopBits,
                                  dcb.fOutxCtsFlow, dcb.fRtsControl, dcb.fOutX, dcb.fInX));
    }
    // Refused: no termios constant (14400 on Linux), no rate, 4 or 9 bits, 1.5 stop, mark.
    const std::tuple<uint32_t, uint8_t, uint8_t, uint8_t> bad[] = {
#ifndef B14400
        {14400, 8, 0, 0},
#endif
        {12345, 8, 0, 0}, {0, 8, 0, 0},    {9600, 4, 0, 0},
        {9600, 9, 0, 0},  {9600, 8, 1, 0}, {9600, 8, 0, 3},
    };
    for (const auto &[rate, size, stop, parity] : bad) {
        ser_dcb dcb{};
        std::tie(dcb.BaudRate, dcb.ByteSize, dcb.StopBits, dcb.Parity) =
            std::tie(rate, size, stop, parity);
        termios t{};
        EXPECT_EQ(ser_posix::dcb_to_termios(dcb, &t), EINVAL) << rate << " " << int{size};
    }
    // Port names in natural order.
    const std::tuple<const char *, const char *, bool> order[] = {
        {"/dev/ttyS2", "/dev/ttyS10", true},      {"/dev/ttyS10", "/dev/ttyS2", false},
        {"/dev/ttyS2", "/dev/ttyS2", false},      {"/dev/ttyACM9", "/dev/ttyS0", true},
        {"/dev/ttyS0", "/dev/ttyUSB0", true},     {"/dev/ttyUSB01", "/dev/ttyUSB1", true},
        {"/dev/ttyUSB1", "/dev/ttyUSB01", false}, {"/dev/cu.a", "/dev/cu.a1", true},
    };
    for (const auto &[a, b, less] : order) EXPECT_EQ(ser_posix::natural_less(a, b), less) << a << b;
    // ttyS ones need a UART: a known type (4: a 16550A) or a driver; not type 0, not nothing.
    const fs::path root = fs::temp_directory_path() / ("ca410_test_" + std::to_string(getpid()));
    const fs::path dev = root / "dev", sys = root / "sys";
    fs::create_directories(dev);
    for (const char *name : {"ttyUSB10", "ttyUSB2", "ttyACM0", "ttyAMA0", "rfcomm0", "ttyS0",
                             "ttyS1", "ttyS2", "ttyS3", "tty0", "ttyUSBx", "ttyACM"}) {
        std::ofstream(dev / name);
    }
    fs::create_directories(sys / "ttyS0");
    fs::create_directories(sys / "ttyS1");
    fs::create_directories(sys / "ttyS2/device/driver");
    std::ofstream(sys / "ttyS0/type") << "4\n";
    std::ofstream(sys / "ttyS1/type") << "0\n";
    std::vector<std::pair<std::string, std::string>> ports;
    ASSERT_TRUE(ser_posix::scan_ports(dev, sys, &ports, &err));
    std::string names;
    for (const auto &[name, path] : ports) names += (path == dev / name ? " " : " !") + name;
    EXPECT_EQ(names, " rfcomm0 ttyACM0 ttyAMA0 ttyS0 ttyS2 ttyUSB2 ttyUSB10");
    // What sysfs says of the USB device two levels above the tty's interface.
    const fs::path usb = root / "devices/usb1/1-1", tty = usb / "1-1:1.0/ttyUSB2";
    fs::create_directories(tty);
    fs::create_directories(sys / "ttyUSB2");
    fs::create_directory_symlink(tty, sys / "ttyUSB2/device");
    const std::pair<const char *, const char *> files[] = {{"idVendor", "0403\n"},
                                                           {"idProduct", "6001\n"},
                                                           {"manufacturer", "FTDI\n"},
                                                           {"product", "FT232R USB UART\n"},
                                                           {"serial", "A1B2C3\n"}};
    for (const auto &[file, text] : files) std::ofstream(usb / file) << text;
    ser_port_details details{};
    ASSERT_TRUE(ser_posix::usb_details(sys, "ttyUSB2", &details));
    EXPECT_EQ(std::make_tuple(details.usb_vendor_id, details.usb_product_id,
                              std::string(details.description), std::string(details.manufacturer),
                              std::string(details.serial_number)),
              std::make_tuple(0x0403, 0x6001, std::string("FT232R USB UART"), std::string("FTDI"),
                              std::string("A1B2C3")));
    EXPECT_FALSE(ser_posix::usb_details(sys, "ttyS0", &details));  // a UART, no USB device
    fs::remove_all(root);
}

class PosixBackend : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(pty_.ok()) << "no pseudo-terminals on this machine";
        char path[100];
        ASSERT_TRUE(ops_->open_port(pty_.slave_path().c_str(), path, sizeof path, &handle_));
    }
    void TearDown() override {
        if (handle_ != nullptr) ops_->close(handle_);
    }
    void set_timeouts(uint32_t interval, uint32_t total) {
        const ser_timeouts t{interval, 0, total, 0, total};
        ASSERT_TRUE(ops_->set_timeouts(handle_, &t));
    }
    // One platform read: the bytes that came; `ok_` says whether the read succeeded.
    std::string read(uint32_t count) {
        std::string buf(count, '\0');
        uint32_t got = 0;
        ok_ = ops_->read(handle_, buf.data(), count, &got);
        return buf.substr(0, got);
    }

    pty_pair pty_;
    const ser_platform_ops *ops_ = ser_platform_native();
    ser_handle handle_ = nullptr;
    bool ok_ = false;
};

// A name with a "/" is a path, a bare one a device under /dev; and nobody else may open it.
TEST_F(PosixBackend, PortNamesAndExclusiveOpen) {
    const std::tuple<std::string, std::string, uint32_t> cases[] = {
        {pty_.slave_path(), pty_.slave_path(), EBUSY},
        {"ca410_no_port", "/dev/ca410_no_port", ENOENT},
        {"null", "/dev/null", ENOTTY},  // found there, but not a terminal
        {pty_.slave_path(), pty_.slave_path(), 0},
    };
    for (const auto &[name, path, error] : cases) {
        char out[256] = "";
        ser_handle h = nullptr;
        EXPECT_EQ(ops_->open_port(name.c_str(), out, sizeof out, &h), error == 0) << name;
        EXPECT_EQ(out, path);
        EXPECT_EQ(error == 0 ? 0 : ops_->last_error(), error) << name;
        if (h != nullptr) ops_->close(h);
        if (error == EBUSY) ops_->close(handle_);
    }
    handle_ = nullptr;
}

TEST_F(PosixBackend, ReadAndWriteTimeoutsAndPurge) {
    set_timeouts(20, 200);
    auto start = clock_type::now();
    EXPECT_EQ(read(64), "");  // nothing coming: the total, and no failure
    EXPECT_TRUE(ok_);
    EXPECT_GE(ms_since(start), 200);
    set_timeouts(20, 10000);
    ASSERT_TRUE(pty_.send("a\rb\n\x03"));  // raw: no translation, no echo, no signal
    start = clock_type::now();
    EXPECT_EQ(read(64), "a\rb\n\x03");  // the line falls quiet
    set_timeouts(10000, 10000);         // only the count can end it early
    ASSERT_TRUE(pty_.send("abc"));
    EXPECT_EQ(read(3), "abc");
    EXPECT_LT(ms_since(start), 5000);
    set_timeouts(500, 10000);  // bytes spaced within the interval are one burst
    pty_peer peer([this](const std::atomic<bool> &) {
        for (char c : std::string("0123456789")) {
            pty_.send(std::string(1, c));
            std::this_thread::sleep_for(milliseconds(10));
        }
    });
    EXPECT_EQ(read(64), "0123456789");
    peer.join();
    set_timeouts(20, 50);
    uint32_t got = 99;
    char none[1];
    EXPECT_TRUE(ops_->read(handle_, none, 0, &got));  // nothing asked, nothing told
    EXPECT_EQ(got, 0u);
    EXPECT_FALSE(ops_->read(handle_, nullptr, 1, &got));
    EXPECT_EQ(ops_->last_error(), uint32_t{EINVAL});
    // Written raw; a write stops at its time-out with a partial count.
    set_timeouts(0, 200);
    uint32_t written = 0;
    ASSERT_TRUE(ops_->write(handle_, "x\r\n", 3, &written));
    EXPECT_EQ(pty_.receive(written, 1000), "x\r\n");      // raw: no CR/LF translation
    ASSERT_TRUE(ops_->write(handle_, "y", 1, &written));  // one byte is a whole write too
    EXPECT_EQ(written, 1u);
    EXPECT_EQ(pty_.receive(1, 1000), "y");
    EXPECT_TRUE(ops_->write(handle_, nullptr, 0, &written));
    EXPECT_EQ(written, 0u);
    // Far more than a pty holds while nobody reads the other end.
    std::string big;
    while (big.size() < (1u << 20)) big += "abcdefghijklmnopqrstuvwxyz";
    start = clock_type::now();
    EXPECT_TRUE(ops_->write(handle_, big.data(), static_cast<uint32_t>(big.size()), &written));
    EXPECT_GE(ms_since(start), 200);
    ASSERT_GT(written, 0u);
    ASSERT_LT(written, big.size());
    EXPECT_EQ(pty_.receive(written, 5000), big.substr(0, written));  // exactly those, in order
    set_timeouts(20, 100);  // a purge of the receive queue drops stale input
    const uint32_t rx = SER_PURGE_RXABORT | SER_PURGE_RXCLEAR, tx = SER_PURGE_TXCLEAR;
    for (const uint32_t flags : {rx | SER_PURGE_TXABORT | tx, rx, tx}) {
        ASSERT_TRUE(pty_.send("stale"));
        std::this_thread::sleep_for(milliseconds(50));  // let it land
        ops_->purge(handle_, flags);
        EXPECT_EQ(read(64), (flags & rx) ? "" : "stale") << flags;
    }
}

}  // namespace
