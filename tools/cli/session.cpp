#include "session.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "clog/clog.h"
#include "ser_nt_ca410/ca410_codes.h"

namespace cli {

namespace {

volatile sig_atomic_t g_interrupted = 0;

void on_interrupt(int) {
    if (g_interrupted) _exit(exit_interrupted);  // second Ctrl-C: no more waiting
    g_interrupted = 1;
    static const char msg[] =
        "\nca410: interrupted; the call to the instrument in progress finishes, then the port "
        "is released (Ctrl-C again to quit at once)\n";
    ssize_t ignored = write(2, msg, sizeof msg - 1);
    (void)ignored;
}

// Failures of the line: the instrument did not answer, or not as it should.
bool is_line_failure(int32_t code) {
    switch (code) {
        case CA_E_TIMEOUT:
        case CA_E_COMM:
        case CA_E_RECEIVE:
        case CA_E_PARSE:
        case CA_E_PART_DATA:
        case CA_E_FIRMWARE:
        case CA_E_RESET:
        case CA_E_GET_CONFIG:
        case CA_E_GET_RANGE:
        case CA_E_DISPLAY_MODE:
        case CA_E_GET_CALLIST:
        case CA_E_MEASURE:
            return true;
        default:
            return false;
    }
}

std::string hint_for(int32_t code, const std::string &port) {
    switch (code) {
        case CA_E_OPEN:
            return "tried port '" + port +
                   "': check the name ('ca410 ports' lists the ports, 'ca410 scan' finds the "
                   "instrument), that the instrument is powered and connected, that no other "
                   "program has the port open, and that you may use it (PLATFORM_NOTES.md); "
                   "--log-level 8 shows the wire log";
        case CA_E_ZERO_CAL:
        case CA_E_LIGHT_LEAK:
            return "zero calibration needs a dark probe: cap it (or hold it against a black "
                   "surface) and try again; --log-level 8 shows the wire log";
        case CA_E_NOT_READY:
            return "the instrument reports no zero calibration: cap the probe and run "
                   "'ca410 zero-cal'";
        case CA_E_OVER_RANGE:
            return "the light is brighter than the instrument's colour range";
        case CA_E_NO_SYNC:
            return "sync mode is external but no sync signal reaches the instrument";
        case CA_E_CAL_MEASURE:
        case CA_E_CAL_INPUT:
            return "check the targets, and that each colour was on the display when it was "
                   "measured; --log-level 8 shows the wire log";
        default:
            break;
    }
    if (is_line_failure(code))
        return "the instrument on '" + port +
               "' did not answer as it should: is it powered and connected? --log-level 8 "
               "shows the wire log";
    return "";
}

}  // namespace

void install_interrupt_handler() {
#ifdef _WIN32
    // The C runtime's signal(): the handler is reset after each Ctrl-C, so a
    // second one ends the program at once, as on_interrupt() does elsewhere.
    signal(SIGINT, on_interrupt);
    signal(SIGTERM, on_interrupt);
#else
    struct sigaction sa {};
    sa.sa_handler = on_interrupt;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no SA_RESTART: a prompt waiting for Enter returns at once
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
#endif
}

bool interrupted() {
    return g_interrupted != 0;
}

bool sleep_interruptible(int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!interrupted()) {
        const auto left = end - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero()) return true;
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(left, std::chrono::milliseconds(20)));
    }
    return false;
}

std::string result_text(int32_t code) {
    const ca_result_info *info = ca_result_find(code);
    return std::string(info ? info->name : "unknown result") + " (" + std::to_string(code) +
           "): " + (info ? info->meaning : "not a result code of this library");
}

namespace {

constexpr size_t held_log_max = 16 * 1024;  // the latest lines are the telling ones
std::string held_log;

void hold_line(void *, clog *, const char *format, va_list args) {
    char line[512];
    const int n = std::vsnprintf(line, sizeof line, format, args);
    if (n <= 0) return;
    held_log.append(line, std::min(static_cast<size_t>(n), sizeof line - 1));
    if (held_log.size() > held_log_max) {
        const size_t cut = held_log.find('\n', held_log.size() - held_log_max);
        held_log.erase(0, cut == std::string::npos ? held_log.size() - held_log_max : cut + 1);
    }
}

}  // namespace

void hold_library_log(int log_level) {
    if (log_level > 0) return;
    default_log.d_log = hold_line;
    default_log.e_log = hold_line;
}

void print_failure(const std::string &what, int32_t code, const std::string &port) {
    std::fprintf(stderr, "ca410: %s failed: %s\n", what.c_str(), result_text(code).c_str());
    if (!held_log.empty()) {
        std::fprintf(stderr, "ca410: the library's log:\n");
        size_t start = 0;
        for (size_t end; (end = held_log.find('\n', start)) != std::string::npos; start = end + 1) {
            std::fprintf(stderr, "  %.*s\n", static_cast<int>(end - start),
                         held_log.c_str() + start);
        }
        if (start < held_log.size()) std::fprintf(stderr, "  %s\n", held_log.c_str() + start);
        held_log.clear();
    }
    const std::string hint = hint_for(code, port);
    if (!hint.empty()) std::fprintf(stderr, "ca410: hint: %s\n", hint.c_str());
}

session::~session() {
    if (dev_ != nullptr) ca410DeviceRelease(dev_);
}

int session::open() {
    if (options_.port.empty()) {
        const char *env = std::getenv("CA410_PORT");
        if (env != nullptr) options_.port = env;
    }
    if (options_.port.empty()) {
        std::fprintf(stderr,
                     "ca410: no port: give --port PORT or set CA410_PORT ('ca410 ports' lists "
                     "the serial ports, 'ca410 scan' finds the instrument)\n");
        return exit_usage;
    }
    return check("opening " + options_.port,
                 ca410DeviceOpen(&dev_, options_.port.c_str(), options_.log_level));
}

int session::open_initialised() {
    int status = open();
    if (status != exit_ok) return status;
    return check("initialising the instrument", ca410DeviceInit(dev_));
}

int session::check(const std::string &what, int32_t code) const {
    if (code != CA_OK) {
        print_failure(what, code, options_.port);
        return interrupted() ? exit_interrupted : exit_failed;
    }
    return stop_point();
}

int session::stop_point() const {
    if (!interrupted()) return exit_ok;
    std::fprintf(stderr, "ca410: interrupted; releasing the port\n");
    return exit_interrupted;
}

}  // namespace cli
