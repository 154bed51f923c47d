#include "sim_host.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

using std::chrono::milliseconds;
using steady = std::chrono::steady_clock;

sim_host::sim_host(const std::string &port) {
    fd_ = ::open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) return;
    termios tio{};
    if (tcgetattr(fd_, &tio) == 0) {
        // What a host of the instrument sets: raw, 7 data bits, even parity,
        // 2 stop bits, RTS/CTS (a pty ignores the line settings).
        cfmakeraw(&tio);
        tio.c_cflag &= ~(CSIZE | PARODD);
        tio.c_cflag |= CS7 | PARENB | CSTOPB | CRTSCTS | CLOCAL | CREAD;
        cfsetispeed(&tio, B38400);
        cfsetospeed(&tio, B38400);
        tcsetattr(fd_, TCSANOW, &tio);
    }
}

sim_host::~sim_host() {
    if (fd_ >= 0) ::close(fd_);
}

void sim_host::write(const std::string &bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return;
        } else {
            pollfd p{fd_, POLLOUT, 0};
            poll(&p, 1, 100);
        }
    }
}

namespace {
// Reads what is there, waiting up to `wait`; false on a hang-up or error.
bool read_some(int fd, std::string *out, milliseconds wait, bool *got) {
    *got = false;
    pollfd p{fd, POLLIN, 0};
    const int rc = poll(&p, 1, static_cast<int>(wait.count()));
    if (rc <= 0) return rc == 0;
    char buf[4096];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n > 0) {
        out->append(buf, static_cast<std::size_t>(n));
        *got = true;
        return true;
    }
    return n < 0 && (errno == EAGAIN || errno == EINTR);
}
}  // namespace

std::string sim_host::read_answer(milliseconds timeout) {
    std::string out;
    const auto end = steady::now() + timeout;
    while (out.find('\r') == std::string::npos) {
        const auto left = std::chrono::duration_cast<milliseconds>(end - steady::now());
        if (left.count() <= 0) break;
        bool got = false;
        if (!read_some(fd_, &out, left, &got)) break;
    }
    return out;
}

std::string sim_host::read_quiet(milliseconds quiet, milliseconds limit) {
    std::string out;
    const auto end = steady::now() + limit;
    while (steady::now() < end) {
        bool got = false;
        if (!read_some(fd_, &out, quiet, &got) || !got) break;
    }
    return out;
}

std::string sim_host::exchange(const std::string &frame) {
    read_quiet(milliseconds(0));
    write(frame + "\r");
    return read_answer();
}

bool sim_host::hung_up(milliseconds timeout) {
    const auto end = steady::now() + timeout;
    while (steady::now() < end) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, 50) > 0) {
            if (p.revents & (POLLHUP | POLLERR)) return true;
            char buf[256];
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n < 0 && errno == EIO) return true;
        }
    }
    return false;
}

temp_dir::temp_dir() {
    char tmpl[] = "/tmp/ca410-simtest-XXXXXX";
    if (mkdtemp(tmpl)) path = tmpl;
}

temp_dir::~temp_dir() {
    if (!path.empty()) rmdir(path.c_str());
}

control_client::control_client(const std::string &path) {
    sockaddr_un addr{};
    if (path.size() >= sizeof addr.sun_path) return;
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        ::close(fd);
        fd = -1;
    }
}

control_client::~control_client() {
    if (fd >= 0) ::close(fd);
}

std::string control_client::ask(const std::string &line) {
    const std::string out = line + "\n";
    if (fd < 0 || ::write(fd, out.data(), out.size()) != static_cast<ssize_t>(out.size()))
        return {};
    std::string answer;
    char c;
    while (::read(fd, &c, 1) == 1 && c != '\n') answer += c;
    return answer;
}

std::vector<std::string> answer_fields(const std::string &answer) {
    std::vector<std::string> out;
    std::string body = answer;
    if (!body.empty() && body.back() == '\r') body.pop_back();
    if (body.size() <= 5) return out;
    body = body.substr(5);
    std::size_t start = 0;
    for (;;) {
        const auto comma = body.find(',', start);
        out.push_back(body.substr(start, comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return out;
}

sim_program::sim_program(std::vector<std::string> args) {
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
        dup2(out[1], 1);
        dup2(out[1], 2);
        close(out[0]);
        std::vector<char *> argv{const_cast<char *>(CA410_SIM_PROGRAM)};
        for (auto &a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    out_ = out[0];
}

sim_program::~sim_program() {
    if (pid_ > 0 && !reaped_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
}

std::string sim_program::line() {
    std::string s;
    char c;
    for (;;) {
        pollfd p{out_, POLLIN, 0};
        if (poll(&p, 1, 5000) <= 0 || read(out_, &c, 1) != 1 || c == '\n') break;
        s += c;
    }
    return s;
}

int sim_program::finish(int sig) {
    if (pid_ <= 0 || reaped_) return -1;
    if (sig) kill(pid_, sig);
    int status = 0;
    for (int i = 0; i < 5000; ++i) {
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            reaped_ = true;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        usleep(1000);
    }
    return -1;
}
