// ca410: the CA-410's everyday command-line interface, built on the public
// headers (ca410.h, ca410_host.h, ca410_colour.h). This file is the command
// line only: each subcommand registers itself, with its own callback, from
// the table below.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>

#include "ca410_host.h"
#include "commands.h"
#include "options.h"

namespace {

const char *const exit_statuses =
    "Exit status:\n"
    "  0    success\n"
    "  1    the library or the instrument reported a failure (its result code is printed);\n"
    "       report: a figure is outside its tolerance (FAIL)\n"
    "  2    usage: bad command line, no port, a malformed input or profile file or channel name\n"
    "  3    a step ran but its result is not what it should be (demo, zero-cal, gamut)\n"
    "  130  interrupted by Ctrl-C (measure --watch ends with 0)";

// A subcommand's --help lists its own options; the global ones come once, here.
const char *const global_options =
    "Global options, before or after the subcommand:\n"
    "  -p,--port PORT    the instrument's port (default: $CA410_PORT)\n"
    "  -l,--log-level N  library diagnostics on standard error, 0 to 8 (8: the wire log)\n"
    "Ctrl-C releases the port and stops.\n\n";

// Every subcommand, in the order --help lists them.
constexpr cli::command_adder commands[] = {
    cli::add_ports,       cli::add_scan,     cli::add_identify, cli::add_info,
    cli::add_zero_cal,    cli::add_channel,  cli::add_speed,    cli::add_measure,
    cli::add_channels,    cli::add_calfile,  cli::add_delete,   cli::add_calibrate,
    cli::add_gamut,       cli::add_sequence, cli::add_report,
#ifndef _WIN32
    cli::add_sim_control,
#endif
#ifdef CA410_CLI_WITH_SIM
    cli::add_sim,         cli::add_demo,
#endif
};

// An unknown first word is a mistyped subcommand, not a stray argument.
int unknown_subcommand(const CLI::App &app, const CLI::ParseError &e) {
    std::string valid;
    for (const CLI::App *sub : app.get_subcommands({}))
        valid += (valid.empty() ? "" : ", ") + sub->get_name();
    for (const std::string &w : app.remaining()) {
        if (!w.empty() && w[0] != '-') {
            std::fprintf(stderr, "ca410: unknown subcommand '%s'; the subcommands are: %s\n",
                         cli::printable(w).c_str(), valid.c_str());
            return cli::exit_usage;
        }
    }
    std::fprintf(stderr, "ca410: %s; the subcommands are: %s\n", e.what(), valid.c_str());
    return cli::exit_usage;
}

}  // namespace

int main(int argc, char **argv) {
    CLI::App app{
        "ca410: measure and calibrate with a CA-410 display colour analyser, or its virtual "
        "instrument."};
    app.name("ca410");
    app.footer(exit_statuses);
    app.require_subcommand(1);
    app.fallthrough();  // global options after the subcommand too
    app.set_version_flag("--version", std::string("ca410 ") + ca410_version());
    app.option_defaults()->always_capture_default();

    cli::context ctx;
    app.add_option("-p,--port", ctx.global.port,
                   "the instrument's port: COM3 on Windows, a device path such as "
                   "/dev/ttyUSB0 (or a name under /dev) elsewhere (default: $CA410_PORT)")
        ->type_name("PORT");
    app.add_option("-l,--log-level", ctx.global.log_level,
                   "library diagnostics on standard error, 0 (failures only) to 8 (every byte "
                   "on the wire)")
        ->type_name("N")
        ->check(cli::whole_number(0, 8));
    for (const cli::command_adder add : commands) add(app, ctx);
    for (CLI::App *sub : app.get_subcommands({}))
        sub->footer(std::string(global_options) + exit_statuses);
    app.failure_message([](const CLI::App *failed, const CLI::Error &e) {
        std::string name = "ca410";
        for (const CLI::App *sub : failed->get_subcommands()) name += " " + sub->get_name();
        return "ca410: " + std::string(e.what()) + "\n'" + name + " --help' lists the options\n";
    });

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        if (app.get_subcommands().empty() && e.get_exit_code() != 0)
            return unknown_subcommand(app, e);
        const int status = app.exit(e);
        return status == 0 ? cli::exit_ok : cli::exit_usage;
    }
    return ctx.status;
}
