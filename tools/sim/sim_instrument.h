// The instrument's command interpreter: settings, zero calibration, ranges,
// measurement of the display, user calibration channels. It takes one frame
// (without its carriage return) and gives the answer text; it knows nothing
// of the line, the faults or the time, so it can be tested on its own.
#ifndef CA410_SIM_INSTRUMENT_H
#define CA410_SIM_INSTRUMENT_H

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "sim_display.h"
#include "sim_types.h"

namespace sim {

// What the instrument does with one frame.
struct reply {
    std::string text;      // "OK00,...", "ER10", ... without the carriage return
    int busy_ms = 0;       // time the instrument takes before it answers
    bool changed = false;  // lasting state (settings or channels) changed
};

class instrument {
  public:
    static constexpr int max_channel = 99;
    static constexpr std::size_t max_name = 10;

    explicit instrument(const sim_instrument_options &options);

    reply execute(std::string_view frame);

    // Direct access for the owner (under its lock).
    sim_settings settings;
    std::array<double, 3> drive{1.0, 1.0, 1.0};  // shown RGB levels
    double seconds_on = 0.0;                     // since the display was switched on (warm-up)
    std::optional<sim_xyz> shown_light;          // set by show-xyz, overrides drive
    std::array<std::optional<sim_channel>, max_channel + 1> channels;  // [0] unused
    std::string identity_answer;                                       // raw "IDO," answer override
    int zrc_ms = 0;
    std::array<int, 4> measure_ms{};

    sim_xyz light() const;  // what the display emits now
    const sim_display &display() const { return display_; }
    // A new model; the measurement noise starts again from its seed.
    void set_display(const sim_display &display);

  private:
    reply identify(std::string_view args) const;
    reply read_setting(std::string_view args) const;
    reply set_setting(std::string_view head, std::string_view args);
    reply sync_mode(std::string_view args);
    reply reset(std::string_view args);
    reply read_range(std::string_view args) const;
    reply set_range(std::string_view args);
    reply zero_calibrate(std::string_view args);
    reply select_channel(std::string_view args);
    reply name_channel(std::string_view args);
    reply calibration_mode(std::string_view args);
    reply target(int colour, std::string_view args);
    reply enter_channel(std::string_view args);
    reply read_channel(std::string_view args) const;
    reply delete_channel(std::string_view args);
    reply measure(std::string_view args);

    sim_display display_;
    measurement_noise noise_;
    sim_identity identity_;
    sim_settings power_on_;
    std::array<double, 6> range_limits_;
    double external_sync_hz_;
    // User calibration in progress: the last measurement (raw, and as
    // answered through the current channel), and each colour's pair (white,
    // red, green, blue). The matrix is made from the raw values; the channel
    // keeps the answered ones, which are what the host was given.
    struct calib_pair {
        sim_xyz raw, reported, target;
    };
    std::optional<std::array<sim_xyz, 2>> last_;
    std::array<std::optional<calib_pair>, 4> pairs_;
};

// Number texts as the instrument writes them.
std::string format_value(double v);

}  // namespace sim

#endif
