// Virtual CA-410: a simulated colour analyser that serves its serial protocol
// on the master side of a pseudo-terminal, together with the display it looks
// at. Hosts open the slave device (port_path()) as if it were the instrument's
// serial port.
//
// The instrument serves on a thread of its own; every member function is
// thread-safe and may be called from any thread while it runs.
#ifndef CA410_SIM_H
#define CA410_SIM_H

#include <array>
#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
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

// The additive RGB display under test.
struct sim_display {
    // XYZ of full red, green and blue (columns of the display matrix). The
    // defaults are the sRGB primaries with a white of Y = 100.
    std::array<sim_xyz, 3> primaries = {
        {{41.24, 21.26, 1.93}, {35.76, 71.52, 11.92}, {18.05, 7.22, 95.05}}};
    double gamma = 2.2;
    sim_xyz black = {0.0, 0.0, 0.0};  // light of a black screen, added to every colour
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

struct sim_options {
    std::string link_path;   // a symbolic link to the slave device, kept current; empty: none
    std::string state_file;  // lasting settings and channels; empty: nothing is kept
    bool pace = false;       // frames and answers take their line time: 38400 baud, 11 bits
    int zrc_ms = 0;          // time a zero calibration takes
    std::array<int, 4> measure_ms{0, 0, 0, 0};  // time a measurement takes, by speed 0 to 3
    sim_display display;
    sim_identity identity;
    sim_settings settings;  // power-on settings (a state file overrides them)
    // Top luminance of colour ranges 1 to 6; in automatic range mode the top
    // one applies. A measured Y above it answers "ER22".
    std::array<double, 6> color_range_limits{10.0, 100.0, 500.0, 1000.0, 3000.0, 5000.0};
    double external_sync_hz = 60.0;  // 0: no sync signal, "MES," answers "ER20" in sync mode 2
};

// One frame received from the host.
struct frame_record {
    std::string bytes;  // exactly as received, carriage return included
    std::chrono::steady_clock::time_point first_byte;  // arrival of its first byte
    std::chrono::steady_clock::time_point received;    // arrival of its carriage return
    // The answer's bytes as they went out: garbage, padding and cuts
    // included, late bytes not; empty when the frame was not answered.
    std::string answer;
};

class ca410_sim {
  public:
    // Line time of one character at 38400 baud with 7E2 framing (11 bits).
    static constexpr double char_time_ms = 11.0 * 1000.0 / 38400.0;
    // fault_hangup_next(): close after half of the answer.
    static constexpr std::size_t half_answer = static_cast<std::size_t>(-1);

    explicit ca410_sim(sim_options options = {});
    ~ca410_sim();
    ca410_sim(const ca410_sim &) = delete;
    ca410_sim &operator=(const ca410_sim &) = delete;

    // Opens the pseudo-terminal, loads the state file and starts serving.
    // Returns false with a message in *error (may be null) when it cannot;
    // a corrupt state file is refused and left as it is.
    bool start(std::string *error);
    // Stops serving and closes the pseudo-terminal; also done by the destructor.
    void stop();
    bool running() const;
    // The slave device a host opens, e.g. /dev/pts/5. Changes after a hang-up
    // fault (the line is then served on a fresh pseudo-terminal).
    std::string port_path() const;

    // --- the display under test
    void show_rgb(double r, double g, double b);   // drive levels 0 to 1, gamma applied
    void show_xyz(double x, double y, double z);   // light of the display, as is
    sim_xyz shown_xyz() const;                     // what the display emits now
    void set_display(const sim_display &display);  // keeps the shown RGB levels
    sim_display display() const;

    // --- timing
    void set_zrc_ms(int ms);
    void set_measure_ms(int speed, int ms);
    void set_pacing(bool on);

    // --- instrument state
    sim_settings settings() const;
    void set_settings(const sim_settings &settings);
    std::vector<sim_channel> channels() const;  // stored user channels, ascending
    std::optional<sim_channel> channel(int number) const;
    void put_channel(const sim_channel &channel);  // 1 to 99; ignored otherwise
    void erase_channel(int number);
    // Overrides the whole "IDO," answer (without its carriage return), e.g.
    // exactly "OK00,CA-410,"; an empty text goes back to the identity.
    void set_identity_answer(std::string raw);

    // --- faults; each "next" fault applies to the next frame(s) received
    void fault_error_next(int code, int n = 1);             // answer "ER<code>"
    void fault_error_for_head(std::string head, int code);  // every frame of a head; code 0 clears
    // Every frame equal to `frame` (without its carriage return, e.g.
    // "TDR,40,1,7") gets `answer` (without carriage return; "" sends the lone
    // carriage return) instead of being executed; nullopt: no answer at all,
    // the frame is lost. Stays armed until clear_faults().
    void fault_answer_for_frame(std::string frame, std::optional<std::string> answer);
    // "OK<number>" instead of "OK00" in the next n answers (error answers
    // keep their code but use up one of the n).
    void fault_warning_next(int number, int n = 1);
    void fault_silent_next(int n = 1);                  // no answer, the frame is not executed
    void fault_split_next(std::size_t at, int gap_ms);  // first `at` bytes, a gap, the rest
    void fault_garbage_next(std::string bytes);         // bytes before the answer
    void fault_late_bytes_next(std::string bytes, int after_ms);  // bytes after the answer
    void fault_no_cr_next();                          // the answer without its carriage return
    void fault_long_answer_next(std::size_t length);  // answer padded to `length` bytes
    // A byte every ~5 ms until switched off, or for duration_ms when that is > 0.
    void fault_chatter(bool on, int duration_ms = 0);
    // Close the line after `at` bytes of the next answer and serve on a fresh one.
    void fault_hangup_next(std::size_t at = half_answer);
    void clear_faults();

    // --- record of every frame received
    std::vector<frame_record> frames() const;
    void clear_frames();
    // Waits until at least n frames are recorded; false at the time-out.
    bool wait_frames(std::size_t n, std::chrono::milliseconds timeout) const;

    struct impl;

  private:
    std::unique_ptr<impl> impl_;
};

#endif  // CA410_SIM_H
