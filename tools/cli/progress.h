// A spinner with the elapsed time on standard error while one long library
// call runs (the channel walk takes seconds), drawn from a second thread and
// only when standard error is a terminal.
#pragma once

#include <atomic>
#include <string>
#include <thread>

namespace cli {

class progress_line {
  public:
    explicit progress_line(std::string what);
    ~progress_line();  // stops and clears the line
    progress_line(const progress_line &) = delete;
    progress_line &operator=(const progress_line &) = delete;

  private:
    std::string what_;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

}  // namespace cli
