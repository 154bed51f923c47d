// POSIX serial backend: termios for the line settings, a non-blocking
// descriptor and poll() for every wait. The port listing is in
// posix_ports.cpp. The serial logic above is written in
// Win32 terms (DCB, COMMTIMEOUTS, ReadFile/WriteFile, the SERIALCOMM registry
// walk); this file gives the same behaviour on Linux and macOS.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#if defined(__linux__)
#include <linux/serial.h>
#endif

#include "cmat/number_text.h"
#include "ser_nt_com/platform/posix.h"
#include "ser_nt_com/platform/ser_platform.h"

// Pure helpers with external linkage, declared in posix.h for the unit tests.
namespace ser_posix {

constexpr int64_t never = INT64_MAX;

int64_t now_ns() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

// Monotonic deadline `ms` from `start_ns`, saturating at `never`.
int64_t deadline_after(int64_t start_ns, uint64_t ms) {
    constexpr uint64_t max_ms = static_cast<uint64_t>(INT64_MAX / 1000000LL) / 2;
    if (ms >= max_ms) return never;
    return start_ns + static_cast<int64_t>(ms) * 1000000LL;
}

// poll() time-out for a deadline: -1 for none, 0 once it has passed, else the
// remaining time rounded up, so that a wait never ends just short of the
// deadline and comes back for a sub-millisecond spin.
int poll_timeout_ms(int64_t deadline_ns, int64_t now) {
    if (deadline_ns == never) return -1;
    if (now >= deadline_ns) return 0;
    const int64_t left = deadline_ns - now;
    const int64_t ms = left / 1000000LL + (left % 1000000LL != 0 ? 1 : 0);
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

// Waits for `events` on `fd` until the deadline. 1 with `*revents` set, 0
// when the deadline has passed, -1 when poll() failed (`*err` is its errno).
// A signal only restarts the wait with what is left of it.
int wait_fd(int fd, short events, int64_t deadline_ns, short *revents, int *err) {
    for (;;) {
        const int timeout = poll_timeout_ms(deadline_ns, now_ns());
        if (timeout == 0) return 0;
        pollfd p{fd, events, 0};
        const int r = poll(&p, 1, timeout);
        if (r < 0) {
            if (errno == EINTR) continue;
            *err = errno;
            return -1;
        }
        if (r > 0) {
            *revents = p.revents;
            return 1;
        }
    }
}

// The rates the library can ask for, with their termios speeds. A rate the
// system has no constant for (14400 on Linux, 921600 on macOS) is absent, so
// asking for it fails instead of silently running at another rate.
struct speed_entry {
    uint32_t rate;
    speed_t speed;
};
constexpr speed_entry speeds[] = {
    {50, B50},         {75, B75},       {110, B110},   {134, B134},   {150, B150},
    {200, B200},       {300, B300},     {600, B600},   {1200, B1200}, {1800, B1800},
    {2400, B2400},     {4800, B4800},   {9600, B9600},
#ifdef B14400
    {14400, B14400},
#endif
    {19200, B19200},   {38400, B38400},
#ifdef B57600
    {57600, B57600},
#endif
#ifdef B115200
    {115200, B115200},
#endif
#ifdef B230400
    {230400, B230400},
#endif
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B921600
    {921600, B921600},
#endif
};

bool rate_to_speed(uint32_t rate, speed_t *speed) {
    for (const auto &e : speeds) {
        if (e.rate == rate) {
            *speed = e.speed;
            return true;
        }
    }
    return false;
}

uint32_t speed_to_rate(speed_t speed) {
    for (const auto &e : speeds) {
        if (e.speed == speed) return e.rate;
    }
    return 0;
}

// Raw mode, as cfmakeraw() (not in POSIX) would set it, plus what a serial
// line needs: no canonical editing, echo, signals, output processing or
// CR/LF translation, since the instrument's answers end in a bare "\r";
// CLOCAL so that open and I/O do not wait for carrier; CREAD to receive at
// all; no HUPCL, so that closing does not drop DTR under the instrument.
// VMIN = VTIME = 0: the tty never waits by itself, every wait is our poll().
void make_raw(termios *t) {
    t->c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                         IXANY | INPCK | IGNPAR);
#ifdef IUCLC
    t->c_iflag &= ~static_cast<tcflag_t>(IUCLC);
#endif
#ifdef IMAXBEL
    t->c_iflag &= ~static_cast<tcflag_t>(IMAXBEL);
#endif
    t->c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t->c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    t->c_cflag |= CLOCAL | CREAD;
    t->c_cflag &= ~static_cast<tcflag_t>(HUPCL);
    t->c_cc[VMIN] = 0;
    t->c_cc[VTIME] = 0;
}

// Line settings from termios onto a DCB. Fields termios has no place for
// are left as they are in `dcb` (the caller fills them from what was set).
void termios_to_dcb(const termios &t, ser_dcb *dcb) {
    dcb->BaudRate = speed_to_rate(cfgetospeed(&t));
    dcb->fBinary = 1;
    switch (t.c_cflag & CSIZE) {
        case CS5:
            dcb->ByteSize = 5;
            break;
        case CS6:
            dcb->ByteSize = 6;
            break;
        case CS7:
            dcb->ByteSize = 7;
            break;
        default:
            dcb->ByteSize = 8;
            break;
    }
    if (t.c_cflag & PARENB) {
        dcb->fParity = 1;
        dcb->Parity = (t.c_cflag & PARODD) ? SER_ODDPARITY : SER_EVENPARITY;
    } else {
        dcb->fParity = 0;
        dcb->Parity = SER_NOPARITY;
    }
    dcb->StopBits = (t.c_cflag & CSTOPB) ? SER_TWOSTOPBITS : SER_ONESTOPBIT;
#ifdef CRTSCTS
    const bool rtscts = (t.c_cflag & CRTSCTS) != 0;
#else
    const bool rtscts = false;
#endif
    dcb->fOutxCtsFlow = rtscts ? 1 : 0;
    if (rtscts) {
        dcb->fRtsControl = SER_RTS_CONTROL_HANDSHAKE;
    } else if (dcb->fRtsControl == SER_RTS_CONTROL_HANDSHAKE) {
        dcb->fRtsControl = SER_RTS_CONTROL_ENABLE;
    }
    dcb->fOutX = (t.c_iflag & IXON) ? 1 : 0;
    dcb->fInX = (t.c_iflag & IXOFF) ? 1 : 0;
    dcb->XonChar = static_cast<char>(t.c_cc[VSTART]);
    dcb->XoffChar = static_cast<char>(t.c_cc[VSTOP]);
}

// A DCB onto termios (raw mode always). 0, or EINVAL for a setting the
// system cannot give: an unsupported rate, a word length outside 5 to 8,
// 1.5 stop bits, mark or space parity where there is no CMSPAR.
int dcb_to_termios(const ser_dcb &dcb, termios *t) {
    speed_t speed{};
    if (!rate_to_speed(dcb.BaudRate, &speed)) return EINVAL;
    tcflag_t size = 0;
    switch (dcb.ByteSize) {
        case 5:
            size = CS5;
            break;
        case 6:
            size = CS6;
            break;
        case 7:
            size = CS7;
            break;
        case 8:
            size = CS8;
            break;
        default:
            return EINVAL;
    }
    if (dcb.StopBits != SER_ONESTOPBIT && dcb.StopBits != SER_TWOSTOPBITS) return EINVAL;
    if (dcb.Parity > SER_EVENPARITY) return EINVAL;

    make_raw(t);
    if (cfsetispeed(t, speed) != 0 || cfsetospeed(t, speed) != 0) return EINVAL;
    t->c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB);
    t->c_cflag |= size;
    // Win32 checks parity only with fParity on; then, with fErrorChar off, it
    // still hands the byte over and reports the error through
    // ClearCommError. Without INPCK the tty does the same: the byte passes
    // unchanged and the driver counts the error (see clear_error). INPCK
    // would turn the byte into a NUL instead.
    if (dcb.Parity == SER_ODDPARITY) t->c_cflag |= PARENB | PARODD;
    if (dcb.Parity == SER_EVENPARITY) t->c_cflag |= PARENB;
    if (dcb.StopBits == SER_TWOSTOPBITS) t->c_cflag |= CSTOPB;
#ifdef CRTSCTS
    // termios has one flag for both directions of the RTS/CTS handshake.
    t->c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
    if (dcb.fOutxCtsFlow || dcb.fRtsControl == SER_RTS_CONTROL_HANDSHAKE) t->c_cflag |= CRTSCTS;
#else
    if (dcb.fOutxCtsFlow || dcb.fRtsControl == SER_RTS_CONTROL_HANDSHAKE) return EINVAL;
#endif
    t->c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF);
    if (dcb.fOutX) t->c_iflag |= IXON;
    if (dcb.fInX) t->c_iflag |= IXOFF;
    t->c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
    t->c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
    return 0;
}

}  // namespace ser_posix

namespace {

using namespace ser_posix;

// The error code of the last failed call, kept where the failure happened.
thread_local uint32_t last_errno = 0;

bool fail(int err) {
    last_errno = static_cast<uint32_t>(err);
    return false;
}

#if defined(__linux__) && defined(TIOCGICOUNT)
using icounts = serial_icounter_struct;
#endif

struct posix_port {
    int fd = -1;
    ser_timeouts timeouts{};
    // What the last set_state asked for; get_state reports the fields
    // termios cannot hold (DTR/DSR, the Win32-only flags) from here.
    ser_dcb stored{};
    bool pty = false;  // a pseudo-terminal: no wire, fixed framing
#if defined(__linux__) && defined(TIOCGICOUNT)
    icounts seen{};  // line-error counters already reported
    bool counters = false;
#endif
};

posix_port *port_of(ser_handle handle) {
    return static_cast<posix_port *>(handle);
}

// Pseudo-terminal slaves live under /dev/pts (Linux, the BSDs) or are
// /dev/ttysNNN (macOS). ttyname() resolves the symlinks that virtual serial
// ports are usually reached through.
bool is_pty(int fd) {
    std::array<char, 256> name{};
    if (ttyname_r(fd, name.data(), name.size()) != 0) return false;
    const std::string_view n(name.data());
    return n.compare(0, 9, "/dev/pts/") == 0 ||
           (n.size() > 9 && n.compare(0, 9, "/dev/ttys") == 0 && n[9] >= '0' && n[9] <= '9');
}

void set_modem_line(int fd, int line, bool on) {
    // Best effort: ptys and some adapters have no modem lines, and the line
    // settings themselves have been applied already.
    (void)ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line);
}

bool posix_open_port(const char *port_name, char *path, size_t path_size, ser_handle *handle) {
    if (port_name == nullptr || path == nullptr || path_size == 0 || handle == nullptr) {
        return fail(EINVAL);
    }
    // A name with a "/" is a path, absolute or relative to the working
    // directory, and is used as it stands; a bare name ("ttyUSB0") is a
    // device under /dev, as a bare COM name is one in the Win32 device
    // namespace.
    const int n = std::strchr(port_name, '/') != nullptr
                      ? snprintf_c(path, path_size, "%s", port_name)
                      : snprintf_c(path, path_size, "/dev/%s", port_name);
    if (n < 0 || static_cast<size_t>(n) >= path_size) return fail(ENAMETOOLONG);

    // O_NOCTTY: a serial line must never become our controlling terminal.
    // O_NONBLOCK: open does not wait for carrier, and every later wait is a
    // poll() against a deadline of ours.
    const int fd = open(path, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return fail(errno);
    const auto give_up = [fd](int err) {
        close(fd);
        return fail(err);
    };
    if (!isatty(fd)) return give_up(ENOTTY);
    // The Win32 open shares the port with nobody. TIOCEXCL refuses later
    // opens of the tty (but not to root), and two processes can both get
    // past it before either has set it; the flock() settles that race and
    // holds for root too. Lock first, so that a loser never touches the
    // exclusive flag of the winner's line.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) return give_up(errno == EWOULDBLOCK ? EBUSY : errno);
    if (ioctl(fd, TIOCEXCL) != 0) return give_up(errno);

    termios t{};
    if (tcgetattr(fd, &t) != 0) return give_up(errno);
    // Raw at once: in the wait after opening nothing may be echoed back to
    // the instrument or translated.
    make_raw(&t);
    if (tcsetattr(fd, TCSANOW, &t) != 0) return give_up(errno);

    auto *port = new (std::nothrow) posix_port;
    if (port == nullptr) return give_up(ENOMEM);
    port->fd = fd;
    // The defaults of a Win32 port that termios cannot tell.
    port->stored.fBinary = 1;
    port->stored.fDtrControl = SER_DTR_CONTROL_ENABLE;
    port->stored.fRtsControl = SER_RTS_CONTROL_ENABLE;
    port->stored.fTXContinueOnXoff = 1;
    port->stored.XonLim = 2048;
    port->stored.XoffLim = 512;
    port->pty = is_pty(fd);
#if defined(__linux__) && defined(TIOCGICOUNT)
    port->counters = ioctl(fd, TIOCGICOUNT, &port->seen) == 0;
#endif
    *handle = port;
    return true;
}

void posix_close(ser_handle handle) {
    posix_port *port = port_of(handle);
    if (port == nullptr) return;
    // Output still queued at close is stale. Flush it, or a line held back
    // by its handshake keeps close() waiting for the driver's closing wait
    // (30 s by default).
    tcflush(port->fd, TCOFLUSH);
    // The exclusive flag belongs to the tty, not to our descriptor: a pty
    // slave keeps it while its master is open, and would refuse the next
    // open of a non-root user.
    ioctl(port->fd, TIOCNXCL);
    close(port->fd);  // also releases the flock
    delete port;
}

bool posix_get_state(ser_handle handle, ser_dcb *dcb) {
    posix_port *port = port_of(handle);
    if (port == nullptr || dcb == nullptr) return fail(EINVAL);
    termios t{};
    if (tcgetattr(port->fd, &t) != 0) return fail(errno);
    *dcb = port->stored;
    termios_to_dcb(t, dcb);
    return true;
}

bool posix_set_state(ser_handle handle, const ser_dcb *dcb) {
    posix_port *port = port_of(handle);
    if (port == nullptr || dcb == nullptr) return fail(EINVAL);
    termios t{};
    if (tcgetattr(port->fd, &t) != 0) return fail(errno);
    const tcflag_t framing = t.c_cflag & (CSIZE | PARENB | PARODD);
    if (const int err = dcb_to_termios(*dcb, &t)) return fail(err);
    if (port->pty) {
        // A pty keeps 8 data bits and no parity whatever it is asked for,
        // and the kernel refuses (EINVAL) a request of which it can perform
        // nothing; so ask it only for what it can do. The rest is still a
        // working line, which is what tests and virtual ports need.
        t.c_cflag = (t.c_cflag & ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD)) | framing;
    }
    // Not read back to verify, as Win32 does not either: a driver may round
    // a rate, and get_state reports what the line really has.
    if (tcsetattr(port->fd, TCSANOW, &t) != 0) return fail(errno);
    port->stored = *dcb;

    // termios has no DTR/DSR handshake. DTR is raised for ENABLE and for
    // HANDSHAKE (we are always ready to receive) and dropped for DISABLE;
    // DSR is not watched, so fOutxDsrFlow does not hold output back. Both
    // are kept in the handle and reported back by get_state as set.
    set_modem_line(port->fd, TIOCM_DTR, dcb->fDtrControl != SER_DTR_CONTROL_DISABLE);
    // Under CRTSCTS the driver drives RTS itself. Otherwise RTS follows the
    // setting; TOGGLE (RTS only while sending) has no termios form and is
    // treated as ENABLE.
    if (dcb->fRtsControl != SER_RTS_CONTROL_HANDSHAKE) {
        set_modem_line(port->fd, TIOCM_RTS, dcb->fRtsControl != SER_RTS_CONTROL_DISABLE);
    }
    return true;
}

void posix_purge(ser_handle handle, uint32_t flags) {
    posix_port *port = port_of(handle);
    if (port == nullptr) return;
    // The I/O here is synchronous, so "abort" has no transfer to end; it
    // empties the queue as "clear" does.
    const bool rx = (flags & (SER_PURGE_RXABORT | SER_PURGE_RXCLEAR)) != 0;
    const bool tx = (flags & (SER_PURGE_TXABORT | SER_PURGE_TXCLEAR)) != 0;
    if (rx && tx) {
        tcflush(port->fd, TCIOFLUSH);
    } else if (rx) {
        tcflush(port->fd, TCIFLUSH);
    } else if (tx) {
        tcflush(port->fd, TCOFLUSH);
    }
}

bool posix_set_timeouts(ser_handle handle, const ser_timeouts *timeouts) {
    posix_port *port = port_of(handle);
    if (port == nullptr || timeouts == nullptr) return fail(EINVAL);
    port->timeouts = *timeouts;
    return true;
}

// Total time-out of a read or write call as Win32 computes it: the constant
// plus the multiplier times the count; both 0 means none.
int64_t total_deadline(int64_t start, uint32_t multiplier, uint32_t constant, uint32_t count) {
    if (multiplier == 0 && constant == 0) return never;
    return deadline_after(start, static_cast<uint64_t>(multiplier) * count + constant);
}

// Consecutive "readable" wake-ups that bring no byte before a line counts as
// dead. Bounded, so that a descriptor in that state cannot make us spin.
constexpr int max_empty_wakeups = 8;

bool posix_read(ser_handle handle, void *buffer, uint32_t count, uint32_t *got) {
    if (got != nullptr) *got = 0;
    posix_port *port = port_of(handle);
    if (port == nullptr || got == nullptr || (buffer == nullptr && count > 0)) return fail(EINVAL);
    if (count == 0) return true;
    auto *bytes = static_cast<unsigned char *>(buffer);
    const ser_timeouts &to = port->timeouts;

    // The Win32 rules as the serial logic uses them: the total time-out
    // runs from the start of the call and, once a byte has come, the
    // interval time-out from the last byte. (The MAXDWORD special cases of
    // ReadIntervalTimeout are never asked for and not provided.)
    const int64_t total =
        total_deadline(now_ns(), to.ReadTotalTimeoutMultiplier, to.ReadTotalTimeoutConstant, count);
    const uint32_t interval = to.ReadIntervalTimeout;
    int64_t last_byte = 0;
    int empty_wakeups = 0;

    for (;;) {
        const ssize_t n = ::read(port->fd, bytes + *got, count - *got);
        if (n > 0) {
            *got += static_cast<uint32_t>(n);
            last_byte = now_ns();
            empty_wakeups = 0;
            if (*got == count) return true;
            continue;  // take the rest of a burst without waiting
        }
        if (n < 0 && errno == EINTR) continue;
        // A pty slave whose master has gone gives EIO.
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return fail(errno);
        // Nothing there now (with VMIN = 0 a tty read gives 0 for that).

        int64_t until = total;
        if (*got > 0 && interval != 0) until = std::min(until, deadline_after(last_byte, interval));
        short revents = 0;
        int err = 0;
        const int w = wait_fd(port->fd, POLLIN, until, &revents, &err);
        if (w < 0) return fail(err);
        if (w == 0) return true;  // a time-out is not a failure; *got says what came
        if (revents & (POLLHUP | POLLERR | POLLNVAL)) {
            // The peer has hung up. Take what is still queued, then fail.
            const ssize_t rest = ::read(port->fd, bytes + *got, count - *got);
            if (rest > 0) *got += static_cast<uint32_t>(rest);
            return fail(EIO);
        }
        if (++empty_wakeups > max_empty_wakeups) return fail(EIO);
    }
}

bool posix_write(ser_handle handle, const void *data, uint32_t count, uint32_t *written) {
    if (written != nullptr) *written = 0;
    posix_port *port = port_of(handle);
    if (port == nullptr || written == nullptr || (data == nullptr && count > 0))
        return fail(EINVAL);
    const auto *bytes = static_cast<const unsigned char *>(data);
    const int64_t deadline = total_deadline(now_ns(), port->timeouts.WriteTotalTimeoutMultiplier,
                                            port->timeouts.WriteTotalTimeoutConstant, count);
    while (*written < count) {
        const ssize_t n = ::write(port->fd, bytes + *written, count - *written);
        if (n > 0) {
            *written += static_cast<uint32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return fail(errno);
        // The output queue is full (or held back by the handshake): wait
        // for room until the write time-out, then report what went out.
        short revents = 0;
        int err = 0;
        const int w = wait_fd(port->fd, POLLOUT, deadline, &revents, &err);
        if (w < 0) return fail(err);
        if (w == 0) return true;
        if (!(revents & POLLOUT) && (revents & (POLLHUP | POLLERR | POLLNVAL))) return fail(EIO);
    }
    return true;
}

bool posix_clear_error(ser_handle handle, uint32_t *errors) {
    posix_port *port = port_of(handle);
    if (port == nullptr || errors == nullptr) return fail(EINVAL);
    *errors = 0;
#if defined(__linux__) && defined(TIOCGICOUNT)
    // The driver counts line errors since it started; what is new since the
    // last look is what ClearCommError would report. Drivers without the
    // counters (ptys among them) have no line errors to report.
    if (!port->counters) return true;
    icounts now{};
    if (ioctl(port->fd, TIOCGICOUNT, &now) != 0) {
        if (errno == ENOTTY || errno == EINVAL) return true;
        return fail(errno);
    }
    if (now.buf_overrun != port->seen.buf_overrun) *errors |= SER_CE_RXOVER;
    if (now.overrun != port->seen.overrun) *errors |= SER_CE_OVERRUN;
    if (now.parity != port->seen.parity) *errors |= SER_CE_RXPARITY;
    if (now.frame != port->seen.frame) *errors |= SER_CE_FRAME;
    if (now.brk != port->seen.brk) *errors |= SER_CE_BREAK;
    port->seen = now;
#endif
    return true;
}

uint32_t posix_last_error() {
    return last_errno;
}

}  // namespace

int32_t ser_posix::classify_errno(uint32_t error) {
    switch (error) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
        case ENAMETOOLONG:
            return SER_PROBLEM_MISSING;
        case ENOTTY:
        case EISDIR:
            return SER_PROBLEM_NOT_SERIAL;
        case EBUSY:
            return SER_PROBLEM_BUSY;
        case EACCES:
        case EPERM:
            return SER_PROBLEM_DENIED;
        case EINVAL:
            return SER_PROBLEM_SETTINGS;
        case EIO:
            return SER_PROBLEM_GONE;
        case ENOMEM:
            return SER_PROBLEM_NO_MEMORY;
        default:
            return SER_PROBLEM_OTHER;
    }
}

namespace {

// Filled by name, so that no operation can land in another's place.
const ser_platform_ops posix_ops = [] {
    ser_platform_ops ops{};
    ops.name = "posix";
    ops.open_port = posix_open_port;
    ops.close = posix_close;
    ops.get_state = posix_get_state;
    ops.set_state = posix_set_state;
    ops.purge = posix_purge;
    ops.set_timeouts = posix_set_timeouts;
    ops.read = posix_read;
    ops.write = posix_write;
    ops.clear_error = posix_clear_error;
    ops.last_error = posix_last_error;
    ops.classify_error = classify_errno;
    ops.list_open = posix_list_open;
    ops.list_value = posix_list_value;
    ops.list_close = posix_list_close;
    ops.port_details = posix_port_details;
    return ops;
}();

}  // namespace

const ser_platform_ops *ser_platform_native() {
    return &posix_ops;
}
