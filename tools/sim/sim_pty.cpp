#include "sim_pty.h"

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

namespace sim {

namespace {
bool fail(std::string *error, const std::string &what, int err) {
    if (error) *error = what + ": " + std::strerror(err);
    return false;
}

// Every line carries a write lock on its slave, held by the instance that
// serves it, so that another instance can tell a link to a served line from
// one a killed instance left behind (whose line is gone, or whose number a
// new terminal has taken). An open-file-description lock where there is one:
// it does not conflict with the flock() hosts take, and a host in the same
// process closing its own descriptor of the device does not drop it.
#ifdef F_OFD_SETLK
constexpr int set_lock = F_OFD_SETLK, get_lock = F_OFD_GETLK;
#else
constexpr int set_lock = F_SETLK, get_lock = F_GETLK;
#endif

struct flock whole_file(short type) {
    struct flock lk {};
    lk.l_type = type;
    lk.l_whence = SEEK_SET;
    return lk;
}

// Instances serve pseudo-terminals only: /dev/pts/N (Linux), /dev/ttysN (macOS).
bool is_pty_path(const std::string &path) {
    for (const std::string_view prefix : {"/dev/pts/", "/dev/ttys"}) {
        if (path.compare(0, prefix.size(), prefix) != 0 || path.size() == prefix.size()) continue;
        return path.find_first_not_of("0123456789", prefix.size()) == std::string::npos;
    }
    return false;
}

std::optional<std::string> link_target(const std::string &link) {
    std::vector<char> buf(PATH_MAX + 1);
    const ssize_t n = readlink(link.c_str(), buf.data(), buf.size() - 1);
    if (n < 0) return std::nullopt;
    return std::string(buf.data(), static_cast<std::size_t>(n));
}
}  // namespace

bool pty::open(std::string *error) {
    close();
    const int m = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (m < 0) return fail(error, "posix_openpt", errno);
    if (grantpt(m) != 0 || unlockpt(m) != 0) {
        const int err = errno;
        ::close(m);
        return fail(error, "grantpt/unlockpt", err);
    }
    char name[PATH_MAX];
    if (ptsname_r(m, name, sizeof name) != 0) {
        const int err = errno;
        ::close(m);
        return fail(error, "ptsname", err);
    }
    // Holding a slave descriptor of our own keeps the line up while no host
    // has it open: otherwise every host that closes the port would make the
    // master report hang-up and EIO until the next one opens it.
    const int s = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (s < 0) {
        const int err = errno;
        ::close(m);
        return fail(error, std::string("open ") + name, err);
    }
    // Raw line: a pty starts with echo and CR/LF translation, which would
    // send our answers back to us and turn their carriage returns into line
    // feeds for hosts (terminal programs, scripts) that do not set the line
    // up themselves. Line speed, parity and handshake have no effect on a pty.
    termios tio{};
    if (tcgetattr(s, &tio) == 0) {
        cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        cfsetispeed(&tio, B38400);
        cfsetospeed(&tio, B38400);
        tcsetattr(s, TCSANOW, &tio);
    }
    struct flock lk = whole_file(F_WRLCK);
    (void)fcntl(s, set_lock, &lk);  // best effort: without it link_served() misses this line
    tcgetattr(s, &line_);
    // Set up after our own open, so that only hosts' closes show. Without
    // inotify the line settings are simply never put back.
    watch_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch_ >= 0 && inotify_add_watch(watch_, name, IN_CLOSE) < 0) {
        ::close(watch_);
        watch_ = -1;
    }
    master_ = m;
    slave_ = s;
    slave_path_ = name;
    return true;
}

// On a real serial port the exclusive-use flag ends with the host's last
// close. On a pseudo-terminal the master keeps the line alive, so the flag
// would outlive the host and every later open by a non-root host would fail
// with EBUSY. The simulation therefore clears it; hosts that also take an
// flock() on the device (as they should) still keep each other out.
void pty::release_exclusive() {
    int excl = 0;
    if (slave_ >= 0 && ioctl(slave_, TIOCGEXCL, &excl) == 0 && excl) ioctl(slave_, TIOCNXCL);
    restore_line_after_close();
}

// A real port's driver starts every open from its own defaults; a
// pseudo-terminal keeps whatever the last host set while its master is open.
// That breaks Win32 hosts under Wine: a pty keeps 8 data bits and no parity
// whatever it is asked (the instrument's line is 7E2), and glibc's
// tcsetattr() fails with EINVAL when the kernel applied none of a request.
// The first host's line settings go through because they also change the
// stop bits and input flags; they stay set, so the next host's identical
// request changes nothing the pty accepts, fails, and SetCommState reports
// error 87. Putting the settings back whenever a host closes the port makes
// every host start where the first one did.
// Any close counts, not only the last host's: inotify merges repeated
// events, so opens cannot be counted. Hosts take the port for themselves,
// and the settings put back are raw, as every host of this line sets it.
void pty::restore_line_after_close() {
    if (watch_ < 0) return;
    alignas(inotify_event) char buf[4096];
    bool closed = false;
    ssize_t n;
    while ((n = ::read(watch_, buf, sizeof buf)) > 0) {
        for (ssize_t at = 0; at < n;) {
            const auto *ev = reinterpret_cast<const inotify_event *>(buf + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
            // After an overflow nothing is known: assume a close.
            if (ev->mask & (IN_CLOSE | IN_Q_OVERFLOW)) closed = true;
        }
    }
    if (closed) tcsetattr(slave_, TCSANOW, &line_);
}

void pty::swap(pty &other) noexcept {
    std::swap(master_, other.master_);
    std::swap(slave_, other.slave_);
    std::swap(watch_, other.watch_);
    std::swap(line_, other.line_);
    std::swap(slave_path_, other.slave_path_);
}

void pty::close() {
    if (watch_ >= 0) ::close(watch_);
    if (slave_ >= 0) ::close(slave_);
    if (master_ >= 0) ::close(master_);
    watch_ = slave_ = master_ = -1;
    slave_path_.clear();
}

bool update_link(const std::string &link, const std::string &target, std::string *error) {
    struct stat st {};
    if (lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        if (error) *error = link + " exists and is not a symbolic link; not replacing it";
        return false;
    }
    // Only a link to a line (ours, or one a killed instance left) is ours to
    // replace, and later to remove; a link to anything else is someone's.
    const auto old = link_target(link);
    if (old && !is_pty_path(*old)) {
        if (error)
            *error = link + " is a symbolic link to " + *old +
                     ", not to a pseudo-terminal; not replacing it";
        return false;
    }
    // A new link beside the old one, renamed over it: a host never sees the
    // path missing.
    const std::string tmp = link + ".tmp" + std::to_string(getpid());
    ::unlink(tmp.c_str());
    if (symlink(target.c_str(), tmp.c_str()) != 0) return fail(error, "symlink " + tmp, errno);
    if (rename(tmp.c_str(), link.c_str()) != 0) {
        const int err = errno;
        ::unlink(tmp.c_str());
        return fail(error, "rename to " + link, err);
    }
    return true;
}

bool link_served(const std::string &link, std::string *target) {
    const auto found = link_target(link);
    if (!found) return false;
    const std::string &to = *found;
    if (target) *target = to;
    // Anything but a pseudo-terminal is not opened (opening some devices does things).
    if (!is_pty_path(to)) return false;
    const int fd = ::open(to.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    // A host holding the line with the exclusive flag set: it is in use.
    if (fd < 0) return errno == EBUSY;
    struct flock lk = whole_file(F_WRLCK);
    const bool locked = fcntl(fd, get_lock, &lk) == 0 && lk.l_type != F_UNLCK;
    ::close(fd);
    return locked;
}

void remove_link(const std::string &link, const std::string &target) {
    if (link_target(link) == target) ::unlink(link.c_str());
}

}  // namespace sim
