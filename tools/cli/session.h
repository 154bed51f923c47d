// What every subcommand shares: exit statuses, Ctrl-C, failure messages with
// hints, and the instrument handle opened on the chosen port.
#pragma once

#include <cstdint>
#include <string>

#include "ca410.h"

namespace cli {

// Exit statuses; main.cpp lists them in --help.
enum exit_status : int {
    exit_ok = 0,
    exit_failed = 1,  // the library or the instrument reported a failure
    exit_usage = 2,   // bad command line, no port, malformed targets file
    exit_check = 3,   // a step ran but its result is not what it should be
    exit_interrupted = 130,
};

struct global_options {
    std::string port;   // --port, else $CA410_PORT
    int log_level = 0;  // passed to ca410DeviceOpen
};

// Ctrl-C (and SIGTERM) set a flag that every loop and every step checks; a
// second Ctrl-C ends the process at once. The blocking library call that is
// running when the signal arrives finishes first, then the handle is released.
void install_interrupt_handler();
bool interrupted();
// Sleeps up to `ms`, returning early (false) on an interrupt.
bool sleep_interruptible(int ms);

// The library's diagnostic lines come through its log handler: with
// --log-level above 0 they are shown as they come (escaped: they may carry
// an instrument's answer); otherwise they are held, and a failure shows
// them after its own message (some lines come at every level, on success
// too: the settings read's notes, the directory walk's).
void hold_library_log(int log_level);

// "CA_E_TIMEOUT (38): communication time-out"
std::string result_text(int32_t code);

// Prints "ca410: WHAT failed: <result text>", the cause the library found
// (ca410_last_failure) with the hint that fits it, and the held library log.
void print_failure(const std::string &what, int32_t code, const std::string &port);

// The instrument handle, released by the destructor (also after Ctrl-C).
class session {
  public:
    explicit session(const global_options &options) : options_(options) {}
    ~session();
    session(const session &) = delete;
    session &operator=(const session &) = delete;

    // Resolves the port and opens it; prints what went wrong and returns the
    // exit status (exit_ok on success). An open that meets a late answer of
    // an exchange abandoned a moment ago (Ctrl-C during a measurement) is
    // tried once more when the line has gone quiet.
    int open();
    // open() and ca410DeviceInit (reset and zero calibration included).
    int open_initialised();
    // exit_ok for CA_OK; otherwise prints the failure of WHAT and returns
    // exit_failed. Turns into exit_interrupted when Ctrl-C came meanwhile.
    int check(const std::string &what, int32_t code) const;
    // exit_interrupted (with a message) after Ctrl-C, else exit_ok.
    int stop_point() const;

    ca410_dev *dev() const { return dev_; }
    const std::string &port() const { return options_.port; }

  private:
    global_options options_;
    ca410_dev *dev_ = nullptr;
};

}  // namespace cli
