// Faults of the line and of the instrument's answers, armed through the API
// and consumed by the frames that follow.
#ifndef CA410_SIM_FAULTS_H
#define CA410_SIM_FAULTS_H

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// What happens to a frame before the instrument sees it.
struct frame_fate {
    bool silent = false;                // no answer; the frame is lost
    std::optional<std::string> forced;  // answer this (an error, an armed answer), not executing
};

// One piece of output, sent delay_ms after the piece before it (the first
// one after the instrument has finished).
struct out_chunk {
    int delay_ms = 0;
    std::string bytes;
};

// How one answer goes onto the line.
struct delivery {
    std::vector<out_chunk> chunks;
    bool hangup = false;            // close the line after the chunks
    std::optional<out_chunk> late;  // unsolicited bytes, delay_ms after the answer
    std::string sent;               // the answer's bytes as they go out
};

class fault_set {
  public:
    void error_next(int code, int n);
    void error_for_head(std::string head, int code);  // code 0 clears the head
    // Every frame equal to `frame`: this answer (nothing when empty). Until
    // clear(). False, arming nothing, when `limit` other frames are armed.
    bool answer_for_frame(std::string frame, std::optional<std::string> answer, std::size_t limit);
    void warning_next(int number, int n);
    void silent_next(int n);
    void split_next(std::size_t at, int gap_ms);
    void garbage_next(std::string bytes);
    void late_next(std::string bytes, int after_ms);
    void no_cr_next();
    void long_next(std::size_t length);
    void hangup_next(std::size_t at);  // static_cast<size_t>(-1): half the answer
    void clear();

    frame_fate before(std::string_view frame);
    // The answer text (without carriage return) as it goes out, with the
    // one-shot faults armed for the next answer applied.
    delivery shape(std::string text);

  private:
    int error_code_ = 0, error_left_ = 0;
    std::map<std::string, int, std::less<>> head_errors_;  // by the head's three letters
    std::map<std::string, std::optional<std::string>, std::less<>> frame_answers_;
    int warning_ = 0, warning_left_ = 0;
    int silent_left_ = 0;
    std::optional<std::pair<std::size_t, int>> split_;
    std::optional<std::string> garbage_;
    std::optional<std::pair<std::string, int>> late_;
    bool no_cr_ = false;
    std::size_t long_ = 0;
    std::optional<std::size_t> hangup_;
};

std::string error_answer(int code);

}  // namespace sim

#endif
