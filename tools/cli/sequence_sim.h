// A patch sequence on a virtual instrument in this process (ca410_sim): the
// tool's `sequence --sim`, the display report's own runs, tests and the
// benchmark. Its display is driven directly, without a show command.
#pragma once

#include <memory>
#include <string>

#include "ca410_sim.h"
#include "sequence.h"

namespace cli {

class sim_instrument {
  public:
    // pace: the line at 38400 baud, as a real instrument's (sim_options::pace).
    explicit sim_instrument(const sim_display &display, bool pace = false);
    sim_instrument(const sim_instrument &) = delete;
    sim_instrument &operator=(const sim_instrument &) = delete;

    // Starts the simulator, then opens and initialises it; returns an exit
    // status (failures printed).
    int start(int log_level = 0);
    const session &instrument() const { return *session_; }
    // Shows a patch on the simulated display.
    show_patch shower();
    ca410_sim &sim() { return sim_; }

  private:
    ca410_sim sim_;
    std::unique_ptr<session> session_;
};

// measure_patches on a fresh virtual instrument with `display`.
sequence_result measure_on_sim(const sim_display &display, const patch_list &patches,
                               const sequence_timing &timing, measurement_writer *writer = nullptr);

}  // namespace cli
