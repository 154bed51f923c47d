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

bool to_xyz(const std::vector<std::string> &words, sim_xyz *out) {
    if (words.empty()) return true;
    const auto v = sim::parse_number_list(joined(words));
    if (!v || v->size() != 3) return false;
    *out = {(*v)[0], (*v)[1], (*v)[2]};
    return true;
}

// Bounds written as a reader says them ("0 or more"), not as numeric limits.
CLI::Validator at_least(double lo, bool inclusive) {
    char range[64], desc[32];
    std::snprintf(range, sizeof range, inclusive ? "%g or more" : "more than %g", lo);
    std::snprintf(desc, sizeof desc, inclusive ? ">= %g" : "> %g", lo);
    return CLI::Validator(
        [lo, inclusive, range = std::string(range)](std::string &value) -> std::string {
            const auto v = sim::parse_whole<double>(value);
            if (v && (inclusive ? *v >= lo : *v > lo)) return {};
            return "must be " + range + ", not " + value;
        },
        desc);
}

}  // namespace

int ca410_sim_main(int argc, char **argv) {
    CLI::App app{
        "Virtual CA-410 colour analyser on a pseudo-terminal.\n"
        "Open the printed port (or --link) from a host at 38400 7E2, e.g. send "
        "IDO,0,1 and a carriage return."};
    sim_options opt;
    std::string control_path;
    std::vector<int> measure_ms;
    std::vector<std::string> red, green, blue, black, show_rgb, show_xyz;
    std::vector<std::string> faults, spectra;
    double white_luminance = 100.0;

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
    // Triples take commas, blanks or both between their numbers.
    app.add_option("--red", red, "XYZ of the display's full red, X,Y,Z");
    app.add_option("--green", green, "XYZ of the display's full green, X,Y,Z");
    app.add_option("--blue", blue, "XYZ of the display's full blue, X,Y,Z");
    app.add_option("--black", black, "XYZ of the display's black, X,Y,Z");
    app.add_option("--primary-spectra", spectra,
                   "Primaries as emission spectra: R.csv,G.csv,B.csv with lines \"nm,value\" "
                   "(header optional), converted with the CIE 1931 2 degree observer")
        ->delimiter(',')
        ->excludes("--red", "--green", "--blue");
    app.add_option("--white-luminance", white_luminance,
                   "Luminance Y of the full white when the primaries come from spectra")
        ->check(at_least(0, false));
    app.add_option("--gamma", opt.display.gamma, "Display gamma")->check(at_least(0, false));
    app.add_option("--show", show_rgb, "Drive levels shown at start, R,G,B each 0 to 1");
    app.add_option("--show-xyz", show_xyz, "Light shown at start, X,Y,Z each 0 or more");
    app.add_option("--serial", opt.identity.serial, "Serial number the instrument reports");
    app.add_option("--external-sync-hz", opt.external_sync_hz,
                   "Frequency of the external sync signal; 0 for none")
        ->check(at_least(0, true));
    app.add_option("--fault", faults,
                   "Arm a fault as the control command 'fault ...' does, e.g. "
                   "--fault 'error-next 22 1' or --fault 'chatter on'")
        ->allow_extra_args(false);
    CLI11_PARSE(app, argc, argv);

    if (!to_xyz(red, &opt.display.primaries[0]) || !to_xyz(green, &opt.display.primaries[1]) ||
        !to_xyz(blue, &opt.display.primaries[2]) || !to_xyz(black, &opt.display.black)) {
        std::fprintf(stderr,
                     "ca410-sim: colours take three numbers X,Y,Z (commas or blanks between)\n");
        return 2;
    }
    if (!spectra.empty()) {
        std::string error;
        if (spectra.size() != 3) {
            std::fprintf(stderr, "ca410-sim: --primary-spectra takes three files R,G,B\n");
            return 2;
        }
        if (!sim::primaries_from_spectra({spectra[0], spectra[1], spectra[2]}, white_luminance,
                                         &opt.display.primaries, &error)) {
            std::fprintf(stderr, "ca410-sim: --primary-spectra: %s\n", error.c_str());
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
    // What the control socket also does runs through its commands, so that
    // both take the same forms and refuse the same values alike.
    std::vector<std::pair<std::string, std::string>> at_start;
    if (!show_rgb.empty()) at_start.emplace_back("--show", "show " + joined(show_rgb));
    if (!show_xyz.empty()) at_start.emplace_back("--show-xyz", "show-xyz " + joined(show_xyz));
    for (const auto &f : faults) at_start.emplace_back("--fault '" + f + "'", "fault " + f);
    for (const auto &[option, command] : at_start) {
        std::string answer = sim::control_execute(sim, command, nullptr);
        if (answer.compare(0, 2, "ok") != 0) {
            // "error: show: ..." reads "--show: ..." here.
            if (answer.compare(0, 7, "error: ") == 0) answer.erase(0, 7);
            const std::size_t colon = answer.find(": ");
            if (colon != std::string::npos && command.compare(0, colon, answer, 0, colon) == 0)
                answer.erase(0, colon + 2);
            std::fprintf(stderr, "ca410-sim: %s: %s\n", option.c_str(), answer.c_str());
            return 2;
        }
    }

    std::string error;
    if (!sim.start(&error)) {
        std::fprintf(stderr, "ca410-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("ca410-sim: serving on %s\n", sim.port_path().c_str());
    if (!opt.link_path.empty()) std::printf("ca410-sim: linked at %s\n", opt.link_path.c_str());

    sim::control_server control(sim);
    if (!control_path.empty()) {
        if (!control.start(
                control_path, [] { kill(getpid(), SIGTERM); }, &error)) {
            std::fprintf(stderr, "ca410-sim: %s\n", error.c_str());
            sim.stop();
            return 1;
        }
        std::printf("ca410-sim: control socket %s\n", control_path.c_str());
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
