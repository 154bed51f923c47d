// ca410: the CA-410's everyday command-line interface, built on the public
// header and the colour library. This file is the command line only; the
// subcommands live in commands.cpp and demo.cpp.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>
#include <vector>

#include "ca410_version.h"
#include "commands.h"
#ifdef CA410_CLI_WITH_SIM
#include "sim_main.h"
#endif

namespace {

const char *const footer =
    "Global options, before or after the subcommand:\n"
    "  -p,--port PORT       the instrument's port (default: $CA410_PORT): COM3 on Windows,\n"
    "                       a device path such as /dev/ttyUSB0 or a name under /dev elsewhere\n"
    "  -l,--log-level N     library diagnostics on standard error, 0 to 8 (the wire log)\n"
    "Ctrl-C releases the port and stops.\n"
    "\n"
    "Exit status:\n"
    "  0    success\n"
    "  1    the library or the instrument reported a failure (its result code is printed)\n"
    "  2    usage: bad command line, no port, a malformed targets file or channel name\n"
    "  3    a step ran but its result is not what it should be (demo, zero-cal, gamut)\n"
    "  130  interrupted by Ctrl-C (measure --watch ends with 0)";

// How calibrate and gamut get the colours shown.
struct show_options {
    bool no_prompt = false;
    std::string command;

    void add_to(CLI::App *sub) {
        sub->add_flag("--no-prompt", no_prompt,
                      "do not ask the operator: the host shows each colour itself");
        sub->add_option("--show-command", command,
                        "run CMD with the colour (white, red, green, blue) as its last argument "
                        "before each measurement (a pattern generator, a script); no prompt then");
    }
    cli::show_colour make() const {
        if (!command.empty()) return cli::run_command(command);
        return no_prompt ? cli::shown_by_host() : cli::ask_operator();
    }
};

}  // namespace

int main(int argc, char **argv) {
    CLI::App app{
        "ca410: measure and calibrate with a CA-410 display colour analyser, or its virtual "
        "instrument."};
    app.name("ca410");
    app.footer(footer);
    app.require_subcommand(1);
    app.fallthrough();  // global options after the subcommand too
    app.set_version_flag("--version", std::string("ca410 ") + CA410_VERSION_STRING);

    cli::global_options g;
    app.add_option("-p,--port", g.port, "serial port of the instrument (default: $CA410_PORT)");
    app.add_option("-l,--log-level", g.log_level,
                   "library diagnostics on standard error, 0 (failures only) to 8 (every byte "
                   "on the wire)")
        ->check(CLI::Range(0, 8));

    app.add_subcommand("ports", "list the machine's serial ports");
    app.add_subcommand("scan", "probe every serial port and list those where a CA-410 answers");
    CLI::App *identify =
        app.add_subcommand("identify", "open the instrument, print its model and release it");
    identify->add_option("port", g.port, "port (instead of --port)");
    app.add_subcommand("info",
                       "initialise the instrument (zero calibration included: cap the probe) "
                       "and print its identity and every setting");
    app.add_subcommand("zero-cal", "run the zero calibration (cap the probe first)");

    int channel = 0, speed = 0;
    app.add_subcommand("channel", "select calibration channel N (0: factory calibration)")
        ->add_option("N", channel, "channel, 0 to 99")
        ->required()
        ->check(CLI::Range(0, 99));
    app.add_subcommand("speed", "set the measurement speed N")
        ->add_option("N", speed, "speed, 0 to 3")
        ->required()
        ->check(CLI::Range(0, 3));

    cli::measure_options m;
    std::string fmt = "text";
    CLI::App *measure = app.add_subcommand(
        "measure",
        "initialise (zero calibration included) and measure: X, Y, Z, x, y, u', v', CCT and "
        "Δuv of each reading; mean and standard deviation of a series");
    measure->add_option("-n,--count", m.count, "number of readings")->check(CLI::PositiveNumber);
    measure->add_option("--interval", m.interval_ms, "pause between readings, ms")
        ->check(CLI::NonNegativeNumber);
    measure->add_option("--format", fmt, "text, csv or json")
        ->check(CLI::IsMember({"text", "csv", "json"}));
    measure->add_flag("--watch", m.watch, "keep measuring and redraw one line until Ctrl-C")
        ->excludes(measure->get_option("--count"));
    measure->add_option("--channel", m.channel, "select this calibration channel first")
        ->check(CLI::Range(0, 99));
    measure->add_option("--speed", m.speed, "set this measurement speed first")
        ->check(CLI::Range(0, 3));

    app.add_subcommand("channels",
                       "list the user calibration channels (walks channels 1 to 99, seconds)");
    app.add_subcommand("calfile", "print the calibration data of channel N")
        ->add_option("N", channel, "channel, 0 to 99")
        ->required()
        ->check(CLI::Range(0, 99));
    app.add_subcommand("delete", "delete user calibration channel N")
        ->add_option("N", channel, "channel, 1 to 99")
        ->required()
        ->check(CLI::Range(1, 99));

    cli::calibrate_options cal;
    show_options cal_show;
    CLI::App *calibrate = app.add_subcommand(
        "calibrate",
        "WRGB user calibration: measure white, red, green and blue as the display shows them, "
        "pair them with the targets and store the result in a channel");
    calibrate->add_option("--channel", cal.channel, "channel to store into, 1 to 99")
        ->required()
        ->check(CLI::Range(1, 99));
    calibrate->add_option("--name", cal.name, "channel name, at most 9 characters (default CHnn)");
    calibrate
        ->add_option("--targets", cal.targets_file,
                     "CSV file, one line per colour: colour,X,Y,Z (colour white, red, "
                     "green or blue; a header line and # comments allowed)")
        ->required();
    cal_show.add_to(calibrate);

    std::string svg;
    show_options gamut_show;
    CLI::App *gamut = app.add_subcommand(
        "gamut",
        "measure white, red, green and blue; print the primaries, the white point's CCT and "
        "Δuv, the area relative to sRGB and the coverage of sRGB and DCI-P3 (CIE 1931 xy)");
    gamut->add_option("--svg", svg, "also draw the xy diagram into FILE");
    gamut_show.add_to(gamut);

#ifdef CA410_CLI_WITH_SIM
    CLI::App *sim = app.add_subcommand(
        "sim", "run the virtual instrument (the ca410-sim program; 'ca410 sim --help')");
    sim->prefix_command();
    sim->fallthrough(false);
    sim->set_help_flag();  // --help goes to the simulator

    CLI::App *demo = app.add_subcommand(
        "demo",
        "a working day on the built-in virtual instrument: open, initialise, measure, calibrate "
        "a channel, read it back, delete it, and the gamut report");
    demo->add_option("--svg", svg, "also draw the gamut's xy diagram into FILE");
#endif

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        // An unknown first word is a mistyped subcommand, not a stray argument.
        if (app.get_subcommands().empty() && e.get_exit_code() != 0) {
            std::string valid;
            for (const CLI::App *sub : app.get_subcommands({}))
                valid += (valid.empty() ? "" : ", ") + sub->get_name();
            std::string word;
            for (const std::string &w : app.remaining()) {
                if (!w.empty() && w[0] != '-') {
                    word = w;
                    break;
                }
            }
            if (!word.empty())
                std::fprintf(stderr, "ca410: unknown subcommand '%s'; the subcommands are: %s\n",
                             word.c_str(), valid.c_str());
            else
                std::fprintf(stderr, "ca410: %s; the subcommands are: %s\n", e.what(),
                             valid.c_str());
            return cli::exit_usage;
        }
        const int status = app.exit(e);
        return status == 0 ? cli::exit_ok : cli::exit_usage;
    }

#ifdef CA410_CLI_WITH_SIM
    if (sim->parsed()) {
        std::vector<std::string> args = sim->remaining();
        std::string name = "ca410 sim";
        std::vector<char *> sim_argv{name.data()};
        for (std::string &a : args) sim_argv.push_back(a.data());
        sim_argv.push_back(nullptr);
        return ca410_sim_main(static_cast<int>(sim_argv.size() - 1), sim_argv.data());
    }
#endif

    cli::install_interrupt_handler();
    cli::hold_library_log(g.log_level);
    m.fmt = fmt == "csv" ? cli::format::csv : fmt == "json" ? cli::format::json : cli::format::text;
    const std::string which = app.get_subcommands().front()->get_name();
    if (which == "ports") return cli::cmd_ports();
    if (which == "scan") return cli::cmd_scan();
    if (which == "identify") return cli::cmd_identify(g);
    if (which == "info") return cli::cmd_info(g);
    if (which == "zero-cal") return cli::cmd_zero_cal(g);
    if (which == "channel") return cli::cmd_channel(g, channel);
    if (which == "speed") return cli::cmd_speed(g, speed);
    if (which == "measure") return cli::cmd_measure(g, m);
    if (which == "channels") return cli::cmd_channels(g);
    if (which == "calfile") return cli::cmd_calfile(g, channel);
    if (which == "delete") return cli::cmd_delete(g, channel);
    if (which == "calibrate") return cli::cmd_calibrate(g, cal, cal_show.make());
#ifdef CA410_CLI_WITH_SIM
    if (which == "gamut") return cli::cmd_gamut(g, svg, gamut_show.make());
    return cli::cmd_demo(g, svg);
#else
    return cli::cmd_gamut(g, svg, gamut_show.make());
#endif
}
