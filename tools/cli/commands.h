// The subcommands. Each one adds itself to the command line with its
// options and one callback, which runs it and leaves its exit status
// (session.h) in the shared context.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <string>

#include "colours.h"
#include "output.h"
#include "session.h"

namespace cli {

// What the callbacks share: the global options and the exit status.
struct context {
    global_options global;
    int status = exit_ok;
    // Runs a subcommand's work: Ctrl-C handling and the held library log
    // first, then `body`, whose exit status it keeps.
    void run(const std::function<int()> &body);
};

using command_adder = void (*)(CLI::App &app, context &ctx);

void add_ports(CLI::App &app, context &ctx);
void add_scan(CLI::App &app, context &ctx);
void add_identify(CLI::App &app, context &ctx);
void add_info(CLI::App &app, context &ctx);
void add_zero_cal(CLI::App &app, context &ctx);
void add_channel(CLI::App &app, context &ctx);
void add_speed(CLI::App &app, context &ctx);
void add_measure(CLI::App &app, context &ctx);
void add_channels(CLI::App &app, context &ctx);
void add_calfile(CLI::App &app, context &ctx);
void add_delete(CLI::App &app, context &ctx);
void add_calibrate(CLI::App &app, context &ctx);
void add_gamut(CLI::App &app, context &ctx);
void add_report(CLI::App &app, context &ctx);
void add_sequence(CLI::App &app, context &ctx);
void add_sim_control(CLI::App &app, context &ctx);
void add_sim(CLI::App &app, context &ctx);
void add_demo(CLI::App &app, context &ctx);

// How calibrate and gamut get the colours shown: --no-prompt, --show-command.
struct show_options {
    bool no_prompt = false;
    std::string command;

    void add_to(CLI::App *sub);
    show_colour make() const;
};

// Checks a channel name before anything is sent: at most 9 printable ASCII
// characters without commas (the library keeps 9; a comma would split the
// instrument's answer). Empty is fine: the library names it "CHnn".
bool valid_channel_name(const std::string &name, std::string *reason);

}  // namespace cli
