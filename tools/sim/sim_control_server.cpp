// The control socket's server: one thread, non-blocking clients, each answered
// a line at a time.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <string_view>
#include <thread>
#include <vector>

#include "sim_control.h"

namespace sim {

namespace {

// Whether a process listens on the socket at `addr`. Non-blocking, so that
// a listener with a full backlog (EAGAIN) counts without a wait.
bool socket_listened(const sockaddr_un &addr) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return false;
    const bool listened =
        connect(fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) == 0 ||
        errno == EAGAIN || errno == EINPROGRESS;
    ::close(fd);
    return listened;
}

using clock_type = std::chrono::steady_clock;

constexpr std::size_t max_clients = 16;
constexpr std::size_t max_line = 65536;  // a longer line without a line feed drops its client
// A client that leaves an answer unread this long is dropped; until then it
// gets no further answers (its later lines wait), so it holds one answer.
constexpr auto stall_limit = std::chrono::seconds(5);
// accept() out of descriptors or memory: the pending connection stays and
// the socket stays readable, so wait before trying again rather than spin.
constexpr auto accept_backoff = std::chrono::milliseconds(100);

bool out_of_resources(int err) {
    return err == EMFILE || err == ENFILE || err == ENOBUFS || err == ENOMEM;
}

struct client {
    int fd;
    std::string in, out;
    clock_type::time_point last_progress;
    bool eof = false;  // the client has sent all it will; close once answered
};

// Sends what the socket takes now; false when the client is gone.
bool send_pending(client &c, clock_type::time_point now) {
    while (!c.out.empty()) {
        const ssize_t n = ::send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK;
        c.out.erase(0, static_cast<std::size_t>(n));
        c.last_progress = now;
    }
    return true;
}

int poll_ms(std::optional<clock_type::time_point> deadline, clock_type::time_point now) {
    if (!deadline) return -1;
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*deadline - now);
    return static_cast<int>(std::max<long long>(0, wait.count()));
}

}  // namespace

struct control_server::impl {
    explicit impl(ca410_sim &s) : sim(s) {}
    ca410_sim &sim;
    std::string path;
    int listen_fd = -1;
    int wake_fd[2] = {-1, -1};
    std::thread thread;
    std::atomic<bool> stopping{false};
    std::function<void()> on_quit;
    std::vector<client> clients;
    clock_type::time_point accept_resume{};

    // Answers the client's complete lines while nothing it was sent waits
    // unread; false when it is to be dropped.
    bool answer_lines(client &c, clock_type::time_point now) {
        for (std::size_t nl; c.out.empty() && (nl = c.in.find('\n')) != std::string::npos;) {
            std::string line = c.in.substr(0, nl);
            c.in.erase(0, nl + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            bool quit = false;
            c.out = control_execute(sim, line, &quit) + "\n";
            c.last_progress = now;
            if (!send_pending(c, now)) return false;
            if (quit && on_quit) on_quit();
        }
        if (c.in.size() > max_line) return false;
        return !(c.eof && c.out.empty());
    }

    // False when the client is gone or to be dropped.
    bool serve_client(client &c, short revents, clock_type::time_point now) {
        if ((revents & POLLOUT) && !send_pending(c, now)) return false;
        if (c.out.empty() && (revents & (POLLIN | POLLHUP | POLLERR))) {
            char buf[4096];
            const ssize_t n = ::read(c.fd, buf, sizeof buf);
            if (n > 0) c.in.append(buf, static_cast<std::size_t>(n));
            if (n == 0) c.eof = true;
            if (n < 0 && errno != EINTR && errno != EAGAIN) return false;
        }
        if (!answer_lines(c, now)) return false;
        return c.out.empty() || now - c.last_progress < stall_limit;
    }

    void accept_client(clock_type::time_point now) {
        const int fd = accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            if (out_of_resources(errno)) accept_resume = now + accept_backoff;
            return;
        }
        if (clients.size() < max_clients) {
            clients.push_back({fd, {}, {}, now});
            return;
        }
        static constexpr std::string_view full = "error: too many control clients\n";
        (void)!::send(fd, full.data(), full.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        ::close(fd);
    }

    std::optional<clock_type::time_point> next_deadline(clock_type::time_point now) const {
        std::optional<clock_type::time_point> t;
        if (now < accept_resume) t = accept_resume;
        for (const auto &c : clients)
            if (!c.out.empty() && (!t || c.last_progress + stall_limit < *t))
                t = c.last_progress + stall_limit;
        return t;
    }

    void serve() {
        while (!stopping) {
            auto now = clock_type::now();
            std::vector<pollfd> fds{{wake_fd[0], POLLIN, 0},
                                    {now < accept_resume ? -1 : listen_fd, POLLIN, 0}};
            for (const auto &c : clients)
                fds.push_back({c.fd, static_cast<short>(c.out.empty() ? POLLIN : POLLOUT), 0});
            if (poll(fds.data(), fds.size(), poll_ms(next_deadline(now), now)) < 0 &&
                errno != EINTR)
                break;
            if (stopping) break;
            now = clock_type::now();
            std::vector<client> keep;
            for (std::size_t i = 0; i < clients.size(); ++i) {
                if (serve_client(clients[i], fds[i + 2].revents, now))
                    keep.push_back(std::move(clients[i]));
                else
                    ::close(clients[i].fd);
            }
            clients = std::move(keep);
            if (fds[1].revents & POLLIN) accept_client(now);
        }
        for (auto &c : clients) ::close(c.fd);
        clients.clear();
    }
};

control_server::control_server(ca410_sim &sim) : impl_(std::make_unique<impl>(sim)) {}

control_server::~control_server() {
    stop();
}

bool control_server::start(const std::string &path, std::function<void()> on_quit,
                           std::string *error) {
    impl &d = *impl_;
    const auto fail = [&](const std::string &what) {
        if (error) *error = what + ": " + std::strerror(errno);
        if (d.listen_fd >= 0) ::close(d.listen_fd);
        d.listen_fd = -1;
        return false;
    };
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof addr.sun_path) {
        if (error) *error = "control socket path is empty or too long: " + path;
        return false;
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) {
            if (error) *error = path + " exists and is not a socket; not replacing it";
            return false;
        }
        // A socket someone still listens on belongs to a running instance;
        // only one left behind by a killed one is replaced.
        if (socket_listened(addr)) {
            if (error)
                *error = path + " is the control socket of another running instance; " +
                         "not taking it over";
            return false;
        }
        ::unlink(path.c_str());
    }
    d.listen_fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (d.listen_fd < 0) return fail("socket");
    if (bind(d.listen_fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) != 0)
        return fail("bind " + path);
    // The socket drives the display and arms faults: its owner's alone,
    // whatever the umask. Nobody can connect before listen(), so the mode is
    // in place before the first client.
    if (chmod(path.c_str(), 0600) != 0) {
        const int err = errno;
        ::unlink(path.c_str());
        errno = err;
        return fail("chmod " + path);
    }
    if (listen(d.listen_fd, 16) != 0) return fail("listen " + path);
    if (pipe2(d.wake_fd, O_CLOEXEC | O_NONBLOCK) != 0) return fail("pipe");
    d.path = path;
    d.on_quit = std::move(on_quit);
    d.stopping = false;
    d.thread = std::thread([&d] { d.serve(); });
    return true;
}

void control_server::stop() {
    impl &d = *impl_;
    if (!d.thread.joinable()) return;
    d.stopping = true;
    const char c = 1;
    (void)!::write(d.wake_fd[1], &c, 1);
    d.thread.join();
    ::close(d.listen_fd);
    d.listen_fd = -1;
    for (int &fd : d.wake_fd) {
        ::close(fd);
        fd = -1;
    }
    ::unlink(d.path.c_str());
}

}  // namespace sim
