// Records of the virtual instrument: its identity, settings, user channels,
// the display it looks at and what it is made of. Shared by the instrument
// logic (sim_instrument, sim_state, sim_color), which stands below the
// program-facing class ca410_sim and knows nothing of it.
#ifndef CA410_SIM_TYPES_H
#define CA410_SIM_TYPES_H

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// Tristimulus triple X, Y, Z.
using sim_xyz = std::array<double, 3>;

// The identity the instrument reports to "IDO,": the answer is "OK00," and
// these fields joined by commas.
struct sim_identity {
    std::string model = "CA-410";                   // field 0; hosts compare "OK00,CA-410,"
    std::string probe = "CA-P427";                  // field 1
    std::string name = "CA-410 SIM     ";           // field 2, blank-padded to 15 like the real one
    std::string version = "1.21.0004";              // field 3
    std::string serial = "41000001";                // field 4
    std::vector<std::string> extra = {"27000001"};  // further fields
};

// A tone table: (drive level, share of the full primary), levels ascending
// from 0 to 1, linear between its points.
using sim_tone_table = std::vector<std::pair<double, double>>;

// Tone response of one channel: drive level 0 to 1 to its share of the full
// primary's light.
struct sim_tone {
    double gamma = 2.2;    // level^gamma, unless a table is given
    sim_tone_table table;  // used when not empty
};

// The RGB display under test. Its departures from an ideal additive display
// are all off by default; tools/sim/README.md gives the formulas.
struct sim_display {
    // XYZ of full red, green and blue (columns of the display matrix). The
    // defaults are the sRGB primaries with a white of Y = 100.
    std::array<sim_xyz, 3> primaries = {
        {{41.24, 21.26, 1.93}, {35.76, 71.52, 11.92}, {18.05, 7.22, 95.05}}};
    std::array<sim_tone, 3> tone{};   // red, green, blue
    sim_xyz black = {0.0, 0.0, 0.0};  // light of a black screen, added to every colour
    double flare = 0.0;  // fraction of the full white's light (R + G + B) added to every colour
    double additivity_loss = 0.0;  // fraction by which full white falls short of R + G + B
    // Chromaticity grey tends to as its level falls: grey at level v has
    // xy = white + (1 - v)^2 (drift - white). None: grey keeps the white's.
    std::optional<std::array<double, 2>> grey_drift_xy;
    double noise = 0.0;           // relative standard deviation of each measured X, Y, Z
    std::uint64_t seed = 1;       // of the noise
    double warmup_percent = 0.0;  // the light this much low when switched on, ...
    double warmup_seconds = 0.0;  // ... approaching 100 % with this time constant
};

// The instrument's settings, by the names of the settings catalogue.
struct sim_settings {
    int display_mode = 0;            // STR,0  / "MDS,": 0 xyLv, 5 u'v'Lv, 7 XYZ, ...
    int sync_mode = 3;               // STR,1  / "SCS,": 0 to 5, 2 external
    int current_channel = 0;         // STR,3  / "MCH,": 0 factory, 1 to 99 user
    int lum_unit = 1;                // STR,6  / "LUS,": 0 or 1
    int measure_speed = 1;           // STR,7  / "FSC,": 0 to 3
    int probe_display = 1;           // STR,11 / "DPR,": 1 to 10
    int probe_output = 1;            // STR,12 / "OPR,": 1 to 10
    double temperature_shift = 0.0;  // STR,15, read only
    double manual_time_ms = 100.0;   // STR,17, set through "SCS,5,<ms>"
    int trigger_mode = 0;            // STR,18 / "TMS,": 0 or 1
    int trigger_delay = 0;           // STR,19 / "TDS,": 0 to 100 ms
    int zero_cal_status = 0;         // STR,23: 2 after a successful "ZRC"
    int simultaneous = 0;            // STR,26 / "MMS,": 0 or 1
    double internal_freq_hz = 60.0;  // STR,28, set through "SCS,4,<Hz>"
    int color_range_mode = 0;        // "RGR,0,0" field 0: 0 automatic, 1 fixed
    int color_range = 6;             // "RGR,0,0" field 1: 1 to 6
    int flicker_range_mode = 0;      // "RGR,0,1" field 0
    int flicker_range = 4;           // "RGR,0,1" field 1: 1 to 4
    int calmode = 0;                 // "UCS,": 1 while a user calibration is entered
};

// One user calibration channel (1 to 99).
struct sim_channel {
    int number = 0;
    int cal_type = 2;                   // 2: user WRGB calibration
    std::string name;                   // at most 10 characters, unpadded
    std::array<sim_xyz, 4> target{};    // white, red, green, blue
    std::array<sim_xyz, 4> measured{};  // as "MES," answered them during the calibration
    // Row-major, XYZ through the factory calibration -> corrected.
    std::array<double, 9> matrix{1, 0, 0, 0, 1, 0, 0, 0, 1};
    std::array<int, 6> date{2000, 1, 1, 0, 0, 0};  // year, month, day, hour, minute, second
};

// What the instrument is made of and how long it takes; the program-facing
// sim_options add the line, the state file and the pacing.
struct sim_instrument_options {
    int zrc_ms = 0;                             // time a zero calibration takes
    std::array<int, 4> measure_ms{0, 0, 0, 0};  // time a measurement takes, by speed 0 to 3
    sim_display display;
    sim_identity identity;
    sim_settings settings;  // power-on settings (a state file overrides them)
    // Top luminance of colour ranges 1 to 6; in automatic range mode the top
    // one applies. A measured Y above it answers "ER22".
    std::array<double, 6> color_range_limits{10.0, 100.0, 500.0, 1000.0, 3000.0, 5000.0};
    double external_sync_hz = 60.0;  // 0: no sync signal, "MES," answers "ER20" in sync mode 2
};

#endif
