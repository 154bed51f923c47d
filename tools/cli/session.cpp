#include "session.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "ca410_host.h"
#include "options.h"

namespace cli {

namespace {

volatile sig_atomic_t g_interrupted = 0;

// The pause before the second open: the late answer has come (it spoiled
// the identification), and what follows it the open's purge takes.
constexpr int retry_quiet_ms = 500;

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

#ifdef _WIN32
const char *const permission_hint =
    "Windows refused the port: is it held by a program running as another user?";
#else
const char *const permission_hint =
    "permission denied: is your user in the dialout group? (sudo usermod -aG dialout $USER, "
    "then log in again; PLATFORM_NOTES.md)";
#endif

// The hint that fits what the library found, by cause.
struct cause_hint {
    int32_t cause;
    const char *hint;
};
const cause_hint cause_hints[] = {
    {CA410_CAUSE_NO_SUCH_PORT,
     "check the name ('ca410 ports' lists the ports, 'ca410 scan' finds the instrument) and "
     "that the instrument is plugged in"},
    {CA410_CAUSE_NOT_SERIAL, "give the instrument's serial port ('ca410 ports' lists them)"},
    {CA410_CAUSE_PORT_BUSY,
     "another program has the port open (a terminal program, another ca410): close it and "
     "try again"},
    {CA410_CAUSE_PERMISSION, permission_hint},
    {CA410_CAUSE_LINE_SETTINGS,
     "the port does not take 38400 baud, 7 data bits, even parity, 2 stop bits with RTS/CTS: "
     "is it the instrument's?"},
    {CA410_CAUSE_NO_ANSWER,
     "is the instrument switched on and connected to this port? --log-level 8 shows the wire "
     "log"},
    {CA410_CAUSE_NOT_CA410,
     "something other than a CA-410 answered on this port, or an earlier exchange was still "
     "answering: try again; 'ca410 scan' finds the instrument"},
    {CA410_CAUSE_PORT_LOST,
     "the port went away: is the cable in? Plug it back, then run the command again"},
};

// The instrument's own errors that mean more than their result code.
struct instrument_hint {
    int32_t error;
    const char *hint;
};
const instrument_hint instrument_hints[] = {
    {5,
     "the measured colours do not make a calibration: were the four colours (white, red, "
     "green, blue) shown when each was measured?"},
    {6,
     "the instrument refused the calibration's input: check the targets (each colour's "
     "X, Y, Z) and the channel"},
    {10, "the instrument refused the command: is it zero-calibrated, and in the right mode?"},
    {21,
     "zero calibration needs a dark probe: cap it (or hold it against a black surface) "
     "and try again"},
    {22, "the light is brighter than the instrument's colour range"},
    {20, "sync mode is external but no sync signal reaches the instrument"},
};

std::string hint_for(int32_t code, const ca410_failure &f, const std::string &port) {
    if (f.cause == CA410_CAUSE_INSTRUMENT) {
        for (const auto &h : instrument_hints) {
            if (h.error == f.instrument_error) return h.hint;
        }
    }
    for (const auto &h : cause_hints) {
        if (h.cause == f.cause) return h.hint;
    }
    switch (code) {
        case CA_E_ZERO_CAL:
        case CA_E_LIGHT_LEAK:
            return "zero calibration needs a dark probe: cap it (or hold it against a black "
                   "surface) and try again; --log-level 8 shows the wire log";
        case CA_E_NOT_READY:
            return "the instrument reports no zero calibration: cap the probe and run "
                   "'ca410 zero-cal'";
        case CA_E_CAL_MEASURE:
        case CA_E_CAL_INPUT:
            return "check the targets, and that each colour was on the display when it was "
                   "measured; --log-level 8 shows the wire log";
        default:
            break;
    }
    if (is_line_failure(code))
        return "the instrument on '" + printable(port) +
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
    const char *name = ca410_result_name(code);
    const char *meaning = ca410_result_meaning(code);
    return std::string(name ? name : "unknown result") + " (" + std::to_string(code) +
           "): " + (meaning ? meaning : "not a result code of this library");
}

namespace {

constexpr size_t held_log_max = 16 * 1024;  // the latest lines are the telling ones
std::string held_log;

void hold_line(void *, int32_t, const char *line) {
    held_log += instrument_text(line);
    held_log += '\n';
    if (held_log.size() > held_log_max) {
        const size_t cut = held_log.find('\n', held_log.size() - held_log_max);
        held_log.erase(0, cut == std::string::npos ? held_log.size() - held_log_max : cut + 1);
    }
}

void show_line(void *, int32_t, const char *line) {
    std::fprintf(stderr, "%s\n", instrument_text(line).c_str());
}

}  // namespace

void hold_library_log(int log_level) {
    ca410_set_log_handler(log_level > 0 ? show_line : hold_line, nullptr);
}

void print_failure(const std::string &what, int32_t code, const std::string &port) {
    ca410_failure f{};
    ca410_last_failure(&f);
    std::fprintf(stderr, "ca410: %s failed: %s\n", what.c_str(), result_text(code).c_str());
    if (f.cause != CA410_CAUSE_NONE) {
        std::fprintf(stderr, "ca410: cause: %s%s%s\n", instrument_text(f.text).c_str(),
                     f.port[0] ? " on " : "", printable(f.port).c_str());
    }
    if (!held_log.empty()) {
        std::fprintf(stderr, "ca410: the library's log:\n");
        size_t start = 0;
        for (size_t end; (end = held_log.find('\n', start)) != std::string::npos; start = end + 1) {
            std::fprintf(stderr, "  %.*s\n", static_cast<int>(end - start),
                         held_log.c_str() + start);
        }
        held_log.clear();
    }
    const std::string hint = hint_for(code, f, port);
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
    int32_t rc = ca410DeviceOpen(&dev_, options_.port.c_str(), options_.log_level);
    ca410_failure f{};
    ca410_last_failure(&f);
    if (rc == CA_E_OPEN && f.cause == CA410_CAUSE_NOT_CA410 && !interrupted()) {
        // The identification met the late answer of an exchange abandoned a
        // moment ago, a measurement interrupted by Ctrl-C for example.
        std::fprintf(stderr,
                     "ca410: %s answered something else than an identification (%s); trying "
                     "once more when the line is quiet\n",
                     printable(options_.port).c_str(), instrument_text(f.text).c_str());
        held_log.clear();
        if (sleep_interruptible(retry_quiet_ms))
            rc = ca410DeviceOpen(&dev_, options_.port.c_str(), options_.log_level);
    }
    return check("opening " + printable(options_.port), rc);
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
