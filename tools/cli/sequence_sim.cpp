#include "sequence_sim.h"

#include <cstdio>

namespace cli {

namespace {

sim_options options_for(const sim_display &display, bool pace) {
    sim_options o;
    o.display = display;
    o.pace = pace;
    return o;
}

}  // namespace

sim_instrument::sim_instrument(const sim_display &display, bool pace)
    : sim_(options_for(display, pace)) {}

int sim_instrument::start(int log_level) {
    std::string error;
    if (!sim_.start(&error)) {
        std::fprintf(stderr, "ca410: the virtual instrument cannot start: %s\n", error.c_str());
        return exit_failed;
    }
    global_options g;
    g.port = sim_.port_path();
    g.log_level = log_level;
    session_ = std::make_unique<session>(g);
    return session_->open_initialised();
}

show_patch sim_instrument::shower() {
    return [this](const patch &p) {
        sim_.show_rgb(p.rgb[0], p.rgb[1], p.rgb[2]);
        return static_cast<int>(exit_ok);
    };
}

sequence_result measure_on_sim(const sim_display &display, const patch_list &patches,
                               const sequence_timing &timing, measurement_writer *writer) {
    sim_instrument virtual_instrument(display);
    sequence_result out;
    out.status = virtual_instrument.start();
    if (out.status != exit_ok) return out;
    return measure_patches(virtual_instrument.instrument(), patches, virtual_instrument.shower(),
                           timing, writer);
}

}  // namespace cli
