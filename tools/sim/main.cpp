// ca410-sim: a virtual CA-410 on a pseudo-terminal. Prints the port to open,
// serves until SIGINT/SIGTERM or a "quit" on the control socket.
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>
#include <vector>

#include "ca410_sim.h"
#include "ca410_version.h"
#include "sim_control.h"
#include "sim_emission.h"
#include "sim_number.h"

namespace {

// A list option's words joined, so that "--show 1,0.5,0", "--show 1 0.5 0"
// and "--show '1, 0.5, 0'" read alike (and as the control socket reads them).
std::string joined(const std::vector<std::string> &words) {
    std::string out;
    for (const auto &w : words) out += (out.empty() ? "" : " ") + w;
    return out;
}

// "--tone-table green=FILE" is "display tone-table green FILE"; a bare FILE
// is every channel's.
std::string channel_and_file(const std::string &word) {
    const auto eq = word.find('=');
    for (const char *channel : {"red", "green", "blue", "all"})
        if (eq != std::string::npos && word.compare(0, eq, channel) == 0)
            return std::string(channel) + " " + word.substr(eq + 1);
    return "all " + word;
}

// An option that is a control command as well: it runs as that command, so
// that both take the same forms and refuse the same values alike.
struct command_option {
    const char *option, *command, *help;
    bool each = false;                                   // every occurrence is a command of its own
    std::string (*form)(const std::string &) = nullptr;  // its words as the command takes them
    std::vector<std::string> words{};
};

// Bounds written as a reader says them ("0 or more"), not as numeric limits.
CLI::Validator at_least(double lo, bool inclusive) {
    const std::string bound = sim::format_number(lo);
    const std::string range = inclusive ? bound + " or more" : "more than " + bound;
    return CLI::Validator(
        [lo, inclusive, range](std::string &value) -> std::string {
            const auto v = sim::parse_whole<double>(value);
            if (v && (inclusive ? *v >= lo : *v > lo)) return {};
            return "must be " + range + ", not " + value;
        },
        (inclusive ? ">= " : "> ") + bound);
}

// Runs the options' commands in their order; false after printing the first refusal.
bool run_command_options(ca410_sim &sim, std::vector<command_option> &options) {
    for (auto &o : options) {
        std::vector<std::string> lines;
        if (o.each)
            for (const auto &w : o.words) lines.push_back(o.form ? o.form(w) : w);
        else if (!o.words.empty())
            lines.push_back(joined(o.words));
        for (const auto &words : lines) {
            const std::string command = std::string(o.command) + " " + words;
            std::string answer = sim::control_execute(sim, command, nullptr);
            if (answer.compare(0, 2, "ok") == 0) continue;
            // "error: show: ..." reads "--show: ..." here; answers come printable.
            if (answer.compare(0, 7, "error: ") == 0) answer.erase(0, 7);
            const std::size_t colon = answer.find(": ");
            if (colon != std::string::npos && command.compare(0, colon, answer, 0, colon) == 0)
                answer.erase(0, colon + 2);
            std::fprintf(stderr, "ca410-sim: %s: %s\n", o.option, answer.c_str());
            return false;
        }
    }
    return true;
}

}  // namespace

int ca410_sim_main(int argc, char **argv) {
    CLI::App app{
        "Virtual CA-410 colour analyser on a pseudo-terminal.\n"
        "Open the printed port (or --link) from a host at 38400 7E2, e.g. send "
        "IDO,0,1 and a carriage return."};
    sim_options opt;
    std::string control_path, preset;
    std::vector<int> measure_ms;
    std::vector<std::string> spectra;
    double white_luminance = 100.0;
    // In the order they apply: a gamma clears the tone tables before it.
    std::vector<command_option> as_commands{
        {"--red", "display red", "XYZ of the display's full red, X,Y,Z"},
        {"--green", "display green", "XYZ of the display's full green, X,Y,Z"},
        {"--blue", "display blue", "XYZ of the display's full blue, X,Y,Z"},
        {"--black", "display black", "XYZ of the display's black, X,Y,Z"},
        {"--gamma", "display gamma", "Gamma of every channel, or R,G,B one each"},
        {"--tone-table", "display tone-table",
         "[CHANNEL=]FILE: a channel's tone response (red, green, blue; all without one) from "
         "lines \"level,value\", level 0 to 1; may be repeated",
         true, channel_and_file},
        {"--flare", "display flare", "Fraction of the full white's light added to every colour"},
        {"--additivity-loss", "display additivity-loss",
         "Fraction by which full white falls short of red + green + blue"},
        {"--grey-drift", "display grey-drift",
         "Chromaticity x,y that grey drifts towards as its level falls"},
        {"--noise", "display noise", "Relative standard deviation of each measured X, Y, Z"},
        {"--seed", "display seed", "Seed of the measurement noise (default 1)"},
        {"--warm-up", "display warm-up",
         "PERCENT,SECONDS: the light starts PERCENT low and approaches full with this time "
         "constant"},
        {"--show", "show", "Drive levels shown at start, R,G,B each 0 to 1"},
        {"--show-xyz", "show-xyz", "Light shown at start, X,Y,Z each 0 or more"},
        {"--fault", "fault",
         "Arm a fault as the control command 'fault ...' does, e.g. --fault 'error-next 22 1' "
         "or --fault 'chatter on'; may be repeated",
         true},
    };

    app.add_option("--link", opt.link_path, "Keep a symbolic link to the port at PATH");
    app.add_option("--control", control_path,
                   "Unix-domain control socket (line commands: show R G B, show-xyz X Y Z, "
                   "fault ..., frames, clear-frames, quit; 'help' lists them)");
    app.add_option("--state", opt.state_file,
                   "Keep settings and calibration channels in FILE across runs");
    app.add_flag("--pace", opt.pace, "Send answers at the pace of 38400 baud, 7E2");
    app.set_version_flag("--version", std::string("ca410-sim ") + CA410_VERSION_STRING,
                         "Print the version and exit");
    app.add_option("--zrc-ms", opt.zrc_ms, "Time a zero calibration takes (ms)")
        ->check(at_least(0, true));
    app.add_option("--measure-ms", measure_ms,
                   "Time a measurement takes (ms): one value, or four by speed 0 to 3")
        ->delimiter(',')
        ->check(at_least(0, true));
    app.add_option("--display", preset,
                   "A named display to start from: ideal (the default) or imperfect "
                   "(tools/sim/README.md lists its faults); the options below change it");
    // Triples take commas, blanks or both between their numbers.
    for (auto &o : as_commands) {
        auto *option = app.add_option(o.option, o.words, o.help);
        if (o.each) option->allow_extra_args(false);
    }
    app.add_option("--primary-spectra", spectra,
                   "Primaries as emission spectra: R.csv,G.csv,B.csv with lines \"nm,value\" "
                   "(header optional), converted with the CIE 1931 2 degree observer")
        ->delimiter(',')
        ->excludes("--red", "--green", "--blue");
    app.add_option("--white-luminance", white_luminance,
                   "Luminance Y of the full white when the primaries come from spectra")
        ->check(at_least(0, false));
    app.add_option("--serial", opt.identity.serial, "Serial number the instrument reports");
    app.add_option("--external-sync-hz", opt.external_sync_hz,
                   "Frequency of the external sync signal; 0 for none")
        ->check(at_least(0, true));
    CLI11_PARSE(app, argc, argv);

    if (!preset.empty()) {
        const auto display = sim_display_preset(preset);
        if (!display) {
            std::fprintf(stderr, "ca410-sim: --display: no display '%s' (%s)\n",
                         sim::printable(preset).c_str(), std::string(sim_display_presets).c_str());
            return 2;
        }
        opt.display = *display;
    }
    if (!spectra.empty()) {
        std::string error;
        if (spectra.size() != 3) {
            std::fprintf(stderr, "ca410-sim: --primary-spectra takes three files R,G,B\n");
            return 2;
        }
        if (!sim::primaries_from_spectra({spectra[0], spectra[1], spectra[2]}, white_luminance,
                                         &opt.display.primaries, &error)) {
            std::fprintf(stderr, "ca410-sim: --primary-spectra: %s\n",
                         sim::printable(error).c_str());
            return 2;
        }
    }
    if (measure_ms.size() == 1) {
        opt.measure_ms.fill(measure_ms[0]);
    } else if (measure_ms.size() == 4) {
        for (std::size_t i = 0; i < 4; ++i) opt.measure_ms[i] = measure_ms[i];
    } else if (!measure_ms.empty()) {
        std::fprintf(stderr, "ca410-sim: --measure-ms takes one or four values\n");
        return 2;
    }

    // Signals are taken by sigwait below; every thread inherits the mask.
    sigset_t sigs;
    sigemptyset(&sigs);
    sigaddset(&sigs, SIGINT);
    sigaddset(&sigs, SIGTERM);
    sigaddset(&sigs, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &sigs, nullptr);

    ca410_sim sim(opt);
    if (!run_command_options(sim, as_commands)) return 2;

    std::string error;
    if (!sim.start(&error)) {
        std::fprintf(stderr, "ca410-sim: %s\n", sim::printable(error).c_str());
        return 1;
    }
    std::printf("ca410-sim: serving on %s\n", sim.port_path().c_str());
    if (!opt.link_path.empty())
        std::printf("ca410-sim: linked at %s\n", sim::printable(opt.link_path).c_str());

    sim::control_server control(sim);
    if (!control_path.empty()) {
        if (!control.start(
                control_path, [] { kill(getpid(), SIGTERM); }, &error)) {
            std::fprintf(stderr, "ca410-sim: %s\n", sim::printable(error).c_str());
            sim.stop();
            return 1;
        }
        std::printf("ca410-sim: control socket %s\n", sim::printable(control_path).c_str());
    }
    std::fflush(stdout);

    int sig = 0;
    while (sigwait(&sigs, &sig) != 0) {
    }
    control.stop();
    sim.stop();
    std::printf("ca410-sim: stopped\n");
    return 0;
}
