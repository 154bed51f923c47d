// ca410-sim: a virtual CA-410 on a pseudo-terminal. Prints the port to open,
// serves until SIGINT/SIGTERM or a "quit" on the control socket.
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>
#include <vector>

#include "ca410_sim.h"
#include "sim_control.h"
#include "sim_emission.h"

namespace {

bool to_xyz(const std::vector<double> &v, sim_xyz *out) {
    if (v.empty()) return true;
    if (v.size() != 3) return false;
    *out = {v[0], v[1], v[2]};
    return true;
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
    std::vector<double> red, green, blue, black, show_rgb, show_xyz;
    std::vector<std::string> faults, spectra;
    double white_luminance = 100.0;

    app.add_option("--link", opt.link_path, "Keep a symbolic link to the port at PATH");
    app.add_option("--control", control_path,
                   "Unix-domain control socket (line commands: show R G B, show-xyz X Y Z, "
                   "fault ..., frames, clear-frames, quit; 'help' lists them)");
    app.add_option("--state", opt.state_file,
                   "Keep settings and calibration channels in FILE across runs");
    app.add_flag("--pace", opt.pace, "Send answers at the pace of 38400 baud, 7E2");
    app.add_option("--zrc-ms", opt.zrc_ms, "Time a zero calibration takes (ms)")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--measure-ms", measure_ms,
                   "Time a measurement takes (ms): one value, or four by speed 0 to 3")
        ->delimiter(',');
    app.add_option("--red", red, "XYZ of the display's full red, X,Y,Z")->delimiter(',');
    app.add_option("--green", green, "XYZ of the display's full green, X,Y,Z")->delimiter(',');
    app.add_option("--blue", blue, "XYZ of the display's full blue, X,Y,Z")->delimiter(',');
    app.add_option("--black", black, "XYZ of the display's black, X,Y,Z")->delimiter(',');
    app.add_option("--primary-spectra", spectra,
                   "Primaries as emission spectra: R.csv,G.csv,B.csv with lines \"nm,value\" "
                   "(header optional), converted with the CIE 1931 2 degree observer")
        ->delimiter(',')
        ->excludes("--red", "--green", "--blue");
    app.add_option("--white-luminance", white_luminance,
                   "Luminance Y of the full white when the primaries come from spectra")
        ->check(CLI::PositiveNumber);
    app.add_option("--gamma", opt.display.gamma, "Display gamma")->check(CLI::PositiveNumber);
    app.add_option("--show", show_rgb, "Drive levels shown at start, R,G,B in 0..1")
        ->delimiter(',');
    app.add_option("--show-xyz", show_xyz, "Light shown at start, X,Y,Z")->delimiter(',');
    app.add_option("--serial", opt.identity.serial, "Serial number the instrument reports");
    app.add_option("--external-sync-hz", opt.external_sync_hz,
                   "Frequency of the external sync signal; 0 for none");
    app.add_option("--fault", faults,
                   "Arm a fault as the control command 'fault ...' does, e.g. "
                   "--fault 'error-next 22 1' or --fault 'chatter on'");
    CLI11_PARSE(app, argc, argv);

    if (!to_xyz(red, &opt.display.primaries[0]) || !to_xyz(green, &opt.display.primaries[1]) ||
        !to_xyz(blue, &opt.display.primaries[2]) || !to_xyz(black, &opt.display.black)) {
        std::fprintf(stderr, "ca410-sim: colours take three numbers X,Y,Z\n");
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
    if (show_rgb.size() == 3) sim.show_rgb(show_rgb[0], show_rgb[1], show_rgb[2]);
    sim_xyz xyz{};
    if (!show_xyz.empty()) {
        if (!to_xyz(show_xyz, &xyz)) {
            std::fprintf(stderr, "ca410-sim: --show-xyz takes X,Y,Z\n");
            return 2;
        }
        sim.show_xyz(xyz[0], xyz[1], xyz[2]);
    }
    for (const auto &f : faults) {
        const std::string answer = sim::control_execute(sim, "fault " + f, nullptr);
        if (answer != "ok") {
            std::fprintf(stderr, "ca410-sim: --fault '%s': %s\n", f.c_str(), answer.c_str());
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
