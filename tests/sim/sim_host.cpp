#include "sim_host.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

using steady = std::chrono::steady_clock;

sim_host::sim_host(const std::string &port)
    : fd_(::open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
    termios tio{};  // raw 7E2 with RTS/CTS, as a host of the instrument sets it
    if (tcgetattr(fd_, &tio) != 0) return;
    cfmakeraw(&tio);
    tio.c_cflag =
        (tio.c_cflag & ~(CSIZE | PARODD)) | CS7 | PARENB | CSTOPB | CRTSCTS | CLOCAL | CREAD;
    tcsetattr(fd_, TCSANOW, &tio);
}

sim_host::~sim_host() {
    if (fd_ >= 0) ::close(fd_);
}

void sim_host::write(const std::string &bytes) {
    // Frames are short: a pseudo-terminal takes them whole.
    if (::write(fd_, bytes.data(), bytes.size()) < 0) hung_up_ = errno == EIO;
}

// Until a carriage return (when `to_cr`), a quiet spell, a hang-up or the limit.
std::string sim_host::read(bool to_cr, milliseconds quiet, milliseconds limit) {
    std::string out;
    const auto end = steady::now() + limit;
    for (char buf[4096]; !to_cr || out.find('\r') == std::string::npos;) {
        const auto left = std::chrono::duration_cast<milliseconds>(end - steady::now());
        pollfd p{fd_, POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(std::min(quiet, left).count())) <= 0)
            break;
        const ssize_t n = ::read(fd_, buf, sizeof buf);
        if (n > 0) out.append(buf, static_cast<std::size_t>(n));
        hung_up_ = n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR);
        if (hung_up_) break;
    }
    return out;
}

bool sim_host::hung_up(milliseconds timeout) {
    read(false, timeout, timeout);
    return hung_up_;
}

std::string sim_host::exchange(const std::string &frame) {
    read_quiet(milliseconds(0));
    write(frame + "\r");
    return read_answer();
}

temp_dir::temp_dir() {
    char tmpl[] = "/tmp/ca410-simtest-XXXXXX";
    if (mkdtemp(tmpl)) path = tmpl;
}

temp_dir::~temp_dir() {
    if (!path.empty()) rmdir(path.c_str());
}

control_client::control_client(const std::string &path)
    : fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    const timeval limit{10, 0};  // an answer that never comes fails the test, not hangs it
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
}

control_client::~control_client() {
    if (fd >= 0) ::close(fd);
}

std::string control_client::ask(const std::string &line) {
    const std::string out = line + "\n";
    if (send(fd, out.data(), out.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(out.size()))
        return {};
    return read_line();
}

std::string control_client::read_line() {
    std::string answer;
    for (char c; ::read(fd, &c, 1) == 1 && c != '\n';) answer += c;
    return answer;
}

sim_program::sim_program(std::vector<std::string> args) {
    std::vector<char *> argv{const_cast<char *>(CA410_SIM_PROGRAM)};
    for (auto &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {  // nothing that allocates between fork and exec
        dup2(out[1], 1);
        dup2(out[1], 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    out_ = out[0];
}

sim_program::~sim_program() {
    if (pid_ > 0 && !reaped_ && kill(pid_, SIGKILL) == 0) waitpid(pid_, nullptr, 0);
    if (out_ >= 0) close(out_);
}

std::string sim_program::line() {
    std::string s;
    pollfd p{out_, POLLIN, 0};
    for (char c; poll(&p, 1, 5000) > 0 && read(out_, &c, 1) == 1 && c != '\n';) s += c;
    return s;
}

int sim_program::finish(int sig) {
    if (pid_ <= 0 || reaped_) return -1;
    if (sig) kill(pid_, sig);
    int status = 0;
    for (int i = 0; i < 5000 && !(reaped_ = waitpid(pid_, &status, WNOHANG) == pid_); ++i)
        usleep(1000);
    return reaped_ && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
