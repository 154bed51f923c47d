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

#include "sim_display.h"
#include "sim_types.h"

// The instrument's make-up, and how the program serves it.
struct sim_options : sim_instrument_options {
    std::string link_path;   // a symbolic link to the slave device, kept current; empty: none
    std::string state_file;  // lasting settings and channels; empty: nothing is kept
    bool pace = false;       // frames and answers take their line time: 38400 baud, 11 bits
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
    // Limits that keep a long run, or a slip of the finger, within memory.
    static constexpr std::size_t max_frames = 10000;         // the record drops its oldest beyond
    static constexpr std::size_t max_answer_length = 65536;  // fault_long_answer_next()
    static constexpr std::size_t max_armed_frames = 256;     // fault_answer_for_frame()

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

    // --- the display under test (sim_display; presets from sim_display_preset())
    void show_rgb(double r, double g, double b);  // drive levels 0 to 1, through the model
    void show_xyz(double x, double y, double z);  // light of the display, as is
    sim_xyz shown_xyz() const;  // what the display emits now (measurements add their noise)
    // Replaces the model, keeping the shown levels; the noise starts again
    // from its seed and a changed warm-up from now. False with a message in
    // *error (may be null) for an unusable model (sim_display_problem()).
    bool set_display(const sim_display &display, std::string *error = nullptr);
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
    // the frame is lost. Stays armed until clear_faults(). False (nothing
    // armed) when max_armed_frames other frames are armed already.
    bool fault_answer_for_frame(std::string frame, std::optional<std::string> answer);
    // "OK<number>" instead of "OK00" in the next n answers (error answers
    // keep their code but use up one of the n).
    void fault_warning_next(int number, int n = 1);
    void fault_silent_next(int n = 1);                  // no answer, the frame is not executed
    void fault_split_next(std::size_t at, int gap_ms);  // first `at` bytes, a gap, the rest
    void fault_garbage_next(std::string bytes);         // bytes before the answer
    void fault_late_bytes_next(std::string bytes, int after_ms);  // bytes after the answer
    void fault_no_cr_next();  // the answer without its carriage return
    // The next answer padded to `length` bytes; false (nothing armed) above
    // max_answer_length.
    bool fault_long_answer_next(std::size_t length);
    // A byte every ~5 ms until switched off, or for duration_ms when that is > 0.
    void fault_chatter(bool on, int duration_ms = 0);
    // Close the line after `at` bytes of the next answer and serve on a fresh one.
    void fault_hangup_next(std::size_t at = half_answer);
    void clear_faults();

    // --- record of every frame received, the last max_frames of them
    std::vector<frame_record> frames() const;
    std::size_t frames_dropped() const;  // the oldest records dropped to keep the cap
    void clear_frames();                 // also zeroes the count of dropped ones
    // Waits until at least n frames have come since clear_frames() (dropped
    // ones count); false at the time-out.
    bool wait_frames(std::size_t n, std::chrono::milliseconds timeout) const;

    struct impl;

  private:
    std::unique_ptr<impl> impl_;
};

#endif  // CA410_SIM_H
