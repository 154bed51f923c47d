#include "sim_control.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>
#include <thread>
#include <vector>

#include "sim_number.h"

namespace sim {

namespace {

std::vector<std::string_view> words(std::string_view line) {
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
        const std::size_t start = i;
        while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]))) ++i;
        if (i > start) out.push_back(line.substr(start, i - start));
    }
    return out;
}

// The text after the first `n` words, leading blanks removed.
std::string_view after_words(std::string_view line, std::size_t n) {
    std::size_t i = 0;
    for (std::size_t w = 0; w < n; ++w) {
        while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
        while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]))) ++i;
    }
    while (i < line.size() && line[i] == ' ') ++i;
    return line.substr(i);
}

// "error: WHAT: NAME is LO to HI, not VALUE": a refusal that says what is valid.
std::string out_of_range(std::string_view what, std::string_view name, std::string_view range,
                         std::string_view value) {
    return "error: " + std::string(what) + ": " + std::string(name) + " is " + std::string(range) +
           ", not " + std::string(value);
}

constexpr std::string_view help_text =
    "ok commands: show R G B | show-xyz X Y Z | port | frames | clear-frames | settings | "
    "channels | pace on|off | zrc-ms MS | measure-ms SPEED MS | fault error-next CODE [N] | "
    "fault error-head HEAD CODE | fault answer-frame FRAME [TEXT] | "
    "fault warning-next NUMBER [N] | fault silent-next [N] | "
    "fault split-next AT GAP_MS | fault garbage-next TEXT | fault late-next MS TEXT | "
    "fault no-cr-next | fault long-next LENGTH | fault chatter on|off [MS] | "
    "fault hangup-next [AT] | fault clear | quit";

std::string fault_command(ca410_sim &sim, std::string_view line,
                          const std::vector<std::string_view> &w) {
    const auto usage = [](std::string_view what) {
        return "error: usage: fault " + std::string(what);
    };
    const std::string_view kind = w.size() > 1 ? w[1] : std::string_view();
    const auto arg_int = [&](std::size_t i, int fallback) -> std::optional<int> {
        if (w.size() <= i) return fallback;
        return parse_whole<int>(w[i]);
    };
    // Error and warning numbers are two digits on the line; counts of
    // frames 0 (disarm) or more.
    const auto bad_code = [&](std::size_t i, std::string_view name) -> std::optional<std::string> {
        const int v = *parse_whole<int>(w[i]);
        if (v < 0 || v > 99)
            return out_of_range("fault " + std::string(kind), name, "0 to 99", w[i]);
        return std::nullopt;
    };
    const auto bad_count = [&](std::size_t i) -> std::optional<std::string> {
        if (w.size() > i && *parse_whole<int>(w[i]) < 0)
            return out_of_range("fault " + std::string(kind), "N", "0 or more", w[i]);
        return std::nullopt;
    };
    if (kind == "error-next" || kind == "warning-next") {
        const bool error = kind == "error-next";
        const auto code = w.size() > 2 ? parse_whole<int>(w[2]) : std::nullopt;
        const auto n = arg_int(3, 1);
        if (!code || !n || w.size() > 4)
            return usage(error ? "error-next CODE [N]" : "warning-next NUMBER [N]");
        if (auto e = bad_code(2, error ? "CODE" : "NUMBER")) return *e;
        if (auto e = bad_count(3)) return *e;
        if (error)
            sim.fault_error_next(*code, *n);
        else
            sim.fault_warning_next(*code, *n);
    } else if (kind == "error-head") {
        const auto code = w.size() > 3 ? parse_whole<int>(w[3]) : std::nullopt;
        if (!code || w.size() != 4 || w[2].size() < 3) return usage("error-head HEAD CODE");
        if (auto e = bad_code(3, "CODE")) return *e;
        sim.fault_error_for_head(std::string(w[2]), *code);
    } else if (kind == "answer-frame") {
        std::string frame, answer;
        const bool lost = w.size() == 3;
        if (w.size() < 3 || !unescape_bytes(w[2], &frame) ||
            (!lost && !unescape_bytes(after_words(line, 3), &answer)))
            return usage("answer-frame FRAME [TEXT]");
        if (!sim.fault_answer_for_frame(frame,
                                        lost ? std::nullopt : std::optional<std::string>(answer)))
            return "error: fault answer-frame: " + std::to_string(ca410_sim::max_armed_frames) +
                   " frames are armed already (fault clear disarms them)";
    } else if (kind == "silent-next") {
        const auto n = arg_int(2, 1);
        if (!n || w.size() > 3) return usage("silent-next [N]");
        if (auto e = bad_count(2)) return *e;
        sim.fault_silent_next(*n);
    } else if (kind == "split-next") {
        const auto at = w.size() > 2 ? parse_whole<std::size_t>(w[2]) : std::nullopt;
        const auto gap = w.size() > 3 ? parse_whole<int>(w[3]) : std::nullopt;
        if (!at || !gap || w.size() != 4) return usage("split-next AT GAP_MS");
        sim.fault_split_next(*at, *gap);
    } else if (kind == "garbage-next") {
        std::string bytes;
        if (w.size() < 3 || !unescape_bytes(after_words(line, 2), &bytes))
            return usage("garbage-next TEXT");
        sim.fault_garbage_next(bytes);
    } else if (kind == "late-next") {
        const auto ms = w.size() > 2 ? parse_whole<int>(w[2]) : std::nullopt;
        std::string bytes;
        if (!ms || w.size() < 4 || !unescape_bytes(after_words(line, 3), &bytes))
            return usage("late-next MS TEXT");
        sim.fault_late_bytes_next(bytes, *ms);
    } else if (kind == "no-cr-next") {
        if (w.size() != 2) return usage("no-cr-next");
        sim.fault_no_cr_next();
    } else if (kind == "long-next") {
        const auto len = w.size() > 2 ? parse_whole<std::size_t>(w[2]) : std::nullopt;
        if (!len || w.size() != 3) return usage("long-next LENGTH");
        if (!sim.fault_long_answer_next(*len))
            return out_of_range("fault long-next", "LENGTH",
                                "0 to " + std::to_string(ca410_sim::max_answer_length), w[2]);
    } else if (kind == "chatter") {
        const bool on = w.size() > 2 && w[2] == "on";
        const auto ms = arg_int(3, 0);
        if (w.size() < 3 || (!on && w[2] != "off") || !ms || w.size() > 4)
            return usage("chatter on|off [MS]");
        sim.fault_chatter(on, *ms);
    } else if (kind == "hangup-next") {
        std::optional<std::size_t> at = ca410_sim::half_answer;
        if (w.size() > 2) at = parse_whole<std::size_t>(w[2]);
        if (!at || w.size() > 3) return usage("hangup-next [AT]");
        sim.fault_hangup_next(*at);
    } else if (kind == "clear") {
        if (w.size() != 2) return usage("clear");
        sim.clear_faults();
    } else {
        return "error: unknown fault '" + std::string(kind) + "'";
    }
    return "ok";
}

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

}  // namespace

std::string escape_bytes(std::string_view bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        switch (c) {
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\\':
                out += "\\\\";
                break;
            default:
                if (c >= 0x21 && c <= 0x7E) {
                    out += static_cast<char>(c);
                } else {  // blanks too, so that a frame is one word
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\x%02x", c);
                    out += buf;
                }
        }
    }
    return out;
}

bool unescape_bytes(std::string_view text, std::string *out) {
    out->clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            *out += text[i];
            continue;
        }
        if (++i >= text.size()) return false;
        switch (text[i]) {
            case 'r':
                *out += '\r';
                break;
            case 'n':
                *out += '\n';
                break;
            case 't':
                *out += '\t';
                break;
            case '\\':
                *out += '\\';
                break;
            case 'x': {
                if (i + 2 >= text.size()) return false;
                unsigned v = 0;
                const auto [end, ec] =
                    std::from_chars(text.data() + i + 1, text.data() + i + 3, v, 16);
                if (ec != std::errc() || end != text.data() + i + 3) return false;
                *out += static_cast<char>(v);
                i += 2;
                break;
            }
            default:
                return false;
        }
    }
    return true;
}

std::string control_execute(ca410_sim &sim, std::string_view line, bool *quit) {
    const auto w = words(line);
    if (w.empty()) return "error: empty command";
    const std::string_view cmd = w[0];
    if (cmd == "show" || cmd == "show-xyz") {
        const bool rgb = cmd == "show";
        const auto v = parse_number_list(after_words(line, 1));
        if (!v || v->size() != 3)
            return "error: usage: " + std::string(cmd) + (rgb ? " R G B" : " X Y Z") +
                   " (blanks or commas between)";
        for (const double x : *v) {
            char value[32];
            std::snprintf(value, sizeof value, "%g", x);
            if (rgb && (x < 0.0 || x > 1.0))
                return out_of_range(cmd, "each of R G B", "0 to 1", value);
            if (!rgb && x < 0.0) return out_of_range(cmd, "each of X Y Z", "0 or more", value);
        }
        if (rgb)
            sim.show_rgb((*v)[0], (*v)[1], (*v)[2]);
        else
            sim.show_xyz((*v)[0], (*v)[1], (*v)[2]);
        const auto xyz = sim.shown_xyz();
        char buf[128];
        std::snprintf(buf, sizeof buf, "ok XYZ %.5f %.5f %.5f", xyz[0], xyz[1], xyz[2]);
        return buf;
    }
    if (cmd == "port" && w.size() == 1) return "ok " + sim.port_path();
    if (cmd == "frames" && w.size() == 1) {
        const auto frames = sim.frames();
        std::string out = "ok " + std::to_string(frames.size());
        // A frame word always ends in "\r", so this one cannot be taken for one.
        if (const auto dropped = sim.frames_dropped()) out += " dropped=" + std::to_string(dropped);
        for (const auto &f : frames) out += " " + escape_bytes(f.bytes);
        return out;
    }
    if (cmd == "clear-frames" && w.size() == 1) {
        sim.clear_frames();
        return "ok";
    }
    if (cmd == "settings" && w.size() == 1) {
        const sim_settings s = sim.settings();
        char buf[512];
        std::snprintf(buf, sizeof buf,
                      "ok display_mode=%d sync_mode=%d channel=%d lum_unit=%d speed=%d "
                      "probe_display=%d probe_output=%d trigger_mode=%d trigger_delay=%d "
                      "zero_cal=%d simultaneous=%d internal_freq=%.2f manual_time=%.2f "
                      "color_range=%d,%d flicker_range=%d,%d calmode=%d",
                      s.display_mode, s.sync_mode, s.current_channel, s.lum_unit, s.measure_speed,
                      s.probe_display, s.probe_output, s.trigger_mode, s.trigger_delay,
                      s.zero_cal_status, s.simultaneous, s.internal_freq_hz, s.manual_time_ms,
                      s.color_range_mode, s.color_range, s.flicker_range_mode, s.flicker_range,
                      s.calmode);
        return buf;
    }
    if (cmd == "channels" && w.size() == 1) {
        const auto chans = sim.channels();
        std::string out = "ok " + std::to_string(chans.size());
        for (const auto &c : chans)
            out += " " + std::to_string(c.number) + ":" + std::to_string(c.cal_type) + ":" +
                   escape_bytes(c.name);
        return out;
    }
    if (cmd == "pace") {
        if (w.size() != 2 || (w[1] != "on" && w[1] != "off")) return "error: usage: pace on|off";
        sim.set_pacing(w[1] == "on");
        return "ok";
    }
    if (cmd == "zrc-ms") {
        const auto ms = w.size() == 2 ? parse_whole<int>(w[1]) : std::nullopt;
        if (!ms) return "error: usage: zrc-ms MS";
        if (*ms < 0) return out_of_range(cmd, "MS", "0 or more", w[1]);
        sim.set_zrc_ms(*ms);
        return "ok";
    }
    if (cmd == "measure-ms") {
        const auto speed = w.size() == 3 ? parse_whole<int>(w[1]) : std::nullopt;
        const auto ms = w.size() == 3 ? parse_whole<int>(w[2]) : std::nullopt;
        if (!speed || !ms) return "error: usage: measure-ms SPEED MS";
        if (*speed < 0 || *speed > 3) return out_of_range(cmd, "SPEED", "0 to 3", w[1]);
        if (*ms < 0) return out_of_range(cmd, "MS", "0 or more", w[2]);
        sim.set_measure_ms(*speed, *ms);
        return "ok";
    }
    if (cmd == "fault") return fault_command(sim, line, w);
    if (cmd == "help") return std::string(help_text);
    if (cmd == "quit" && w.size() == 1) {
        if (quit) *quit = true;
        return "ok bye";
    }
    return "error: unknown command '" + std::string(line.substr(0, 40)) + "' (try help)";
}

namespace {

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
