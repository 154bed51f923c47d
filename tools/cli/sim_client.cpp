// ca410 sim-control: one line to the virtual instrument's control socket and
// its answer, for scripts and show commands (no socat needed).
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "options.h"

namespace cli {

namespace {

constexpr int answer_timeout_ms = 10000;
#ifdef MSG_NOSIGNAL
constexpr int no_sigpipe = MSG_NOSIGNAL;  // a simulator that went away is an error, not a signal
#else
constexpr int no_sigpipe = 0;
#endif

bool is_number(const std::string &word) {
    double v = 0.0;
    const auto r = std::from_chars(word.data(), word.data() + word.size(), v);
    return !word.empty() && r.ec == std::errc() && r.ptr == word.data() + word.size();
}

// The line to send. A show command's colour name goes: "show red 1 0 0" is
// "show 1 0 0", so that 'ca410 sim-control SOCKET show' serves as one.
std::string control_line(std::vector<std::string> words) {
    if (words.size() == 5 && words[0] == "show" && !is_number(words[1]))
        words.erase(words.begin() + 1);
    std::string line;
    for (const std::string &w : words) line += (line.empty() ? "" : " ") + w;
    return line;
}

// Sends `line` and returns the answer line; false with a reason.
bool exchange(const std::string &socket_path, const std::string &line, std::string *answer) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socket_path.size() >= sizeof address.sun_path) {
        *answer = socket_path + ": the path is too long for a socket";
        return false;
    }
    std::memcpy(address.sun_path, socket_path.c_str(), socket_path.size());
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    std::unique_ptr<int, void (*)(int *)> closer(new int(fd), [](int *f) {
        if (*f >= 0) close(*f);
        delete f;
    });
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        *answer = socket_path + ": cannot connect (" + std::strerror(errno) +
                  "): is the virtual instrument running with --control " + socket_path + "?";
        return false;
    }
    const std::string out = line + "\n";
    if (send(fd, out.data(), out.size(), no_sigpipe) != static_cast<ssize_t>(out.size())) {
        *answer = socket_path + ": sending failed (" + std::strerror(errno) + ")";
        return false;
    }
    answer->clear();
    char c = 0;
    pollfd p{fd, POLLIN, 0};
    while (poll(&p, 1, answer_timeout_ms) == 1 && recv(fd, &c, 1, 0) == 1 && c != '\n') {
        *answer += c;
    }
    if (c != '\n') {
        *answer = socket_path + ": no answer";
        return false;
    }
    return true;
}

}  // namespace

void add_sim_control(CLI::App &app, context &ctx) {
    auto socket_path = std::make_shared<std::string>();
    auto words = std::make_shared<std::vector<std::string>>();
    CLI::App *sub = app.add_subcommand(
        "sim-control",
        "send one command to the virtual instrument's control socket and print its answer, "
        "e.g. 'ca410 sim-control /tmp/ca410.ctl show 1 0 0' (the commands: tools/sim/README.md)");
    sub->add_option("SOCKET", *socket_path, "the socket given to the simulator's --control")
        ->required();
    sub->add_option("COMMAND", *words, "the command and its arguments")->required();
    sub->callback([&ctx, socket_path, words] {
        ctx.run([&] {
            std::string answer;
            if (!exchange(*socket_path, control_line(*words), &answer)) {
                std::fprintf(stderr, "ca410: %s\n", printable(answer).c_str());
                return static_cast<int>(exit_failed);
            }
            const bool ok = answer.compare(0, 2, "ok") == 0;
            std::fprintf(ok ? stdout : stderr, "%s\n", printable(answer).c_str());
            return static_cast<int>(ok ? exit_ok : exit_failed);
        });
    });
}

}  // namespace cli
