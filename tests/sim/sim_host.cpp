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
#include <sstream>

using steady = std::chrono::steady_clock;

sim_host::sim_host(const std::string &port, bool set_line) {
    fd_ = ::open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios tio{};
    if (!set_line || fd_ < 0 || tcgetattr(fd_, &tio) != 0) return;
    cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARODD);
    tio.c_cflag |= CS7 | PARENB | CSTOPB | CRTSCTS | CLOCAL | CREAD;
    tcsetattr(fd_, TCSANOW, &tio);
}

sim_host::~sim_host() {
    if (fd_ >= 0) ::close(fd_);
}

void sim_host::write(const std::string &bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno != EAGAIN && errno != EINTR) return;
        pollfd p{fd_, POLLOUT, 0};
        if (n <= 0) poll(&p, 1, 100);
        done += static_cast<std::size_t>(std::max<ssize_t>(n, 0));
    }
}

namespace {
// 1: bytes appended, 0: nothing within `wait`, -1: a hang-up or an error.
int read_some(int fd, std::string *out, milliseconds wait) {
    pollfd p{fd, POLLIN, 0};
    const int rc = poll(&p, 1, static_cast<int>(wait.count()));
    if (rc <= 0) return rc;
    char buf[4096];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n > 0) out->append(buf, static_cast<std::size_t>(n));
    return n > 0 ? 1 : (n < 0 && (errno == EAGAIN || errno == EINTR)) ? 0 : -1;
}
}  // namespace

std::string sim_host::read_answer(milliseconds timeout) {
    std::string out;
    const auto end = steady::now() + timeout;
    for (auto left = timeout; out.find('\r') == std::string::npos && left.count() > 0;
         left = std::chrono::duration_cast<milliseconds>(end - steady::now()))
        if (read_some(fd_, &out, left) < 0) break;
    return out;
}

std::string sim_host::read_quiet(milliseconds quiet, milliseconds limit) {
    std::string out;
    const auto end = steady::now() + limit;
    while (steady::now() < end && read_some(fd_, &out, quiet) > 0) {
    }
    return out;
}

std::string sim_host::exchange(const std::string &frame) {
    read_quiet(milliseconds(0));
    write(frame + "\r");
    return read_answer();
}

bool sim_host::hung_up(milliseconds timeout) {
    std::string ignored;
    for (const auto end = steady::now() + timeout; steady::now() < end;)
        if (read_some(fd_, &ignored, milliseconds(50)) < 0) return true;
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
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0) return;
    ::close(fd);
    fd = -1;
}

control_client::~control_client() {
    if (fd >= 0) ::close(fd);
}

std::string control_client::ask(const std::string &line) {
    std::string answer, out = line + "\n";
    char c;
    if (::write(fd, out.data(), out.size()) == static_cast<ssize_t>(out.size()))
        while (::read(fd, &c, 1) == 1 && c != '\n') answer += c;
    return answer;
}

std::vector<std::string> answer_fields(const std::string &answer) {
    std::vector<std::string> out;
    std::stringstream in(answer.size() > 5 ? answer.substr(5, answer.find('\r') - 5) : "");
    for (std::string field; std::getline(in, field, ',');) out.push_back(field);
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
    for (int i = 0; i < 5000 && !reaped_; ++i) {
        reaped_ = waitpid(pid_, &status, WNOHANG) == pid_;
        if (!reaped_) usleep(1000);
    }
    return reaped_ && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
