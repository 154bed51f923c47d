// Measuring a patch sequence: each patch shown, left to settle, measured N
// times, its mean and spread kept and written at once, so that an
// interrupted run loses nothing it finished. `ca410 sequence` is built on
// this, and so is any other command that measures a patch set (the display
// report); sequence_sim.h runs the same on a virtual instrument in this
// process.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "cgats.h"
#include "colours.h"
#include "patches.h"
#include "session.h"

namespace cli {

// Puts a patch on the display (or has it put there); returns an exit status,
// exit_ok to go on measuring.
using show_patch = std::function<int(const patch &)>;
// The show command's contract for patches: the patch's id and drive levels.
show_patch show_patches_by(show_colour show);

struct sequence_timing {
    int settle_ms = 0;  // between a patch's showing and its first reading
    int repeat = 1;     // readings per patch, 1 or more
};

// Called with each finished patch, after it is written.
using patch_finished = std::function<void(const patch_reading &)>;

struct sequence_result {
    int status = exit_ok;                 // exit_ok, or why it stopped (session.h)
    std::vector<patch_reading> readings;  // the finished patches, in list order
};

// Shows and measures every patch of the list in turn on an open, initialised
// instrument (ca410MeasureXYZ `timing.repeat` times each). Each finished
// patch goes to `writer` (may be null: nothing is written) before the next
// is shown. Stops at the first failure (printed, as session::check does),
// a failed write or a failed show; after Ctrl-C, once the measurement under
// way is over. A patch cut short is dropped; every finished one is kept.
sequence_result measure_patches(const session &instrument, const patch_list &patches,
                                const show_patch &show, const sequence_timing &timing,
                                measurement_writer *writer = nullptr,
                                const patch_finished &finished = {});

// A patch's reading from its readings: their mean and sample standard
// deviation (0 for one reading).
patch_reading summarise(const patch &p, const std::vector<std::array<double, 3>> &readings);

// INSTRUMENTATION for a file: "CA-410 SIM S/N 41000001", from
// ca410GetDeviceInfo, the instrument's texts escaped so any file carries
// them. Returns an exit status.
int instrumentation_of(const session &instrument, std::string *out);

// CREATED: the time given by SOURCE_DATE_EPOCH (whole seconds since 1970),
// so that runs compare byte for byte, else empty (the writer puts in now).
// False with a reason for a value that is not such a number.
bool created_time(std::string *out, std::string *error);

}  // namespace cli
